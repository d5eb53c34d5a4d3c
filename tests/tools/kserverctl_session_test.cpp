// The remote session and the commands against a scripted server on a real loopback socket:
// when the login counts as done, what a silent server means, and what each command sends.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <sstream>

#include "protocol/messages.h"
#include "protocol/properties.h"
#include "tests/tools/fake_remote_server.h"
#include "tools/kserverctl/commands.h"
#include "tools/kserverctl/decoding.h"

namespace tarvo::kserverctl {
namespace {

using namespace std::chrono_literals;
using testing::FakeAccount;
using testing::FakePlayer;
using testing::FakeRemoteServer;

FakeAccount Account(int number, std::string name, std::string password, int rights,
                    bool in_use = false) {
  FakeAccount a;
  a.number = number;
  a.name = std::move(name);
  a.password = std::move(password);
  a.rights = rights;
  a.in_use = in_use;
  return a;
}

std::string Entries(std::initializer_list<std::pair<int, std::string>> texts) {
  std::string out;
  for (const auto& [index, text] : texts) protocol::PutEntry(out, index, 0, text);
  return out;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.accounts = {
        Account(1, "admin", "secret", 3), Account(2, "police", "pw", 1),
        Account(3, "bob", "b", 0, true),  Account(4, "boss", "x", 3),
        Account(5, "twin", "t", 0),       Account(6, "twin", "t2", 0),
    };
    server_.players = {
        FakePlayer{7, "bob", 0,
                   Entries({{protocol::kPropLevelName, "startlevel.x"},
                            {protocol::kPropNickname, "Bobby"},
                            {protocol::kPropHeadMesh, "head.x"}})},
        FakePlayer{9, "boss", 3, Entries({{protocol::kPropLevelName, "castle.x"}})},
    };
  }

  // Runs one command line (after the program name) against the fake server.
  int RunLine(std::vector<std::string> args, const std::atomic<bool>* stop = nullptr) {
    server_.Start();
    Options options;
    CLI::App app;
    DefineCli(app, options);
    std::vector<std::string> argv = {"--port", std::to_string(server_.port()), "--timeout", "1"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::reverse(argv.begin(), argv.end());  // CLI11 takes a reversed vector
    app.parse(argv);
    FinishOptions(options);
    options.timestamps = false;
    const int code = kserverctl::Run(options, out_, err_, stop);
    server_.Stop();
    return code;
  }

  std::vector<std::string> Login(const std::string& account, const std::string& password) {
    return {"--account", account, "--password", password};
  }

  FakeRemoteServer server_;
  std::ostringstream out_, err_;
};

TEST_F(SessionTest, LoginWaitsForTheWholeListsEvenWithPausesBetweenPackets) {
  // Each list entry comes 120 ms after the one before: far longer than any quiet moment a
  // client might wait for, so only the reply to the own account's read may end the login.
  server_.list_gap = 120ms;
  auto args = Login("admin", "secret");
  args.push_back("accounts");
  ASSERT_EQ(RunLine(args), kExitOk) << err_.str();
  const std::string out = out_.str();
  EXPECT_NE(out.find("6 account(s)"), std::string::npos) << out;
  EXPECT_NE(out.find("3 Administrator"), std::string::npos);
  EXPECT_NE(out.find("in use"), std::string::npos);
  // The probe was a read of the own account.
  ASSERT_FALSE(server_.received.empty());
  EXPECT_EQ(server_.received.front().first, protocol::msg::kGetAccount);
}

TEST_F(SessionTest, PlayersListShowsWhatTheLoginListSaid) {
  auto args = Login("admin", "secret");
  args.insert(args.end(), {"--json", "players"});
  ASSERT_EQ(RunLine(args), kExitOk) << err_.str();
  EXPECT_EQ(out_.str(),
            R"([{"id":7,"account":"bob","properties":{"level":"startlevel.x","nickname":"Bobby",)"
            R"("head_mesh":"head.x"}},{"id":9,"account":"boss","properties":{"level":"castle.x"}}])"
            "\n");
}

TEST_F(SessionTest, LoginSucceedsWhenAnotherAccountWithTheSameNameCannotBeRead) {
  // Two accounts named "twin": a rights-3 one first, then the rights-1 one used to log in. The
  // read of the first is ignored; the read of the second ends the login.
  server_.accounts.insert(server_.accounts.begin(), Account(20, "dual", "other", 3));
  server_.accounts.push_back(Account(21, "dual", "mine", 1));
  auto args = Login("dual", "mine");
  args.push_back("accounts");
  ASSERT_EQ(RunLine(args), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("8 account(s)"), std::string::npos);
}

TEST_F(SessionTest, FailuresBeforeAndDuringTheLoginHaveTheirOwnStatusAndText) {
  {
    auto args = Login("bob", "b");  // rights 0: closed without a word
    args.push_back("accounts");
    EXPECT_EQ(RunLine(args), kExitLoginRefused);
    EXPECT_NE(err_.str().find("login refused: wrong account or password, no rights, or blocked"),
              std::string::npos)
        << err_.str();
  }
  {
    FakeRemoteServer silent;
    silent.accounts = server_.accounts;
    silent.answer_login = false;
    silent.Start();
    Options options;
    options.session.port = silent.port();
    options.session.account = "admin";
    options.session.password = "secret";
    options.session.timeout = 300ms;
    options.command = "accounts";
    std::ostringstream out, err;
    EXPECT_EQ(kserverctl::Run(options, out, err, nullptr), kExitTimeout);
    EXPECT_NE(err.str().find("no answer to the login within 0.3 s"), std::string::npos)
        << err.str();
    silent.Stop();
  }
  {
    // A port where nobody listens.
    std::uint16_t port = 0;
    {
      auto listener = net::TcpListener::Listen(0, net::kLoopbackAddress);
      ASSERT_TRUE(listener);
      port = listener->LocalPort();
    }
    Options options;
    options.session.port = port;
    options.session.account = "admin";
    options.command = "accounts";
    std::ostringstream out, err;
    EXPECT_EQ(kserverctl::Run(options, out, err, nullptr), kExitConnect);
    EXPECT_NE(err.str().find("cannot connect to 127.0.0.1:"), std::string::npos) << err.str();
  }
}

TEST_F(SessionTest, ASilentServerMeansNoVisibleEffect) {
  // Police (rights 1) may not read a rights-3 account: the server says nothing.
  auto args = Login("police", "pw");
  args.insert(args.end(), {"account", "admin"});
  EXPECT_EQ(RunLine(args), kExitNoEffect);
  const std::string err = err_.str();
  EXPECT_NE(err.find("no visible effect"), std::string::npos) << err;
  EXPECT_NE(err.find("rights 3 (Administrator), yours 1 (Tarvoian Police)"), std::string::npos)
      << err;
}

TEST_F(SessionTest, AccountDetailsAreDecodedIntoNamedFields) {
  std::string props;
  protocol::PutEntry(props, protocol::kPropX, 10.5);
  protocol::PutEntry(props, protocol::kPropLevelName, 0, "castle.x");
  protocol::PutEntry(props, protocol::kPropAddress, net::MakeAddress(192, 168, 1, 20));
  server_.accounts[2].properties = props;
  auto args = Login("admin", "secret");
  args.insert(args.end(), {"--json", "account", "bob"});
  ASSERT_EQ(RunLine(args), kExitOk) << err_.str();
  EXPECT_EQ(out_.str(),
            R"({"number":3,"name":"bob","flags":0,"rights":0,"rights_caption":"No rights",)"
            R"("guest":false,"blocked":false,"state":"in use","properties":{"x":10.5,)"
            R"("level":"castle.x","address":"192.168.1.20"}})"
            "\n");
}

TEST_F(SessionTest, SetAccountSendsTheReadRecordWithOnlyTheGivenFieldsChanged) {
  std::string props;
  protocol::PutEntry(props, protocol::kPropX, 1);
  protocol::PutEntry(props, protocol::kPropNickname, 0, "Bobby");
  protocol::PutEntry(props, protocol::kPropLevelName, 0, "startlevel.x");
  server_.accounts[2].properties = props;
  auto args = Login("admin", "secret");
  args.insert(args.end(), {"set-account", "3", "--set", "level=castle.x", "--blocked"});
  ASSERT_EQ(RunLine(args), kExitOk) << err_.str();
  // read, set, read back
  ASSERT_EQ(server_.received.size(), 4u);  // the login's probe first
  EXPECT_EQ(server_.received[2].first, protocol::msg::kSetAccount);
  const auto set = protocol::ParseSetAccount(server_.received[2].second);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->account_number, 3);
  EXPECT_EQ(set->change.name, "bob");
  EXPECT_EQ(set->change.password, "");
  EXPECT_EQ(set->change.flags, 16);
  std::string expected;
  protocol::PutEntry(expected, protocol::kPropX, 1);
  protocol::PutEntry(expected, protocol::kPropNickname, 0, "Bobby");
  protocol::PutEntry(expected, protocol::kPropLevelName, 0, "castle.x");
  EXPECT_EQ(set->change.properties, expected);
  EXPECT_NE(out_.str().find("blocked     yes"), std::string::npos) << out_.str();
}

TEST_F(SessionTest, FieldsTheServerKeptAreReported) {
  // Police may change the stored properties of a rights-0 account but not its rights.
  auto args = Login("police", "pw");
  args.insert(args.end(), {"set-account", "bob", "--rights", "1", "--set", "nickname=B"});
  EXPECT_EQ(RunLine(args), kExitNoEffect);
  EXPECT_NE(err_.str().find("the server kept rights ("), std::string::npos) << err_.str();
  EXPECT_EQ(server_.accounts[2].rights, 0);
  EXPECT_EQ(server_.accounts[2].properties, Entries({{protocol::kPropNickname, "B"}}));
}

TEST_F(SessionTest, AddDeleteAndKickWaitForTheirNotices) {
  auto args = Login("admin", "secret");
  args.insert(args.end(), {"add-account", "newbie", "pw", "--rights", "1", "--guest"});
  ASSERT_EQ(RunLine(args), kExitOk) << err_.str();
  EXPECT_EQ(out_.str(), "added account 100 \"newbie\" with rights 1 (Tarvoian Police)\n");
  ASSERT_EQ(server_.accounts.back().name, "newbie");
  EXPECT_EQ(server_.accounts.back().password, "pw");
  EXPECT_TRUE(server_.accounts.back().guest);

  const auto run_on_new_server = [&](const std::string& command, const std::string& target,
                                     std::ostringstream& out) {
    FakeRemoteServer server;
    server.accounts = server_.accounts;
    server.players = server_.players;
    server.Start();
    Options options;
    options.session.port = server.port();
    options.session.account = "admin";
    options.session.password = "secret";
    options.json = true;
    options.command = command;
    options.target = target;
    std::ostringstream err;
    const int code = kserverctl::Run(options, out, err, nullptr);
    server.Stop();
    EXPECT_EQ(err.str(), "");
    return code;
  };
  std::ostringstream kicked, deleted;
  EXPECT_EQ(run_on_new_server("kick", "bob", kicked), kExitOk);
  EXPECT_EQ(kicked.str(), "{\"ok\":true,\"command\":\"kick\",\"id\":7}\n");
  EXPECT_EQ(run_on_new_server("delete-account", "newbie", deleted), kExitOk);
  EXPECT_EQ(deleted.str(), "{\"ok\":true,\"command\":\"delete-account\",\"number\":100}\n");
}

TEST_F(SessionTest, CommandsRefusedBeforeSendingWhenTheOwnRightsAreKnownTooLow) {
  auto args = Login("police", "pw");
  args.insert(args.end(), {"say", "hello", "all"});
  EXPECT_EQ(RunLine(args), kExitNoEffect);
  EXPECT_NE(err_.str().find("a message to all players needs rights 2 (Trusted Admin); account "
                            "\"police\" has rights 1 (Tarvoian Police)"),
            std::string::npos)
      << err_.str();
  // Only the login's probe went out.
  EXPECT_EQ(server_.received.size(), 1u);
}

TEST_F(SessionTest, NamesThatMatchSeveralTargetsAreRefused) {
  auto args = Login("admin", "secret");
  args.insert(args.end(), {"delete-account", "twin"});
  EXPECT_EQ(RunLine(args), kExitNotFound);
  EXPECT_NE(err_.str().find("\"twin\" is ambiguous: 2 accounts have that name (numbers 5, 6)"),
            std::string::npos)
      << err_.str();
}

TEST_F(SessionTest, TellAndReloadSendTheirPayloadsAndWaitForTheServer) {
  auto args = Login("admin", "secret");
  args.insert(args.end(), {"tell", "7", "line one\nline two"});
  ASSERT_EQ(RunLine(args), kExitOk) << err_.str();
  ASSERT_GE(server_.received.size(), 3u);
  EXPECT_EQ(server_.received[1].first, protocol::msg::kMessageToPlayer);
  const auto tell = protocol::ParsePlayerText(server_.received[1].second);
  ASSERT_TRUE(tell);
  EXPECT_EQ(tell->player_id, 7);
  EXPECT_EQ(tell->text, "line one\xA7line two");
  // The barrier read came after it.
  EXPECT_EQ(server_.received[2].first, protocol::msg::kGetAccount);
}

TEST_F(SessionTest, WatchPrintsEachNoticeAfterTheLists) {
  std::string moved;
  protocol::PutEntry(moved, protocol::kPropX, 12);
  protocol::PutEntry(moved, protocol::kPropLevelName, 0, "castle.x");
  // The fake answers the login's read only after these, as a server does when they happen
  // between the login and that read: the first one that is no list entry ends the lists.
  server_.after_login = {
      {51, protocol::BuildAccountStatus(3, 1), 50ms},
      {55, protocol::BuildPlayerEntry(11, "police", Entries({{protocol::kPropLevelName, "a.x"}})),
       0ms},
      {59, protocol::BuildPlayerEntries(11, moved), 20ms},
      {52, protocol::BuildAccountName(3, "robert"), 0ms},
      {56, protocol::BuildPlayerId(11), 0ms},
      {53, protocol::BuildAccountNumber(3), 0ms},
  };
  server_.close_after_script = true;
  auto args = Login("admin", "secret");
  args.push_back("watch");
  EXPECT_EQ(RunLine(args), kExitConnectionLost);
  EXPECT_EQ(out_.str(),
            "account 3 (bob) status: No rights, offline\n"
            "player 11 joined: account \"police\", level=\"a.x\"\n"
            "player 11 (police) changed: x=12 level=\"castle.x\"\n"
            "account 3 renamed: \"bob\" -> \"robert\"\n"
            "player 11 (police) left\n"
            "account 3 (robert) removed\n");
}

TEST_F(SessionTest, WatchEndsQuietlyWhenInterrupted) {
  std::atomic<bool> stop{true};
  auto args = Login("admin", "secret");
  args.insert(args.end(), {"--json", "watch"});
  EXPECT_EQ(RunLine(args, &stop), kExitOk) << err_.str();
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace tarvo::kserverctl
