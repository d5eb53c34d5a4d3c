// Remote control in this process: what the login does to the session lists, the log lines of
// changing commands, and the temporary records of commands on players without an account.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/core/server_frame.h"
#include "settle.h"
#include "support/protocol_client.h"
#include "temp_dir.h"

namespace tarvo::server {
namespace {

namespace msg = protocol::msg;
using testing::ProtocolClient;
using testing::Received;
using testing::TempDir;

class RecordingObserver final : public QuietObserver {
 public:
  void SessionCountChanged(int count) override { count_ = count; }
  void Note(std::string_view text) override { notes_.emplace_back(text); }
  std::vector<std::string> notes_;
  int count_ = -1;
};

class RemoteControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteFile(dir_ / "levels/startlevel.x", "start");
    AccountStore accounts;
    accounts.AddNewAccount({"guest", "guest", 0, true, false});
    accounts.AddNewAccount({"admin", "a", 3, false, false});
    accounts.AddNewAccount({"police", "p", 1, false, false});
    accounts.AddNewAccount({"bob", "b", 0, false, false});
    ASSERT_TRUE(accounts.SaveAccounts(dir_ / "accounts.txt").ok);
    server_ = std::make_unique<TServerFrame>(dir_.path(), &log_);
    ASSERT_TRUE(server_->StartServer("0").ok());
  }

  void Settle(int ticks = 6) { server::Settle(*server_, clients_, ticks); }

  ProtocolClient& Connect(std::string_view account, std::string_view password, int kind) {
    clients_.push_back(std::make_unique<ProtocolClient>());
    ProtocolClient& client = *clients_.back();
    EXPECT_TRUE(client.Connect(server_->port()));
    client.Login(account, password, protocol::kVersionCurrent, kind);
    Settle();
    return client;
  }

  std::vector<Received> Take(ProtocolClient& client, int id) {
    Settle();
    std::vector<Received> out;
    for (const Received& r : client.inbox())
      if (r.id == id) out.push_back(r);
    client.inbox().clear();
    return out;
  }

  bool Logged(std::string_view a, std::string_view b = {}, std::string_view c = {}) const {
    for (const std::string& note : log_.notes_) {
      if (note.find(a) != std::string::npos && note.find(b) != std::string::npos &&
          note.find(c) != std::string::npos)
        return true;
    }
    return false;
  }

  int Number(std::string_view name) const {
    for (const auto& a : server_->accounts().accounts())
      if (a->Name == name) return a->Id;
    return -1;
  }

  TempDir dir_;
  RecordingObserver log_;
  std::unique_ptr<TServerFrame> server_;
  std::vector<std::unique_ptr<ProtocolClient>> clients_;
};

TEST_F(RemoteControlTest, LoginMovesTheSessionAndGivesItsIdBack) {
  ProtocolClient& admin = Connect("admin", "a", msg::kRemoteLogin);
  ASSERT_EQ(server_->remote_sessions().size(), 1u);
  EXPECT_TRUE(server_->player_sessions().empty());
  EXPECT_EQ(log_.count_, 0) << "the count shown at the end of the tick";
  const TServerPlayer& session = *server_->remote_sessions().front();
  EXPECT_EQ(session.id(), 0);
  EXPECT_EQ(session.rights(), 3);
  EXPECT_EQ(session.account_name(), "admin");
  EXPECT_EQ(session.account(), nullptr) << "a remote session binds no account";
  EXPECT_EQ(Take(admin, msg::kAccountEntry).size(), 4u);
  // The id is free for the next player.
  Connect("bob", "b", msg::kPlayerLogin);
  EXPECT_EQ(server_->player_sessions().front()->id(), 1);
  EXPECT_TRUE(Logged("login of \"admin\" (rights 3, 127.0.0.1)"));
}

TEST_F(RemoteControlTest, ChangingCommandsAreLoggedWithSenderWhatAndTarget) {
  ProtocolClient& admin = Connect("admin", "a", msg::kRemoteLogin);
  ProtocolClient& police = Connect("police", "p", msg::kRemoteLogin);
  Connect("bob", "b", msg::kPlayerLogin);
  const int bob = Number("bob");

  // Reads change nothing and are not logged.
  const std::size_t before = log_.notes_.size();
  admin.Send(msg::kGetAccount, protocol::BuildAccountNumber(bob));
  ASSERT_EQ(Take(admin, msg::kAccountDetails).size(), 1u);
  EXPECT_EQ(log_.notes_.size(), before);

  admin.Send(msg::kSetAccount,
             protocol::BuildSetAccount(
                 bob, {"robert", "new", "", protocol::EncodeAccountFlags({false, 1, true})}));
  Settle();
  EXPECT_TRUE(Logged("\"admin\" (rights 3, 127.0.0.1, remote control)",
                     "set account " + std::to_string(bob) + " \"robert\"",
                     "name \"bob\" -> \"robert\", password, properties, rights 0 -> 1, blocked"));
  police.Send(msg::kSetAccount, protocol::BuildSetAccount(Number("admin"), {"x", "", "", 0}));
  Settle();
  EXPECT_TRUE(Logged("\"police\" (rights 1", "set account", "refused: its rights are 3"));
  admin.Send(msg::kMessageToPlayer, protocol::BuildPlayerText(1, "a\tb"));
  Settle();
  EXPECT_TRUE(Logged("message to player 1 (account \"robert\"): \"a\\x09b\""));
  admin.Send(msg::kDisconnectPlayer, protocol::BuildPlayerId(1));
  Settle();
  EXPECT_TRUE(Logged("\"admin\"", "disconnected player 1 (account \"robert\")"));
  EXPECT_TRUE(server_->player_sessions().empty());
}

TEST_F(RemoteControlTest, PlayersWithoutAccountGetTemporaryRecordsOnly) {
  ProtocolClient& admin = Connect("admin", "a", msg::kRemoteLogin);
  ProtocolClient& guest = Connect("guest", "guest", msg::kPlayerLogin);
  const std::size_t accounts = server_->accounts().size();
  Take(admin, msg::kPlayerChanges);
  Take(guest, msg::kOwnProperties);

  admin.Send(msg::kGetPlayer, protocol::BuildPlayerId(1));
  const auto details = Take(admin, msg::kPlayerDetails);
  ASSERT_EQ(details.size(), 1u);
  const auto parsed = protocol::ParsePlayerDetails(details[0].payload);
  EXPECT_EQ(parsed->account_name, "guest");
  EXPECT_EQ(parsed->flags, protocol::EncodeAccountFlags({true, 0, false}));

  std::string head;
  protocol::PutEntry(head, protocol::kPropHeadMesh, 0, "hat.x");
  protocol::PutEntry(head, protocol::kPropLevelName, 0, "startlevel.x");
  // Police cannot name the record: the player keeps the name it logged in with.
  ProtocolClient& police = Connect("police", "p", msg::kRemoteLogin);
  police.Send(msg::kSetPlayer, protocol::BuildSetPlayer(1, {"", "", head, 0}));
  Settle();
  EXPECT_TRUE(Take(admin, msg::kPlayerAccount).empty());
  EXPECT_EQ(server_->player_sessions().front()->account_name(), "guest");
  EXPECT_EQ(server_->player_sessions().front()->values().Text(protocol::kPropHeadMesh), "hat.x");
  EXPECT_EQ(Take(guest, msg::kOwnProperties).size(), 1u);
  EXPECT_EQ(server_->accounts().size(), accounts) << "no record stays behind";
  EXPECT_EQ(server_->player_sessions().front()->account(), nullptr);
}

TEST_F(RemoteControlTest, SetAccountMergesTheTextOfAnAccountNotInUse) {
  ProtocolClient& admin = Connect("admin", "a", msg::kRemoteLogin);
  TServerAccount* bob = server_->accounts().FindById(Number("bob"));
  std::string stored;
  protocol::PutEntry(stored, protocol::kPropX, 4);
  protocol::PutEntry(stored, protocol::kPropHeadMesh, 0, "hat.x");
  bob->Properties = stored;
  std::string change;
  protocol::PutEntry(change, protocol::kPropZ, 9);
  admin.Send(msg::kSetAccount, protocol::BuildSetAccount(bob->Id, {"bob", "", change, 0}));
  Settle();
  protocol::PropertySet merged(0, 0);
  protocol::EntryReader reader(bob->Properties, protocol::EntrySide::kServer);
  protocol::PropertyEntry e;
  while (reader.Next(e) == protocol::EntryStatus::kEntry) protocol::StoreEntry(merged, e);
  EXPECT_EQ(merged.Number(protocol::kPropX), 4);
  EXPECT_EQ(merged.Number(protocol::kPropZ), 9);
  EXPECT_EQ(merged.Text(protocol::kPropHeadMesh), "hat.x");
}

}  // namespace
}  // namespace tarvo::server
