#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "net/address.h"
#include "support/kserver_process.h"
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
    return copy != nullptr && me.X != 0 && std::abs(copy->X - me.X) <= 0.5 &&
           std::abs(copy->Z - me.Z) <= 0.5;
  }

  std::unique_ptr<testing::KServerProcess> server;
  std::filesystem::path levels;
  double clock_offset = 0;
};

TEST_F(ClientBotsE2E, TwoBotsMeetAndExchangeMovementAndChatOverUdp) {
  BotOptions talk = Options(WalkPattern::kCircle, false);
  talk.chat_seconds = 0.3;
  Bot a(talk, 1), b(Options(WalkPattern::kLine, false), 2);
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
  BotOptions udp = Options(WalkPattern::kLine, false);
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
                              " --count 3 --duration 4 --chat 1 --walk random --status 1";
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
}

}  // namespace
}  // namespace tarvo::bot
