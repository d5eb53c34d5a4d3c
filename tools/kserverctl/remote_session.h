#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "net/tcp_stream.h"
#include "protocol/framing.h"
#include "tools/kserverctl/decoding.h"
#include "tools/kserverctl/directory.h"

namespace tarvo::kserverctl {

/// Exit statuses of the program, one per kind of failure.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,           ///< a wrong argument
  kExitConnect = 2,         ///< the host was not found or refused the connection
  kExitLoginRefused = 3,    ///< the server closed the connection after the login
  kExitTimeout = 4,         ///< the server did not answer in time
  kExitNotFound = 5,        ///< no account or player of that number or name, or ambiguous
  kExitNoEffect = 6,        ///< the server ignored the command or kept some fields
  kExitConnectionLost = 7,  ///< the server closed the connection later on
};

/// A failure the program reports and ends with.
class CtlError : public std::runtime_error {
 public:
  CtlError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

/// Where and as whom to log in.
struct SessionOptions {
  std::string host = "127.0.0.1";
  std::uint16_t port = 14901;
  std::string account;   ///< UTF-8 as typed; sent as Latin-1
  std::string password;  ///< UTF-8 as typed; sent as Latin-1
  std::chrono::milliseconds timeout{5000};
};

/// Outcome of waiting for something from the server.
enum class WaitResult { kDone, kTimeout, kClosed, kStopped };

/// A remote-control login and what the server tells it afterwards.
///
/// The login is over when the lists that follow it are complete. The server queues the whole
/// account list (50) and player list (55) while handling the login, before it handles anything
/// the client sends later, and answers every command in order. So, on seeing its own account
/// name in the list, the session asks for that account's details (51); the first reply (54)
/// can only arrive after both lists. The login's own account always passes the access rule for
/// reading, so the reply comes; when several accounts share the name, each is asked. Waiting
/// for a quiet moment was not chosen: a busy server can pause between two packets of one list.
class RemoteSession : private protocol::MessageSink {
 public:
  using Clock = std::chrono::steady_clock;
  /// Told of every change notice, with the directory as it was before the notice. Set it before
  /// the login to hear changes that arrive while the login is still being confirmed; an entry
  /// that comes then, before any other change, cannot be told from the lists and is not told.
  using NoticeListener = std::function<void(const Notice&, const RemoteDirectory&)>;

  RemoteSession();
  ~RemoteSession() override;

  /// Connects and logs in within `options.timeout` each; throws CtlError on failure.
  void Open(const SessionOptions& options);
  /// Logs in over an already connected stream (tests use a loopback pair).
  void OpenOn(net::TcpStream stream, const SessionOptions& options);

  /// Queues one message and hands it to the socket.
  void Send(int id, std::string_view payload);
  /// Services the connection until `done` holds, the deadline passes, the server closes or
  /// `*stop` is set.
  WaitResult WaitUntil(const std::function<bool()>& done, Clock::time_point deadline,
                       const std::atomic<bool>* stop = nullptr);
  /// The deadline one timeout from now.
  Clock::time_point Deadline() const { return Clock::now() + options_.timeout; }

  /// Asks for an account's details (51); returns the ticket its reply will carry.
  int RequestAccount(int number);
  /// Asks for a player's details (59); returns the ticket its reply will carry.
  int RequestPlayer(int id);
  /// Whether the reply for a ticket has arrived.
  bool AccountReplied(int number, int ticket) const;
  bool PlayerReplied(int id, int ticket) const;
  /// The latest details reply, or nullptr.
  const Notice* AccountDetails(int number) const;
  const Notice* PlayerDetails(int id) const;
  /// Waits for everything sent so far to be handled by the server, by a read of an account it
  /// is known to answer. Throws CtlError when no answer comes in time.
  void Barrier();

  const RemoteDirectory& directory() const { return directory_; }
  /// The rights of the login's account, when the account list names it unambiguously.
  std::optional<int> own_rights() const { return own_rights_; }
  const SessionOptions& options() const { return options_; }
  /// The text of a disconnect reason (5) the server sent, if any.
  const std::string& disconnect_reason() const { return disconnect_reason_; }
  bool closed() const { return closed_; }

  void SetNoticeListener(NoticeListener listener) { listener_ = std::move(listener); }

  /// "host:port" for messages.
  std::string Peer() const;

 private:
  void OnMessage(std::string_view raw) override;
  void Login();
  void Pump(std::chrono::milliseconds slice);

  SessionOptions options_;
  std::string login_name_;  // Latin-1
  std::unique_ptr<net::TcpStream> stream_;
  protocol::ServerSplitter splitter_;
  std::unique_ptr<protocol::PacketConnection> connection_;

  RemoteDirectory directory_;
  NoticeListener listener_;
  bool greeted_ = false;
  bool login_done_ = false;
  bool lists_over_ = false;
  bool closed_ = false;
  std::string disconnect_reason_;
  std::set<int> probes_;
  int barrier_account_ = -1;
  std::optional<int> own_rights_;

  std::map<int, int> account_requests_, account_replies_;
  std::map<int, int> player_requests_, player_replies_;
  std::map<int, Notice> account_details_, player_details_;
};

}  // namespace tarvo::kserverctl
