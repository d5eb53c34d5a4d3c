// tarvo3d's command line, parsed without starting the program.
#include "client/mainwindow/client_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo::client {
namespace {

ClientCommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tarvo3d");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return ParseClientOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(ClientOptionsTest, DefaultsShowTheConnectDialogAlone) {
  const ClientCommandLine line = Parse({});
  ASSERT_TRUE(line.options) << line.err;
  const ClientOptions& o = *line.options;
  EXPECT_FALSE(o.connect_host);
  EXPECT_FALSE(o.connect_port);
  EXPECT_FALSE(o.wait_for_start);
  EXPECT_EQ(o.account, "");
  EXPECT_EQ(o.password, "");
  EXPECT_EQ(o.nickname, "");
  EXPECT_FALSE(o.config_dir);
  EXPECT_FALSE(o.screenshot);
  EXPECT_EQ(o.quit_after, 0);
}

TEST(ClientOptionsTest, EveryOptionReachesItsField) {
  const ClientCommandLine line =
      Parse({"--connect", "game.example:2000", "--wait", "--account", "a", "--password", "p",
             "--nickname", "Bob", "--config-dir", "/tmp/cfg", "--screenshot", "shot.png",
             "--quit-after", "2.5"});
  ASSERT_TRUE(line.options) << line.err;
  const ClientOptions& o = *line.options;
  EXPECT_EQ(o.connect_host, "game.example");
  EXPECT_EQ(o.connect_port, "2000");
  EXPECT_TRUE(o.wait_for_start);
  EXPECT_EQ(o.account, "a");
  EXPECT_EQ(o.password, "p");
  EXPECT_EQ(o.nickname, "Bob");
  EXPECT_EQ(o.config_dir, std::filesystem::path("/tmp/cfg"));
  EXPECT_EQ(o.screenshot, std::filesystem::path("shot.png"));
  EXPECT_EQ(o.quit_after, 2.5);

  // The port follows the last colon; without one the dialog keeps its own port.
  const ClientCommandLine host_only = Parse({"--connect", "game.example"});
  EXPECT_EQ(host_only.options->connect_host, "game.example");
  EXPECT_FALSE(host_only.options->connect_port);
  const ClientCommandLine colons = Parse({"--connect", "a:b:14901"});
  EXPECT_EQ(colons.options->connect_host, "a:b");
  EXPECT_EQ(colons.options->connect_port, "14901");
  EXPECT_FALSE(Parse({"--connect", ""}).options->connect_host);
}

TEST(ClientOptionsTest, BadCommandLinesAndHelp) {
  const ClientCommandLine shot = Parse({"--screenshot", "shot.png"});
  EXPECT_FALSE(shot.options);
  EXPECT_EQ(shot.exit_status, 2);
  EXPECT_EQ(shot.err, "tarvo3d: --screenshot needs --quit-after SECONDS\n");
  // The parser's own statuses: a value it refuses, an option it does not know.
  const ClientCommandLine zero = Parse({"--quit-after", "0"});
  EXPECT_FALSE(zero.options);
  EXPECT_EQ(zero.exit_status, 105);
  EXPECT_NE(zero.err.find("--quit-after"), std::string::npos);
  EXPECT_EQ(Parse({"--fullscreen"}).exit_status, 109);

  const ClientCommandLine help = Parse({"--help"});
  EXPECT_FALSE(help.options);
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("Tarvo 3D, the game client"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace tarvo::client
