// kserverctl's command line as the program sees it: the help, and the status of a wrong one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/kserverctl/command_line.h"

namespace tarvo::kserverctl {
namespace {

CtlCommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "kserverctl");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CtlCommandLineTest, WrongArgumentsEndWithStatusOne) {
  const CtlCommandLine good = Parse({"--account", "admin", "--timeout", "86400", "kick", "7"});
  ASSERT_TRUE(good.options) << good.err;
  EXPECT_EQ(good.options->command, "kick");
  EXPECT_EQ(good.options->target, "7");
  EXPECT_EQ(good.options->session.timeout, std::chrono::hours(24));

  // What the parser refuses and what the checks after it refuse end alike, as the help says.
  const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
      {{"accounts"}, "--account is required"},
      {{"--account", "a"}, "A subcommand is required"},
      {{"--account", "a", "--timeout", "0", "accounts"}, "--timeout"},
      {{"--account", "a", "--timeout", "86401", "accounts"},
       "kserverctl: --timeout must be a positive number of seconds\n"},
      {{"--account", "a", "add-account", "n", "p", "--rights", "4"}, "--rights"},
      {{"--account", "a", "set-account", "bob"}, "kserverctl: set-account: nothing to change"},
      {{"--account", "a", "set-player", "3", "--set", "colour=red"}, "kserverctl: "},
      {{"--account", "a", "dance"}, "A subcommand is required"},
  };
  for (const auto& [args, reason] : wrong) {
    const CtlCommandLine line = Parse(args);
    EXPECT_FALSE(line.options) << args.back();
    EXPECT_EQ(line.exit_status, 1) << args.back();
    EXPECT_EQ(line.out, "");
    EXPECT_NE(line.err.find(reason), std::string::npos) << line.err;
  }
}

TEST(CtlCommandLineTest, HelpEndsWithStatusZero) {
  const CtlCommandLine help = Parse({"--help"});
  EXPECT_FALSE(help.options);
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("Exit status: 0 done, 1 wrong arguments"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace tarvo::kserverctl
