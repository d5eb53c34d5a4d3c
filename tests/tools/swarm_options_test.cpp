// tarvo-bot's command line, parsed without starting a bot.
#include "tools/tarvo-bot/swarm_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo::bot {
namespace {

const std::vector<std::string> kDefaultFolders = {"/usr/share/tarvo3d", "/opt/bin"};

SwarmCommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tarvo-bot");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return ParseSwarmOptions(static_cast<int>(argv.size()), argv.data(), kDefaultFolders);
}

TEST(SwarmOptionsTest, Defaults) {
  const SwarmCommandLine line = Parse({});
  ASSERT_TRUE(line.options) << line.err;
  const SwarmOptions& o = *line.options;
  EXPECT_EQ(o.bot.host, "127.0.0.1");
  EXPECT_EQ(o.bot.port, "14901");
  EXPECT_EQ(o.bot.account, "guest");
  EXPECT_EQ(o.bot.password, "guest");
  EXPECT_EQ(o.bot.nick_prefix, "bot");
  EXPECT_EQ(o.bot.walk, WalkPattern::kCircle);
  EXPECT_EQ(o.bot.walk_after, 0);
  EXPECT_EQ(o.bot.walk_until, 0);
  EXPECT_EQ(o.bot.jump_seconds, 0);
  EXPECT_EQ(o.bot.chat_seconds, 0);
  EXPECT_FALSE(o.bot.no_udp);
  EXPECT_EQ(o.bot.asset_folders, kDefaultFolders);
  EXPECT_EQ(o.bot.verbose, nullptr);
  EXPECT_EQ(o.count, 1);
  EXPECT_EQ(o.duration, 0);
  EXPECT_EQ(o.status_seconds, 5);
  EXPECT_FALSE(o.verbose);
  EXPECT_EQ(o.others_seconds, 0);
}

TEST(SwarmOptionsTest, EveryOptionReachesItsField) {
  const SwarmCommandLine line = Parse({"--host",
                                       "game.example",
                                       "--port",
                                       "2000",
                                       "--count",
                                       "200",
                                       "--account",
                                       "a",
                                       "--password",
                                       "p",
                                       "--nick-prefix",
                                       "walker",
                                       "--walk",
                                       "random",
                                       "--walk-after",
                                       "1.5",
                                       "--walk-until",
                                       "9",
                                       "--jump",
                                       "2",
                                       "--chat",
                                       "3",
                                       "--no-udp",
                                       "--duration",
                                       "30",
                                       "--status",
                                       "0.5",
                                       "--verbose",
                                       "--others",
                                       "4",
                                       "--assets",
                                       "/a",
                                       "--assets",
                                       "/b"});
  ASSERT_TRUE(line.options) << line.err;
  const SwarmOptions& o = *line.options;
  EXPECT_EQ(o.bot.host, "game.example");
  EXPECT_EQ(o.bot.port, "2000");
  EXPECT_EQ(o.count, 200);
  EXPECT_EQ(o.bot.account, "a");
  EXPECT_EQ(o.bot.password, "p");
  EXPECT_EQ(o.bot.nick_prefix, "walker");
  EXPECT_EQ(o.bot.walk, WalkPattern::kRandom);
  EXPECT_EQ(o.bot.walk_after, 1.5);
  EXPECT_EQ(o.bot.walk_until, 9);
  EXPECT_EQ(o.bot.jump_seconds, 2);
  EXPECT_EQ(o.bot.chat_seconds, 3);
  EXPECT_TRUE(o.bot.no_udp);
  EXPECT_EQ(o.duration, 30);
  EXPECT_EQ(o.status_seconds, 0.5);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.others_seconds, 4);
  // Folders named on the command line are searched first.
  EXPECT_EQ(o.bot.asset_folders,
            (std::vector<std::string>{"/a", "/b", "/usr/share/tarvo3d", "/opt/bin"}));
  for (const char* walk : {"still", "forward", "circle"}) {
    EXPECT_TRUE(Parse({"--walk", walk}).options) << walk;
  }
  EXPECT_EQ(Parse({"--walk", "still"}).options->bot.walk, WalkPattern::kStill);
}

TEST(SwarmOptionsTest, BadValuesEndWithTheParsersStatus) {
  EXPECT_TRUE(Parse({"--count", "1"}).options);
  // The parser's status for a value it refuses, and for an option it does not know.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--count", "0"},
                                             {"--count", "201"},
                                             {"--walk", "backwards"},
                                             {"--status", "0"},
                                             {"--jump", "-1"},
                                             {"--duration", "-1"}}) {
    const SwarmCommandLine line = Parse(args);
    EXPECT_FALSE(line.options) << args[0];
    EXPECT_EQ(line.exit_status, 105) << args[0];
    EXPECT_NE(line.err.find(args[0]), std::string::npos) << line.err;
  }
  EXPECT_EQ(Parse({"--swarm"}).exit_status, 109);

  const SwarmCommandLine help = Parse({"--help"});
  EXPECT_FALSE(help.options);
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("Headless players: N bots"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace tarvo::bot
