// kserver's command line, parsed without starting the program, and the server directory's lock.
#include "server/launch/server_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/files.h"
#include "net/address.h"
#include "server/launch/server_launch.h"

namespace tarvo::server {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

ServerCommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "kserver");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return ParseServerOptions(static_cast<int>(argv.size()), argv.data());
}

// A command line that must fail: its status, with the reason on stderr and nothing on stdout.
std::string Refused(std::vector<std::string> args) {
  const ServerCommandLine line = Parse(std::move(args));
  EXPECT_FALSE(line.options);
  EXPECT_EQ(line.exit_status, 2);
  EXPECT_EQ(line.out, "");
  return line.err;
}

TEST(ServerOptionsTest, DefaultsAreThoseTheHelpNames) {
  const ServerCommandLine line = Parse({});
  ASSERT_TRUE(line.options) << line.err;
  const ServerOptions& o = *line.options;
  EXPECT_FALSE(o.headless);
  EXPECT_FALSE(o.directory);
  EXPECT_FALSE(o.port_text);
  EXPECT_EQ(o.listen_address, 0U);
  EXPECT_FALSE(o.add_account);
  EXPECT_EQ(o.stats_every, 0);
  EXPECT_FALSE(o.verbose);
  EXPECT_EQ(o.compressor, protocol::Compressor::kShared);
  EXPECT_EQ(o.threads, static_cast<int>(std::max(1U, std::thread::hardware_concurrency())));
  const ServerLimits& l = o.limits;
  EXPECT_EQ(l.login_timeout, seconds(15));
  EXPECT_EQ(l.idle_timeout, seconds(60));
  EXPECT_EQ(l.messages_per_tick, 64);
  EXPECT_EQ(l.login_failures, 5);
  EXPECT_EQ(l.login_failure_window, seconds(60));
  EXPECT_EQ(l.login_cooldown, seconds(10));
  EXPECT_EQ(l.login_cooldown_max, seconds(600));
  EXPECT_EQ(l.login_names_per_address, 20);
  EXPECT_EQ(l.account_failures, 10);
  EXPECT_EQ(l.account_failure_window, seconds(600));
  EXPECT_EQ(l.account_check_interval, seconds(2));
  EXPECT_EQ(l.account_check_interval_max, seconds(60));
  EXPECT_EQ(l.password_checks_per_second, 200);
  EXPECT_EQ(l.max_pending_per_address, 8);
  EXPECT_EQ(l.max_pending, 64);
  EXPECT_EQ(l.max_sessions_per_address, 32);
  EXPECT_EQ(l.send_buffer_bytes, 65536);
  EXPECT_EQ(o.log_limits.lines_per_second, 5);
  EXPECT_EQ(o.log_limits.lines_per_minute, 300);
  EXPECT_EQ(o.log_limits.summary_every, seconds(60));
}

TEST(ServerOptionsTest, EveryOptionReachesItsField) {
  const ServerCommandLine line = Parse({"--headless",
                                        "--dir",
                                        "/srv/world",
                                        "--port",
                                        "0",
                                        "--listen",
                                        "127.0.0.1",
                                        "--stats",
                                        "100",
                                        "--compressor",
                                        "zlib",
                                        "--threads",
                                        "3",
                                        "--verbose",
                                        "--login-timeout",
                                        "1.5",
                                        "--idle-timeout",
                                        "2",
                                        "--messages-per-tick",
                                        "7",
                                        "--login-failures",
                                        "3",
                                        "--login-failure-window",
                                        "4",
                                        "--login-cooldown",
                                        "5",
                                        "--login-cooldown-max",
                                        "6",
                                        "--max-pending-per-address",
                                        "0",
                                        "--max-pending",
                                        "9",
                                        "--max-sessions-per-address",
                                        "10",
                                        "--login-names-per-address",
                                        "11",
                                        "--account-failures",
                                        "12",
                                        "--password-checks-per-second",
                                        "13",
                                        "--account-failure-window",
                                        "14",
                                        "--account-check-interval",
                                        "0.25",
                                        "--account-check-interval-max",
                                        "16",
                                        "--send-buffer",
                                        "0",
                                        "--log-per-address",
                                        "0",
                                        "--log-per-minute",
                                        "17",
                                        "--log-summary-every",
                                        "18"});
  ASSERT_TRUE(line.options) << line.err;
  const ServerOptions& o = *line.options;
  EXPECT_TRUE(o.headless);
  EXPECT_EQ(o.directory, std::filesystem::path("/srv/world"));
  EXPECT_EQ(o.port_text, "0");
  EXPECT_EQ(o.listen_address, *net::ParseIpv4("127.0.0.1"));
  EXPECT_EQ(o.stats_every, 100);
  EXPECT_EQ(o.compressor, protocol::Compressor::kZlib);
  EXPECT_EQ(o.threads, 3);
  EXPECT_TRUE(o.verbose);
  const ServerLimits& l = o.limits;
  EXPECT_EQ(l.login_timeout, milliseconds(1500));
  EXPECT_EQ(l.idle_timeout, seconds(2));
  EXPECT_EQ(l.messages_per_tick, 7);
  EXPECT_EQ(l.login_failures, 3);
  EXPECT_EQ(l.login_failure_window, seconds(4));
  EXPECT_EQ(l.login_cooldown, seconds(5));
  EXPECT_EQ(l.login_cooldown_max, seconds(6));
  EXPECT_EQ(l.max_pending_per_address, 0);
  EXPECT_EQ(l.max_pending, 9);
  EXPECT_EQ(l.max_sessions_per_address, 10);
  EXPECT_EQ(l.login_names_per_address, 11);
  EXPECT_EQ(l.account_failures, 12);
  EXPECT_EQ(l.password_checks_per_second, 13);
  EXPECT_EQ(l.account_failure_window, seconds(14));
  EXPECT_EQ(l.account_check_interval, milliseconds(250));
  EXPECT_EQ(l.account_check_interval_max, seconds(16));
  EXPECT_EQ(l.send_buffer_bytes, 0);
  EXPECT_EQ(o.log_limits.lines_per_second, 0);
  EXPECT_EQ(o.log_limits.lines_per_minute, 17);
  EXPECT_EQ(o.log_limits.summary_every, seconds(18));

  // The longest cool-down and check interval are never shorter than their first step; a cap
  // given twice takes the last.
  const ServerCommandLine raised =
      Parse({"--login-cooldown", "30", "--login-cooldown-max", "20", "--account-check-interval",
             "9", "--account-check-interval-max", "3", "--max-pending", "5", "--max-pending", "6"});
  ASSERT_TRUE(raised.options) << raised.err;
  EXPECT_EQ(raised.options->limits.login_cooldown_max, seconds(30));
  EXPECT_EQ(raised.options->limits.account_check_interval_max, seconds(9));
  EXPECT_EQ(raised.options->limits.max_pending, 6);
}

TEST(ServerOptionsTest, AddAccountTakesItsFieldsAndStartsNothing) {
  const ServerCommandLine line = Parse(
      {"--add-account", "admin", "secret", "--rights", "3", "--guest", "--listen", "0.0.0.0"});
  ASSERT_TRUE(line.options) << line.err;
  ASSERT_TRUE(line.options->add_account);
  EXPECT_EQ(line.options->add_account->name, "admin");
  EXPECT_EQ(line.options->add_account->password, "secret");
  EXPECT_EQ(line.options->add_account->rights, 3);
  EXPECT_TRUE(line.options->add_account->load_only);

  const std::string conflict =
      "kserver: --add-account does not start the server; leave out --headless, --port and "
      "--listen\n";
  EXPECT_EQ(Refused({"--add-account", "a", "b", "--headless"}), conflict);
  EXPECT_EQ(Refused({"--add-account", "a", "b", "--port", "14901"}), conflict);
  EXPECT_EQ(Refused({"--add-account", "a", "b", "--listen", "127.0.0.1"}), conflict);
  EXPECT_NE(Refused({"--rights", "3"}).find("--rights requires --add-account"), std::string::npos);
  EXPECT_NE(Refused({"--guest"}).find("--guest requires --add-account"), std::string::npos);
  EXPECT_NE(Refused({"--add-account", "only-a-name"}).find("--add-account"), std::string::npos);
  // --stats belongs to a headless run.
  EXPECT_EQ(Refused({"--stats", "5"}), "kserver: --stats needs --headless\n");
  EXPECT_TRUE(Parse({"--stats", "5", "--headless"}).options);
}

TEST(ServerOptionsTest, ValuesOutsideTheirRangeAreABadCommandLine) {
  EXPECT_TRUE(Parse({"--threads", "1"}).options);
  EXPECT_TRUE(Parse({"--threads", "64"}).options);
  EXPECT_TRUE(Parse({"--rights", "0", "--add-account", "a", "b"}).options);
  EXPECT_TRUE(Parse({"--send-buffer", "16777216"}).options);
  EXPECT_TRUE(Parse({"--messages-per-tick", "1"}).options);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--threads", "0"},
                                             {"--threads", "65"},
                                             {"--rights", "4", "--add-account", "a", "b"},
                                             {"--send-buffer", "16777217"},
                                             {"--messages-per-tick", "0"},
                                             {"--login-failures", "0"},
                                             {"--max-pending", "-1"},
                                             {"--login-timeout", "0"},
                                             {"--log-summary-every", "0"},
                                             {"--log-per-minute", "-1"},
                                             {"--stats", "-1"},
                                             {"--compressor", "gzip"},
                                             {"--port"},
                                             {"--unknown"}}) {
    EXPECT_NE(Refused(args), "") << args[0];
  }
  EXPECT_NE(Refused({"--listen", "1.2.3"}).find("not a dotted IPv4 address"), std::string::npos);
}

TEST(ServerOptionsTest, HelpGoesToStdoutWithStatusZero) {
  const ServerCommandLine line = Parse({"--help"});
  EXPECT_FALSE(line.options);
  EXPECT_EQ(line.exit_status, 0);
  EXPECT_EQ(line.err, "");
  EXPECT_EQ(line.out.rfind("kserver: the Tarvo3D game server.\n", 0), 0U) << line.out;
  EXPECT_NE(line.out.find("--log-summary-every"), std::string::npos);
  std::ostringstream out, err;
  EXPECT_EQ(line.Finish(out, err), 0);
  EXPECT_EQ(out.str(), line.out);
}

TEST(ServerDirectoryTest, OneProgramAtATimeAndNeverASystemFolder) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kserver-dir-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ServerOptions options;
  {
    const auto usable = OpenServerDirectory(options, dir);
    ASSERT_TRUE(usable) << usable.error();
    EXPECT_EQ(usable->path, dir);
    ASSERT_TRUE(usable->lock && usable->lock->locked());
    // A second program finds it taken; one that adds an account is told of kserverctl.
    options.add_account.emplace();
    const auto taken = OpenServerDirectory(options, dir);
    EXPECT_EQ(taken.error(), "kserver: another kserver uses " + dir.string() +
                                 " (it holds kserver.lock). Add accounts to a running server with "
                                 "kserverctl add-account.\n");
  }
  EXPECT_TRUE(OpenServerDirectory(options, dir)) << "the lock ends with its holder";

  // The program's own folder is refused where only a package may write; --dir is taken as given.
  options.add_account.reset();
  EXPECT_NE(OpenServerDirectory(options, "/usr/bin").error().find("is no place for a world"),
            std::string::npos);
  options.directory = dir;
  EXPECT_EQ(OpenServerDirectory(options, "/usr/bin")->path, dir);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvo::server
