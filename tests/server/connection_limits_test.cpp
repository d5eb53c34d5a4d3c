// The caps on connections, the login deadline, the guessing limits and the per-tick budget of a
// real server core, with clients on loopback addresses 127.0.0.N and the core's clock in hand.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "protocol/compression.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/core/server_frame.h"
#include "settle.h"
#include "support/fake_stream.h"
#include "support/protocol_client.h"
#include "temp_dir.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;
using namespace std::chrono_literals;
using testing::ProtocolClient;
using testing::TempDir;
using testing::WriteFile;

// 127.0.0.n as the socket layer holds it.
std::uint32_t Loopback(int n) { return (static_cast<std::uint32_t>(n) << 24) | 0x7Fu; }

class ConnectionLimitsTest : public ::testing::Test {
 protected:
  void Start(const ServerLimits& limits = {}) {
    WriteFile(dir_ / "levels/startlevel.x", "start");
    AccountStore accounts;
    accounts.AddNewAccount({"guest", "guest", 0, true, false});
    accounts.AddNewAccount({"root", "secret", 3, false, false});
    accounts.AddNewAccount({"alice", "a", 0, false, false});
    ASSERT_TRUE(accounts.SaveAccounts(dir_ / "accounts.txt").ok);
    server_ = std::make_unique<TServerFrame>(dir_.path(), nullptr, nullptr, dir_ / "cwd");
    server_->SetLimits(limits);
    server_->SetClock([this] { return now_; });
    ASSERT_TRUE(server_->StartServer("0").ok());
  }

  void Settle(int ticks = 3) { server::Settle(*server_, clients_, ticks); }

  ProtocolClient& Connect(int from = 1) {
    clients_.push_back(std::make_unique<ProtocolClient>());
    EXPECT_TRUE(clients_.back()->ConnectFrom(Loopback(from), server_->port()));
    Settle(1);
    return *clients_.back();
  }

  // Logs in from 127.0.0.`from`: "in" when it got its own properties, else the refusal text.
  std::string Login(std::string_view account, std::string_view password, int from = 1) {
    ProtocolClient& client = Connect(from);
    client.Login(account, password);
    Settle();
    return Outcome(client);
  }

  static std::string Outcome(ProtocolClient& client) {
    for (const auto& r : client.inbox()) {
      if (r.id == msg::kOwnProperties) return "in";
      if (r.id == msg::kDisconnectReason) return r.payload;
    }
    return "";
  }

  TempDir dir_;
  std::unique_ptr<TServerFrame> server_;
  std::vector<std::unique_ptr<ProtocolClient>> clients_;
  TServerFrame::Clock::time_point now_ = TServerFrame::Clock::now();
};

const std::string kUnknown = "An account with the name and password you typed in doesn't exist.";

TEST_F(ConnectionLimitsTest, ConnectionsNotLoggedInMeetTheLoginDeadlineNotTheIdleTimeout) {
  ServerLimits limits;
  limits.login_timeout = 5s;
  limits.idle_timeout = 2s;
  Start(limits);
  Connect();
  ProtocolClient& talker = Connect();
  // A first message of another kind, then a message every second: never idle for 2 s.
  talker.Send(5, protocol::BuildLogin(protocol::kVersionCurrent, "guest", "guest"));
  Settle();
  for (int i = 0; i < 3; ++i) {
    now_ += 1s;
    talker.Send(msg::kFileRequest, "nosuch");
    Settle();
  }
  now_ += 500ms;  // 3.5 s
  Settle();
  EXPECT_EQ(server_->player_sessions().size(), 2u);
  now_ += 1s;
  talker.Send(msg::kFileRequest, "nosuch");
  Settle();
  now_ += 1s;  // 5.5 s
  Settle();
  EXPECT_TRUE(server_->player_sessions().empty());
}

TEST_F(ConnectionLimitsTest, EightPendingPerAddressAndSixtyFourInAllThenMessageFive) {
  Start();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Outcome(Connect(1)), "");
  ProtocolClient& ninth = Connect(1);
  EXPECT_EQ(Outcome(ninth), "Too many connections from your address.");
  EXPECT_TRUE(ninth.WaitClosed(1s));
  EXPECT_EQ(server_->player_sessions().size(), 8u);
  for (int from = 2; from <= 8; ++from)
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Outcome(Connect(from)), "");
  EXPECT_EQ(server_->player_sessions().size(), 64u);
  ProtocolClient& late = Connect(9);
  EXPECT_EQ(Outcome(late), "The server is full.");
  EXPECT_TRUE(late.WaitClosed(1s));
  // A connection that logs in no longer counts as pending.
  clients_.front()->Login("guest", "guest");
  Settle();
  EXPECT_EQ(Outcome(*clients_.front()), "in");
  EXPECT_EQ(Outcome(Connect(1)), "");
  EXPECT_EQ(server_->player_sessions().size(), 65u);
}

TEST_F(ConnectionLimitsTest, ThirtyTwoPlayersPerAddress) {
  Start();
  for (int i = 0; i < 32; ++i) ASSERT_EQ(Login("guest", "guest", 3), "in") << i;
  EXPECT_EQ(Login("guest", "guest", 3), "Too many connections from your address.");
  EXPECT_EQ(Login("guest", "guest", 4), "in");
}

TEST_F(ConnectionLimitsTest, ACooldownHoldsOneNameAtOneAddressAndSaysSo) {
  Start();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Login("root", "guess", 5), kUnknown);
  EXPECT_EQ(Login("root", "secret", 5), "Too many failed logins. Try again in 10 seconds.");
  now_ += 9001ms;
  EXPECT_EQ(Login("root", "secret", 5), "Too many failed logins. Try again in 1 seconds.");
  EXPECT_EQ(Login("alice", "a", 5), "in");      // another account behind the same address
  EXPECT_EQ(Login("root", "secret", 6), "in");  // the same account elsewhere
  // A player whose old session lingers is told so, as often as it tries, and is not cooled.
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Login("alice", "a", 5), "The account is already in use.");
  now_ += 1s;
  EXPECT_EQ(Login("root", "guess", 5), kUnknown);
}

TEST_F(ConnectionLimitsTest, AGuessedAccountIsCheckedAtItsPaceAndTheOwnerGetsTheNextTurn) {
  Start();
  for (int i = 0; i < 11; ++i) EXPECT_EQ(Login("root", "guess", 10 + i), kUnknown);
  // Eleven failures: one check per 4 s. The owner's login waits for its turn, ahead of a
  // guesser that asked before it.
  ProtocolClient& guesser = Connect(10);
  guesser.Login("root", "guess");
  Settle();
  ProtocolClient& owner = Connect(2);
  owner.Login("root", "secret");
  Settle();
  EXPECT_EQ(Outcome(owner), "");
  now_ += 1999ms;
  Settle();
  EXPECT_EQ(Outcome(owner), "");
  now_ += 1ms;
  Settle();
  EXPECT_EQ(Outcome(owner), "in");
  EXPECT_EQ(Outcome(guesser), kUnknown);  // the owner's login ended the pacing
}

TEST_F(ConnectionLimitsTest, SixtyFourMessagesPerTickInOrderAndNoReadWhileTwiceThatWait) {
  Start();
  auto owned = std::make_unique<testing::FakeStream>();
  testing::FakeStream& wire = *owned;
  TServerPlayer* session = server_->AcceptSession(std::move(owned), Loopback(7));
  ASSERT_NE(session, nullptr);
  std::string login(1, static_cast<char>(msg::kPlayerLogin + 32));
  login += protocol::BuildLogin(protocol::kVersionCurrent, "guest", "guest") + "\n";
  std::string body;
  protocol::CompressAppend(login, body);
  wire.Feed(
      std::string{static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)} +
      body);
  server_->Tick();
  ASSERT_TRUE(session->is_playing());

  wire.Feed(testing::MovementFloodPacket(1, 200));
  const auto x = [&] { return session->values().Number(protocol::kPropX); };
  server_->Tick();
  EXPECT_EQ(session->pending_messages(), 136u);
  EXPECT_EQ(x(), 32.0);  // movement 64 of 200
  const std::size_t reads = wire.receive_calls;
  server_->Tick();  // 136 wait, more than twice the budget: the socket is not read
  EXPECT_EQ(wire.receive_calls, reads);
  EXPECT_EQ(session->pending_messages(), 72u);
  EXPECT_EQ(x(), 64.0);
  server_->Tick();  // 72 wait: read again
  EXPECT_GT(wire.receive_calls, reads);
  EXPECT_EQ(x(), 96.0);
  server_->Tick();
  EXPECT_EQ(session->pending_messages(), 0u);
  EXPECT_EQ(x(), 100.0);
}

}  // namespace
}  // namespace tarvo::server
