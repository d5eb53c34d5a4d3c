#include "tools/tarvo-bot/bot.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <string_view>

#include "protocol/properties.h"
#include "tools/tarvo-bot/terminal_text.h"

namespace tarvo::bot {
namespace {

using client::GameKey;

// Ticks of 50 ms: a random walker keeps its keys about a second.
constexpr int kRandomKeepMin = 15;
constexpr int kRandomKeepMax = 25;
// The jump key is held long enough for the whole rise, then let go so the next press counts.
constexpr int kJumpHoldTicks = 8;
// The caption of a message box that names none: the game window's.
constexpr std::string_view kProgramCaption = "Tarvo 3D";

struct Keys {
  bool ahead = false, back = false, left = false, right = false;
};

// What a random walker may hold: mostly ahead, sometimes turning, backing or pausing.
constexpr std::array<Keys, 7> kRandomKeys = {{
    {true, false, false, false},
    {true, false, false, true},
    {true, false, true, false},
    {false, false, false, true},
    {false, false, true, false},
    {false, true, false, false},
    {},
}};

std::string Point(const Position& p) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(1);
  out << "(" << p.x << ", " << p.y << ", " << p.z << ")";
  return out.str();
}

// The first bot's position, and with several bots the box they all stand in.
std::string Positions(const SwarmTotals& t) {
  std::string text = (t.in_level > 1 ? "first at " : "at ") + Point(*t.first_position);
  if (t.in_level > 1) {
    text += ", all within " + Point(*t.min_position) + " to " + Point(*t.max_position);
  }
  return text;
}

}  // namespace

base::Result<WalkPattern> ParseWalkPattern(const std::string& text) {
  if (text == "still") return WalkPattern::kStill;
  if (text == "forward") return WalkPattern::kForward;
  if (text == "circle") return WalkPattern::kCircle;
  if (text == "random") return WalkPattern::kRandom;
  return base::Fail("unknown walk pattern \"" + text + "\"");
}

Bot::Bot(const BotOptions& options, int index)
    : options_(options),
      index_(index),
      nickname_(options.nick_prefix + std::to_string(index)),
      loader_(options.asset_folders),
      game_(&loader_, client::GameWorldOptions{.remote_avatars = false}),
      random_(static_cast<std::uint32_t>(index) * 7919u + 17u),
      next_jump_(options.jump_seconds),
      next_chat_(options.chat_seconds) {
  settings_.ServerAddress = options.host;
  settings_.ServerPort = options.port;
  settings_.AccountName = options.account;
  settings_.AccountPassword = options.password;
  settings_.NoUdp = options.no_udp;
  game_.LocalPlayer().Nickname = nickname_;
  game_.SetChatListener([this](const std::string& line) { OnChatLine(line); });
  game_.Initialize();
}

Bot::~Bot() {
  session_.reset();
  game_.SetChatListener(nullptr);
}

bool Bot::Connect() {
  client::SessionOptions session_options;
  session_options.level_directory = options_.level_directory;
  session_ =
      std::make_unique<client::TAdventureClient>(settings_, game_.world(), *this, session_options);
  was_connected_ = session_->Connected();
  return was_connected_;
}

void Bot::Tick(double seconds) {
  if (!Connected()) return;
  if (LoggedIn() && levels_entered_ > 0) {
    HoldKeys(seconds);
    if (options_.chat_seconds > 0 && seconds >= next_chat_) {
      next_chat_ = seconds + options_.chat_seconds;
      client::TPlayer& me = game_.LocalPlayer();
      me.ChatText = "hello " + std::to_string(++chats_sent_) + " from " + nickname_;
      std::string entry(1, protocol::kProperties[protocol::kPropChatText].code());
      entry += me.EncodeProperty(protocol::kPropChatText);
      me.ApplyProperties(entry, true);
      session_->SendChat(me.ChatText);
    }
  }
  game_.Tick();
}

void Bot::HoldKeys(double seconds) {
  Keys keys;
  const bool walking =
      seconds >= options_.walk_after && (options_.walk_until <= 0 || seconds < options_.walk_until);
  switch (walking ? options_.walk : WalkPattern::kStill) {
    case WalkPattern::kStill:
      break;
    case WalkPattern::kForward:
      keys.ahead = true;
      break;
    case WalkPattern::kCircle:
      keys.ahead = keys.right = true;
      break;
    case WalkPattern::kRandom:
      if (--random_ticks_left_ <= 0) {
        random_ticks_left_ =
            std::uniform_int_distribution<int>(kRandomKeepMin, kRandomKeepMax)(random_);
        random_keys_ = std::uniform_int_distribution<int>(
            0, static_cast<int>(kRandomKeys.size()) - 1)(random_);
      }
      keys = kRandomKeys[static_cast<std::size_t>(random_keys_)];
      break;
  }
  Hold(GameKey::kPad8, keys.ahead);
  Hold(GameKey::kPad2, keys.back);
  Hold(GameKey::kPad4, keys.left);
  Hold(GameKey::kPad6, keys.right);

  if (options_.jump_seconds > 0 && seconds >= next_jump_) {
    next_jump_ = seconds + options_.jump_seconds;
    jump_ticks_left_ = kJumpHoldTicks;
  }
  Hold(GameKey::kPad5, jump_ticks_left_ > 0);
  if (jump_ticks_left_ > 0) --jump_ticks_left_;
}

void Bot::Hold(GameKey key, bool down) {
  client::InputState& input = game_.input();
  if (down && !input.IsDown(key)) input.Press(key);
  if (!down && input.IsDown(key)) input.Release(key);
}

Position Bot::position() {
  const client::TPlayer& me = game_.LocalPlayer();
  return {me.X, me.Y, me.Z};
}

void Bot::ShowMessage(std::string_view text, std::string_view caption) {
  shown_.emplace_back(text);
  // The session shows the reason right after it has marked itself unconnected.
  if (was_connected_ && session_ != nullptr && !session_->Connected()) {
    disconnect_text_ = std::string(text);
  }
  Print("message box \"" + std::string(caption.empty() ? kProgramCaption : caption) +
        "\": " + std::string(text));
}

void Bot::LoadLevel(const std::filesystem::path& file) {
  ++levels_entered_;
  Print("enters level " + file.filename().string());
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  // A relative name would be looked up among the asset folders instead.
  game_.LoadLevel((error ? file : absolute).string());
}

void Bot::PrintOthers(double seconds) {
  std::ostringstream time;
  time.setf(std::ios::fixed);
  time.precision(1);
  time << seconds << "s";
  Print(time.str() + " at " + Point(position()));
  for (const auto& other : game_.world().OtherPlayers()) {
    Print(time.str() + " sees " + other->Nickname + " at " + Point({other->X, other->Y, other->Z}));
  }
}

void Bot::ShowNotice(std::string_view text) { Print("notice: " + std::string(text)); }

void Bot::OnChatLine(const std::string& line) {
  if (line.rfind(game_.LocalPlayer().Nickname + ": ", 0) != 0) ++chats_seen_;
  Print("chat: " + line);
}

void Bot::Print(const std::string& text) {
  if (options_.verbose == nullptr) return;
  std::ostream& out = *options_.verbose;
  // Every line of a text carries the bot's number; continuation lines are indented.
  std::size_t start = 0;
  bool first = true;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    std::string_view line(text);
    line = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out << "[" << index_ << "] " << (first ? "" : "  ") << TerminalText(line) << "\n";
    first = false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  out.flush();
}

SwarmTotals Tally(const std::vector<std::unique_ptr<Bot>>& bots) {
  SwarmTotals t;
  for (const auto& bot : bots) {
    ++t.bots;
    if (bot->Connected()) ++t.connected;
    if (bot->LoggedIn()) ++t.logged_in;
    if (bot->levels_entered() > 0) {
      ++t.in_level;
      const Position at = bot->position();
      if (!t.first_position) {
        t.first_position = t.min_position = t.max_position = at;
      } else {
        t.min_position =
            Position{std::min(t.min_position->x, at.x), std::min(t.min_position->y, at.y),
                     std::min(t.min_position->z, at.z)};
        t.max_position =
            Position{std::max(t.max_position->x, at.x), std::max(t.max_position->y, at.y),
                     std::max(t.max_position->z, at.z)};
      }
    }
    t.chats_sent += bot->chats_sent();
    t.chats_seen += bot->chats_seen();
    if (bot->ConnectFailed()) {
      ++t.connect_failures;
      ++t.connect_failure_texts[bot->shown().empty() ? std::string() : bot->shown().front()];
    }
    if (bot->Disconnected()) {
      ++t.disconnects;
      ++t.disconnect_texts[bot->disconnect_text()];
    }
    const client::TAdventureClient* s = bot->session();
    if (s == nullptr) continue;
    const client::SessionStats& st = s->Stats();
    t.messages_sent += st.messages_sent;
    t.messages_received += st.messages_received;
    t.bytes_sent += s->BytesSent();
    t.bytes_received += s->BytesReceived();
    t.tcp_movements += st.tcp_movements;
    t.udp_movements += st.udp_movements;
    t.datagrams_sent += st.datagrams_sent;
    t.datagrams_received += st.datagrams_received;
    t.datagrams_dropped += st.datagrams_dropped;
    t.udp_fallbacks += st.udp_fallbacks;
  }
  return t;
}

std::string StatusLine(double seconds, const SwarmTotals& t) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(1);
  out << "[" << seconds << "s] bots " << t.bots << ", connected " << t.connected << ", logged in "
      << t.logged_in << ", in a level " << t.in_level << " | messages " << t.messages_sent
      << " sent, " << t.messages_received << " received | movements seen " << t.tcp_movements
      << " TCP, " << t.udp_movements << " UDP | datagrams " << t.datagrams_sent << " sent, "
      << t.datagrams_received << " received | chat " << t.chats_sent << " said, " << t.chats_seen
      << " heard | disconnects " << t.disconnects;
  if (t.first_position) out << " | " << Positions(t);
  return out.str();
}

std::string Summary(double seconds, const SwarmTotals& t) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(1);
  out << "Summary after " << seconds << " s\n"
      << "  logins:               " << t.logged_in << " of " << t.bots << " bots (" << t.in_level
      << " entered a level)\n"
      << "  messages sent:        " << t.messages_sent << " (" << t.bytes_sent << " bytes)\n"
      << "  messages received:    " << t.messages_received << " (" << t.bytes_received
      << " bytes)\n"
      << "  relayed movements:    " << t.tcp_movements + t.udp_movements << " (" << t.tcp_movements
      << " over TCP, " << t.udp_movements << " over UDP)\n"
      << "  UDP datagrams:        " << t.datagrams_sent << " sent, " << t.datagrams_received
      << " received, " << t.datagrams_dropped << " dropped\n"
      << "  UDP fallbacks:        " << t.udp_fallbacks
      << " (nothing arrived over UDP: movement and chat went through the server)\n"
      << "  chat lines:           " << t.chats_sent << " said, " << t.chats_seen << " heard\n"
      << "  failed connects:      " << t.connect_failures << "\n";
  for (const auto& [text, count] : t.connect_failure_texts) {
    out << "    " << count << " x \"" << TerminalText(text) << "\"\n";
  }
  out << "  positions:            " << (t.first_position ? Positions(t) : "none in a level")
      << "\n";
  out << "  disconnects:          " << t.disconnects << "\n";
  for (const auto& [text, count] : t.disconnect_texts) {
    out << "    " << count << " x \"" << TerminalText(text) << "\"\n";
  }
  return out.str();
}

}  // namespace tarvo::bot
