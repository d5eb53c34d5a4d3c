#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/io/x_writer.h"
#include "net/address.h"
#include "net/udp_socket.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/accounts/account_store.h"
#include "support/kserver_process.h"
#include "support/protocol_client.h"
#include "tools/tarvo-bot/bot.h"

namespace tarvo::bot {
namespace {

using namespace std::chrono_literals;

class ClientBotsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<testing::KServerProcess>();
    ASSERT_TRUE(server->Start()) << server->Log();
    levels = server->directory() / "client-levels";
  }

  BotOptions Options(WalkPattern walk, bool no_udp) const {
    BotOptions options;
    options.port = std::to_string(server->port());
    options.walk = walk;
    options.no_udp = no_udp;
    options.level_directory = levels;
    options.asset_folders = {std::string(TARVO_SOURCE_DIR) + "/data/client"};
    return options;
  }

  // Ticks every bot each 50 ms, as tarvo-bot does, until `done` holds or `limit` passes.
  bool RunUntil(std::vector<Bot*> bots, const std::function<bool()>& done,
                std::chrono::milliseconds limit = 8000ms) {
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < limit) {
      const double now =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() +
          clock_offset;
      for (Bot* bot : bots) bot->Tick(now);
      if (done()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  // What `observer` holds of `mover`'s player.
  static const client::TPlayer* CopyOf(Bot& observer, Bot& mover) {
    return observer.world().FindOtherPlayer(mover.world().LocalPlayer().Id);
  }

  // The observer's copy stands where the mover is, to the wire's half-unit resolution.
  static bool SeesWhereItIs(Bot& observer, Bot& mover) {
    const client::TPlayer* copy = CopyOf(observer, mover);
    const client::TPlayer& me = mover.world().LocalPlayer();
    return copy != nullptr && (me.X != 0 || me.Z != 0) && std::abs(copy->X - me.X) <= 0.5 &&
           std::abs(copy->Z - me.Z) <= 0.5;
  }

  std::unique_ptr<testing::KServerProcess> server;
  std::filesystem::path levels;
  double clock_offset = 0;
};

TEST_F(ClientBotsE2E, TwoBotsMeetAndExchangeMovementAndChatOverUdp) {
  BotOptions talk = Options(WalkPattern::kCircle, false);
  talk.chat_seconds = 0.3;
  Bot a(talk, 1), b(Options(WalkPattern::kForward, false), 2);
  ASSERT_TRUE(a.Connect());
  ASSERT_TRUE(b.Connect());
  ASSERT_TRUE(RunUntil({&a, &b}, [&] {
    return a.levels_entered() > 0 && b.levels_entered() > 0 && CopyOf(a, b) && CopyOf(b, a);
  })) << server->Log();
  EXPECT_EQ(a.world().LocalPlayer().LevelFile, b.world().LocalPlayer().LevelFile);

  // Each is the other's UDP peer, announced with the port its channel is bound to.
  ASSERT_TRUE(RunUntil({&a, &b}, [&] {
    return a.session()->Stats().udp_movements > 5 && b.session()->Stats().udp_movements > 5 &&
           b.chats_seen() > 0;
  })) << server->Log();
  const client::TPlayer* a_at_b = CopyOf(b, a);
  ASSERT_NE(a_at_b, nullptr);
  EXPECT_EQ(a_at_b->ClientPort, a.session()->UdpPort());
  EXPECT_EQ(a_at_b->ClientAddress, net::kLoopbackAddress);
  EXPECT_EQ(b.session()->UdpPeers().size(), 1u);
  EXPECT_EQ(a_at_b->ChatText.rfind("hello ", 0), 0u);

  // Once both stand still, each sees the other exactly where it stopped.
  a.SetWalk(WalkPattern::kStill);
  b.SetWalk(WalkPattern::kStill);
  EXPECT_TRUE(RunUntil({&a, &b}, [&] { return SeesWhereItIs(a, b) && SeesWhereItIs(b, a); }));
  EXPECT_EQ(a.session()->Stats().datagrams_dropped, 0u);
}

TEST_F(ClientBotsE2E, MovementAndChatGoThroughTheServerWhenOneHasNoUdp) {
  BotOptions tcp_only = Options(WalkPattern::kCircle, true);
  tcp_only.chat_seconds = 0.3;
  BotOptions udp = Options(WalkPattern::kForward, false);
  udp.chat_seconds = 0.3;
  Bot a(tcp_only, 1), b(udp, 2);
  ASSERT_TRUE(a.Connect());
  ASSERT_TRUE(b.Connect());
  EXPECT_EQ(a.session()->UdpPort(), 0);
  ASSERT_TRUE(RunUntil({&a, &b}, [&] {
    return a.session()->Stats().tcp_movements > 5 && b.session()->Stats().tcp_movements > 5 &&
           a.chats_seen() > 0 && b.chats_seen() > 0;
  })) << server->Log();
  EXPECT_EQ(a.session()->Stats().udp_movements, 0u);
  EXPECT_EQ(b.session()->Stats().udp_movements, 0u);
  EXPECT_EQ(b.session()->Stats().datagrams_sent, 0u);  // a has no port to send to

  a.SetWalk(WalkPattern::kStill);
  b.SetWalk(WalkPattern::kStill);
  EXPECT_TRUE(RunUntil({&a, &b}, [&] { return SeesWhereItIs(a, b) && SeesWhereItIs(b, a); }));
}

TEST_F(ClientBotsE2E, SilentUdpPeerMakesTheBotFallBackToTheServer) {
  namespace msg = protocol::msg;
  // A player whose client announces a UDP port but never sends a datagram, as behind a NAT
  // that drops what comes in.
  testing::ProtocolClient wire;
  ASSERT_TRUE(wire.Connect(static_cast<std::uint16_t>(server->port())));
  wire.Login("guest", "guest");
  auto silent = net::UdpSocket::Open(0);
  ASSERT_TRUE(silent) << silent.error();
  std::string entries;
  protocol::PutEntry(entries, protocol::kPropUdpPort, silent->LocalPort(), {});
  wire.Send(msg::kProperties, entries);

  Bot bot(Options(WalkPattern::kCircle, false), 1);
  ASSERT_TRUE(bot.Connect());
  ASSERT_TRUE(RunUntil({&bot}, [&] {
    return bot.session()->UdpPeers().size() == 1 && bot.session()->UdpPeers()[0]->ClientPort > 0;
  })) << server->Log();
  const auto peer_since = std::chrono::steady_clock::now();
  ASSERT_TRUE(RunUntil({&bot}, [&] { return bot.session()->UdpPort() == 0; }));
  EXPECT_GE(std::chrono::steady_clock::now() - peer_since, 4900ms);
  EXPECT_EQ(bot.session()->Stats().udp_fallbacks, 1u);
  EXPECT_TRUE(bot.Connected());
  EXPECT_TRUE(bot.shown().empty()) << "a notice, not a message box";

  // The game goes on through the server, both ways.
  const int bot_id = bot.world().LocalPlayer().Id;
  wire.Poll();
  wire.inbox().clear();
  bool moves_reach_wire = false;
  ASSERT_TRUE(RunUntil({&bot}, [&] {
    wire.Poll();
    for (const testing::Received& r : wire.inbox()) {
      const auto parsed = protocol::ParsePlayerEntries(r.payload);
      if (r.id == msg::kOtherPlayer && parsed && parsed->player_id == bot_id &&
          parsed->entries.find('!') != std::string::npos)
        moves_reach_wire = true;
    }
    wire.inbox().clear();
    return moves_reach_wire;
  }));
  entries.clear();
  protocol::PutEntry(entries, protocol::kPropX, 77, {});
  wire.Send(msg::kProperties, entries);
  EXPECT_TRUE(RunUntil({&bot}, [&] {
    const client::TPlayer* other =
        bot.world().OtherPlayers().empty() ? nullptr : bot.world().OtherPlayers().front().get();
    return other != nullptr && other->X == 77;
  }));
  EXPECT_EQ(bot.session()->Stats().udp_movements, 0u);
}

TEST_F(ClientBotsE2E, LeavingPlayerIsRemovedFromTheOthers) {
  auto a = std::make_unique<Bot>(Options(WalkPattern::kStill, false), 1);
  Bot b(Options(WalkPattern::kStill, false), 2);
  ASSERT_TRUE(a->Connect());
  ASSERT_TRUE(b.Connect());
  ASSERT_TRUE(RunUntil({a.get(), &b}, [&] { return CopyOf(b, *a) != nullptr; }));
  ASSERT_TRUE(RunUntil({a.get(), &b}, [&] { return b.session()->UdpPeers().size() == 1; }));
  a.reset();  // closes its connection
  EXPECT_TRUE(RunUntil(
      {&b}, [&] { return b.world().OtherPlayers().empty() && b.session()->UdpPeers().empty(); }));
  EXPECT_TRUE(b.Connected());
}

TEST_F(ClientBotsE2E, BotProgramLogsInWalksAndSummarises) {
  const std::string command = std::string(TARVO_BIN_DIR) + "/tarvo-bot --port " +
                              std::to_string(server->port()) +
                              " --count 3 --duration 4 --chat 1 --walk random --jump 1 --status 1"
                              " --verbose";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  std::array<char, 4096> buffer;
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int status = ::pclose(pipe);
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_NE(output.find("logins:               3 of 3 bots (3 entered a level)"), std::string::npos)
      << output;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(output, m, std::regex(R"(\((\d+) over TCP, (\d+) over UDP\))")))
      << output;
  EXPECT_GT(std::stoi(m[2]), 0) << output;
  EXPECT_NE(output.find("[1."), std::string::npos) << "a status line every second";
  EXPECT_NE(output.find("disconnects:          0"), std::string::npos) << output;
  EXPECT_NE(output.find("[2] enters level startlevel.x"), std::string::npos) << output;
  EXPECT_NE(output.find("[3] chat: bot1: hello 1 from bot1"), std::string::npos) << output;
  EXPECT_NE(output.find("  positions:            first at ("), std::string::npos) << output;
}

// A peer on a plain session, without a game world: it only records what the server relays.
class Observer : public client::SessionHost {
 public:
  Observer(std::uint16_t port, const std::filesystem::path& levels) {
    settings_.ServerPort = std::to_string(port);
    settings_.NoUdp = true;  // every movement it sees has come through the server
    world_.LocalPlayer().Nickname = "observer";
    session_ = std::make_unique<client::TAdventureClient>(settings_, world_, *this,
                                                          client::SessionOptions{levels});
  }
  ~Observer() override { session_.reset(); }

  void Poll() {
    session_->ReceiveTcp();
    session_->SendPending();
  }
  // Where this observer was last told `bot` stands.
  const client::TPlayer* CopyOf(Bot& bot) const {
    return world_.FindOtherPlayer(bot.world().LocalPlayer().Id);
  }
  void ShowMessage(std::string_view, std::string_view) override {}
  void LoadLevel(const std::filesystem::path&) override {}

 private:
  client::ClientSettings settings_;
  client::ClientWorld world_;
  std::unique_ptr<client::TAdventureClient> session_;
};

// Bots in a level made here: a floor from -300 to 300 in x and z at height 40 (the client's own
// default level has its floor at 0) and, across it, a wall at z = 200. The guest account starts
// at a given place, looking along +z; "admin" (password "secret") may administer the server.
class BotMovementE2E : public ClientBotsE2E {
 protected:
  static constexpr float kFloorY = 40;
  static constexpr float kWallZ = 200;

  void SetUp() override {}

  void StartWithGuestAt(double x, double y, double z) {
    server = std::make_unique<testing::KServerProcess>();
    ASSERT_TRUE(server->Prepare(testing::KServerProcess::BundledWorld()));
    levels = server->directory() / "client-levels";

    engine::MeshData level;
    constexpr float f = kFloorY, top = kFloorY + 120;
    AddQuad(level, {{-300, f, -300}, {-300, f, 300}, {300, f, 300}, {300, f, -300}}, {0, 1, 0});
    AddQuad(level, {{-300, f, kWallZ}, {-300, top, kWallZ}, {300, top, kWallZ}, {300, f, kWallZ}},
            {0, 0, -1});
    ASSERT_TRUE(
        engine::io::SaveXFile(level, (server->directory() / "levels" / "walltest.x").string()));

    server::AccountStore accounts;
    const auto file = server->directory() / "accounts.txt";
    accounts.LoadAccounts(file);
    server::TServerAccount* guest = accounts.FindAccount("guest", "guest");
    ASSERT_NE(guest, nullptr);
    accounts.AddNewAccount({"admin", "secret", 3, false, false});
    // Facing 270 degrees puts the camera on the -z side: ahead is +z.
    guest->Properties.clear();
    protocol::PutEntry(guest->Properties, protocol::kPropX, x);
    protocol::PutEntry(guest->Properties, protocol::kPropY, y);
    protocol::PutEntry(guest->Properties, protocol::kPropZ, z);
    protocol::PutEntry(guest->Properties, protocol::kPropViewAngle, 270);
    protocol::PutEntry(guest->Properties, protocol::kPropLevelName, 0, "walltest.x");
    ASSERT_TRUE(accounts.SaveAccounts(file).ok);
    ASSERT_TRUE(server->Start()) << server->Log();
  }

  // A polygon turned so that its front (the side that collides) looks along `facing`.
  static void AddQuad(engine::MeshData& mesh, std::vector<glm::vec3> corners, glm::vec3 facing) {
    if (glm::dot(engine::FaceNormal(corners), facing) < 0)
      std::reverse(corners.begin(), corners.end());
    std::vector<std::uint32_t> indices;
    for (const glm::vec3& c : corners) indices.push_back(mesh.AddVertex(c));
    mesh.AddFace(std::move(indices), engine::Color{0.5f, 0.5f, 0.5f});
  }
};

TEST_F(BotMovementE2E, BotWalkingForwardStopsInFrontOfTheWall) {
  StartWithGuestAt(0, kFloorY, 0);
  ASSERT_FALSE(HasFatalFailure());
  BotOptions options = Options(WalkPattern::kForward, true);
  Bot bot(options, 1);
  Observer observer(server->port(), levels / "observer");
  ASSERT_TRUE(bot.Connect());
  double farthest_seen = -1e9;
  std::vector<double> bot_z;
  // Until it has crossed most of the floor and then not moved for a second while pushing on.
  const auto stopped = [&] {
    constexpr std::size_t kSecond = 20;
    return bot_z.size() > kSecond && bot_z.back() > 100 &&
           std::abs(bot_z[bot_z.size() - kSecond] - bot_z.back()) < 0.5;
  };
  EXPECT_TRUE(RunUntil(
      {&bot},
      [&] {
        observer.Poll();
        if (const client::TPlayer* copy = observer.CopyOf(bot))
          farthest_seen = std::max(farthest_seen, copy->Z);
        bot_z.push_back(bot.position().z);
        return stopped();
      },
      15000ms));
  EXPECT_EQ(bot.world().LocalPlayer().LevelFile, (levels / "walltest.x").string());
  // The front ground probe, 5 ahead of the avatar, stops 3 units before the face.
  const Position at = bot.position();
  EXPECT_NEAR(at.z, kWallZ - 8, 0.5);
  EXPECT_NEAR(at.x, 0, 0.5);
  EXPECT_LE(*std::max_element(bot_z.begin(), bot_z.end()), kWallZ - 8 + 0.5);
  EXPECT_TRUE(bot.game().input().IsDown(client::GameKey::kPad8)) << "still pushing";
  EXPECT_NEAR(farthest_seen, at.z, 0.5) << "the observer sees it stop where it stopped";
}

TEST_F(BotMovementE2E, BotPlacedHighFallsAndLandsOnTheFloor) {
  StartWithGuestAt(50, 250, -50);
  ASSERT_FALSE(HasFatalFailure());
  Bot bot(Options(WalkPattern::kStill, true), 1);
  Observer observer(server->port(), levels / "observer");
  ASSERT_TRUE(bot.Connect());
  std::vector<double> heights_seen;
  ASSERT_TRUE(RunUntil({&bot}, [&] {
    observer.Poll();
    const client::TPlayer* copy = observer.CopyOf(bot);
    if (copy != nullptr && (heights_seen.empty() || heights_seen.back() != copy->Y))
      heights_seen.push_back(copy->Y);
    return !heights_seen.empty() && heights_seen.back() == kFloorY;
  })) << ::testing::PrintToString(heights_seen);
  // It went down through the air, speeding up, and did not sink through the floor.
  EXPECT_GE(heights_seen.size(), 4u) << ::testing::PrintToString(heights_seen);
  EXPECT_TRUE(std::is_sorted(heights_seen.rbegin(), heights_seen.rend()))
      << ::testing::PrintToString(heights_seen);
  RunUntil(
      {&bot}, [] { return false; }, 500ms);
  EXPECT_EQ(bot.position().y, kFloorY);
  EXPECT_FALSE(bot.world().LocalPlayer().Jumping);
  EXPECT_NEAR(bot.position().x, 50, 0.5);
  EXPECT_NEAR(bot.position().z, -50, 0.5);
}

TEST_F(BotMovementE2E, VerboseBotPrintsTheMessageBoxesAPlayerSees) {
  StartWithGuestAt(0, kFloorY, 0);
  ASSERT_FALSE(HasFatalFailure());
  const std::string ctl = std::string(TARVO_BIN_DIR) + "/kserverctl";
  if (!std::filesystem::exists(ctl)) GTEST_SKIP() << "kserverctl is not built";
  std::ostringstream seen;
  BotOptions options = Options(WalkPattern::kStill, false);
  options.verbose = &seen;
  Bot bot(options, 7);
  ASSERT_TRUE(bot.Connect());
  ASSERT_TRUE(RunUntil({&bot}, [&] { return bot.levels_entered() > 0; })) << server->Log();

  const std::string say = ctl + " --port " + std::to_string(server->port()) +
                          " --account admin --password secret say Restart soon";
  ASSERT_EQ(std::system(say.c_str()), 0);
  ASSERT_TRUE(RunUntil({&bot}, [&] { return bot.shown().size() == 1; }));
  EXPECT_EQ(server->Stop(SIGTERM), 0);
  ASSERT_TRUE(RunUntil({&bot}, [&] { return bot.Disconnected(); }));
  // The administrator message keeps its line break, and every line says which bot saw it.
  EXPECT_NE(seen.str().find("[7] message box \"Administrator message\": Administrator admin:\n"
                            "[7]   Restart soon\n"),
            std::string::npos)
      << seen.str();
  EXPECT_NE(seen.str().find("[7] message box \"Tarvo 3D\": The server has been shut down.\n"),
            std::string::npos)
      << seen.str();
}

}  // namespace
}  // namespace tarvo::bot
