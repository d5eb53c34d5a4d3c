// kserverctl end to end: the real program against a real kserver with accounts made by
// `kserver --add-account`, and a player client on the same port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/encoding.h"
#include "protocol/properties.h"
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

// One JSON document as kserverctl wrote it; a null document when it does not parse.
QJsonDocument ParseJson(const std::string& text) {
  QJsonParseError error{};
  QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
  return doc;
}

std::string Str(const QJsonValue& value) { return value.toString().toStdString(); }

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

// A player on the bundled world's guest account, or on bob's.
int JoinPlayer(testing::ProtocolClient& player, std::uint16_t port, const std::string& account,
               const std::string& password) {
  if (!player.Connect(port)) return 0;
  player.Login(account, password);
  const auto own = player.WaitFor(protocol::msg::kOwnProperties);
  if (!own) return 0;
  const auto id = protocol::ParsePlayerId(own->payload.substr(1));
  return id ? *id : 0;
}

TEST_F(KServerCtlE2E, PlayersAndOnePlayerReadBackAsJson) {
  testing::ProtocolClient bob;
  const int id = JoinPlayer(bob, server_.port(), "bob", "b");
  ASSERT_GT(id, 0);
  std::string nickname;
  protocol::PutEntry(nickname, protocol::kPropNickname, 0, "Bobby");
  bob.Send(protocol::msg::kProperties, nickname);
  std::this_thread::sleep_for(200ms);

  CtlResult r = Ctl({"--json", "players"});
  ASSERT_EQ(r.status, 0) << r.err;
  const QJsonArray players = ParseJson(r.out).array();
  ASSERT_EQ(players.size(), 1) << r.out;
  const QJsonObject listed = players[0].toObject();
  EXPECT_EQ(listed["id"].toInt(), id);
  EXPECT_EQ(Str(listed["account"]), "bob");
  EXPECT_EQ(Str(listed["properties"].toObject()["level"]), "startlevel.x");
  EXPECT_EQ(Str(listed["properties"].toObject()["nickname"]), "Bobby");

  r = Ctl({"--json", "player", "bob"}, "police", "p");
  ASSERT_EQ(r.status, 0) << r.err;
  const QJsonObject player = ParseJson(r.out).object();
  EXPECT_EQ(player["id"].toInt(), id);
  EXPECT_EQ(player["rights"].toInt(), 0);
  EXPECT_FALSE(player["guest"].toBool());
  const QJsonObject properties = player["properties"].toObject();
  EXPECT_EQ(Str(properties["address"]), "127.0.0.1");
  EXPECT_EQ(Str(properties["nickname"]), "Bobby");
  EXPECT_EQ(properties["angle"].toDouble(), 270);

  // The table names the same fields.
  r = Ctl({"player", std::to_string(id)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("127.0.0.1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("startlevel.x"), std::string::npos) << r.out;
}

TEST_F(KServerCtlE2E, SetPlayerSayTellAndReloadReachThePlayers) {
  testing::ProtocolClient bob;
  const int bob_id = JoinPlayer(bob, server_.port(), "bob", "b");
  ASSERT_GT(bob_id, 0);
  testing::ProtocolClient guest;
  const int guest_id = JoinPlayer(guest, server_.port(), "guest", "guest");
  ASSERT_GT(guest_id, 0);

  // Another level for bob; police may change a player of no rights.
  CtlResult r = Ctl({"--json", "set-player", "bob", "--set", "level=courtyard.x"}, "police", "p");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Str(ParseJson(r.out).object()["properties"].toObject()["level"]), "courtyard.x");
  auto level = bob.WaitFor(protocol::msg::kLevelName, 5s,
                           [](const testing::Received& m) { return m.payload == "courtyard.x"; });
  ASSERT_TRUE(level.has_value());
  // A player without an account takes an edit too, and keeps the name it logged in with.
  r = Ctl({"set-player", std::to_string(guest_id), "--set", "head_mesh=hat.x"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Ctl({"--json", "player", std::to_string(guest_id)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Str(ParseJson(r.out).object()["account"]), "guest");
  EXPECT_EQ(Str(ParseJson(r.out).object()["properties"].toObject()["head_mesh"]), "hat.x");

  const std::string mark(1, protocol::kParagraphMark);
  r = Ctl({"--json", "say", "Restart", "in", "5", "minutes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ParseJson(r.out).object()["players"].toInt(), 2) << r.out;
  for (testing::ProtocolClient* p : {&bob, &guest}) {
    const auto said = p->WaitFor(protocol::msg::kAdminMessage);
    ASSERT_TRUE(said.has_value());
    EXPECT_EQ(said->payload, "Administrator admin:" + mark + "Restart in 5 minutes");
  }
  EXPECT_EQ(Ctl({"say", "no"}, "police", "p").status, 6);
  r = Ctl({"tell", "bob", "behave"}, "police", "p");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto told = bob.WaitFor(protocol::msg::kAdminMessage);
  ASSERT_TRUE(told.has_value());
  EXPECT_EQ(told->payload, "Police police:" + mark + "behave");

  r = Ctl({"reload", "courtyard.x"}, "trusted", "t");
  ASSERT_EQ(r.status, 0) << r.err;
  level = bob.WaitFor(protocol::msg::kLevelName);
  ASSERT_TRUE(level.has_value());
  const auto text = bob.WaitFor(protocol::msg::kLevelData);
  ASSERT_TRUE(text.has_value());
  EXPECT_FALSE(text->payload.empty());
  EXPECT_TRUE(server_.WaitForLog("reload levels \"courtyard.x\""));
}

TEST_F(KServerCtlE2E, WatchPrintsJoinMoveLevelChangeAndLeave) {
  const pid_t watch = Spawn({"--json", "watch"}, "police", "p", "watch2");
  ASSERT_GT(watch, 0);
  std::this_thread::sleep_for(500ms);

  testing::ProtocolClient bob;
  const int id = JoinPlayer(bob, server_.port(), "bob", "b");
  ASSERT_GT(id, 0);
  std::string moved;
  protocol::PutEntry(moved, protocol::kPropX, 12.5);
  bob.Send(protocol::msg::kProperties, moved);
  std::this_thread::sleep_for(200ms);
  ASSERT_EQ(Ctl({"set-player", "bob", "--set", "level=courtyard.x"}).status, 0);
  bob.Close();
  std::this_thread::sleep_for(500ms);
  ::kill(watch, SIGINT);
  const CtlResult r = Finish(watch, "watch2");
  EXPECT_EQ(r.status, 0) << r.err;

  // One JSON object per line; the player's story in order.
  std::vector<std::string> story;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const QJsonObject notice = ParseJson(line).object();
    const std::string name = Str(notice["notice"]);
    const QJsonObject properties = notice["properties"].toObject();
    if (name == "player_joined" && notice["id"].toInt() == id) {
      story.push_back("joined " + Str(notice["account"]) + " in " + Str(properties["level"]));
    } else if (name == "player_changed" && properties.contains("x")) {
      story.push_back("moved to x " + std::to_string(properties["x"].toDouble()));
    } else if (name == "player_changed" && properties.size() == 1 && properties.contains("level")) {
      story.push_back("entered " + Str(properties["level"]));
    } else if (name == "player_left" && notice["id"].toInt() == id) {
      story.push_back("left");
    }
  }
  EXPECT_EQ(story,
            (std::vector<std::string>{"entered startlevel.x", "joined bob in startlevel.x",
                                      "moved to x 12.500000", "entered courtyard.x", "left"}))
      << r.out;
}

}  // namespace
}  // namespace tarvo
