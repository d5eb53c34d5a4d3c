// Remote control against the real kserver: the login and its lists, every command under each
// rights level, the edge cases that guard accounts, and the change notices that a watching
// remote-control session receives. Spoken to with the protocol client over loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "server/accounts/account_record.h"
#include "server/accounts/account_store.h"
#include "support/kserver_process.h"
#include "support/protocol_client.h"

namespace tarvo::testing {
namespace {

namespace msg = protocol::msg;
using namespace std::chrono_literals;

std::string Entry(int index, double number, std::string_view text = {}) {
  std::string out;
  protocol::PutEntry(out, index, number, text);
  return out;
}
std::string TextEntry(int index, std::string_view text) { return Entry(index, 0, text); }

// Property entries by index, as a server reads them.
struct Props {
  std::map<int, std::pair<double, std::string>> values;
  std::vector<int> order;

  explicit Props(std::string_view entries) {
    protocol::EntryReader reader(entries, protocol::EntrySide::kServer);
    protocol::PropertyEntry e;
    while (reader.Next(e) == protocol::EntryStatus::kEntry) {
      values[e.index] = {e.number, std::string(e.text)};
      order.push_back(e.index);
    }
  }
  bool Has(int index) const { return values.count(index) > 0; }
  double Number(int index) const { return Has(index) ? values.at(index).first : -1; }
  std::string Text(int index) const { return Has(index) ? values.at(index).second : "?"; }
};

std::vector<Received> Only(const std::vector<Received>& messages, int id) {
  std::vector<Received> out;
  for (const Received& r : messages)
    if (r.id == id) out.push_back(r);
  return out;
}

int FlagsOf(int rights, bool guest = false, bool blocked = false) {
  return protocol::EncodeAccountFlags({guest, rights, blocked});
}

// A remote-control session. Its barrier is a read of its own account: the server answers
// commands in order, so everything it sent before that answer came first.
class Remote {
 public:
  bool Open(std::uint16_t port, const std::string& name, const std::string& password,
            std::string_view version = protocol::kVersionCurrent) {
    if (!client_.Connect(port)) return false;
    client_.Login(name, password, version, msg::kRemoteLogin);
    std::vector<Received> seen;
    const auto own = client_.WaitFor(
        msg::kAccountEntry, 5s,
        [&](const Received& r) {
          const auto e = protocol::ParseAccountEntry(r.payload);
          return e && e->name == name;
        },
        &seen);
    if (!own) return false;
    own_ = protocol::ParseAccountEntry(own->payload)->account_number;
    seen.push_back(*own);
    for (Received& r : Barrier()) seen.push_back(std::move(r));
    for (const Received& r : seen) {
      if (r.id != msg::kAccountEntry) continue;
      const auto e = protocol::ParseAccountEntry(r.payload);
      numbers_[std::string(e->name)] = e->account_number;
    }
    lists_ = std::move(seen);
    return true;
  }

  // Everything the server sent until it had handled what was sent before.
  std::vector<Received> Barrier() {
    client_.Send(msg::kGetAccount, protocol::BuildAccountNumber(own_));
    std::vector<Received> before;
    const auto reply = client_.WaitFor(
        msg::kAccountDetails, 5s,
        [&](const Received& r) {
          const auto d = protocol::ParseAccountDetails(r.payload);
          return d && d->account_number == own_;
        },
        &before);
    EXPECT_TRUE(reply.has_value()) << "no answer to the barrier";
    return before;
  }
  // Sends a command; what came back until the server had handled it.
  std::vector<Received> Do(int id, std::string_view payload) {
    client_.Send(id, payload);
    return Barrier();
  }

  // The account's details, or nullopt when the server stays silent.
  std::optional<protocol::AccountDetails> Account(int number, std::string* keep) {
    for (const Received& r : Do(msg::kGetAccount, protocol::BuildAccountNumber(number))) {
      const auto d = protocol::ParseAccountDetails(r.payload);
      if (r.id == msg::kAccountDetails && d && d->account_number == number) {
        *keep = r.payload;
        return protocol::ParseAccountDetails(*keep);
      }
    }
    return std::nullopt;
  }
  std::optional<protocol::PlayerDetails> Player(int id, std::string* keep) {
    for (const Received& r : Do(msg::kGetPlayer, protocol::BuildPlayerId(id))) {
      const auto d = protocol::ParsePlayerDetails(r.payload);
      if (r.id == msg::kPlayerDetails && d && d->player_id == id) {
        *keep = r.payload;
        return protocol::ParsePlayerDetails(*keep);
      }
    }
    return std::nullopt;
  }

  int Number(const std::string& name) const { return numbers_.at(name); }
  const std::vector<Received>& lists() const { return lists_; }
  ProtocolClient& client() { return client_; }

 private:
  ProtocolClient client_;
  int own_ = -1;
  std::map<std::string, int> numbers_;
  std::vector<Received> lists_;
};

// Sender accounts by rights level, targets acct0..acct3 and player accounts play0..play3 of the
// rights their names say.
const std::map<int, std::pair<std::string, std::string>> kSenders = {
    {1, {"police", "p"}}, {2, {"trusted", "t"}}, {3, {"admin", "a"}}};

class RemoteControlE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Prepare(KServerProcess::BundledWorld()));
    const auto file = server_.directory() / "accounts.txt";
    server::AccountStore accounts;
    accounts.LoadAccounts(file);
    for (const auto& [rights, login] : kSenders)
      accounts.AddNewAccount({login.first, login.second, rights, false, false});
    for (int t = 0; t <= 3; ++t) {
      accounts.AddNewAccount({"acct" + std::to_string(t), "x", t, false, false});
      accounts.AddNewAccount({"play" + std::to_string(t), "x", t, false, false});
    }
    accounts.AddNewAccount({"locked", "l", 3, false, true});
    ASSERT_TRUE(accounts.SaveAccounts(file).ok);
    std::ofstream(server_.directory() / "levels" / "third.x") << "third level";
    ASSERT_TRUE(server_.Start()) << server_.Log();
    ASSERT_TRUE(admin_.Open(server_.port(), "admin", "a"));
  }

  // A clean shutdown; under the sanitizers a leak or a fault would change the exit status.
  void TearDown() override { EXPECT_EQ(server_.Stop(), 0) << server_.Log(); }

  // A player logged in with kind 0; returns its id (0 on failure).
  int Join(ProtocolClient& player, const std::string& name, const std::string& password = "x") {
    if (!player.Connect(server_.port())) return 0;
    player.Login(name, password);
    const auto own = player.WaitFor(msg::kOwnProperties);
    if (!own) return 0;
    return static_cast<int>(Props(own->payload).Number(protocol::kPropPlayerId));
  }

  // A remote login that must be refused: closed, and nothing but the greeting received.
  void ExpectRefused(const std::string& name, const std::string& password,
                     std::string_view version = protocol::kVersionCurrent) {
    ProtocolClient c;
    ASSERT_TRUE(c.Connect(server_.port()));
    c.Login(name, password, version, msg::kRemoteLogin);
    EXPECT_TRUE(c.WaitClosed()) << name;
    for (const Received& r : c.inbox()) EXPECT_EQ(r.id, msg::kConnectionAccepted) << name;
  }

  KServerProcess server_;
  Remote admin_;
};

TEST_F(RemoteControlE2E, LoginSendsBothListsAndRefusesSilently) {
  // One account entry per account, in file order, with its status byte.
  const auto entries = Only(admin_.lists(), msg::kAccountEntry);
  ASSERT_EQ(entries.size(), 13u);
  const auto first = protocol::ParseAccountEntry(entries[0].payload);
  EXPECT_EQ(first->name, "guest");
  EXPECT_EQ(first->status, 0);  // guest, rights 0
  const auto police = protocol::ParseAccountEntry(entries[1].payload);
  EXPECT_EQ(police->name, "police");
  EXPECT_EQ(police->status, 1 * 4 + 1);  // rights 1, not in use

  ProtocolClient bob;
  const int bob_id = Join(bob, "play0");
  bob.Send(msg::kProperties, TextEntry(protocol::kPropNickname, "Bobby"));
  ProtocolClient guest;
  Join(guest, "guest", "guest");
  admin_.Barrier();

  // A later login hears of both players: level, nickname and head mesh.
  Remote police_session;
  ASSERT_TRUE(police_session.Open(server_.port(), "police", "p", protocol::kVersionOld));
  const auto players = Only(police_session.lists(), msg::kPlayerEntry);
  ASSERT_EQ(players.size(), 2u);
  const auto entry = protocol::ParsePlayerEntry(players[0].payload);
  EXPECT_EQ(entry->player_id, bob_id);
  EXPECT_EQ(entry->account_name, "play0");
  const Props props(entry->entries);
  EXPECT_EQ(props.order, (std::vector<int>{protocol::kPropLevelName, protocol::kPropNickname,
                                           protocol::kPropHeadMesh}));
  EXPECT_EQ(props.Text(protocol::kPropLevelName), "startlevel.x");
  EXPECT_EQ(props.Text(protocol::kPropNickname), "Bobby");
  EXPECT_EQ(props.Text(protocol::kPropHeadMesh), "head.x");
  EXPECT_EQ(protocol::ParsePlayerEntry(players[1].payload)->account_name, "guest");

  ExpectRefused("acct0", "x");              // no rights
  ExpectRefused("locked", "l");             // blocked
  ExpectRefused("admin", "A");              // wrong password
  ExpectRefused("admin", "a", "VX3DV999");  // unknown version
  EXPECT_TRUE(server_.WaitForLog("remote-control login: the account has no rights"));
}

TEST_F(RemoteControlE2E, RightsMatrixOnAccounts) {
  for (const auto& [r, login] : kSenders) {
    Remote sender;
    ASSERT_TRUE(sender.Open(server_.port(), login.first, login.second));
    for (int t = 0; t <= 3; ++t) {
      SCOPED_TRACE("rights " + std::to_string(r) + " on an account of rights " + std::to_string(t));
      const bool allowed = r >= t || r == 3;
      const std::string name = "acct" + std::to_string(t);
      const int number = admin_.Number(name);
      std::string keep;
      EXPECT_EQ(sender.Account(number, &keep).has_value(), allowed);

      const double x = r * 10 + t;
      const auto answer = sender.Do(
          msg::kSetAccount,
          protocol::BuildSetAccount(number, {name, "", Entry(protocol::kPropX, x), FlagsOf(t)}));
      EXPECT_TRUE(answer.empty());  // nothing but the property text changed, or nothing at all
      const auto details = admin_.Account(number, &keep);
      ASSERT_TRUE(details.has_value());
      EXPECT_EQ(Props(details->properties).Number(protocol::kPropX) == x, allowed);
      EXPECT_EQ(details->flags, FlagsOf(t));
    }
  }
  // Deleting needs rights 2 and the access rule.
  Remote police;
  ASSERT_TRUE(police.Open(server_.port(), "police", "p"));
  Remote trusted;
  ASSERT_TRUE(trusted.Open(server_.port(), "trusted", "t"));
  police.Barrier();  // the trusted login left the player sessions: a departure (56)
  std::string keep;
  EXPECT_TRUE(
      police.Do(msg::kDeleteAccount, protocol::BuildAccountNumber(admin_.Number("acct0"))).empty());
  EXPECT_TRUE(trusted.Do(msg::kDeleteAccount, protocol::BuildAccountNumber(admin_.Number("acct3")))
                  .empty());
  EXPECT_TRUE(admin_.Account(admin_.Number("acct0"), &keep).has_value());
  EXPECT_TRUE(admin_.Account(admin_.Number("acct3"), &keep).has_value());
  const auto removed =
      trusted.Do(msg::kDeleteAccount, protocol::BuildAccountNumber(admin_.Number("acct2")));
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0].id, msg::kAccountRemoved);
  EXPECT_EQ(protocol::ParseAccountNumber(removed[0].payload), admin_.Number("acct2"));
  admin_.Do(msg::kDeleteAccount, protocol::BuildAccountNumber(admin_.Number("acct3")));
  EXPECT_FALSE(admin_.Account(admin_.Number("acct2"), &keep).has_value());
  EXPECT_FALSE(admin_.Account(admin_.Number("acct3"), &keep).has_value());
  EXPECT_TRUE(server_.WaitForLog("deleted account"));
}

TEST_F(RemoteControlE2E, RightsMatrixOnPlayers) {
  std::map<int, std::unique_ptr<ProtocolClient>> players;
  std::map<int, int> ids;
  const auto join = [&](int t) {
    players[t] = std::make_unique<ProtocolClient>();
    ids[t] = Join(*players[t], "play" + std::to_string(t));
    ASSERT_GT(ids[t], 0);
  };
  for (int t = 0; t <= 3; ++t) join(t);

  for (const auto& [r, login] : kSenders) {
    Remote sender;
    ASSERT_TRUE(sender.Open(server_.port(), login.first, login.second));
    for (int t = 0; t <= 3; ++t) {
      SCOPED_TRACE("rights " + std::to_string(r) + " on a player of rights " + std::to_string(t));
      const bool readable = r >= t || r == 3;
      // Changing a player also needs its account's rights below the sender's own.
      const bool changeable = r > t || r == 3;
      std::string keep;
      EXPECT_EQ(sender.Player(ids[t], &keep).has_value(), readable);

      const std::string head = "h" + std::to_string(r) + std::to_string(t) + ".x";
      sender.Do(
          msg::kSetPlayer,
          protocol::BuildSetPlayer(ids[t], {"play" + std::to_string(t), "",
                                            TextEntry(protocol::kPropHeadMesh, head) +
                                                TextEntry(protocol::kPropLevelName, "startlevel.x"),
                                            FlagsOf(t)}));
      const auto details = admin_.Player(ids[t], &keep);
      ASSERT_TRUE(details.has_value());
      EXPECT_EQ(Props(details->properties).Text(protocol::kPropHeadMesh) == head, changeable);
      EXPECT_EQ(details->account_name, "play" + std::to_string(t));
      EXPECT_EQ(details->flags, FlagsOf(t));

      // Kick: the player hears why and is gone, or hears nothing and stays.
      sender.Do(msg::kDisconnectPlayer, protocol::BuildPlayerId(ids[t]));
      const auto after = players[t]->Drain(200ms);
      const bool kicked = std::any_of(after.begin(), after.end(), [](const Received& m) {
        return m.id == msg::kDisconnectReason &&
               m.payload == "The server administrator has disconnected you.";
      });
      EXPECT_EQ(kicked, readable);
      if (kicked) {
        EXPECT_TRUE(players[t]->WaitClosed());
        join(t);
      } else {
        EXPECT_FALSE(players[t]->closed());
      }
    }
  }
}

TEST_F(RemoteControlE2E, PoliceChangeOnlyThePropertyText) {
  const int number = admin_.Number("acct0");
  Remote police;
  ASSERT_TRUE(police.Open(server_.port(), "police", "p"));
  const auto heard =
      police.Do(msg::kSetAccount,
                protocol::BuildSetAccount(number, {"evil", "stolen", Entry(protocol::kPropX, 5),
                                                   FlagsOf(1, /*guest=*/true, /*blocked=*/true)}));
  EXPECT_TRUE(heard.empty());  // neither the status nor the name changed
  std::string keep;
  const auto details = admin_.Account(number, &keep);
  ASSERT_TRUE(details.has_value());
  EXPECT_EQ(details->flags, FlagsOf(0));
  EXPECT_EQ(Props(details->properties).Number(protocol::kPropX), 5);
  // The stored text stays whole: entries the new text leaves out keep their values.
  EXPECT_EQ(Props(details->properties).Text(protocol::kPropLevelName), "startlevel.x");
  // Name and password stay: the old login still works.
  ProtocolClient player;
  EXPECT_GT(Join(player, "acct0", "x"), 0);
}

TEST_F(RemoteControlE2E, RightsNeverRiseAboveTheSendersOwn) {
  Remote trusted;
  ASSERT_TRUE(trusted.Open(server_.port(), "trusted", "t"));
  const int number = admin_.Number("acct0");
  // Set account: rights 3 asked, 2 stored and announced.
  const auto heard = trusted.Do(msg::kSetAccount,
                                protocol::BuildSetAccount(number, {"acct0", "", "", FlagsOf(3)}));
  ASSERT_EQ(Only(heard, msg::kAccountStatus).size(), 1u);
  EXPECT_EQ(protocol::ParseAccountStatus(Only(heard, msg::kAccountStatus)[0].payload)->status,
            2 * 4 + 1);
  std::string keep;
  EXPECT_EQ(admin_.Account(number, &keep)->flags, FlagsOf(2));

  // Add account: the same cap, the rest of the record kept; an administrator adds rights 3.
  const auto record = [](const std::string& name, int rights) {
    server::TServerAccount a;
    a.Name = name;
    a.Password = "pw";
    a.Rights = rights;
    a.Blocked = true;
    a.Properties = Entry(protocol::kPropX, 7);
    return server::FormatAccountRecord(a);
  };
  const auto added = trusted.Do(msg::kAddAccount, record("sneaky", 3));
  ASSERT_EQ(Only(added, msg::kAccountEntry).size(), 1u);
  const auto added_entries = Only(added, msg::kAccountEntry);
  const auto entry = protocol::ParseAccountEntry(added_entries[0].payload);
  EXPECT_EQ(entry->name, "sneaky");
  EXPECT_EQ(entry->status, 2 * 4 + 1);
  const auto details = admin_.Account(entry->account_number, &keep);
  EXPECT_EQ(details->flags, FlagsOf(2, false, /*blocked=*/true));
  EXPECT_EQ(Props(details->properties).Number(protocol::kPropX), 7);
  EXPECT_TRUE(server_.WaitForLog("rights 3 asked, 2 stored"));

  const auto by_admin = admin_.Do(msg::kAddAccount, record("boss", 3));
  ASSERT_EQ(Only(by_admin, msg::kAccountEntry).size(), 1u);
  EXPECT_EQ(protocol::ParseAccountEntry(Only(by_admin, msg::kAccountEntry)[0].payload)->status,
            3 * 4 + 1);
  // Police may not add at all.
  Remote police;
  ASSERT_TRUE(police.Open(server_.port(), "police", "p"));
  EXPECT_TRUE(police.Do(msg::kAddAccount, record("cop", 1)).empty());
}

TEST_F(RemoteControlE2E, DeletingAnAccountInUseLeavesItsPlayerWithout) {
  ProtocolClient player;
  const int id = Join(player, "play1");
  ASSERT_GT(id, 0);
  const int number = admin_.Number("play1");
  admin_.Barrier();
  const auto heard = admin_.Do(msg::kDeleteAccount, protocol::BuildAccountNumber(number));
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].id, msg::kAccountRemoved);
  EXPECT_TRUE(server_.WaitForLog("plays on without an account"));

  // Still connected and served; read as a player without account.
  player.Send(msg::kFileRequest, "welcome");
  EXPECT_TRUE(player.WaitFor(msg::kFile).has_value());
  std::string keep;
  const auto details = admin_.Player(id, &keep);
  ASSERT_TRUE(details.has_value());
  EXPECT_EQ(details->account_name, "play1");
  EXPECT_EQ(details->flags, FlagsOf(0, /*guest=*/true));

  // Leaving releases no account any more, and the name logs in no longer.
  player.Close();
  std::vector<Received> before;
  ASSERT_TRUE(admin_.client().WaitFor(msg::kPlayerLeft, 5s, {}, &before).has_value());
  EXPECT_TRUE(Only(before, msg::kAccountStatus).empty());
  ProtocolClient again;
  ASSERT_TRUE(again.Connect(server_.port()));
  again.Login("play1", "x");
  const auto reason = again.WaitFor(msg::kDisconnectReason);
  ASSERT_TRUE(reason.has_value());
  EXPECT_EQ(reason->payload, "An account with the name and password you typed in doesn't exist.");
}

TEST_F(RemoteControlE2E, ReloadTakesEveryNameWhateverTheCount) {
  // One player in each of three levels.
  std::vector<std::unique_ptr<ProtocolClient>> players;
  const std::vector<std::string> levels = {"startlevel.x", "courtyard.x", "third.x"};
  for (int i = 0; i < 3; ++i) {
    players.push_back(std::make_unique<ProtocolClient>());
    const int id = Join(*players.back(), "play" + std::to_string(i));
    ASSERT_GT(id, 0);
    if (i == 0) continue;  // already there
    admin_.Do(
        msg::kSetPlayer,
        protocol::BuildSetPlayer(id, {"play" + std::to_string(i), "",
                                      TextEntry(protocol::kPropLevelName, levels[i]), FlagsOf(i)}));
    ASSERT_TRUE(players.back()->WaitFor(msg::kLevelName, 5s,
                                        [&](const Received& r) { return r.payload == levels[i]; }));
  }
  std::ofstream(server_.directory() / "levels" / "third.x") << "third level, edited";
  for (auto& p : players) p->Drain(100ms);

  // Count 0 does nothing; count 1 with three names reloads all three.
  std::string payload = protocol::BuildReloadLevels(levels);
  std::string zero;
  protocol::PutNumber2(zero, 0);
  payload.replace(0, 2, zero);
  admin_.Do(msg::kReloadLevels, payload);
  for (auto& p : players) EXPECT_TRUE(Only(p->Drain(200ms), msg::kLevelData).empty());
  std::string one;
  protocol::PutNumber2(one, 1);
  payload.replace(0, 2, one);
  admin_.Do(msg::kReloadLevels, payload);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(levels[i]);
    const auto data = players[i]->WaitFor(msg::kLevelData);
    ASSERT_TRUE(data.has_value());
    EXPECT_FALSE(data->payload.empty());
    if (i == 2) {
      EXPECT_EQ(data->payload, "third level, edited");
    }
  }
  // Police may not reload.
  Remote police;
  ASSERT_TRUE(police.Open(server_.port(), "police", "p"));
  police.Do(msg::kReloadLevels, payload);
  for (auto& p : players) EXPECT_TRUE(Only(p->Drain(200ms), msg::kLevelData).empty());
}

TEST_F(RemoteControlE2E, AdministratorMessagesNameTheirSender) {
  ProtocolClient a;
  ProtocolClient b;
  const int a_id = Join(a, "play0");
  Join(b, "play1");
  Remote police;
  ASSERT_TRUE(police.Open(server_.port(), "police", "p"));
  Remote trusted;
  ASSERT_TRUE(trusted.Open(server_.port(), "trusted", "t"));
  const std::string mark(1, protocol::kParagraphMark);

  police.Do(msg::kMessageToPlayer, protocol::BuildPlayerText(a_id, "stop that"));
  auto got = a.WaitFor(msg::kAdminMessage);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->payload, "Police police:" + mark + "stop that");
  trusted.Do(msg::kMessageToPlayer, protocol::BuildPlayerText(a_id, "hi"));
  got = a.WaitFor(msg::kAdminMessage);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->payload, "Administrator trusted:" + mark + "hi");

  // Everyone hears a message to all; police may not send one.
  police.Do(msg::kMessageToAll, "nobody hears this");
  trusted.Do(msg::kMessageToAll, "restart soon");
  for (ProtocolClient* p : {&a, &b}) {
    got = p->WaitFor(msg::kAdminMessage);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->payload, "Administrator trusted:" + mark + "restart soon");
  }
  EXPECT_TRUE(server_.WaitForLog("message to all players: \"restart soon\""));
}

TEST_F(RemoteControlE2E, WatchingSessionHearsEveryChange) {
  // Login: bound (51), placed (55 with the level only).
  ProtocolClient player;
  const int id = Join(player, "play0");
  const int number = admin_.Number("play0");
  std::vector<Received> before;
  auto joined = admin_.client().WaitFor(msg::kPlayerEntry, 5s, {}, &before);
  ASSERT_TRUE(joined.has_value());
  const auto entry = protocol::ParsePlayerEntry(joined->payload);
  EXPECT_EQ(entry->player_id, id);
  EXPECT_EQ(entry->account_name, "play0");
  EXPECT_EQ(entry->entries, TextEntry(protocol::kPropLevelName, "startlevel.x"));
  const auto bound = Only(before, msg::kAccountStatus);
  ASSERT_EQ(bound.size(), 1u);
  EXPECT_EQ(protocol::ParseAccountStatus(bound[0].payload)->account_number, number);
  EXPECT_EQ(protocol::ParseAccountStatus(bound[0].payload)->status, 0 * 4 + 2);

  // A move.
  const std::string moved = Entry(protocol::kPropX, 12.5) + Entry(protocol::kPropZ, -3);
  player.Send(msg::kProperties, moved);
  auto change = admin_.client().WaitFor(msg::kPlayerChanges);
  ASSERT_TRUE(change.has_value());
  EXPECT_EQ(change->payload, protocol::BuildPlayerEntries(id, moved));

  // A level change by an account edit, and a new account name with it (52, 58).
  const auto heard = admin_.Do(
      msg::kSetAccount,
      protocol::BuildSetAccount(
          number, {"renamed", "", TextEntry(protocol::kPropLevelName, "courtyard.x"), FlagsOf(0)}));
  const auto renamed = Only(heard, msg::kAccountName);
  ASSERT_EQ(renamed.size(), 1u);
  EXPECT_EQ(protocol::ParseAccountName(renamed[0].payload)->name, "renamed");
  const auto account = Only(heard, msg::kPlayerAccount);
  ASSERT_EQ(account.size(), 1u);
  EXPECT_EQ(account[0].payload, protocol::BuildPlayerAccount(id, "renamed"));
  bool level_told = false;
  for (const Received& r : Only(heard, msg::kPlayerChanges)) {
    level_told |= r.payload == protocol::BuildPlayerEntries(
                                   id, TextEntry(protocol::kPropLevelName, "courtyard.x"));
  }
  EXPECT_TRUE(level_told);

  // Leaving: released (51), then gone (56).
  player.Close();
  before.clear();
  const auto left = admin_.client().WaitFor(msg::kPlayerLeft, 5s, {}, &before);
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(left->payload, protocol::BuildPlayerId(id));
  const auto released = Only(before, msg::kAccountStatus);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(protocol::ParseAccountStatus(released[0].payload)->status, 0 * 4 + 1);
}

TEST_F(RemoteControlE2E, PlayersWithRightsCommandButHearNoNotices) {
  // A player of rights 3 reads an account, then kicks itself together with a message to all:
  // the message still goes out, then its own connection ends.
  ProtocolClient other;
  Join(other, "play0");
  ProtocolClient boss;
  const int boss_id = Join(boss, "play3");
  ASSERT_GT(boss_id, 0);
  boss.Send(msg::kGetAccount, protocol::BuildAccountNumber(admin_.Number("acct1")));
  ASSERT_TRUE(boss.WaitFor(msg::kAccountDetails).has_value());
  admin_.Barrier();

  boss.Queue(msg::kDisconnectPlayer, protocol::BuildPlayerId(boss_id));
  boss.Queue(msg::kMessageToAll, "bye");
  ASSERT_TRUE(boss.Flush());
  std::vector<Received> seen;
  const auto reason = boss.WaitFor(msg::kDisconnectReason, 5s, {}, &seen);
  ASSERT_TRUE(reason.has_value());
  EXPECT_TRUE(boss.WaitClosed());
  for (const Received& r : seen) EXPECT_LT(r.id, 50) << "a player heard a remote notice";
  const auto bye = other.WaitFor(msg::kAdminMessage);
  ASSERT_TRUE(bye.has_value());
  EXPECT_EQ(bye->payload,
            "Administrator play3:" + std::string(1, protocol::kParagraphMark) + "bye");
  const auto left = admin_.client().WaitFor(msg::kPlayerLeft, 5s, [&](const Received& r) {
    return r.payload == protocol::BuildPlayerId(boss_id);
  });
  EXPECT_TRUE(left.has_value());
  EXPECT_TRUE(server_.WaitForLog("(itself; it closes after its messages)"));
}

TEST_F(RemoteControlE2E, IgnoresShortCommandsAndRelaysNothingFromRemoteSessions) {
  ProtocolClient player;
  const int id = Join(player, "play0");
  ASSERT_GT(id, 0);
  player.Drain(100ms);
  // Below the minimum payload: no answer.
  auto heard = admin_.Do(msg::kGetAccount, "   ");
  EXPECT_TRUE(Only(heard, msg::kAccountDetails).empty());
  heard = admin_.Do(msg::kMessageToPlayer, protocol::BuildPlayerId(id));
  EXPECT_TRUE(player.Drain(200ms).empty());
  // A set account whose strings overrun the payload changes nothing.
  std::string keep;
  const int number = admin_.Number("acct0");
  admin_.Do(msg::kSetAccount, protocol::BuildAccountNumber(number) + "\x7F" + "ab");
  EXPECT_EQ(admin_.Account(number, &keep)->flags, FlagsOf(0));

  // The remote session gave its player id back: properties it sends reach no player.
  Remote watcher;
  ASSERT_TRUE(watcher.Open(server_.port(), "trusted", "t"));
  admin_.client().Send(msg::kProperties, TextEntry(protocol::kPropNickname, "ghost") +
                                             Entry(protocol::kPropUdpPort, 999));
  admin_.Barrier();
  EXPECT_TRUE(Only(watcher.Barrier(), msg::kPlayerChanges).empty());
  // The player hears only that the watcher's connection left the players ("S").
  const auto heard_by_player = player.Drain(200ms);
  ASSERT_EQ(heard_by_player.size(), 1u);
  EXPECT_EQ(heard_by_player[0].id, msg::kOtherPlayer);
  EXPECT_EQ(heard_by_player[0].payload.substr(1), "S");
}

}  // namespace
}  // namespace tarvo::testing
