// The real kserver program on an ephemeral loopback port, spoken to through protocol/ and net/.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "net/tcp_listener.h"
#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/accounts/account_store.h"
#include "support/kserver_process.h"
#include "support/protocol_client.h"

namespace tarvo::testing {
namespace {

namespace msg = protocol::msg;
using namespace std::chrono_literals;

// The entries of a property message, decoded the way a client reads them.
struct Entries {
  std::vector<int> indices;
  std::vector<double> numbers;
  std::vector<std::string> texts;
  bool presence = false;
  int presence_value = -1;
  bool removed = false;

  explicit Entries(std::string_view data) {
    protocol::EntryReader reader(data, protocol::EntrySide::kClient);
    protocol::PropertyEntry e;
    while (reader.Next(e) == protocol::EntryStatus::kEntry) {
      if (e.kind == protocol::PropertyEntry::Kind::kLevelPresence) {
        presence = true;
        presence_value = static_cast<int>(e.number);
      } else if (e.kind == protocol::PropertyEntry::Kind::kPlayerRemoved) {
        removed = true;
      } else {
        indices.push_back(e.index);
        numbers.push_back(e.number);
        texts.emplace_back(e.text);
      }
    }
  }
  bool Has(int index) const {
    return std::find(indices.begin(), indices.end(), index) != indices.end();
  }
  double Number(int index) const {
    for (std::size_t i = 0; i < indices.size(); ++i)
      if (indices[i] == index) return numbers[i];
    return -1;
  }
  std::string Text(int index) const {
    for (std::size_t i = 0; i < indices.size(); ++i)
      if (indices[i] == index) return texts[i];
    return {};
  }
};

std::string Entry(int index, double number, std::string_view text = {}) {
  std::string out;
  protocol::PutEntry(out, index, number, text);
  return out;
}

// Message 2 about `player` among `messages`.
std::vector<Entries> AboutPlayer(const std::vector<Received>& messages, int player) {
  std::vector<Entries> out;
  for (const Received& r : messages) {
    if (r.id != msg::kOtherPlayer) continue;
    const auto parsed = protocol::ParsePlayerEntries(r.payload);
    if (parsed && parsed->player_id == player) out.emplace_back(parsed->entries);
  }
  return out;
}

class KServerTest : public ::testing::Test {
 protected:
  // Accounts beside the bundled guest: alice/wonder (regular), bob/builder (regular),
  // carol/locked (blocked).
  void SetUp() override {
    ASSERT_TRUE(server_.Prepare(KServerProcess::BundledWorld()));
    server::AccountStore accounts;
    const auto file = server_.directory() / "accounts.txt";
    accounts.LoadAccounts(file);
    accounts.AddNewAccount({"alice", "wonder", 0, false, false});
    accounts.AddNewAccount({"bob", "builder", 0, false, false});
    accounts.AddNewAccount({"carol", "locked", 0, false, true});
    ASSERT_TRUE(accounts.SaveAccounts(file).ok);
    PrepareWorld();
    ASSERT_TRUE(server_.Start(Options())) << server_.Log();
  }

  virtual void PrepareWorld() {}
  virtual KServerProcess::Options Options() { return {}; }

  // Connects and logs in; returns the player id from message 3, after the level data.
  int Join(ProtocolClient& client, std::string_view account, std::string_view password) {
    if (!client.Connect(server_.port())) return -1;
    client.Login(account, password);
    const auto own = client.WaitFor(msg::kOwnProperties);
    if (!own) return -1;
    if (!client.WaitFor(msg::kLevelData)) return -1;
    return static_cast<int>(Entries(own->payload).Number(protocol::kPropPlayerId));
  }

  // Logs in and expects a refusal: returns the text of message 5 (empty when none came) and
  // whether the server closed the connection.
  std::pair<std::string, bool> Refused(std::string_view login_payload, int kind = 0) {
    ProtocolClient client;
    if (!client.Connect(server_.port())) return {"(no connection)", false};
    client.Send(kind, login_payload);
    std::string text;
    const bool closed = client.WaitClosed();
    for (const Received& r : client.inbox()) {
      if (r.id == msg::kDisconnectReason) text = r.payload;
    }
    return {text, closed};
  }

  KServerProcess server_;
};

TEST_F(KServerTest, LoginSendsOwnPropertiesLevelAndFirstInLevel) {
  ProtocolClient client;
  ASSERT_TRUE(client.Connect(server_.port()));
  client.Login("guest", "guest");
  const auto accepted = client.Next();
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->id, msg::kConnectionAccepted);
  EXPECT_EQ(accepted->payload, " ");

  const auto own = client.Next();
  ASSERT_TRUE(own);
  ASSERT_EQ(own->id, msg::kOwnProperties);
  const Entries mine(own->payload);
  EXPECT_EQ(mine.indices, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(mine.Number(protocol::kPropPlayerId), 1);
  EXPECT_EQ(mine.Number(protocol::kPropViewAngle), 270);

  const auto level_name = client.Next();
  ASSERT_TRUE(level_name);
  EXPECT_EQ(level_name->id, msg::kLevelName);
  EXPECT_EQ(level_name->payload, "startlevel.x");
  const auto level = client.Next();
  ASSERT_TRUE(level);
  EXPECT_EQ(level->id, msg::kLevelData);
  EXPECT_EQ(level->payload.rfind("xof 0303txt 0032", 0), 0u);
  EXPECT_NE(level->payload.find(protocol::kParagraphMark), std::string::npos);
  EXPECT_EQ(level->payload.find_first_of("\r\n"), std::string::npos);
  const auto first = client.Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->id, msg::kFirstInLevel);
  EXPECT_TRUE(server_.WaitForLog("login: player 1, account \"guest\""));
}

TEST_F(KServerTest, RefusesEveryBadLoginWithItsText) {
  using protocol::BuildLogin;
  EXPECT_EQ(
      Refused(BuildLogin("VX3DV001", "guest", "guest")),
      std::make_pair(std::string("You need at least Tarvo3D beta2 to play on this server."), true));
  EXPECT_EQ(Refused(BuildLogin("VX3DV999", "guest", "guest")).first,
            "You need at least Tarvo3D beta2 to play on this server.");
  EXPECT_EQ(Refused(BuildLogin("VX3DV002", "carol", "locked")),
            std::make_pair(std::string("The account has been disabled by an admin."), true));
  EXPECT_EQ(
      Refused(BuildLogin("VX3DV002", "guest", "Guest")),
      std::make_pair(
          std::string("An account with the name and password you typed in doesn't exist."), true));
  // Too short to be a login, or a name running past the end: closed without a reason.
  EXPECT_EQ(Refused("VX3DV00"), std::make_pair(std::string(), true));
  EXPECT_EQ(Refused(std::string("VX3DV002") + "\x45" + "ab"), std::make_pair(std::string(), true));
  // A remote-control login with an account of no rights: closed without a reason.
  EXPECT_EQ(Refused(BuildLogin("VX3DV002", "guest", "guest"), 1),
            std::make_pair(std::string(), true));

  ProtocolClient alice;
  ASSERT_GT(Join(alice, "alice", "wonder"), 0);
  EXPECT_EQ(Refused(BuildLogin("VX3DV002", "alice", "wonder")),
            std::make_pair(std::string("The account is already in use."), true));
  EXPECT_TRUE(server_.WaitForLog("login refused"));
  EXPECT_TRUE(server_.WaitForLog("The account is already in use."));
  // The refused sessions left the others alone.
  alice.Send(msg::kFileRequest, "nosuch");
  EXPECT_TRUE(alice.WaitFor(msg::kFileNotAvailable));
}

TEST_F(KServerTest, OtherFirstMessageLeavesSessionConnectedButNotLoggedIn) {
  ProtocolClient odd;
  ASSERT_TRUE(odd.Connect(server_.port()));
  odd.Send(5, protocol::BuildLogin("VX3DV002", "guest", "guest"));
  odd.Send(msg::kFileRequest, "welcome");  // later messages are still handled
  EXPECT_TRUE(odd.WaitFor(msg::kFile));
  ProtocolClient player;
  ASSERT_EQ(Join(player, "guest", "guest"), 2);
  // The player is told of no one: the odd session is not a player.
  const auto rest = player.Drain();
  EXPECT_TRUE(AboutPlayer(rest, 1).empty());
  EXPECT_FALSE(odd.closed());
}

TEST_F(KServerTest, TwoPlayersShareOneLoadOnlyAccount) {
  ProtocolClient a;
  ProtocolClient b;
  ASSERT_EQ(Join(a, "guest", "guest"), 1);
  std::vector<Received> b_messages;
  ASSERT_TRUE(b.Connect(server_.port()));
  b.Login("guest", "guest");
  ASSERT_TRUE(b.WaitFor(msg::kLevelData, 5000ms, {}, &b_messages));
  // B got A's full set before its level, then A's presence in the level.
  const auto about_a = AboutPlayer(b_messages, 1);
  ASSERT_EQ(about_a.size(), 1u);
  EXPECT_EQ(about_a[0].indices.size(), 18u);
  const auto after = b.Drain();
  const auto presence = AboutPlayer(after, 1);
  ASSERT_EQ(presence.size(), 1u);
  EXPECT_EQ(presence[0].presence_value, 1);
  EXPECT_TRUE(presence[0].indices.empty()) << "nothing changed since the full set";
  for (const Received& r : after) EXPECT_NE(r.id, msg::kFirstInLevel);
  // A learns of B the same way.
  const auto a_messages = a.Drain();
  const auto about_b = AboutPlayer(a_messages, 2);
  ASSERT_EQ(about_b.size(), 2u);
  EXPECT_EQ(about_b[0].indices.size(), 18u);
  EXPECT_EQ(about_b[1].presence_value, 1);
}

// The relay's cases, run with every compressor: what the clients decode must not depend on it.
class RelayTest : public KServerTest, public ::testing::WithParamInterface<std::string> {
 protected:
  KServerProcess::Options Options() override {
    KServerProcess::Options options;
    options.extra_args = {"--compressor", GetParam()};
    return options;
  }
};

INSTANTIATE_TEST_SUITE_P(Compressors, RelayTest, ::testing::Values("shared", "libdeflate", "zlib"),
                         [](const auto& info) { return info.param; });

TEST_P(RelayTest, RelaysMovementOverTcpOnlyWhereUdpIsMissing) {
  ProtocolClient a;
  ProtocolClient b;
  ProtocolClient c;
  ASSERT_EQ(Join(a, "guest", "guest"), 1);
  ASSERT_EQ(Join(b, "guest", "guest"), 2);
  ASSERT_EQ(Join(c, "guest", "guest"), 3);
  // A and B have UDP ports, C has none.
  a.Send(msg::kProperties, Entry(protocol::kPropUdpPort, 5001));
  b.Send(msg::kProperties, Entry(protocol::kPropUdpPort, 5002));
  a.Drain();
  const auto b_seen = b.Drain();
  c.Drain();
  EXPECT_FALSE(AboutPlayer(b_seen, 1).empty());

  const std::string move =
      Entry(protocol::kPropX, 120.5) + Entry(protocol::kPropY, 0) + Entry(protocol::kPropZ, -33);
  a.Send(msg::kProperties, move);
  const auto at_c = AboutPlayer(c.Drain(), 1);
  ASSERT_EQ(at_c.size(), 1u);
  EXPECT_EQ(at_c[0].indices, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(at_c[0].Number(protocol::kPropX), 120.5);
  EXPECT_TRUE(AboutPlayer(b.Drain(), 1).empty()) << "both have UDP: the datagram carries it";

  // A level property with movement: B gets the level part only, C gets both.
  a.Send(msg::kProperties, Entry(protocol::kPropHeadMesh, 0, "hat.x") + move);
  const auto at_b = AboutPlayer(b.Drain(), 1);
  ASSERT_EQ(at_b.size(), 1u);
  EXPECT_EQ(at_b[0].indices, (std::vector<int>{7}));
  const auto at_c2 = AboutPlayer(c.Drain(), 1);
  ASSERT_EQ(at_c2.size(), 1u);
  EXPECT_EQ(at_c2[0].indices, (std::vector<int>{7, 1, 2, 3}));

  // An unknown code ends the message: nothing of it is relayed.
  a.Send(msg::kProperties, Entry(protocol::kPropHeadMesh, 0, "cap.x") + "\x60zz");
  EXPECT_TRUE(AboutPlayer(c.Drain(), 1).empty());
}

TEST_P(RelayTest, PortZeroMidLevelSwitchesBothDirectionsToTcpAndResendsPositions) {
  ProtocolClient a;
  ProtocolClient b;
  ASSERT_EQ(Join(a, "guest", "guest"), 1);
  ASSERT_EQ(Join(b, "guest", "guest"), 2);
  a.Send(msg::kProperties, Entry(protocol::kPropUdpPort, 5001));
  b.Send(msg::kProperties, Entry(protocol::kPropUdpPort, 5002));
  b.Send(msg::kProperties, Entry(protocol::kPropX, -70));
  a.Send(msg::kProperties, Entry(protocol::kPropX, 80) + Entry(protocol::kPropZ, 392));
  b.Drain();  // x went by datagram only
  a.Drain();

  // A's client found that no datagram gets through and closes its channel.
  a.Send(msg::kProperties, Entry(protocol::kPropUdpPort, 0));
  const auto at_b = AboutPlayer(b.Drain(), 1);
  ASSERT_GE(at_b.size(), 2u);
  EXPECT_EQ(at_b.front().indices, (std::vector<int>{15}));
  EXPECT_EQ(at_b.front().Number(protocol::kPropUdpPort), 0);
  EXPECT_EQ(at_b.back().indices, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(at_b.back().Number(protocol::kPropX), 80);
  EXPECT_EQ(at_b.back().Number(protocol::kPropZ), 392);
  const auto at_a = AboutPlayer(a.Drain(), 2);
  ASSERT_EQ(at_a.size(), 1u);
  EXPECT_EQ(at_a[0].indices, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(at_a[0].Number(protocol::kPropX), -70);

  // From now on each one's movement reaches the other over TCP, without a level change.
  a.Send(msg::kProperties, Entry(protocol::kPropX, 81));
  const auto moved_a = AboutPlayer(b.Drain(), 1);
  ASSERT_EQ(moved_a.size(), 1u);
  EXPECT_EQ(moved_a[0].Number(protocol::kPropX), 81);
  b.Send(msg::kProperties, Entry(protocol::kPropX, -71));
  const auto moved_b = AboutPlayer(a.Drain(), 2);
  ASSERT_EQ(moved_b.size(), 1u);
  EXPECT_EQ(moved_b[0].Number(protocol::kPropX), -71);
}

TEST_P(RelayTest, ConnectedClientCannotChangeItsIdOrAddress) {
  ProtocolClient a;
  ProtocolClient b;
  ASSERT_EQ(Join(a, "guest", "guest"), 1);
  ASSERT_EQ(Join(b, "guest", "guest"), 2);
  a.Drain();
  b.Drain();
  a.Send(msg::kProperties, Entry(protocol::kPropPlayerId, 2) +
                               Entry(protocol::kPropAddress, net::MakeAddress(10, 0, 0, 9)) +
                               Entry(protocol::kPropX, 7));
  const auto at_b = AboutPlayer(b.Drain(), 1);
  ASSERT_EQ(at_b.size(), 1u);
  EXPECT_EQ(at_b[0].indices, (std::vector<int>{1}));
}

TEST_P(RelayTest, SecondPlayerBecomesFirstWhenFirstLeavesAndAllSeeTheDeparture) {
  ProtocolClient a;
  ProtocolClient b;
  ProtocolClient c;
  ASSERT_EQ(Join(a, "guest", "guest"), 1);
  ASSERT_EQ(Join(b, "guest", "guest"), 2);
  ASSERT_EQ(Join(c, "guest", "guest"), 3);
  b.Drain();
  c.Drain();
  a.Close();
  const auto at_b = b.Drain();
  const auto at_c = c.Drain();
  const auto gone_b = AboutPlayer(at_b, 1);
  ASSERT_EQ(gone_b.size(), 1u);
  EXPECT_TRUE(gone_b[0].removed);
  ASSERT_EQ(AboutPlayer(at_c, 1).size(), 1u);
  EXPECT_TRUE(AboutPlayer(at_c, 1)[0].removed);
  EXPECT_TRUE(std::any_of(at_b.begin(), at_b.end(),
                          [](const Received& r) { return r.id == msg::kFirstInLevel; }));
  EXPECT_TRUE(std::none_of(at_c.begin(), at_c.end(),
                           [](const Received& r) { return r.id == msg::kFirstInLevel; }));
  EXPECT_TRUE(server_.WaitForLog("disconnect: player 1"));
  // The freed id goes to the next connection.
  ProtocolClient d;
  EXPECT_EQ(Join(d, "guest", "guest"), 1);
}

TEST_F(KServerTest, GarbagePacketClosesOnlyItsOwnSession) {
  ProtocolClient good;
  ProtocolClient bad;
  ASSERT_EQ(Join(good, "guest", "guest"), 1);
  ASSERT_EQ(Join(bad, "guest", "guest"), 2);
  good.Drain();
  ASSERT_TRUE(bad.SendRaw(std::string("\x00\x06", 2) + "garbag"));
  EXPECT_TRUE(bad.WaitClosed());
  const auto gone = AboutPlayer(good.Drain(), 2);
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_TRUE(gone[0].removed);
  good.Send(msg::kFileRequest, "welcome");
  EXPECT_TRUE(good.WaitFor(msg::kFile));
  EXPECT_TRUE(server_.WaitForLog("did not decompress"));
}

class FileRequestTest : public KServerTest {
 protected:
  void PrepareWorld() override {
    std::filesystem::create_directories(server_.directory() / "levels" / "pics");
    std::mt19937 random(7);
    for (const auto& [name, size] : {std::pair{"edge.gif", 64499}, std::pair{"over.gif", 64500}}) {
      std::string data(static_cast<std::size_t>(size), '\0');
      for (char& c : data) c = static_cast<char>(random());
      std::ofstream(server_.directory() / "levels" / "pics" / name, std::ios::binary) << data;
      if (size == 64499) edge_ = data;
    }
  }
  std::string edge_;
};

TEST_F(FileRequestTest, SendsPicturesUpTo64499BytesAndRefusesLarger) {
  ProtocolClient client;
  ASSERT_EQ(Join(client, "guest", "guest"), 1);
  client.Drain();
  client.Send(msg::kFileRequest, "EDGE");
  const auto announce = client.WaitFor(msg::kLongMessageFollows);
  ASSERT_TRUE(announce);
  EXPECT_EQ(protocol::ParseLongMessageFollows(announce->payload), 4 + 64499 + 3);
  const auto file = client.Next();
  ASSERT_TRUE(file);
  ASSERT_EQ(file->id, msg::kFile);
  const auto parsed = protocol::ParseFile(file->payload);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->name, "EDGE");
  EXPECT_TRUE(parsed->data == edge_) << "the file arrives byte for byte";

  client.Send(msg::kFileRequest, "over");
  const auto refused = client.Next();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->id, msg::kFileNotAvailable);
  EXPECT_EQ(refused->payload, "over");
  client.Send(msg::kFileRequest, "../accounts");
  const auto outside = client.Next();
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->id, msg::kFileNotAvailable);
}

TEST_F(KServerTest, The201stConnectionIsToldTheServerIsFull) {
  // Without the caps on connections that have not logged in, 200 silent ones take every id.
  server_.Stop();  // a signal this early may come before the server's handlers
  KServerOptions options;
  options.extra_args = {"--max-pending", "0", "--max-pending-per-address", "0"};
  ASSERT_TRUE(server_.Start(options)) << server_.Log();
  std::vector<std::unique_ptr<ProtocolClient>> clients;
  for (int i = 0; i < 200; ++i) {
    clients.push_back(std::make_unique<ProtocolClient>());
    ASSERT_TRUE(clients.back()->Connect(server_.port()));
  }
  for (auto& client : clients) ASSERT_TRUE(client->WaitFor(msg::kConnectionAccepted));
  ProtocolClient extra;
  ASSERT_TRUE(extra.Connect(server_.port()));
  EXPECT_TRUE(extra.WaitClosed());
  ASSERT_EQ(extra.inbox().size(), 1u);
  EXPECT_EQ(extra.inbox().front().id, msg::kDisconnectReason);
  EXPECT_EQ(extra.inbox().front().payload, "The server is full.");
  EXPECT_TRUE(server_.WaitForLog("every player id is taken"));
  // One leaves; the next connection gets its id.
  clients[41]->Close();
  ASSERT_TRUE(server_.WaitForLog("disconnect: player 42"));
  ProtocolClient late;
  ASSERT_EQ(Join(late, "guest", "guest"), 42);
}

TEST_F(KServerTest, SigtermSavesAccountsAndSaysGoodbye) {
  ProtocolClient alice;
  ProtocolClient guest;
  ASSERT_GT(Join(alice, "alice", "wonder"), 0);
  ASSERT_GT(Join(guest, "guest", "guest"), 0);
  alice.Send(msg::kProperties,
             Entry(protocol::kPropX, 250) + Entry(protocol::kPropNickname, 0, "Al"));
  guest.Send(msg::kProperties, Entry(protocol::kPropX, 99));
  // Both moves are handled before the signal.
  ASSERT_TRUE(AboutPlayer(guest.Drain(), 1).size() > 0);
  EXPECT_EQ(server_.Stop(SIGTERM), 0);
  for (ProtocolClient* client : {&alice, &guest}) {
    EXPECT_TRUE(client->WaitClosed());
    ASSERT_FALSE(client->inbox().empty());
    EXPECT_EQ(client->inbox().back().id, msg::kDisconnectReason);
    EXPECT_EQ(client->inbox().back().payload, "The server has been shut down.");
  }
  server::AccountStore accounts;
  accounts.LoadAccounts(server_.directory() / "accounts.txt");
  const server::TServerAccount* saved = accounts.FindAccount("alice", "wonder");
  ASSERT_NE(saved, nullptr);
  protocol::PropertySet values;
  protocol::EntryReader reader(saved->Properties, protocol::EntrySide::kServer);
  protocol::PropertyEntry e;
  while (reader.Next(e) == protocol::EntryStatus::kEntry) protocol::StoreEntry(values, e);
  EXPECT_EQ(values.Number(protocol::kPropX), 250);
  EXPECT_EQ(values.Text(protocol::kPropNickname), "Al");
  EXPECT_EQ(values.Text(protocol::kPropLevelName), "startlevel.x");
  // Play never changes a guest account.
  EXPECT_EQ(accounts.FindAccount("guest", "guest")->Properties, "");
  EXPECT_NE(server_.Log().find("accounts saved: 4 account(s)"), std::string::npos);
}

TEST(KServerProgram, RejectsBadPortsAndBusyPorts) {
  std::string output;
  KServerProcess world;
  ASSERT_TRUE(world.Prepare(KServerProcess::BundledWorld()));
  const std::string dir = world.directory().string();
  EXPECT_EQ(KServerProcess::RunOnce({"--headless", "--dir", dir, "--port", "14x"}, &output), 2);
  EXPECT_NE(output.find("not a valid port"), std::string::npos) << output;
  EXPECT_EQ(KServerProcess::RunOnce({"--headless", "--dir", dir, "--port", "70000"}, &output), 2);

  auto busy = net::TcpListener::Listen(0, net::kAnyAddress);
  ASSERT_TRUE(busy);
  const std::string port = std::to_string(busy->LocalPort());
  EXPECT_EQ(KServerProcess::RunOnce({"--headless", "--dir", dir, "--port", port}, &output), 1);
  EXPECT_NE(output.find("The server could not be started!"), std::string::npos) << output;
  EXPECT_NE(output.find("in use"), std::string::npos) << output;

  // Without a display the windowed server cannot ask for its port: it says to use --headless.
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) ::unsetenv(name);
  EXPECT_EQ(KServerProcess::RunOnce({"--dir", dir}, &output), 2);
  EXPECT_NE(output.find("--headless"), std::string::npos) << output;
}

// Where the server would write what it must not, or could run unguarded, it refuses to start.
TEST(KServerProgram, RefusesUnlockableWorldsAndAReadOnlyProgramFolder) {
  namespace fs = std::filesystem;
  std::string output;
  KServerProcess world;
  ASSERT_TRUE(world.Prepare(KServerProcess::BundledWorld()));
  const fs::path dir = world.directory();
  // A lock file that cannot be opened (a folder of that name, which stops root too).
  fs::create_directory(dir / "kserver.lock");
  EXPECT_EQ(KServerProcess::RunOnce({"--headless", "--dir", dir.string(), "--port", "0"}, &output),
            2);
  EXPECT_NE(output.find("cannot lock the server directory"), std::string::npos) << output;
  EXPECT_EQ(KServerProcess::RunOnce({"--add-account", "a", "b", "--dir", dir.string()}), 2);
  fs::remove(dir / "kserver.lock");

  // A copy of the program in a folder its user cannot write, started without --dir. Root writes
  // anywhere, so root runs it as nobody.
  std::string pattern = (fs::temp_directory_path() / "kserver-program-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  fs::copy_file(KServerProcess::DefaultProgram(), folder / "kserver");
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
  std::vector<std::string> args = {"--headless", "--port", "0"};
  fs::path program = folder / "kserver";
  if (::geteuid() == 0) {
    args.insert(args.begin(),
                {"--reuid=65534", "--regid=65534", "--clear-groups", program.string()});
    program = "setpriv";
  }
  EXPECT_EQ(KServerProcess::RunOnce(args, &output, program), 2);
  EXPECT_NE(output.find("name the server directory with --dir DIR"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(folder / "kserver.lock"));

  // A windowed start needs kserver-gui beside the program: without it, a message, not a crash.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string saved = platform ? platform : "";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_EQ(KServerProcess::RunOnce({"--dir", dir.string()}, &output, folder / "kserver"), 2);
  EXPECT_NE(output.find("install the kserver-gui package"), std::string::npos) << output;
  if (platform) {
    ::setenv("QT_QPA_PLATFORM", saved.c_str(), 1);
  } else {
    ::unsetenv("QT_QPA_PLATFORM");
  }
  fs::remove_all(folder);
}

TEST(KServerProgram, ListenTakesPlayersOnTheGivenAddressOnly) {
  KServerProcess server;
  KServerOptions options;
  options.extra_args = {"--listen", "127.0.0.2"};
  ASSERT_TRUE(server.Start(options)) << server.Log();
  EXPECT_NE(server.Log().find("listening on 127.0.0.2"), std::string::npos) << server.Log();
  EXPECT_FALSE(net::ConnectTcp(net::kLoopbackAddress, server.port(), 2000ms));
  ProtocolClient player;
  ASSERT_TRUE(player.ConnectTo(*net::ParseIpv4("127.0.0.2"), server.port()));
  player.Login("guest", "guest");
  EXPECT_TRUE(player.WaitFor(msg::kOwnProperties).has_value());

  std::string output;
  EXPECT_EQ(
      KServerProcess::RunOnce(
          {"--headless", "--dir", server.directory().string(), "--listen", "127.0.0"}, &output),
      2);
  EXPECT_NE(output.find("not a dotted IPv4 address"), std::string::npos) << output;
}

TEST(KServerProgram, AddAccountAppendsAndRefusesDuplicates) {
  KServerProcess world;
  ASSERT_TRUE(world.Prepare(KServerProcess::BundledWorld()));
  const std::string dir = world.directory().string();
  std::string output;
  EXPECT_EQ(KServerProcess::RunOnce(
                {"--add-account", "root", "s3cret", "--rights", "3", "--dir", dir}, &output),
            0)
      << output;
  EXPECT_EQ(KServerProcess::RunOnce({"--add-account", "root", "s3cret", "--dir", dir}, &output), 1);
  EXPECT_NE(output.find("already exists"), std::string::npos) << output;
  EXPECT_EQ(KServerProcess::RunOnce({"--add-account", "x", "y", "--rights", "5", "--dir", dir}), 2);
  server::AccountStore accounts;
  accounts.LoadAccounts(world.directory() / "accounts.txt");
  ASSERT_EQ(accounts.size(), 2u);
  const server::TServerAccount* root = accounts.FindAccount("root", "s3cret");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Rights, 3);
  EXPECT_FALSE(root->LoadOnly);
  EXPECT_TRUE(accounts.FindAccount("guest", "guest")->LoadOnly);
}

}  // namespace
}  // namespace tarvo::testing
