#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "net/tcp_listener.h"
#include "protocol/compression.h"
#include "server/accounts/account_store.h"
#include "server/core/file_store.h"
#include "server/core/login_throttle.h"
#include "server/core/remote_control.h"
#include "server/core/server_level.h"
#include "server/core/server_limits.h"
#include "server/core/server_observer.h"
#include "server/core/server_player.h"
#include "server/core/worker_pool.h"

namespace tarvo::server {

/// Most player sessions at once; ids run from 1 to this.
inline constexpr int kMaxPlayerSessions = 200;
/// Seconds between two saves of the accounts file.
inline constexpr int kSaveInterval = 300;
/// Level a new player enters.
inline constexpr std::string_view kDefaultStartLevel = "startlevel.x";
/// Interval of the session tick and of the save countdown tick.
inline constexpr int kTickMilliseconds = 50;
inline constexpr int kSaveTickMilliseconds = 1000;

/// The server: the listening socket, the player and remote-control sessions, the level cache,
/// the accounts and the file store, driven by two ticks (`Tick` every 50 ms,
/// `SaveCountdownTick` every second) on one thread. Windows and logs learn of changes through the
/// `ServerObserver`; remote control plugs in as a `RemoteControl`.
class TServerFrame final : public AccountObserver {
 public:
  /// `server_directory` holds accounts.txt, serverconfig.txt, levels/ and guilds/. Without
  /// `current_directory` the process's current directory is searched first for level files.
  explicit TServerFrame(std::filesystem::path server_directory, ServerObserver* observer = nullptr,
                        RemoteControl* remote = nullptr,
                        std::optional<std::filesystem::path> current_directory = std::nullopt);
  /// Closes every connection (the goodbye of the shutdown path, without the save).
  ~TServerFrame() override;
  TServerFrame(const TServerFrame&) = delete;
  TServerFrame& operator=(const TServerFrame&) = delete;

  /// Opens the listening socket on the port the text names ("0": the system chooses), loads the
  /// accounts and indexes the level files. The value is the port bound.
  base::Result<std::uint16_t> StartServer(std::string_view port_text);
  bool running() const { return listener_.IsOpen(); }
  /// The port the listener is bound to.
  std::uint16_t port() const { return port_; }

  /// Chooses the deflate of every packet and the threads that compress the batches. With one
  /// thread each session's batch is compressed and sent at its turn in the tick; with more, the
  /// turns only receive and handle, and the batches of all sessions are then compressed side by
  /// side and sent in list order, each as soon as it is ready, so that no message leaves later
  /// than with one thread.
  void SetCompression(protocol::Compressor compressor, int threads);
  protocol::Compressor compressor() const { return compressor_; }
  /// The `threads` last chosen: with more than one, that many compress beside the tick's own.
  int compression_threads() const { return compression_threads_; }

  /// The 50 ms tick: accepts connections, then services every session in list order.
  void Tick();
  /// The one-second tick: counts down to the next save of the accounts file.
  void SaveCountdownTick();

  /// Creates a player session for an accepted connection. Over a cap (200 sessions, too many
  /// connections not logged in from the address or in all) the connection is sent message 5
  /// with the reason and closed instead, and nullptr is returned.
  TServerPlayer* AcceptSession(std::unique_ptr<protocol::ByteStream> stream, std::uint32_t address);
  /// Player sessions from `address` that have not logged in (`playing`: that have).
  int SessionsFrom(std::uint32_t address, bool playing) const;
  /// Tells the observer the number of player sessions.
  void UpdateSessionCount();
  /// Takes a session out of the lists, its account and its level, and tells the others. Returns
  /// the session's ownership (empty when it was in no list).
  std::unique_ptr<TServerPlayer> RemoveSession(TServerPlayer& session);
  /// Closes the session's connection, removes it and frees it. A session that is handling its
  /// own messages is only marked closing, so the tick ends it after its step.
  void DestroySession(TServerPlayer& session);
  /// Moves a session from the player sessions to the remote-control sessions (a remote-control
  /// login); the departure is told to the others as for any player.
  void MoveToRemoteSessions(TServerPlayer& session);

  /// The cached level for a name, loading it when needed; nullptr when there is no such file.
  TServerLevel* FindLevel(std::string_view name);
  /// Rereads the named cached levels (lower-case names only) and sends them again to their
  /// players; a named level without players is dropped from the cache.
  void ReloadLevels(std::span<const std::string> names);

  // ---- What the windows call ----

  /// The first player session with this id, or nullptr.
  TServerPlayer* FindPlayer(int id) const;
  /// Disconnects a player with "The server administrator has disconnected you.".
  bool DisconnectPlayer(int id);
  /// Queues message 8 with `text` to one player session.
  void SendAdminMessage(TServerPlayer& session, std::string_view text);
  /// Queues message 8 with `text` to every player session.
  void SendAdminMessageToAll(std::string_view text);
  /// Ends every remote-control session, front of the list first, sending them nothing.
  void DestroyRemoteSessions();
  /// Pushes an edited account to its connected player, if any.
  void ApplyAccount(TServerAccount& account);
  /// The tray's Shutdown: refreshes every account, saves the accounts file, sends every player
  /// "The server has been shut down." and closes every connection. False when the save failed
  /// (the players' progress since the last save is lost).
  [[nodiscard]] bool Shutdown();
  /// Writes the accounts file now.
  AccountSaveResult SaveAccounts();

  /// Queues a notice to every remote-control session: the one exit of messages 50 to 59.
  void NotifyRemoteSessions(int id, std::string_view payload);
  /// Whether any remote-control session exists (notices are then worth building).
  bool HasRemoteSessions() const { return !remote_sessions_.empty(); }

  /// The local IPv4 address to listen on (first octet in the low byte; 0: every address); set
  /// before `StartServer`.
  void SetListenAddress(std::uint32_t address) { listen_address_ = address; }
  std::uint32_t listen_address() const { return listen_address_; }

  /// The connection limits; set before `StartServer`.
  void SetLimits(const ServerLimits& limits) { limits_ = limits; }
  const ServerLimits& limits() const { return limits_; }
  LoginThrottle& login_throttle() { return login_throttle_; }
  AccountGuard& account_guard() { return account_guard_; }
  /// The time every deadline and limit is measured with; tests replace the clock.
  using Clock = std::chrono::steady_clock;
  Clock::time_point Now() const { return clock_ ? clock_() : Clock::now(); }
  void SetClock(std::function<Clock::time_point()> clock) { clock_ = std::move(clock); }
  /// Refused connections still being told why (their sockets close once the peer hangs up or
  /// after a moment).
  std::size_t refused_connections() const { return refused_.size(); }

  // ---- State ----

  const std::vector<std::unique_ptr<TServerPlayer>>& player_sessions() const {
    return player_sessions_;
  }
  const std::vector<std::unique_ptr<TServerPlayer>>& remote_sessions() const {
    return remote_sessions_;
  }
  AccountStore& accounts() { return accounts_; }
  FileStore& files() { return files_; }
  LevelCache& levels() { return levels_; }
  ServerObserver& observer() { return *observer_; }
  RemoteControl& remote_control() { return *remote_; }
  const std::filesystem::path& server_directory() const { return server_directory_; }
  std::filesystem::path accounts_file() const;
  int save_countdown() const { return save_countdown_; }
  /// A serial number for a new session; never repeats.
  std::uint64_t NextSerial() { return next_serial_++; }
  /// CPU time the last `Tick` took in this process (compression threads included), in
  /// microseconds.
  std::int64_t last_tick_cpu_us() const { return last_tick_cpu_us_; }
  /// Wall-clock time the last `Tick` took, in microseconds.
  std::int64_t last_tick_wall_us() const { return last_tick_wall_us_; }

 private:
  // AccountObserver: the account notices to remote-control sessions.
  void AccountAdded(const TServerAccount& account) override;
  void AccountRemoved(const TServerAccount& account) override;
  void AccountChanged(const TServerAccount& account, bool status_changed,
                      bool name_changed) override;

  void ServiceList(std::vector<std::unique_ptr<TServerPlayer>>& list, bool send_before_destroy);
  // Marks a player session closing that holds its id without logging in in time; true then.
  bool CheckDeadlines(TServerPlayer& session, TServerPlayer::Clock::time_point now);
  // The tick's last step with several threads: every batch compressed, then sent in list order.
  void CompressAndSendAll();
  // The destruction steps: goodbye to every player, every socket closed, the cache freed.
  void CloseAll();
  // Sends message 5 with `text` to a connection that gets no session and keeps it until the
  // peer hangs up, so that closing with unread input does not reset the text away.
  void RefuseConnection(std::unique_ptr<protocol::ByteStream> stream, std::uint32_t address,
                        std::string_view text, std::string_view why);
  void ServiceRefused(Clock::time_point now);

  std::filesystem::path server_directory_;
  ServerLimits limits_;
  LoginThrottle login_throttle_{limits_};
  AccountGuard account_guard_{limits_};
  std::function<Clock::time_point()> clock_;
  struct Refused {
    std::unique_ptr<protocol::ByteStream> stream;
    Clock::time_point until;
  };
  std::vector<Refused> refused_;
  QuietObserver default_observer_;
  RemoteControl default_remote_;
  ServerObserver* observer_;
  RemoteControl* remote_;
  AccountStore accounts_;
  FileStore files_;
  LevelCache levels_;
  net::TcpListener listener_;
  std::uint16_t port_ = 0;
  std::uint32_t listen_address_ = net::kAnyAddress;
  std::vector<std::unique_ptr<TServerPlayer>> player_sessions_;
  std::vector<std::unique_ptr<TServerPlayer>> remote_sessions_;
  int save_countdown_ = kSaveInterval;
  std::uint64_t next_serial_ = 1;
  std::int64_t last_tick_cpu_us_ = 0;
  std::int64_t last_tick_wall_us_ = 0;
  protocol::Compressor compressor_ = protocol::kDefaultCompressor;
  std::unique_ptr<WorkerPool> pool_;  // none with one thread
  int compression_threads_ = 1;
  std::vector<TServerPlayer*> send_order_;  // scratch, reused
  bool closed_ = false;
  bool moving_to_remote_ = false;  // RemoveSession for a remote-control login
};

}  // namespace tarvo::server
