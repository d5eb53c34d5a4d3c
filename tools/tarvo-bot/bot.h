#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "base/result.h"
#include "client/config/client_settings.h"
#include "client/game/game_world.h"
#include "client/session/adventure_client.h"
#include "engine/io/file_loader.h"

namespace tarvo::bot {

/// Which keypad keys a bot holds once it is in a level.
enum class WalkPattern {
  kStill,    ///< no key
  kForward,  ///< keypad 8
  kCircle,   ///< keypad 8 and 6
  kRandom,   ///< a new combination about every second
};

/// Parses "still", "forward", "circle" or "random".
base::Result<WalkPattern> ParseWalkPattern(const std::string& text);

/// What every bot of a run shares.
struct BotOptions {
  std::string host = "127.0.0.1";
  std::string port = "14901";
  std::string account = "guest";
  std::string password = "guest";
  std::string nick_prefix = "bot";
  WalkPattern walk = WalkPattern::kCircle;
  /// The bots walk from this many seconds after the start until `walk_until` (0: to the end)
  /// and stand still otherwise.
  double walk_after = 0;
  double walk_until = 0;
  /// Seconds between two presses of the jump key; 0 never jumps.
  double jump_seconds = 0;
  /// Seconds between two chat lines; 0 says nothing.
  double chat_seconds = 0;
  bool no_udp = false;
  /// Where level files from the server are written.
  std::filesystem::path level_directory = ".";
  /// Folders searched for the avatar's part meshes and textures; a missing one is skipped.
  std::vector<std::string> asset_folders;
  /// When set, everything a player would see is written here, each line prefixed with the
  /// bot's number.
  std::ostream* verbose = nullptr;
};

/// Where a bot's avatar stands.
struct Position {
  double x = 0, y = 0, z = 0;
};

/// One headless player: a real session and the game world a player runs, ticked every 50 ms
/// like the game client's frame timer, with a script holding the keypad keys instead of a
/// person. It collides, climbs, falls and lands as a player does.
class Bot : public client::SessionHost {
 public:
  Bot(const BotOptions& options, int index);
  ~Bot() override;
  Bot(const Bot&) = delete;
  Bot& operator=(const Bot&) = delete;

  /// Connects and queues the login; false when the connect failed.
  bool Connect();
  /// Changes how the bot walks from the next tick on.
  void SetWalk(WalkPattern walk) { options_.walk = walk; }
  /// One 50 ms step at `seconds` since the start: the script's keys and chat, then the game
  /// world's tick (receive, move, report, send).
  void Tick(double seconds);

  /// Logged in: the server sent the bot its own id.
  bool LoggedIn() { return game_.LocalPlayer().Id >= 0; }
  bool Connected() const { return session_ != nullptr && session_->Connected(); }
  /// The connect failed (the reason is the first text shown).
  bool ConnectFailed() const { return session_ != nullptr && !was_connected_; }
  /// Connected once and lost the connection since.
  bool Disconnected() const { return was_connected_ && !Connected(); }
  int levels_entered() const { return levels_entered_; }
  int chats_sent() const { return chats_sent_; }
  /// Chat lines of other players that reached this bot.
  int chats_seen() const { return chats_seen_; }
  /// Texts shown to the user (connect failures, disconnect reasons, administrator messages).
  const std::vector<std::string>& shown() const { return shown_; }
  /// What the disconnect showed; empty while connected or never connected.
  const std::string& disconnect_text() const { return disconnect_text_; }
  const std::string& nickname() const { return nickname_; }
  client::TAdventureClient* session() const { return session_.get(); }
  client::ClientWorld& world() { return game_.world(); }
  client::GameWorld& game() { return game_; }
  /// The local player's recorded position.
  Position position();
  /// With verbose output: where the bot stands, and one line per other player it knows with
  /// where it sees that player.
  void PrintOthers(double seconds);

  void ShowMessage(std::string_view text, std::string_view caption) override;
  void LoadLevel(const std::filesystem::path& file) override;
  void ShowNotice(std::string_view text) override;

 private:
  void HoldKeys(double seconds);
  void Hold(client::GameKey key, bool down);
  void OnChatLine(const std::string& line);
  void Print(const std::string& text);

  BotOptions options_;
  int index_;
  std::string nickname_;
  client::ClientSettings settings_;
  engine::io::FileLoader loader_;
  client::GameWorld game_;
  std::unique_ptr<client::TAdventureClient> session_;
  std::mt19937 random_;
  bool was_connected_ = false;
  int random_keys_ = 0;
  int random_ticks_left_ = 0;
  double next_jump_ = 0;
  int jump_ticks_left_ = 0;
  double next_chat_ = 0;
  int levels_entered_ = 0;
  int chats_sent_ = 0;
  int chats_seen_ = 0;
  std::vector<std::string> shown_;
  std::string disconnect_text_;
};

/// Totals over a set of bots, for the status line and the summary.
struct SwarmTotals {
  int bots = 0;
  int connected = 0;
  int logged_in = 0;
  int in_level = 0;
  std::uint64_t messages_sent = 0, messages_received = 0;
  std::uint64_t bytes_sent = 0, bytes_received = 0;
  std::uint64_t tcp_movements = 0, udp_movements = 0;
  std::uint64_t datagrams_sent = 0, datagrams_received = 0, datagrams_dropped = 0;
  std::uint64_t chats_sent = 0, chats_seen = 0;
  /// Bots whose UDP channel heard nothing and that went over to the server's relay.
  std::uint64_t udp_fallbacks = 0;
  int connect_failures = 0;
  /// Why the connects failed, and how many bots each reason stopped.
  std::map<std::string, int> connect_failure_texts;
  int disconnects = 0;
  /// Disconnect texts and how many bots saw each.
  std::map<std::string, int> disconnect_texts;
  /// Positions of the bots in a level: the first of them, and the least and greatest
  /// coordinates over all of them; unset while none is in a level.
  std::optional<Position> first_position, min_position, max_position;
};

SwarmTotals Tally(const std::vector<std::unique_ptr<Bot>>& bots);
/// The one-line status.
std::string StatusLine(double seconds, const SwarmTotals& totals);
/// The closing summary, several lines.
std::string Summary(double seconds, const SwarmTotals& totals);

}  // namespace tarvo::bot
