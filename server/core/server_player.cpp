#include "server/core/server_player.h"

#include <algorithm>
#include <filesystem>

#include "base/files.h"
#include "net/tcp_stream.h"
#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "server/core/server_frame.h"

namespace tarvo::server {

namespace msg = protocol::msg;

TServerPlayer::TServerPlayer(TServerFrame& server, std::unique_ptr<protocol::ByteStream> stream,
                             int id, std::uint32_t address)
    : server_(server),
      serial_(server.NextSerial()),
      stream_(std::move(stream)),
      connection_(stream_ ? &gate_ : nullptr, splitter_, /*refuse_line_feeds=*/false),
      values_(id, address),
      accepted_at_(server.Now()),
      last_message_at_(accepted_at_) {
  connection_.SetObserver(this);
  connection_.SetCompressor(server.compressor());
  connection_.SetDeferredCompression(server.compression_threads() > 1);
}

std::unique_ptr<TServerPlayer> TServerPlayer::Temporary(TServerFrame& server) {
  return std::make_unique<TServerPlayer>(server, nullptr, 0, 0);
}

TServerPlayer::~TServerPlayer() = default;

std::uint32_t TServerPlayer::address() const {
  return static_cast<std::uint32_t>(
      static_cast<std::int64_t>(values_.Number(protocol::kPropAddress)));
}

// ---- Framing ----

void TServerPlayer::QueueMessage(int id, std::string_view payload) {
  if (!is_connected()) return;
  if (connection_.QueueMessage(id, payload) == protocol::QueueStatus::kOverflow) MarkOverflowed();
}

void TServerPlayer::QueueLongMessage(int id, std::string_view payload) {
  if (!is_connected()) return;
  if (connection_.QueueLongMessage(id, payload) == protocol::QueueStatus::kOverflow)
    MarkOverflowed();
}

void TServerPlayer::SendPending() {
  if (!is_connected()) return;
  const protocol::SendStatus status = connection_.SendPending();
  switch (status) {
    case protocol::SendStatus::kDone:
    case protocol::SendStatus::kWouldBlock:
      break;
    case protocol::SendStatus::kZeroAccepted:
      MarkClosing("the connection accepted nothing");
      break;
    case protocol::SendStatus::kError:
      MarkClosing("send failed");
      break;
    case protocol::SendStatus::kOverflow:
      MarkOverflowed();
      break;
  }
}

void TServerPlayer::OnMessage(std::string_view raw) {
  last_message_at_ = server_.Now();
  backlog_.OnMessage(raw);
}

void TServerPlayer::HandleGuarded(std::string_view raw) {
  try {
    HandleMessage(raw);
  } catch (const std::exception& e) {
    server_.observer().Note(std::string("a message handler failed: ") + e.what());
  } catch (...) {
    server_.observer().Note("a message handler failed");
  }
}

void TServerPlayer::HandlePending() {
  if (waiting_turn_) {
    const std::string login = deferred_login_;
    try {
      HandleLogin(login);
    } catch (const std::exception& e) {
      server_.observer().Note(std::string("a login handler failed: ") + e.what());
      MarkClosing("login failed");
    } catch (...) {
      server_.observer().Note("a login handler failed");
      MarkClosing("login failed");
    }
  }
  // While the login waits for its turn, what came after it waits too, in order. Only the socket
  // read appends to the backlog, and it never runs inside a handler.
  if (!waiting_turn_) {
    backlog_.Handle([this](std::string_view raw, bool) {
      HandleGuarded(raw);
      if (waiting_turn_) backlog_.StopHandling();
    });
  }
  if (closing_) backlog_.Clear();
}

void TServerPlayer::ReceivePending() {
  if (!is_connected()) return;
  servicing_ = true;
  backlog_.SetBudget(server_.limits().messages_per_tick);
  protocol::ReceiveStatus status = protocol::ReceiveStatus::kDrained;
  if (!peer_closed_) status = connection_.ReceivePending(*this);
  HandlePending();
  servicing_ = false;
  switch (status) {
    case protocol::ReceiveStatus::kDrained:
    case protocol::ReceiveStatus::kBusy:
      break;
    case protocol::ReceiveStatus::kClosed:
      peer_closed_ = true;
      break;
    case protocol::ReceiveStatus::kError:
      MarkClosing("connection failed");
      break;
    case protocol::ReceiveStatus::kDecompressError:
      // Nothing after a packet that does not decompress can be trusted to be framed right.
      MarkClosing("a packet did not decompress");
      break;
  }
  // The messages sent before the peer hung up are all handled first.
  if (peer_closed_ && backlog_.empty()) MarkClosing("connection closed by the client");
}

void TServerPlayer::OnOutputOverflow() { MarkOverflowed(); }

void TServerPlayer::OnBatchRefused(std::size_t batch_size, std::size_t compressed_size) {
  server_.observer().PacketRefused(*this, batch_size, compressed_size);
}

// ---- Session ----

void TServerPlayer::MarkClosing(std::string_view why) {
  if (!closing_) close_reason_ = std::string(why);
  closing_ = true;
}

void TServerPlayer::MarkOverflowed() {
  reset_on_close_ = true;
  MarkClosing("output queue overflow");
}

void TServerPlayer::CloseSocket() {
  auto* tcp = dynamic_cast<net::TcpStream*>(stream_.get());
  if (tcp == nullptr) return;
  if (reset_on_close_) {
    tcp->Abort();
  } else {
    tcp->Close();
  }
}

void TServerPlayer::HandleMessage(std::string_view raw) {
  if (awaiting_login_) {
    HandleLogin(raw);
    return;
  }
  const auto message = protocol::SplitMessage(raw);
  if (!message) return;
  if (message->id == msg::kProperties) {
    ApplyProperties(message->payload);
  } else if (message->id == msg::kFileRequest) {
    HandleFileRequest(message->payload);
  } else if (RemoteControl::IsCommand(message->id)) {
    server_.remote_control().HandleCommand(server_, *this, message->id, message->payload);
  }
}

void TServerPlayer::Refuse(std::string_view text) {
  QueueMessage(msg::kDisconnectReason, text);
  MarkClosing(std::string("login refused: ") + std::string(text));
  server_.observer().LoginRefused(*this, text);
}

namespace {

// Only names of real accounts are paced, so that made-up names leave no records behind.
bool NameExists(const AccountStore& accounts, std::string_view name) {
  return std::any_of(accounts.accounts().begin(), accounts.accounts().end(),
                     [name](const auto& account) { return account->Name == name; });
}

}  // namespace

std::string TooManyFailedLogins(std::chrono::steady_clock::duration wait) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
  const long long seconds = std::max<long long>(1, (ms + 999) / 1000);
  return "Too many failed logins. Try again in " + std::to_string(seconds) + " seconds.";
}

bool TServerPlayer::TakeTurn(std::string_view raw, std::string_view name, bool remote) {
  const auto now = server_.Now();
  const AccountGuard::Turn turn = server_.account_guard().Ask(
      name, serial_, address(), now, accepted_at_ + server_.limits().login_timeout);
  switch (turn.verdict) {
    case AccountGuard::Verdict::kCheck:
      waiting_turn_ = false;
      deferred_login_.clear();
      return true;
    case AccountGuard::Verdict::kWait:
      if (!waiting_turn_) deferred_login_ = std::string(raw);
      waiting_turn_ = true;
      return false;
    case AccountGuard::Verdict::kRefuse:
      break;
  }
  waiting_turn_ = false;
  deferred_login_.clear();
  if (remote) {
    MarkClosing("remote-control login refused");
    server_.observer().LoginRefused(
        *this, "remote-control login: no turn to check the password in time (no reason sent)");
  } else {
    Refuse(TooManyFailedLogins(turn.wait));
  }
  return false;
}

void TServerPlayer::HandleLogin(std::string_view raw) {
  if (raw.size() < 9) {
    MarkClosing("login message too short");
    server_.observer().LoginRefused(*this, "login message too short (no reason sent)");
    return;
  }
  awaiting_login_ = false;
  const int kind = static_cast<unsigned char>(raw[0]) - 32;
  const auto login = protocol::ParseLogin(raw.substr(1));
  if (!login) {
    MarkClosing("malformed login");
    server_.observer().LoginRefused(*this, "malformed login (no reason sent)");
    return;
  }
  version_ = login->version == protocol::kVersionOld       ? 1
             : login->version == protocol::kVersionCurrent ? 2
                                                           : 0;
  LoginThrottle& throttle = server_.login_throttle();
  AccountGuard& guard = server_.account_guard();
  const auto now = server_.Now();
  if (kind == msg::kRemoteLogin) {
    if (throttle.Blocked(address(), login->account, now)) {
      account_name_ = std::string(login->account);
      MarkClosing("remote-control login refused");
      server_.observer().LoginRefused(
          *this, "remote-control login: too many failed logins from this address (no reason sent)");
      return;
    }
    if (!TakeTurn(raw, login->account, /*remote=*/true)) return;
    TServerAccount* account = server_.accounts().FindAccount(login->account, login->password);
    if (version_ >= 1 && (account == nullptr || account->Rights < 1 || account->Blocked)) {
      throttle.Failed(address(), login->account, now);
      if (account == nullptr && NameExists(server_.accounts(), login->account))
        guard.Failed(login->account, address(), now);
    }
    if (account != nullptr) guard.Succeeded(login->account);
    server_.remote_control().HandleLogin(server_, *this, *login, account, version_);
    return;
  }
  if (kind != msg::kPlayerLogin) return;  // stays connected, not logged in
  account_name_ = std::string(login->account);
  if (version_ < 2) return Refuse(kRefusedOldVersion);
  // While the name cools down at this address the password is not even looked at.
  if (const auto left = throttle.CooldownLeft(address(), login->account, now);
      left > LoginThrottle::Clock::duration::zero()) {
    Refuse(TooManyFailedLogins(left));
    return;
  }
  if (!TakeTurn(raw, login->account, /*remote=*/false)) return;
  TServerAccount* account = server_.accounts().FindAccount(login->account, login->password);
  if (account == nullptr) {
    throttle.Failed(address(), login->account, now);
    if (NameExists(server_.accounts(), login->account))
      guard.Failed(login->account, address(), now);
    return Refuse(kRefusedUnknown);
  }
  guard.Succeeded(login->account);
  if (account->Blocked) {
    throttle.Failed(address(), login->account, now);
    return Refuse(kRefusedBlocked);
  }
  // A player reconnecting after a dropped line meets its old session: not a guess.
  if (account->Session != nullptr) return Refuse(kRefusedInUse);
  const int per_address = server_.limits().max_sessions_per_address;
  if (per_address > 0 && server_.SessionsFrom(address(), /*playing=*/true) >= per_address)
    return Refuse(kRefusedTooManyFromAddress);

  // Logged in.
  playing_ = true;
  rights_ = account->Rights;
  ApplyProperties(account->Properties);
  if (!account->LoadOnly) {
    account_ = account;
    server_.accounts().SetSession(*account, this);
    server_.observer().AccountViewChanged(*account);
  }
  {
    std::string own;
    for (int i = 0; i <= protocol::kPropAnimationTime; ++i) own += EncodeEntry(i);
    QueueMessage(msg::kOwnProperties, own);
  }
  const std::string all = protocol::EncodeAllEntries(values_);
  const std::string mine = protocol::BuildPlayerEntries(id(), all);
  ForOtherPlayers([&](TServerPlayer& p) {
    QueueMessage(msg::kOtherPlayer,
                 protocol::BuildPlayerEntries(p.id(), protocol::EncodeAllEntries(p.values_)));
    p.ChangeRecordFor(*this);
    p.QueueMessage(msg::kOtherPlayer, mine);
    ChangeRecordFor(p);
  });
  server_.observer().PlayerLoggedIn(*this);
  // An account saved while its player was between levels holds no level name; it starts over
  // in the start level rather than being shut out of every level for good.
  if (values_.Text(protocol::kPropLevelName).empty())
    values_.SetText(protocol::kPropLevelName, kDefaultStartLevel);
  EnterLevel(values_.Text(protocol::kPropLevelName));
  if (server_.HasRemoteSessions()) {
    std::string entries;
    protocol::PutEntry(entries, protocol::kPropLevelName, values_);
    server_.NotifyRemoteSessions(msg::kPlayerEntry,
                                 protocol::BuildPlayerEntry(id(), account_name_, entries));
  }
  server_.observer().PlayerListChanged();
}

void TServerPlayer::HandleFileRequest(std::string_view name) {
  const std::string file_name = std::string(name) + ".gif";
  FileStore& files = server_.files();
  std::string path;
  if (files.FileIsKnown(file_name)) path = files.LocateFile(file_name);
  // The size is checked before reading, so a huge file is never loaded only to be refused.
  std::error_code error;
  const auto size = path.empty() ? 0 : std::filesystem::file_size(path, error);
  if (path.empty() || error || size > kMaxFileRequestSize) {
    QueueMessage(msg::kFileNotAvailable, name);
    return;
  }
  const base::Result<std::string> data = base::ReadWholeFile(path);
  if (!data || data->size() > kMaxFileRequestSize) {
    QueueMessage(msg::kFileNotAvailable, name);
    return;
  }
  QueueLongMessage(msg::kFile, protocol::BuildFile(name, *data));
}

void TServerPlayer::Disconnect(std::string_view reason) {
  TServerFrame& server = server_;  // `this` may be gone below
  QueueMessage(msg::kDisconnectReason, reason);
  SendPending();
  MarkClosing(std::string("disconnected: ") + std::string(reason));
  // A session handling its own messages ends at the end of its step in the tick instead.
  if (!servicing_) server.DestroySession(*this);
  server.UpdateSessionCount();
}

}  // namespace tarvo::server
