// The server core in this process, driven tick by tick, with real clients on loopback sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "protocol/encoding.h"
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
using testing::WriteFile;

std::string Entry(int index, double number, std::string_view text = {}) {
  std::string out;
  protocol::PutEntry(out, index, number, text);
  return out;
}

// Message 2 payloads about `player`, entries only.
std::vector<std::string> AboutPlayer(const std::vector<Received>& messages, int player) {
  std::vector<std::string> out;
  for (const Received& r : messages) {
    if (r.id != msg::kOtherPlayer) continue;
    const auto parsed = protocol::ParsePlayerEntries(r.payload);
    if (parsed && parsed->player_id == player) out.emplace_back(parsed->entries);
  }
  return out;
}

std::vector<Received> WithId(const std::vector<Received>& messages, int id) {
  std::vector<Received> out;
  std::copy_if(messages.begin(), messages.end(), std::back_inserter(out),
               [id](const Received& r) { return r.id == id; });
  return out;
}

class ServerCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "levels/startlevel.x", "start line  \r\nsecond\r\nlast");
    WriteFile(dir_ / "levels/sub/Other.X", "other level");
    WriteFile(dir_ / "guilds/guildTarvo_Builders.txt", "alice:Al\r\n");
    std::filesystem::create_directories(dir_ / "cwd");
    AccountStore accounts;
    accounts.AddNewAccount({"guest", "guest", 0, true, false});
    accounts.AddNewAccount({"alice", "a", 0, false, false}).Properties =
        Entry(protocol::kPropLevelName, 0, "other.x");
    accounts.AddNewAccount({"bob", "b", 0, false, false});
    ASSERT_TRUE(accounts.SaveAccounts(dir_ / "accounts.txt").ok);
    server_ = std::make_unique<TServerFrame>(dir_.path(), nullptr, nullptr, dir_ / "cwd");
    ASSERT_TRUE(server_->StartServer("0").ok());
  }

  void Settle(int ticks = 6) { server::Settle(*server_, clients_, ticks); }

  ProtocolClient& Join(std::string_view account, std::string_view password) {
    clients_.push_back(std::make_unique<ProtocolClient>());
    ProtocolClient& client = *clients_.back();
    EXPECT_TRUE(client.Connect(server_->port()));
    client.Login(account, password);
    Settle();
    return client;
  }

  // What the client received since the last call.
  std::vector<Received> Take(ProtocolClient& client) {
    Settle();
    std::vector<Received> out(client.inbox().begin(), client.inbox().end());
    client.inbox().clear();
    return out;
  }

  TServerPlayer* Session(std::string_view account) {
    for (const auto& p : server_->player_sessions())
      if (p->account_name() == account) return p.get();
    return nullptr;
  }

  // Edits the account's stored level and pushes the account to its player.
  void MovePlayer(std::string_view account_name, std::string_view level) {
    TServerPlayer* session = Session(account_name);
    ASSERT_NE(session, nullptr);
    TServerAccount* account = session->account();
    ASSERT_NE(account, nullptr);
    protocol::PropertySet values = session->values();
    values.SetText(protocol::kPropLevelName, level);
    account->Properties = protocol::EncodeEntries(values, protocol::kAccountStoredOrder);
    server_->ApplyAccount(*account);
  }

  TempDir dir_;
  std::unique_ptr<TServerFrame> server_;
  std::vector<std::unique_ptr<ProtocolClient>> clients_;
};

TEST_F(ServerCoreTest, OwedChangesAreDeliveredWhenPlayersMeet) {
  ProtocolClient& bob = Join("bob", "b");      // id 1, startlevel.x
  ProtocolClient& alice = Join("alice", "a");  // id 2, other.x
  ASSERT_EQ(Session("alice")->level()->name(), "other.x");
  Take(bob);
  Take(alice);
  // Bob changes his head mesh and moves while Alice is elsewhere: she hears of neither now.
  bob.Send(msg::kProperties, Entry(protocol::kPropHeadMesh, 0, "hat.x"));
  const auto at_alice = Take(alice);
  EXPECT_TRUE(AboutPlayer(at_alice, 1).empty());
  EXPECT_TRUE(Session("bob")->FindChangeRecord(Session("alice"))->changed.test(7));

  MovePlayer("alice", "startlevel.x");
  const auto met = AboutPlayer(Take(alice), 1);
  ASSERT_EQ(met.size(), 1u);
  // Bob's presence and his head mesh only (no UDP on either side, but he did not move).
  EXPECT_EQ(met[0], "R!" + Entry(protocol::kPropHeadMesh, 0, "hat.x"));
  const auto at_bob = AboutPlayer(Take(bob), 2);
  ASSERT_EQ(at_bob.size(), 1u);
  EXPECT_EQ(at_bob[0], "R!");
  EXPECT_EQ(Session("bob")->FindChangeRecord(Session("alice")), nullptr);
  EXPECT_EQ(Session("alice")->FindChangeRecord(Session("bob")), nullptr);
}

TEST_F(ServerCoreTest, CopyMarksSpareTheLevelTextUntilAReload) {
  ProtocolClient& bob = Join("bob", "b");
  ProtocolClient& alice = Join("alice", "a");
  Take(bob);
  Take(alice);
  MovePlayer("alice", "startlevel.x");
  Take(alice);
  MovePlayer("alice", "OTHER.X");
  auto back = Take(alice);
  ASSERT_EQ(WithId(back, msg::kLevelName).size(), 1u);
  EXPECT_EQ(WithId(back, msg::kLevelName)[0].payload, "other.x");
  ASSERT_EQ(WithId(back, msg::kLevelData).size(), 1u);
  EXPECT_EQ(WithId(back, msg::kLevelData)[0].payload, "") << "the client holds the text";

  // A reload sends the new text to the players inside; a name not in lower case is ignored.
  WriteFile(dir_ / "levels/sub/Other.X", "changed level\r\n");
  const std::vector<std::string> mixed = {"Other.x"};
  server_->ReloadLevels(mixed);
  EXPECT_TRUE(Take(alice).empty());
  const std::vector<std::string> names = {"other.x", "nosuch.x"};
  server_->ReloadLevels(names);
  const auto reloaded = Take(alice);
  ASSERT_EQ(WithId(reloaded, msg::kLevelData).size(), 1u);
  EXPECT_EQ(WithId(reloaded, msg::kLevelData)[0].payload,
            std::string("changed level") + protocol::kParagraphMark);
  EXPECT_EQ(WithId(reloaded, msg::kFirstInLevel).size(), 1u);

  // Startlevel has Bob in it, other.x only Alice: after she leaves it, a reload drops it from
  // the cache and her return loads it afresh, text included.
  MovePlayer("alice", "startlevel.x");
  Take(alice);
  const std::vector<std::string> other = {"other.x"};
  server_->ReloadLevels(other);
  EXPECT_EQ(server_->levels().FindCached("other.x"), nullptr);
  MovePlayer("alice", "other.x");
  const auto fresh = Take(alice);
  ASSERT_EQ(WithId(fresh, msg::kLevelData).size(), 1u);
  EXPECT_FALSE(WithId(fresh, msg::kLevelData)[0].payload.empty());
}

TEST_F(ServerCoreTest, ReloadKeepsTheOrderOfPlayersAndTellsTheFirst) {
  ProtocolClient& a = Join("guest", "guest");
  ProtocolClient& b = Join("bob", "b");
  Take(a);
  Take(b);
  const std::vector<std::string> names = {"startlevel.x"};
  server_->ReloadLevels(names);
  const auto at_a = Take(a);
  const auto at_b = Take(b);
  EXPECT_EQ(WithId(at_a, msg::kLevelData).size(), 1u);
  EXPECT_EQ(WithId(at_b, msg::kLevelData).size(), 1u);
  EXPECT_FALSE(WithId(at_b, msg::kLevelData)[0].payload.empty());
  // A left first, so B was first for a moment; A is first again once both are back in.
  const auto after_level = [](const std::vector<Received>& got) {
    const auto level = std::find_if(got.begin(), got.end(),
                                    [](const Received& r) { return r.id == msg::kLevelData; });
    return std::count_if(level, got.end(),
                         [](const Received& r) { return r.id == msg::kFirstInLevel; });
  };
  EXPECT_EQ(after_level(at_a), 1);
  EXPECT_EQ(after_level(at_b), 0);
  const TServerLevel* level = server_->levels().FindCached("startlevel.x");
  ASSERT_EQ(level->players().size(), 2u);
  EXPECT_EQ(level->players()[0], Session("guest"));
}

TEST_F(ServerCoreTest, AReusedIdInheritsNoCopyMarkAndNoChangeRecord) {
  ProtocolClient& bob = Join("bob", "b");      // id 1, startlevel.x
  ProtocolClient& alice = Join("alice", "a");  // id 2, other.x
  MovePlayer("alice", "startlevel.x");
  MovePlayer("alice", "other.x");  // leaves a copy mark in startlevel.x
  Take(alice);
  Take(bob);
  ASSERT_EQ(server_->levels().FindCached("startlevel.x")->CopyMarkCount(), 1u);
  ASSERT_EQ(Session("bob")->change_records().size(), 1u);
  alice.Close();
  Settle();
  ASSERT_EQ(server_->player_sessions().size(), 1u);
  EXPECT_EQ(server_->levels().FindCached("startlevel.x")->CopyMarkCount(), 0u);
  EXPECT_TRUE(Session("bob")->change_records().empty());

  // The next player gets id 2 again, and the whole level text.
  ProtocolClient& guest = Join("guest", "guest");
  const auto joined = Take(guest);
  EXPECT_EQ(Session("guest")->id(), 2);
  ASSERT_EQ(WithId(joined, msg::kLevelData).size(), 1u);
  EXPECT_FALSE(WithId(joined, msg::kLevelData)[0].payload.empty());
  EXPECT_TRUE(Session("bob")->change_records().empty());
}

TEST_F(ServerCoreTest, NicknameKeepsOnlyTheGuildTagTheGuildFileGrants) {
  ProtocolClient& alice = Join("alice", "a");
  ProtocolClient& guest = Join("guest", "guest");
  Take(alice);
  Take(guest);
  alice.Send(msg::kProperties, Entry(protocol::kPropNickname, 0, "Al(Tarvo Builders)"));
  const auto own = WithId(Take(alice), msg::kOwnProperties);
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(own[0].payload, Entry(protocol::kPropNickname, 0, "Al (Tarvo Builders)"));
  // The others hear the corrected name, once as an all-players change.
  const auto at_guest = AboutPlayer(Take(guest), 1);
  ASSERT_FALSE(at_guest.empty());
  EXPECT_EQ(at_guest[0], Entry(protocol::kPropNickname, 0, "Al (Tarvo Builders)"));

  alice.Send(msg::kProperties, Entry(protocol::kPropNickname, 0, "Al (Tarvo Builders)"));
  EXPECT_TRUE(WithId(Take(alice), msg::kOwnProperties).empty()) << "nothing to correct";

  // A guest account is never bound, so no tag survives.
  guest.Send(msg::kProperties, Entry(protocol::kPropNickname, 0, " Al ( Tarvo Builders ) "));
  const auto guest_own = WithId(Take(guest), msg::kOwnProperties);
  ASSERT_EQ(guest_own.size(), 1u);
  EXPECT_EQ(guest_own[0].payload, Entry(protocol::kPropNickname, 0, "Al"));
}

TEST_F(ServerCoreTest, OperatorDisconnectsAndMessagesPlayers) {
  ProtocolClient& alice = Join("alice", "a");
  ProtocolClient& bob = Join("bob", "b");
  Take(alice);
  Take(bob);
  server_->SendAdminMessageToAll(protocol::AdminMessageText("Server administrator", "", "hi"));
  EXPECT_EQ(WithId(Take(bob), msg::kAdminMessage)[0].payload,
            std::string("Server administrator:") + protocol::kParagraphMark + "hi");
  EXPECT_EQ(WithId(Take(alice), msg::kAdminMessage).size(), 1u);

  ASSERT_TRUE(server_->DisconnectPlayer(1));
  EXPECT_EQ(server_->player_sessions().size(), 1u);
  EXPECT_TRUE(alice.WaitClosed(std::chrono::milliseconds(2000)));
  ASSERT_FALSE(alice.inbox().empty());
  EXPECT_EQ(alice.inbox().back().payload, "The server administrator has disconnected you.");
  EXPECT_EQ(AboutPlayer(Take(bob), 1), std::vector<std::string>{"S"});
  // Alice's state went back into her account, which is free again.
  TServerAccount* account = server_->accounts().FindAccount("alice", "a");
  EXPECT_EQ(account->Session, nullptr);
  EXPECT_NE(account->Properties.find(Entry(protocol::kPropLevelName, 0, "other.x")),
            std::string::npos);
}

TEST_F(ServerCoreTest, AnAccountSavedWithoutLevelStartsInTheStartLevel) {
  server_->accounts().FindAccount("bob", "b")->Properties =
      Entry(protocol::kPropLevelName, 0, "") + Entry(protocol::kPropX, 5);
  ProtocolClient& bob = Join("bob", "b");
  const auto names = WithId(Take(bob), msg::kLevelName);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].payload, "startlevel.x");
  // A name that names no file leaves the player outside, as it always did.
  server_->accounts().FindAccount("alice", "a")->Properties =
      Entry(protocol::kPropLevelName, 0, "gone.x");
  ProtocolClient& alice = Join("alice", "a");
  EXPECT_TRUE(WithId(Take(alice), msg::kLevelName).empty());
  EXPECT_EQ(Session("alice")->level(), nullptr);
}

TEST_F(ServerCoreTest, AnAccountBlockedWhileInUseIsRefusedAsBlocked) {
  Join("bob", "b");
  ASSERT_NE(Session("bob"), nullptr);
  Session("bob")->account()->Blocked = true;
  ProtocolClient& second = Join("bob", "b");
  const auto reasons = WithId(Take(second), msg::kDisconnectReason);
  ASSERT_EQ(reasons.size(), 1u);
  EXPECT_EQ(reasons[0].payload, kRefusedBlocked);
  EXPECT_EQ(server_->player_sessions().size(), 1u);  // the first stays on
}

TEST_F(ServerCoreTest, MakingTheBoundAccountLoadOnlyReleasesIt) {
  Join("bob", "b");
  TServerAccount* account = server_->accounts().FindAccount("bob", "b");
  ASSERT_EQ(account->Session, Session("bob"));
  account->LoadOnly = true;
  server_->ApplyAccount(*account);
  EXPECT_EQ(account->Session, nullptr);
  EXPECT_EQ(Session("bob")->account(), nullptr);
}

// Records what the core reports.
class RecordingObserver : public QuietObserver {
 public:
  void PacketRefused(const TServerPlayer& session, std::size_t batch_size,
                     std::size_t compressed_size) override {
    refused.push_back({session.id(), batch_size, compressed_size});
  }
  void LevelLoaded(const TServerLevel& level, bool reload) override {
    loaded.push_back(level.name() + (reload ? " again" : ""));
  }
  struct Refusal {
    int id;
    std::size_t batch;
    std::size_t compressed;
  };
  std::vector<Refusal> refused;
  std::vector<std::string> loaded;
};

TEST(ServerCoreLimits, ALevelTooLargeForOnePacketIsRefusedAndReported) {
  TempDir dir;
  // Incompressible text: its packet would need more than the 16-bit length can say.
  std::string text;
  std::uint32_t state = 12345;
  for (int i = 0; i < 120000; ++i) {
    state = state * 1103515245u + 12345u;
    text.push_back(static_cast<char>('!' + (state >> 16) % 90));
  }
  WriteFile(dir / "levels/startlevel.x", text);
  AccountStore accounts;
  accounts.AddNewAccount({"guest", "guest", 0, true, false});
  ASSERT_TRUE(accounts.SaveAccounts(dir / "accounts.txt").ok);
  std::filesystem::create_directories(dir / "cwd");
  RecordingObserver observer;
  TServerFrame server(dir.path(), &observer, nullptr, dir / "cwd");
  ASSERT_TRUE(server.StartServer("0").ok());
  ProtocolClient client;
  ASSERT_TRUE(client.Connect(server.port()));
  client.Login("guest", "guest");
  for (int i = 0; i < 10; ++i) {
    server.Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    client.Poll();
  }
  ASSERT_EQ(observer.refused.size(), 1u);
  EXPECT_EQ(observer.refused[0].id, 1);
  EXPECT_GT(observer.refused[0].compressed, protocol::kMaxPacketBody);
  EXPECT_EQ(observer.loaded, std::vector<std::string>{"startlevel.x"});
  // The session goes on: the level name came, the text did not, the rest follows.
  std::vector<int> ids;
  for (const Received& r : client.inbox()) ids.push_back(r.id);
  EXPECT_EQ(ids, (std::vector<int>{msg::kConnectionAccepted, msg::kOwnProperties, msg::kLevelName,
                                   msg::kFirstInLevel}));
  EXPECT_FALSE(client.closed());
}

class LevelCacheTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(LevelCacheTest, LoadsWireFormFindsByBaseNameAndSurvivesAVanishedFile) {
  WriteFile(dir_ / "levels/deep/Castle.X", std::string("one \r\ntwo\t\r\nthree\0hidden", 24));
  std::filesystem::create_directories(dir_ / "cwd");
  FileStore files(dir_.path(), dir_ / "cwd");
  LevelCache cache(files);
  bool loaded = false;
  TServerLevel* level = cache.FindLevel("C:\\games\\CASTLE.x", &loaded);
  ASSERT_NE(level, nullptr);
  EXPECT_TRUE(loaded);
  EXPECT_EQ(level->name(), "castle.x");
  const std::string mark(1, protocol::kParagraphMark);
  EXPECT_EQ(level->text(), "one" + mark + "two" + mark + "three");
  EXPECT_EQ(cache.FindLevel("castle.x", &loaded), level);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(cache.FindLevel("nosuch.x"), nullptr);
  EXPECT_EQ(cache.FindLevel(""), nullptr);
  EXPECT_EQ(cache.levels().size(), 1u);

  std::filesystem::remove(dir_ / "levels/deep/Castle.X");
  EXPECT_FALSE(level->Load());
  EXPECT_TRUE(level->path().empty());
  EXPECT_EQ(level->text(), "one" + mark + "two" + mark + "three");
  EXPECT_EQ(cache.FindCached("castle.x"), nullptr);
  EXPECT_EQ(cache.FindLevel("castle.x"), nullptr);
}

}  // namespace
}  // namespace tarvo::server
