// Players behind NAT routers that give every flow a random public port, and a lossy public link:
// real kserver and tarvo-bot processes in network namespaces made by the test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/kserver_process.h"
#include "support/net_lab.h"

namespace tarvo::testing {
namespace {

using namespace std::chrono_literals;

constexpr double kRunSeconds = 16;
// How often each bot prints where it stands and where it sees the others.
constexpr double kPrintEvery = 0.25;

struct Point {
  double t = 0;
  double x = 0, y = 0, z = 0;
  bool SamePlace(const Point& other) const {
    // The wire carries coordinates in half units.
    return std::abs(x - other.x) <= 0.6 && std::abs(y - other.y) <= 0.6 &&
           std::abs(z - other.z) <= 0.6;
  }
};

// What one bot printed: its own track, its view of each other bot, the chat it heard.
struct BotView {
  std::string name;
  std::string output;
  std::vector<Point> own;
  std::map<std::string, std::vector<Point>> seen;
  std::vector<std::string> chat_from;
  int udp_fallbacks = -1;
  long datagrams_received = -1;

  void Parse() {
    static const std::regex kAt(
        R"(^\[1\] ([0-9.]+)s (?:sees (\S+) )?at \(([-0-9.]+), ([-0-9.]+), ([-0-9.]+)\))");
    static const std::regex kChat(R"(^\[1\] chat: (\S+): hello)");
    static const std::regex kFallbacks(R"(^  UDP fallbacks: +([0-9]+))");
    static const std::regex kDatagrams(R"(^  UDP datagrams: +[0-9]+ sent, ([0-9]+) received)");
    std::istringstream lines(output);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
      if (std::regex_search(line, m, kAt)) {
        const Point p{std::stod(m[1]), std::stod(m[3]), std::stod(m[4]), std::stod(m[5])};
        (m[2].matched ? seen[m[2]] : own).push_back(p);
      } else if (std::regex_search(line, m, kChat)) {
        chat_from.push_back(m[1]);
      } else if (std::regex_search(line, m, kFallbacks)) {
        udp_fallbacks = std::stoi(m[1]);
      } else if (std::regex_search(line, m, kDatagrams)) {
        datagrams_received = std::stol(m[1]);
      }
    }
  }
  bool HeardChatOf(const std::string& other) const {
    return std::find(chat_from.begin(), chat_from.end(), other) != chat_from.end();
  }
};

// The first time from which `track` stays at `place` to its end.
std::optional<double> SettledAt(const std::vector<Point>& track, const Point& place) {
  std::optional<double> since;
  for (const Point& p : track) {
    if (!p.SamePlace(place)) {
      since.reset();
    } else if (!since) {
      since = p.t;
    }
  }
  return since;
}

// The first time after `from` at which `track` shows another place than at `from`.
std::optional<double> FirstMoveAfter(const std::vector<Point>& track, double from) {
  const Point* before = nullptr;
  for (const Point& p : track) {
    if (p.t < from) {
      before = &p;
    } else if (before != nullptr && !p.SamePlace(*before)) {
      return p.t;
    }
  }
  return std::nullopt;
}

class NatE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why = NetLab::Unavailable();
    if (!why.empty()) {
      // CI runs as root: there the test must run.
      if (std::getenv("CI") != nullptr) FAIL() << why;
      GTEST_SKIP() << why;
    }
    lab = std::make_unique<NetLab>();
    ASSERT_TRUE(lab->error().empty()) << lab->error();
  }

  // One tarvo-bot process in namespace `ns`, named `prefix` + "1".
  std::unique_ptr<BackgroundProgram> StartBot(const std::string& ns, const std::string& prefix,
                                              const std::vector<std::string>& walk) {
    std::vector<std::string> args = NetLab::In(ns);
    for (const std::string& word :
         {std::string(TARVO_BIN_DIR) + "/tarvo-bot", std::string("--host"),
          std::string(NetLab::kPublicAddress), std::string("--port"), std::to_string(server.port()),
          std::string("--nick-prefix"), prefix, std::string("--chat"), std::string("1"),
          std::string("--duration"), std::to_string(kRunSeconds), std::string("--verbose"),
          std::string("--others"), std::to_string(kPrintEvery), std::string("--status"),
          std::string("100")})
      args.push_back(word);
    args.insert(args.end(), walk.begin(), walk.end());
    return std::make_unique<BackgroundProgram>(args,
                                               server.directory() / ("bot-" + prefix + ".txt"));
  }

  std::unique_ptr<NetLab> lab;
  KServerProcess server;
};

TEST_F(NatE2E, PlayersBehindRandomPortNatsAndOnALossyLinkSeeEachOtherMoveAndChat) {
  const std::string home1 = lab->AddNatHome(1);
  const std::string home2 = lab->AddNatHome(2);
  lab->DropUdp(lab->Public(), 10);
  ASSERT_TRUE(lab->error().empty()) << lab->error();
  KServerOptions options;
  options.command_prefix = NetLab::In(lab->Public());
  ASSERT_TRUE(server.Start(options)) << server.Log();

  // Two players behind NATs and two on the public side, all walking in circles but one, which
  // stands, walks ahead from 8 s to 9.2 s and then stops for good.
  const std::vector<std::string> circle = {"--walk", "circle"};
  std::vector<std::pair<std::string, std::unique_ptr<BackgroundProgram>>> bots;
  bots.emplace_back("natA1", StartBot(home1, "natA", circle));
  bots.emplace_back("natB1", StartBot(home2, "natB", circle));
  bots.emplace_back("pubC1",
                    StartBot(lab->Public(), "pubC",
                             {"--walk", "forward", "--walk-after", "8", "--walk-until", "9.2"}));
  bots.emplace_back("pubD1", StartBot(lab->Public(), "pubD", circle));
  std::map<std::string, BotView> views;
  for (auto& [name, program] : bots) {
    EXPECT_EQ(program->Wait(std::chrono::seconds(static_cast<int>(kRunSeconds) + 30)), 0)
        << name << ":\n"
        << program->Output();
    BotView& view = views[name];
    view.name = name;
    view.output = program->Output();
    view.Parse();
  }

  // The NATed bots heard nothing over UDP, said so, and went over to the server's relay; the
  // public pair kept exchanging datagrams directly, despite the loss.
  for (const std::string name : {"natA1", "natB1"}) {
    EXPECT_EQ(views[name].udp_fallbacks, 1) << views[name].output;
    EXPECT_NE(views[name].output.find("notice: UDP is blocked"), std::string::npos);
  }
  for (const std::string name : {"pubC1", "pubD1"}) {
    EXPECT_EQ(views[name].udp_fallbacks, 0) << views[name].output;
    EXPECT_GT(views[name].datagrams_received, 20) << views[name].output;
  }

  for (auto& [observer, view] : views) {
    for (const auto& [other, unused] : views) {
      if (other == observer) continue;
      ASSERT_FALSE(view.seen[other].empty()) << observer << " never saw " << other;
      EXPECT_TRUE(view.HeardChatOf(other)) << observer << " never heard " << other;
    }
    // The walkers are seen moving once the NATed ones have fallen back (5 s after they met
    // their peers)...
    for (const std::string walker : {"natA1", "natB1", "pubD1"}) {
      if (walker == observer) continue;
      EXPECT_TRUE(FirstMoveAfter(view.seen[walker], 7.0).has_value())
          << observer << " does not see " << walker << " walk";
    }
    // ... and the one that starts at 8 s within 3 s.
    if (observer != "pubC1") {
      const std::optional<double> moved = FirstMoveAfter(view.seen["pubC1"], 8.0);
      ASSERT_TRUE(moved.has_value()) << observer << " does not see pubC1 walk";
      EXPECT_LE(*moved, 11.0) << observer;
    }
  }

  // The bot that stopped is seen where it stopped within 2 s, also over the lossy link, where
  // its last movement datagram may be lost and only the keep-alive repairs it.
  const BotView& stopper = views["pubC1"];
  ASSERT_FALSE(stopper.own.empty());
  const Point final_place = stopper.own.back();
  const std::optional<double> stopped = SettledAt(stopper.own, final_place);
  ASSERT_TRUE(stopped.has_value());
  EXPECT_GT(*stopped, 9.0);
  EXPECT_LT(*stopped, 10.0);
  for (const std::string observer : {"natA1", "natB1", "pubD1"}) {
    const std::optional<double> seen = SettledAt(views[observer].seen["pubC1"], final_place);
    ASSERT_TRUE(seen.has_value()) << observer << " never saw pubC1 where it stopped";
    EXPECT_LE(*seen - *stopped, 2.0 + 2 * kPrintEvery) << observer;
  }
}

}  // namespace
}  // namespace tarvo::testing
