#include "tools/kserverctl/remote_session.h"

#include <poll.h>

#include <algorithm>

#include "net/address.h"
#include "protocol/messages.h"
#include "tools/kserverctl/text.h"

namespace tarvo::kserverctl {
namespace {

namespace m = protocol::msg;
namespace p = protocol;

std::string Seconds(std::chrono::milliseconds timeout) {
  return FormatNumber(static_cast<double>(timeout.count()) / 1000.0) + " s";
}

}  // namespace

RemoteSession::RemoteSession() = default;
RemoteSession::~RemoteSession() = default;

std::string RemoteSession::Peer() const {
  return options_.host + ":" + std::to_string(options_.port);
}

void RemoteSession::Open(const SessionOptions& options) {
  options_ = options;
  auto address = net::ResolveHost(options.host);
  if (!address) {
    throw CtlError(kExitConnect, "cannot find host " + options.host + ": " + address.error());
  }
  auto stream = net::ConnectTcp(*address, options.port, options.timeout);
  if (!stream) {
    throw CtlError(kExitConnect, "cannot connect to " + Peer() + ": " + stream.error());
  }
  OpenOn(std::move(*stream), options);
}

void RemoteSession::OpenOn(net::TcpStream stream, const SessionOptions& options) {
  options_ = options;
  login_name_ = Utf8ToLatin1(options.account);
  stream_ = std::make_unique<net::TcpStream>(std::move(stream));
  // The server writes plain lines to a remote-control client, so every line-feed-terminated
  // message is taken, as the server itself splits; and no payload may carry a line feed.
  connection_ = std::make_unique<p::PacketConnection>(stream_.get(), splitter_, true);
  Login();
}

void RemoteSession::Login() {
  Send(m::kRemoteLogin,
       p::BuildLogin(p::kVersionCurrent, login_name_, Utf8ToLatin1(options_.password)));
  const WaitResult result = WaitUntil([this] { return login_done_; }, Deadline());
  if (result == WaitResult::kDone) return;
  if (result == WaitResult::kClosed) {
    if (directory_.accounts().empty()) {
      if (!greeted_) {
        throw CtlError(kExitLoginRefused,
                       "the server at " + Peer() +
                           " closed the connection before greeting it (it may be full, or "
                           "not a game server)");
      }
      throw CtlError(kExitLoginRefused,
                     "login refused: wrong account or password, no rights, or blocked");
    }
    throw CtlError(kExitConnectionLost, "the server closed the connection during the login");
  }
  if (!greeted_) {
    throw CtlError(kExitTimeout, "no answer from " + Peer() + " within " +
                                     Seconds(options_.timeout) + " (is it a game server?)");
  }
  if (directory_.accounts().empty()) {
    throw CtlError(kExitTimeout, "no answer to the login within " + Seconds(options_.timeout));
  }
  throw CtlError(kExitTimeout, "the server sent its lists but did not answer within " +
                                   Seconds(options_.timeout) + " (the own account \"" +
                                   options_.account + "\" was not readable)");
}

void RemoteSession::Send(int id, std::string_view payload) {
  if (!connection_ || closed_) return;
  connection_->QueueMessage(id, payload);
  connection_->SendPending();
}

void RemoteSession::Pump(std::chrono::milliseconds slice) {
  pollfd fd{};
  fd.fd = stream_->fd();
  fd.events = POLLIN;
  if (connection_->output_queue_size() > 0) fd.events |= POLLOUT;
  ::poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(0, slice.count())));
  const p::SendStatus sent = connection_->SendPending();
  if (sent == p::SendStatus::kError || sent == p::SendStatus::kOverflow) closed_ = true;
  const p::ReceiveStatus received = connection_->ReceivePending(*this);
  if (received == p::ReceiveStatus::kClosed || received == p::ReceiveStatus::kError) {
    closed_ = true;
  }
}

WaitResult RemoteSession::WaitUntil(const std::function<bool()>& done, Clock::time_point deadline,
                                    const std::atomic<bool>* stop) {
  using std::chrono::milliseconds;
  for (;;) {
    if (done()) return WaitResult::kDone;
    if (closed_) return WaitResult::kClosed;
    if (stop && stop->load()) return WaitResult::kStopped;
    const auto now = Clock::now();
    if (now >= deadline) return WaitResult::kTimeout;
    // Short slices, so an interruption is noticed soon.
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - now);
    Pump(std::min(left + milliseconds(1), milliseconds(100)));
  }
}

int RemoteSession::RequestAccount(int number) {
  Send(m::kGetAccount, p::BuildAccountNumber(number));
  return ++account_requests_[number];
}

int RemoteSession::RequestPlayer(int id) {
  Send(m::kGetPlayer, p::BuildPlayerId(id));
  return ++player_requests_[id];
}

bool RemoteSession::AccountReplied(int number, int ticket) const {
  const auto it = account_replies_.find(number);
  return it != account_replies_.end() && it->second >= ticket;
}

bool RemoteSession::PlayerReplied(int id, int ticket) const {
  const auto it = player_replies_.find(id);
  return it != player_replies_.end() && it->second >= ticket;
}

const Notice* RemoteSession::AccountDetails(int number) const {
  const auto it = account_details_.find(number);
  return it == account_details_.end() ? nullptr : &it->second;
}

const Notice* RemoteSession::PlayerDetails(int id) const {
  const auto it = player_details_.find(id);
  return it == player_details_.end() ? nullptr : &it->second;
}

void RemoteSession::Barrier() {
  const int ticket = RequestAccount(barrier_account_);
  const WaitResult result =
      WaitUntil([&] { return AccountReplied(barrier_account_, ticket); }, Deadline());
  if (result == WaitResult::kClosed) {
    throw CtlError(kExitConnectionLost, "the server closed the connection");
  }
  if (result != WaitResult::kDone) {
    throw CtlError(kExitTimeout, "the server did not answer within " + Seconds(options_.timeout));
  }
}

void RemoteSession::OnMessage(std::string_view raw) {
  const auto message = p::SplitMessage(raw);
  if (!message) return;
  if (message->id == m::kConnectionAccepted) {
    greeted_ = true;
    return;
  }
  if (message->id == m::kDisconnectReason) {
    disconnect_reason_ = std::string(message->payload);
    return;
  }
  const auto notice = DecodeNotice(message->id, message->payload);
  if (!notice) return;
  switch (notice->id) {
    case m::kAccountDetails:
      ++account_replies_[notice->number];
      account_details_[notice->number] = *notice;
      if (!login_done_ && probes_.count(notice->number) > 0) {
        // Both lists are complete now: the own rights are those of the one account with the
        // login's name, when only one has it.
        login_done_ = true;
        lists_over_ = true;
        barrier_account_ = notice->number;
        std::optional<int> rights;
        int same_name = 0;
        for (const AccountRow& a : directory_.accounts()) {
          if (a.name == login_name_) {
            ++same_name;
            rights = a.rights();
          }
        }
        if (same_name == 1) own_rights_ = rights;
      }
      return;
    case m::kPlayerDetails:
      ++player_replies_[notice->number];
      player_details_[notice->number] = *notice;
      return;
    default:
      break;
  }
  // The lists at login hold only entries 50 and 55, back to back; any other notice is a change,
  // and so is everything after it.
  if (notice->id != m::kAccountEntry && notice->id != m::kPlayerEntry) lists_over_ = true;
  if ((login_done_ || lists_over_) && listener_) listener_(*notice, directory_);
  directory_.Apply(*notice);
  if (!login_done_ && notice->id == m::kAccountEntry && notice->name == login_name_ &&
      probes_.insert(notice->number).second) {
    RequestAccount(notice->number);
  }
}

}  // namespace tarvo::kserverctl
