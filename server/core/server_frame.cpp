#include "server/core/server_frame.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <thread>

#include "base/files.h"
#include "net/address.h"
#include "net/tcp_stream.h"
#include "protocol/messages.h"
#include "server/core/server_config.h"

namespace tarvo::server {

namespace msg = protocol::msg;

namespace {

std::int64_t ProcessCpuMicros() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::string FormatSeconds(std::chrono::milliseconds time) {
  const auto ms = time.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

// How long the shutdown waits for goodbyes to leave and for clients to hang up.
constexpr auto kGoodbyeFlushTime = std::chrono::milliseconds(2000);
constexpr auto kGoodbyeCloseTime = std::chrono::milliseconds(1000);

}  // namespace

TServerFrame::TServerFrame(std::filesystem::path server_directory, ServerObserver* observer,
                           RemoteControl* remote,
                           std::optional<std::filesystem::path> current_directory)
    : server_directory_(std::move(server_directory)),
      observer_(observer ? observer : &default_observer_),
      remote_(remote ? remote : &default_remote_),
      files_(server_directory_, std::move(current_directory)),
      levels_(files_) {
  accounts_.SetObserver(this);
  accounts_.SetStoredPropertiesSource(
      [](const TServerPlayer& session) { return session.StoredPropertyText(); });
}

TServerFrame::~TServerFrame() {
  CloseAll();
  accounts_.SetObserver(nullptr);
}

std::filesystem::path TServerFrame::accounts_file() const {
  return server_directory_ / kAccountsFileName;
}

base::Result<std::uint16_t> TServerFrame::StartServer(std::string_view port_text) {
  const auto port = ParsePortText(port_text);
  if (!port) return base::Fail(port.error());
  auto listener = net::TcpListener::Listen(*port, listen_address_);
  if (!listener) return base::Fail(listener.error());
  listener_ = std::move(listener.value());
  port_ = listener_.LocalPort();
  closed_ = false;

  ServerStartInfo info;
  info.port = port_;
  info.port_text = std::string(port_text);
  info.host_name = net::LocalHostName();
  info.address = net::FormatIpv4(listen_address_);
  // A crash during a save may have left the passwords in a temporary file.
  if (const int removed = base::RemoveLeftoverTemporaries(accounts_file()); removed > 0)
    observer_->Note("removed " + std::to_string(removed) +
                    " temporary file(s) a crash left beside the accounts file");
  const AccountLoadResult loaded = accounts_.LoadAccounts(accounts_file());
  info.accounts_loaded = loaded.accounts;
  switch (loaded.status) {
    case AccountLoadResult::Status::kLoaded:
      if (loaded.skipped_lines > 0)
        info.accounts_note = std::to_string(loaded.skipped_lines) + " line(s) skipped";
      break;
    case AccountLoadResult::Status::kMissing:
      info.accounts_note = "no accounts file";
      break;
    case AccountLoadResult::Status::kUnreadable:
      info.accounts_note = "accounts file unreadable: " + loaded.error;
      break;
  }
  save_countdown_ = kSaveInterval;
  info.level_files = files_.IndexLevelFiles();
  observer_->ServerStarted(info);
  return port_;
}

void TServerFrame::SetCompression(protocol::Compressor compressor, int threads) {
  compressor_ = compressor;
  // N threads compress beside the tick's own, which meanwhile sends each session as soon as its
  // batches are ready and compresses too when it has nothing to send: on two cores, two
  // compressing threads keep both busy while the tick's thread waits in its sends.
  compression_threads_ = std::max(threads, 1);
  pool_ = threads > 1 ? std::make_unique<WorkerPool>(threads + 1) : nullptr;
  for (auto* list : {&player_sessions_, &remote_sessions_}) {
    for (const auto& p : *list) {
      p->connection().SetCompressor(compressor_);
      p->connection().SetDeferredCompression(pool_ != nullptr);
    }
  }
}

void TServerFrame::Tick() {
  if (closed_ || !listener_.IsOpen()) return;
  const auto wall_start = std::chrono::steady_clock::now();
  const std::int64_t start = ProcessCpuMicros();
  for (;;) {
    net::AcceptResult accepted = listener_.Accept();
    if (accepted.status != protocol::IoStatus::kOk || !accepted.stream) break;
    if (limits_.send_buffer_bytes > 0) {
      // Linux books twice what is asked; the cap keeps what a peer that never reads can pin in
      // the kernel near the size of our own output queue.
      (void)accepted.stream->SetKernelBuffers(std::max(limits_.send_buffer_bytes / 2, 1));
    }
    AcceptSession(std::make_unique<net::TcpStream>(std::move(*accepted.stream)),
                  accepted.peer_address);
  }
  if (!refused_.empty()) ServiceRefused(Now());
  const std::size_t before = player_sessions_.size();
  ServiceList(player_sessions_, /*send_before_destroy=*/true);
  if (player_sessions_.size() != before) UpdateSessionCount();
  ServiceList(remote_sessions_, /*send_before_destroy=*/false);
  DeliverLevelRelays(levels_, compressor_, /*send_now=*/!pool_);
  if (pool_) CompressAndSendAll();
  last_tick_cpu_us_ = ProcessCpuMicros() - start;
  last_tick_wall_us_ = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - wall_start)
                           .count();
}

void TServerFrame::ServiceList(std::vector<std::unique_ptr<TServerPlayer>>& list,
                               bool send_before_destroy) {
  const auto now = Now();
  for (std::size_t i = 0; i < list.size();) {
    const std::size_t count = list.size();
    TServerPlayer* session = list[i].get();
    // With a pool the sending waits for the compression at the end of the tick.
    if (!pool_) session->SendPending();
    // A session past its deadline is not read again: a late login must not slip in.
    if (!CheckDeadlines(*session, now)) session->ReceivePending();
    if (session->closing()) {
      if (send_before_destroy) session->SendPending();
      DestroySession(*session);
    }
    // A session taken out of the list leaves its place to the next one.
    if (list.size() == count) ++i;
  }
}

bool TServerFrame::CheckDeadlines(TServerPlayer& session, TServerPlayer::Clock::time_point now) {
  // Remote-control sessions and players never time out; a login waiting for its turn to have
  // its password checked is answered or refused within the login deadline.
  if (session.is_playing() || session.closing() || session.rights() > 0 ||
      session.pending_messages() > 0 || session.waiting_turn())
    return false;
  if (std::find_if(remote_sessions_.begin(), remote_sessions_.end(),
                   [&](const auto& p) { return p.get() == &session; }) != remote_sessions_.end())
    return false;
  // A connection kept "not logged in" by a first message of another kind meets the login
  // deadline too, or it could hold its player id for good by talking now and then.
  if (now - session.accepted_at() >= limits_.login_timeout) {
    session.MarkClosing("no login within " + FormatSeconds(limits_.login_timeout));
    return true;
  }
  if (session.awaiting_login() || now - session.last_message_at() < limits_.idle_timeout)
    return false;
  session.MarkClosing("not logged in and silent for " + FormatSeconds(limits_.idle_timeout));
  return true;
}

void TServerFrame::CompressAndSendAll() {
  send_order_.clear();
  bool compress = false;
  for (auto* list : {&player_sessions_, &remote_sessions_}) {
    for (const auto& p : *list) {
      if (!p->is_connected()) continue;
      protocol::PacketConnection& connection = p->connection();
      (void)connection.FlushBatch();  // only seals: the queue limit is checked on sending
      // A session with nothing to send costs nothing more this tick.
      if (!connection.HasOutput()) continue;
      compress = compress || connection.HasUncompressed();
      send_order_.push_back(p.get());
    }
  }
  if (!compress) {
    // The relay streams come compressed already: waking the pool would only cost switches.
    for (TServerPlayer* p : send_order_) p->SendPending();
    return;
  }
  // Each session is sent as soon as its batches are compressed, while the pool compresses the
  // next ones. A failed send only marks the session: it ends at its turn in the next tick, as it
  // would have with one thread.
  pool_->ForEach(
      send_order_.size(), [this](std::size_t i) { send_order_[i]->connection().CompressSealed(); },
      [this](std::size_t i) { send_order_[i]->SendPending(); });
}

void TServerFrame::SaveCountdownTick() {
  if (closed_) return;
  if (--save_countdown_ <= 0) {
    save_countdown_ = kSaveInterval;
    SaveAccounts();
  }
}

int TServerFrame::SessionsFrom(std::uint32_t address, bool playing) const {
  return static_cast<int>(
      std::count_if(player_sessions_.begin(), player_sessions_.end(), [&](const auto& p) {
        return p->is_playing() == playing && !p->closing() && p->address() == address;
      }));
}

TServerPlayer* TServerFrame::AcceptSession(std::unique_ptr<protocol::ByteStream> stream,
                                           std::uint32_t address) {
  if (player_sessions_.size() >= static_cast<std::size_t>(kMaxPlayerSessions)) {
    RefuseConnection(std::move(stream), address, kRefusedServerFull, "every player id is taken");
    return nullptr;
  }
  // Connections that have not logged in are capped per address and in all, so that nobody can
  // hold the player ids with connections that never log in.
  if (limits_.max_pending_per_address > 0 &&
      SessionsFrom(address, false) >= limits_.max_pending_per_address) {
    RefuseConnection(std::move(stream), address, kRefusedTooManyFromAddress,
                     "too many connections not logged in from this address");
    return nullptr;
  }
  if (limits_.max_pending > 0) {
    const auto pending =
        std::count_if(player_sessions_.begin(), player_sessions_.end(),
                      [](const auto& p) { return !p->is_playing() && !p->closing(); });
    if (pending >= limits_.max_pending) {
      RefuseConnection(std::move(stream), address, kRefusedServerFull,
                       "too many connections not logged in");
      return nullptr;
    }
  }
  std::array<bool, kMaxPlayerSessions + 1> used{};
  for (const auto& p : player_sessions_) {
    if (p->id() >= 1 && p->id() <= kMaxPlayerSessions)
      used[static_cast<std::size_t>(p->id())] = true;
  }
  int id = 1;
  while (id <= kMaxPlayerSessions && used[static_cast<std::size_t>(id)]) ++id;
  auto session = std::make_unique<TServerPlayer>(*this, std::move(stream), id, address);
  TServerPlayer* added = session.get();
  player_sessions_.push_back(std::move(session));
  UpdateSessionCount();
  added->QueueMessage(msg::kConnectionAccepted, protocol::BuildConnectionAccepted());
  observer_->SessionAccepted(*added);
  return added;
}

// How long a refused connection is kept for the peer to read its reason, and how many at most.
constexpr auto kRefusedLinger = std::chrono::milliseconds(1000);
constexpr std::size_t kMaxRefusedLingering = 256;

void TServerFrame::RefuseConnection(std::unique_ptr<protocol::ByteStream> stream,
                                    std::uint32_t address, std::string_view text,
                                    std::string_view why) {
  observer_->ConnectionRefused(address, text, why);
  {
    protocol::ServerSplitter splitter;
    protocol::PacketConnection connection(stream.get(), splitter, /*refuse_line_feeds=*/false);
    connection.SetCompressor(compressor_);
    (void)connection.QueueMessage(msg::kDisconnectReason, text);
    (void)connection.SendPending();  // a fresh socket takes one small packet whole
  }
  if (auto* tcp = dynamic_cast<net::TcpStream*>(stream.get()); tcp && tcp->IsOpen())
    tcp->ShutdownWrite();
  // A flood of refusals is not kept: the oldest go first.
  if (refused_.size() >= kMaxRefusedLingering) refused_.erase(refused_.begin());
  refused_.push_back({std::move(stream), Now() + kRefusedLinger});
}

void TServerFrame::ServiceRefused(Clock::time_point now) {
  std::uint8_t scratch[1024];
  std::erase_if(refused_, [&](Refused& r) {
    // Reading what the peer sent lets the close end with a FIN rather than a reset.
    for (int reads = 0; reads < 16; ++reads) {
      const protocol::IoResult got = r.stream->Receive(scratch, sizeof scratch);
      if (got.status == protocol::IoStatus::kWouldBlock) return now >= r.until;
      if (got.status != protocol::IoStatus::kOk || got.bytes == 0) return true;
    }
    return now >= r.until;
  });
}

void TServerFrame::UpdateSessionCount() {
  observer_->SessionCountChanged(static_cast<int>(player_sessions_.size()));
}

std::unique_ptr<TServerPlayer> TServerFrame::RemoveSession(TServerPlayer& session) {
  const auto take = [&session](std::vector<std::unique_ptr<TServerPlayer>>& list) {
    std::unique_ptr<TServerPlayer> owned;
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&session](const auto& p) { return p.get() == &session; });
    if (it != list.end()) {
      owned = std::move(*it);
      list.erase(it);
    }
    return owned;
  };
  std::unique_ptr<TServerPlayer> owned = take(remote_sessions_);
  if (owned) return owned;
  owned = take(player_sessions_);
  if (!owned) return owned;

  if (TServerAccount* account = session.account()) {
    accounts_.RefreshStoredProperties(*account);
    if (account->Session == &session) accounts_.SetSession(*account, nullptr);
    session.ReleaseAccount();
    observer_->AccountViewChanged(*account);
  }
  if (TServerLevel* level = session.level()) {
    auto& players = level->players();
    if (players.size() > 1 && players.front() == &session)
      players[1]->QueueMessage(msg::kFirstInLevel, {});
    level->RemovePlayer(&session);
    session.level_ = nullptr;
  }
  // Its marks must never be taken for a later session.
  levels_.UnmarkSerial(session.serial());
  account_guard_.Forget(session.serial());
  std::string removed = protocol::BuildPlayerEntries(session.id(), {});
  protocol::PutPlayerRemoved(removed);
  for (const auto& p : player_sessions_) {
    p->DropChangeRecord(&session);
    // A remote-control login is told to every player session, as for any departure.
    if ((session.is_playing() || moving_to_remote_) && (p->is_playing() || moving_to_remote_))
      p->QueueMessage(msg::kOtherPlayer, removed);
  }
  session.change_records_.clear();
  if (HasRemoteSessions())
    NotifyRemoteSessions(msg::kPlayerLeft, protocol::BuildPlayerId(session.id()));
  if (session.is_playing()) observer_->PlayerListChanged();
  return owned;
}

void TServerFrame::DestroySession(TServerPlayer& session) {
  if (session.servicing()) {
    session.MarkClosing("ended while handling its own messages");
    return;
  }
  session.CloseSocket();
  observer_->SessionClosed(session, session.close_reason().empty() ? std::string_view("closed")
                                                                   : session.close_reason());
  std::unique_ptr<TServerPlayer> owned = RemoveSession(session);
}

void TServerFrame::MoveToRemoteSessions(TServerPlayer& session) {
  moving_to_remote_ = true;
  std::unique_ptr<TServerPlayer> owned = RemoveSession(session);
  moving_to_remote_ = false;
  if (owned) remote_sessions_.push_back(std::move(owned));
}

TServerLevel* TServerFrame::FindLevel(std::string_view name) {
  bool loaded = false;
  TServerLevel* level = levels_.FindLevel(name, &loaded);
  if (loaded) observer_->LevelLoaded(*level, /*reload=*/false);
  if (level == nullptr) observer_->LevelNotFound(name);
  return level;
}

void TServerFrame::ReloadLevels(std::span<const std::string> names) {
  for (const std::string& name : names) {
    TServerLevel* level = levels_.FindCached(name);
    if (level == nullptr) continue;
    if (level->players().empty()) {
      observer_->LevelDropped(name);
      levels_.Remove(level);
      continue;
    }
    const std::vector<TServerPlayer*> players = level->players();
    for (TServerPlayer* p : players) p->LeaveLevel();
    level->ClearCopyMarks();
    if (level->Load()) {
      observer_->LevelLoaded(*level, /*reload=*/true);
    } else {
      observer_->Note("level \"" + name + "\" has no file any more; its players stay outside");
    }
    const std::string path = level->path();
    for (TServerPlayer* p : players) p->EnterLevel(path);
  }
}

TServerPlayer* TServerFrame::FindPlayer(int id) const {
  for (const auto& p : player_sessions_) {
    if (p->id() == id) return p.get();
  }
  return nullptr;
}

bool TServerFrame::DisconnectPlayer(int id) {
  TServerPlayer* session = FindPlayer(id);
  if (session == nullptr) return false;
  session->Disconnect(kDisconnectedByAdmin);
  return true;
}

void TServerFrame::SendAdminMessage(TServerPlayer& session, std::string_view text) {
  session.QueueMessage(msg::kAdminMessage, text);
}

void TServerFrame::SendAdminMessageToAll(std::string_view text) {
  for (const auto& p : player_sessions_) p->QueueMessage(msg::kAdminMessage, text);
}

void TServerFrame::DestroyRemoteSessions() {
  // A snapshot: a session busy with its own messages is only marked and stays in the list.
  std::vector<TServerPlayer*> sessions;
  for (const auto& p : remote_sessions_) sessions.push_back(p.get());
  for (TServerPlayer* session : sessions) {
    session->MarkClosing("remote control ended by the operator");
    DestroySession(*session);
  }
}

void TServerFrame::ApplyAccount(TServerAccount& account) {
  if (account.Session != nullptr) account.Session->ApplyAccount(account);
}

AccountSaveResult TServerFrame::SaveAccounts() {
  AccountSaveResult result = accounts_.SaveAccounts(accounts_file());
  observer_->AccountsSaved(result);
  return result;
}

bool TServerFrame::Shutdown() {
  if (closed_) return true;
  accounts_.RefreshAllStoredProperties();
  const bool saved = SaveAccounts().ok;
  CloseAll();
  return saved;
}

void TServerFrame::CloseAll() {
  if (closed_) return;
  closed_ = true;
  const bool was_running = listener_.IsOpen();
  listener_.Close();
  for (const auto& p : player_sessions_) {
    p->QueueMessage(msg::kDisconnectReason, kServerShutDown);
    p->connection().SendPending();
  }
  // The goodbye must reach the sockets: keep offering what they did not take at once, for a
  // bounded time so that a client that reads nothing cannot hold the shutdown.
  const auto pending = [this] {
    return std::any_of(player_sessions_.begin(), player_sessions_.end(), [](const auto& p) {
      return p->is_connected() && p->connection().output_queue_size() > 0;
    });
  };
  auto deadline = std::chrono::steady_clock::now() + kGoodbyeFlushTime;
  while (pending() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (const auto& p : player_sessions_) {
      const auto status = p->connection().SendPending();
      if (status == protocol::SendStatus::kError || status == protocol::SendStatus::kOverflow)
        p->connection().Clear();
    }
  }
  // Half-close, then read until the client hangs up: closing with unread input would reset the
  // connection and could destroy the goodbye before the client reads it.
  std::vector<net::TcpStream*> open;
  for (const auto& p : player_sessions_) {
    if (auto* tcp = dynamic_cast<net::TcpStream*>(p->stream()); tcp && tcp->IsOpen()) {
      tcp->ShutdownWrite();
      open.push_back(tcp);
    }
  }
  deadline = std::chrono::steady_clock::now() + kGoodbyeCloseTime;
  std::uint8_t scratch[4096];
  while (!open.empty() && std::chrono::steady_clock::now() < deadline) {
    std::erase_if(open, [&scratch](net::TcpStream* tcp) {
      for (;;) {
        const protocol::IoResult r = tcp->Receive(scratch, sizeof scratch);
        if (r.status == protocol::IoStatus::kWouldBlock) return false;
        if (r.status != protocol::IoStatus::kOk || r.bytes == 0) return true;
      }
    });
    if (!open.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (was_running && !player_sessions_.empty())
    observer_->Note("sent the shutdown notice to " + std::to_string(player_sessions_.size()) +
                    " player(s)");
  for (const auto& p : player_sessions_) p->CloseSocket();
  for (const auto& p : remote_sessions_) p->CloseSocket();
  refused_.clear();
  levels_.Clear();
}

void TServerFrame::NotifyRemoteSessions(int id, std::string_view payload) {
  for (const auto& session : remote_sessions_) session->QueueMessage(id, payload);
}

void TServerFrame::AccountAdded(const TServerAccount& account) {
  if (HasRemoteSessions()) NotifyRemoteSessions(msg::kAccountEntry, AccountSummary(account));
  // Whoever added it (a window, remote control), every view hears of it the same way.
  observer_->AccountViewChanged(account);
}

void TServerFrame::AccountRemoved(const TServerAccount& account) {
  if (account.Session != nullptr) account.Session->ReleaseAccount();
  if (HasRemoteSessions()) NotifyRemoteSessions(msg::kAccountRemoved, EncodeAccountId(account));
  observer_->AccountRemoved(account);
}

void TServerFrame::AccountChanged(const TServerAccount& account, bool status_changed,
                                  bool name_changed) {
  if (!HasRemoteSessions()) return;
  if (status_changed) {
    std::string payload = EncodeAccountId(account);
    payload.push_back(AccountStatusChar(account));
    NotifyRemoteSessions(msg::kAccountStatus, payload);
  }
  if (name_changed)
    NotifyRemoteSessions(msg::kAccountName, EncodeAccountId(account) + account.Name);
}

}  // namespace tarvo::server
