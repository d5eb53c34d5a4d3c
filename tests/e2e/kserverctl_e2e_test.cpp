// kserverctl end to end: the real program against a real kserver with accounts made by
// `kserver --add-account`, and a player client on the same port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/kserver_process.h"
#include "support/protocol_client.h"

extern char** environ;

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using testing::KServerProcess;

struct CtlResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class KServerCtlE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Prepare(KServerProcess::BundledWorld()));
    const std::string dir = server_.directory().string();
    std::string output;
    for (const auto& [name, password, rights] :
         std::vector<std::tuple<std::string, std::string, std::string>>{{"admin", "secret", "3"},
                                                                        {"trusted", "t", "2"},
                                                                        {"police", "p", "1"},
                                                                        {"bob", "b", "0"}}) {
      ASSERT_EQ(KServerProcess::RunOnce(
                    {"--add-account", name, password, "--rights", rights, "--dir", dir}, &output),
                0)
          << output;
    }
    ASSERT_TRUE(server_.Start()) << server_.Log();
    scratch_ = server_.directory() / "ctl-output";
    std::filesystem::create_directories(scratch_);
  }

  // Starts kserverctl with `args` after the connection options; returns its pid.
  pid_t Spawn(const std::vector<std::string>& args, const std::string& account,
              const std::string& password, const std::string& tag) {
    std::vector<std::string> all = {(std::filesystem::path(TARVO_BIN_DIR) / "kserverctl").string(),
                                    "--port",
                                    std::to_string(server_.port()),
                                    "--account",
                                    account,
                                    "--password",
                                    password,
                                    "--timeout",
                                    "2"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = (scratch_ / (tag + ".out")).string();
    const std::string err = (scratch_ / (tag + ".err")).string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  CtlResult Finish(pid_t pid, const std::string& tag) {
    CtlResult result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
      result.status = WEXITSTATUS(status);
    }
    result.out = ReadFile(scratch_ / (tag + ".out"));
    result.err = ReadFile(scratch_ / (tag + ".err"));
    return result;
  }

  CtlResult Ctl(const std::vector<std::string>& args, const std::string& account = "admin",
                const std::string& password = "secret") {
    const std::string tag = "run" + std::to_string(++runs_);
    return Finish(Spawn(args, account, password, tag), tag);
  }

  KServerProcess server_;
  std::filesystem::path scratch_;
  int runs_ = 0;
};

TEST_F(KServerCtlE2E, ListsAccountsAndRefusesBadLogins) {
  CtlResult r = Ctl({"--json", "accounts"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("name":"admin","rights":3,"rights_caption":"Administrator")"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(R"("name":"guest","rights":0,"rights_caption":"No rights","state":"guest")"),
            std::string::npos)
      << r.out;

  for (const auto& [account, password] : std::vector<std::pair<std::string, std::string>>{
           {"admin", "wrong"}, {"bob", "b"}, {"nobody", "x"}}) {
    r = Ctl({"accounts"}, account, password);
    EXPECT_EQ(r.status, 3) << account;
    EXPECT_NE(r.err.find("login refused: wrong account or password, no rights, or blocked"),
              std::string::npos)
        << r.err;
  }
}

TEST_F(KServerCtlE2E, AccountLifecycle) {
  CtlResult r = Ctl({"add-account", "carol", "pw", "--rights", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"carol\" with rights 1 (Tarvoian Police)"), std::string::npos) << r.out;

  r = Ctl({"set-account", "carol", "--set", "level=castle.x", "--set", "position=1.5,2,3",
           "--blocked"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Ctl({"--json", "account", "carol"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("rights":1,"rights_caption":"Tarvoian Police","guest":false,)"
                       R"("blocked":true)"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(R"("x":1.5,"y":2,"z":3)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"("level":"castle.x")"), std::string::npos) << r.out;

  // Blocked: carol cannot log in any more.
  EXPECT_EQ(Ctl({"accounts"}, "carol", "pw").status, 3);

  r = Ctl({"delete-account", "carol"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Ctl({"account", "carol"});
  EXPECT_EQ(r.status, 5);
}

TEST_F(KServerCtlE2E, RightsDecideWhatHasAnEffect) {
  // Police may read bob (rights 0) but not the administrator, and may not delete.
  EXPECT_EQ(Ctl({"account", "bob"}, "police", "p").status, 0);
  CtlResult r = Ctl({"account", "admin"}, "police", "p");
  EXPECT_EQ(r.status, 6);
  EXPECT_NE(r.err.find("no visible effect"), std::string::npos) << r.err;
  EXPECT_EQ(Ctl({"delete-account", "bob"}, "police", "p").status, 6);
  // A trusted admin asking for rights 3 gets its own rights stored.
  r = Ctl({"set-account", "bob", "--rights", "3"}, "trusted", "t");
  EXPECT_EQ(r.status, 6);
  EXPECT_NE(r.err.find("the server kept rights"), std::string::npos) << r.err;
  r = Ctl({"--json", "account", "bob"});
  EXPECT_NE(r.out.find(R"("rights":2)"), std::string::npos) << r.out;
}

TEST_F(KServerCtlE2E, WatchSeesAPlayerComeAndKickSendsItAway) {
  const pid_t watch = Spawn({"--json", "watch"}, "admin", "secret", "watch");
  ASSERT_GT(watch, 0);
  std::this_thread::sleep_for(500ms);  // the watch is logged in

  testing::ProtocolClient player;
  ASSERT_TRUE(player.Connect(server_.port()));
  player.Login("guest", "guest");
  ASSERT_TRUE(player.WaitFor(protocol::msg::kOwnProperties).has_value());

  CtlResult r = Ctl({"--json", "players"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("account":"guest")"), std::string::npos) << r.out;

  r = Ctl({"kick", "guest"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto reason = player.WaitFor(protocol::msg::kDisconnectReason);
  ASSERT_TRUE(reason.has_value());
  EXPECT_EQ(reason->payload, "The server administrator has disconnected you.");
  EXPECT_TRUE(player.WaitClosed());

  std::this_thread::sleep_for(300ms);
  ::kill(watch, SIGINT);
  r = Finish(watch, "watch");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"({"notice":"player_joined",)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"({"notice":"player_left",)"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tarvo
