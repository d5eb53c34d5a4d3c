#pragma once

// A small stand-in for the server's remote-control side, on a real loopback socket in a thread
// of its own. It follows the server's ordering: everything leaves through one first-in,
// first-out queue, so an answer never overtakes the lists queued before it.

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/address.h"
#include "net/tcp_listener.h"
#include "protocol/framing.h"
#include "protocol/messages.h"
#include "server/accounts/account_record.h"

namespace tarvo::kserverctl::testing {

struct FakeAccount {
  int number = 0;
  std::string name;
  std::string password;
  int rights = 0;
  bool guest = false;
  bool blocked = false;
  bool in_use = false;
  std::string properties;

  int flags() const { return (guest ? 1 : 0) | (rights << 1) | (blocked ? 16 : 0); }
  int status() const { return rights * 4 + (guest ? 0 : in_use ? 2 : 1); }
};

struct FakePlayer {
  int id = 0;
  std::string account;
  int rights = 0;
  std::string entries;  ///< as in the login list (level, nickname, head)
};

class FakeRemoteServer : private protocol::MessageSink {
 public:
  using Clock = std::chrono::steady_clock;

  FakeRemoteServer() {
    auto listener = net::TcpListener::Listen(0, net::kLoopbackAddress);
    if (listener) listener_ = std::move(*listener);
  }
  ~FakeRemoteServer() { Stop(); }

  std::uint16_t port() const { return listener_.LocalPort(); }

  // Set before Start().
  std::vector<FakeAccount> accounts;
  std::vector<FakePlayer> players;
  bool greet = true;                      ///< send message 6 on accept
  bool answer_login = true;               ///< false: say nothing at all after the greeting
  std::chrono::milliseconds list_gap{0};  ///< pause before each list entry
  /// Messages queued right after the lists: (id, payload, pause before it).
  struct Scripted {
    int id;
    std::string payload;
    std::chrono::milliseconds pause{0};
  };
  std::vector<Scripted> after_login;
  bool close_after_script = false;

  void Start() {
    thread_ = std::thread([this] { Loop(); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  /// Everything received after the login, as (id, payload); read after Stop().
  std::vector<std::pair<int, std::string>> received;

 private:
  struct Outgoing {
    int id;
    std::string payload;
    std::chrono::milliseconds pause;
    bool close = false;
  };

  void Queue(int id, std::string payload, std::chrono::milliseconds pause = {}) {
    out_.push_back(Outgoing{id, std::move(payload), pause});
  }

  void Loop() {
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (!stop_ && Clock::now() < until) {
      if (!stream_) {
        auto accepted = listener_.Accept();
        if (accepted.stream) {
          stream_.emplace(std::move(*accepted.stream));
          connection_.emplace(&*stream_, splitter_, false);
          if (greet) connection_->QueueMessage(6, protocol::BuildConnectionAccepted());
        }
      }
      if (stream_ && !closed_) {
        const auto status = connection_->ReceivePending(*this);
        if (status == protocol::ReceiveStatus::kClosed) closed_ = true;
        SendDue();
        connection_->SendPending();
        if (closing_ && out_.empty() && connection_->output_queue_size() == 0) {
          stream_->Close();
          closed_ = true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // Sends the head of the queue while its pause has run out; the pause starts when the entry
  // before it left.
  void SendDue() {
    while (!out_.empty()) {
      Outgoing& head = out_.front();
      if (Clock::now() < last_sent_ + head.pause) return;
      if (head.close) {
        closing_ = true;
      } else {
        connection_->QueueMessage(head.id, head.payload);
      }
      // A pause also ends the packet, so the client sees the pieces apart.
      if (head.pause.count() > 0) connection_->FlushBatch();
      last_sent_ = Clock::now();
      out_.pop_front();
    }
  }

  FakeAccount* FindAccount(int number) {
    for (FakeAccount& a : accounts) {
      if (a.number == number) return &a;
    }
    return nullptr;
  }
  FakePlayer* FindPlayer(int id) {
    for (FakePlayer& p : players) {
      if (p.id == id) return &p;
    }
    return nullptr;
  }
  bool Allowed(int target_rights) const { return rights_ >= target_rights || rights_ == 3; }

  void OnMessage(std::string_view raw) override {
    const auto message = protocol::SplitMessage(raw);
    if (!message) return;
    if (!logged_in_) {
      HandleLogin(*message);
      return;
    }
    received.emplace_back(message->id, std::string(message->payload));
    HandleCommand(message->id, message->payload);
  }

  void HandleLogin(const protocol::Message& message) {
    if (!answer_login) {
      logged_in_ = true;
      rights_ = -1;
      return;
    }
    const auto login = protocol::ParseLogin(message.payload);
    const FakeAccount* found = nullptr;
    if (login && message.id == 1) {
      for (const FakeAccount& a : accounts) {
        if (a.name == login->account && a.password == login->password) {
          found = &a;
          break;
        }
      }
    }
    if (!found || found->rights < 1 || found->blocked) {
      out_.push_back(Outgoing{0, {}, {}, true});
      return;
    }
    logged_in_ = true;
    rights_ = found->rights;
    for (const FakeAccount& a : accounts) {
      Queue(50, protocol::BuildAccountEntry(a.number, a.status(), a.name), list_gap);
    }
    for (const FakePlayer& p : players) {
      Queue(55, protocol::BuildPlayerEntry(p.id, p.account, p.entries), list_gap);
    }
    for (const Scripted& s : after_login) Queue(s.id, s.payload, s.pause);
    if (close_after_script) out_.push_back(Outgoing{0, {}, {}, true});
  }

  void HandleCommand(int id, std::string_view payload) {
    if (rights_ < 1) return;
    switch (id) {
      case 51: {
        const auto n = protocol::ParseAccountNumber(payload);
        FakeAccount* a = n ? FindAccount(*n) : nullptr;
        if (a && Allowed(a->rights)) {
          Queue(54, protocol::BuildAccountDetails(a->number, a->properties, a->flags()));
        }
        break;
      }
      case 52: {
        const auto set = protocol::ParseSetAccount(payload);
        FakeAccount* a = set ? FindAccount(set->account_number) : nullptr;
        if (!a || !Allowed(a->rights)) break;
        const int old_status = a->status();
        const std::string old_name = a->name;
        if (rights_ >= 2) {
          a->name = std::string(set->change.name);
          if (!set->change.password.empty()) a->password = std::string(set->change.password);
        }
        a->properties = std::string(set->change.properties);
        if (rights_ >= 2) {
          a->guest = (set->change.flags & 1) != 0;
          a->rights = (set->change.flags >> 1) & 7;
          if (rights_ < 3 && a->rights > rights_) a->rights = rights_;
          a->blocked = (set->change.flags & 16) != 0;
        }
        if (a->status() != old_status) {
          Queue(51, protocol::BuildAccountStatus(a->number, a->status()));
        }
        if (a->name != old_name) Queue(52, protocol::BuildAccountName(a->number, a->name));
        break;
      }
      case 53: {
        if (rights_ < 2) break;
        server::TServerAccount parsed;
        server::ParseAccountFields(payload, parsed);
        FakeAccount a;
        a.number = next_number_++;
        a.name = parsed.Name;
        a.password = parsed.Password;
        a.rights = parsed.Rights;
        a.guest = parsed.LoadOnly;
        a.blocked = parsed.Blocked;
        accounts.push_back(a);
        Queue(50, protocol::BuildAccountEntry(a.number, a.status(), a.name));
        break;
      }
      case 54: {
        const auto n = protocol::ParseAccountNumber(payload);
        FakeAccount* a = n ? FindAccount(*n) : nullptr;
        if (rights_ < 2 || !a || !Allowed(a->rights)) break;
        const int number = a->number;
        std::erase_if(accounts, [&](const FakeAccount& x) { return x.number == number; });
        Queue(53, protocol::BuildAccountNumber(number));
        break;
      }
      case 59: {
        const auto n = protocol::ParsePlayerId(payload);
        FakePlayer* p = n ? FindPlayer(*n) : nullptr;
        if (p && Allowed(p->rights)) {
          Queue(57, protocol::BuildPlayerDetails(p->id, p->account, p->entries, 1));
        }
        break;
      }
      case 61: {
        const auto n = protocol::ParsePlayerId(payload);
        FakePlayer* p = n ? FindPlayer(*n) : nullptr;
        if (!p || !Allowed(p->rights)) break;
        const int player = p->id;
        std::erase_if(players, [&](const FakePlayer& x) { return x.id == player; });
        Queue(56, protocol::BuildPlayerId(player));
        break;
      }
      default:
        break;
    }
  }

  net::TcpListener listener_;
  std::optional<net::TcpStream> stream_;
  protocol::ServerSplitter splitter_;
  std::optional<protocol::PacketConnection> connection_;
  std::deque<Outgoing> out_;
  Clock::time_point last_sent_{};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  bool logged_in_ = false;
  bool closing_ = false;
  bool closed_ = false;
  int rights_ = 0;
  int next_number_ = 100;
};

}  // namespace tarvo::kserverctl::testing
