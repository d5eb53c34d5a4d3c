#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "server/accounts/account_record.h"
#include "server/accounts/account_store.h"
#include "server/accounts/server_account.h"
#include "server/temp_dir.h"

namespace tarvo::server {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TServerPlayer* FakeSession() {
  static int anchor;
  return reinterpret_cast<TServerPlayer*>(&anchor);
}

TServerAccount Parsed(std::string_view record) {
  TServerAccount account;
  ParseAccountFields(record, account);
  return account;
}

void ExpectSameFields(const TServerAccount& a, const TServerAccount& b) {
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.Password, b.Password);
  EXPECT_EQ(a.Properties, b.Properties);
  EXPECT_EQ(a.LoadOnly, b.LoadOnly);
  EXPECT_EQ(a.Blocked, b.Blocked);
  EXPECT_EQ(a.Rights, b.Rights);
  EXPECT_EQ(a.ShortListA, b.ShortListA);
  EXPECT_EQ(a.ShortListB, b.ShortListB);
  EXPECT_EQ(a.LongList, b.LongList);
}

// The written record, put into a file between two ordinary accounts and loaded again, gives an
// account that writes the very same bytes, without further warnings; its neighbours survive.
void ExpectReadsBackAsWritten(const TServerAccount& account) {
  std::vector<std::string> warnings;
  const std::string record = FormatAccountRecord(account, &warnings);
  TempDir dir;
  // Neighbours "a"/"b" and "c"/"d" ("!" is the length 1), everything else empty.
  const std::string blank_tail(9, ' ');
  WriteFile(dir / "accounts.txt", "!a!b" + blank_tail + "\n" + record + "\n!c!d" + blank_tail);
  AccountStore list;
  ASSERT_EQ(list.LoadAccounts(dir / "accounts.txt").accounts, 3);
  std::vector<std::string> again;
  EXPECT_EQ(FormatAccountRecord(*list.accounts()[1], &again), record);
  EXPECT_TRUE(again.empty()) << again.front();
  EXPECT_EQ(list.accounts()[0]->Name, "a");
  EXPECT_EQ(list.accounts()[2]->Name, "c");
  EXPECT_EQ(list.accounts()[2]->Password, "d");
}

TServerAccount FullAccount() {
  TServerAccount a;
  a.Name = "Alice";
  a.Password = "s3cret";
  a.Properties = "!\x5f\x40\x2e\x22\x20";  // a few fixed-width entries
  a.LoadOnly = true;
  a.Blocked = true;
  a.Rights = 2;
  a.ShortListA = {"one", "", "three"};
  a.ShortListB = {"x"};
  a.LongList = {std::string(300, 'L'), "short"};
  return a;
}

// --- record format --------------------------------------------------------------------------

TEST(AccountRecord, EmptyAccountIsElevenSpaces) {
  EXPECT_EQ(FormatAccountRecord(TServerAccount{}), std::string(11, ' '));
  ExpectSameFields(Parsed(std::string(11, ' ')), TServerAccount{});
}

TEST(AccountRecord, FullAccountRoundTrips) {
  const TServerAccount a = FullAccount();
  std::vector<std::string> warnings;
  const std::string record = FormatAccountRecord(a, &warnings);
  EXPECT_TRUE(warnings.empty());
  // flags: 32 + 1 (guest) + 2 * 2 (rights) + 16 (blocked); then the two old counts.
  EXPECT_EQ(record.substr(1 + 5 + 1 + 6 + 1 + 6, 4), std::string("5  \x22"));
  ExpectSameFields(Parsed(record), a);
  ExpectReadsBackAsWritten(a);
}

TEST(AccountRecord, OldLayoutListsLandInTheSameLists) {
  // Header, flags, then old-place counts with entries, long list, new-place counts.
  const std::string record = std::string("\x21n\x21p\x20") + "\x26" +  // rights 3
                             "\x22\x22"
                             "ab\x21"
                             "c" +  // old A: "ab", "c"
                             "\x21\x21"
                             "x" +  // old B: "x"
                             "\x21\x20\x22"
                             "LL" +  // long list: "LL"
                             "\x20\x21\x21"
                             "d" +        // new A: "d"
                             "\x20\x20";  // new B: none
  const TServerAccount a = Parsed(record);
  EXPECT_EQ(a.Rights, 3);
  EXPECT_FALSE(a.LoadOnly);
  EXPECT_EQ(a.ShortListA, (std::vector<std::string>{"ab", "c", "d"}));
  EXPECT_EQ(a.ShortListB, (std::vector<std::string>{"x"}));
  EXPECT_EQ(a.LongList, (std::vector<std::string>{"LL"}));
  // Written back in the current layout, it keeps every entry.
  ExpectSameFields(Parsed(FormatAccountRecord(a)), a);
}

TEST(AccountRecord, ShortRecordsAndCutFields) {
  const TServerAccount after_flags = Parsed("\x21n\x21p\x20\x3b");
  EXPECT_EQ(after_flags.Rights, 5);  // kept as read
  EXPECT_TRUE(after_flags.LoadOnly);
  EXPECT_TRUE(after_flags.ShortListA.empty() && after_flags.LongList.empty());

  // A string cut short by the end of the record is taken as far as it goes.
  EXPECT_EQ(Parsed("\x2anam").Name, "nam");
  // Long-list entries of length 0 are not kept; counts larger than the data stop early.
  const TServerAccount lists = Parsed(std::string("\x20\x20\x20\x20\x20\x20\x23") + "\x20\x20" +
                                      "\x20\x21"
                                      "z" +
                                      "\x20\x20");
  EXPECT_EQ(lists.LongList, (std::vector<std::string>{"z"}));
  EXPECT_EQ(FormatAccountRecord(lists), std::string(6, ' ') + "\x21\x20\x21z    ");

  EXPECT_FALSE(RecordHoldsHeader(""));
  EXPECT_FALSE(RecordHoldsHeader("\x21n\x21p\x20"));  // no flags byte
  EXPECT_FALSE(RecordHoldsHeader("\x25n\x20\x20 "));  // name longer than the line
  EXPECT_TRUE(RecordHoldsHeader("\x21n\x21p\x20 "));
}

// --- values the format cannot carry ---------------------------------------------------------

TEST(AccountRecordLimits, LineFeedsAndOverlongTextsAreLeftOutAndReported) {
  TServerAccount a;
  a.Name = "Bo\nb";
  a.Password = std::string(300, 'p');
  a.LongList = {"a\nb", "\n", std::string(20000, 'q')};
  a.ShortListA = {std::string(250, 's'), "ok\n"};
  std::vector<std::string> warnings;
  const TServerAccount back = Parsed(FormatAccountRecord(a, &warnings));
  EXPECT_EQ(back.Name, "Bob");
  EXPECT_EQ(back.Password, std::string(223, 'p'));
  EXPECT_EQ(back.LongList, (std::vector<std::string>{"ab", std::string(16383, 'q')}));
  EXPECT_EQ(back.ShortListA, (std::vector<std::string>{std::string(223, 's'), "ok"}));
  EXPECT_GE(warnings.size(), 5u);
  EXPECT_NE(warnings.front().find("account \"Bo?b\" name"), std::string::npos) << warnings.front();
  ExpectReadsBackAsWritten(a);
}

TEST(AccountRecordLimits, TooManyListEntriesAreCutToTheCount) {
  TServerAccount a;
  a.LongList.assign(230, "e");
  std::vector<std::string> warnings;
  EXPECT_EQ(Parsed(FormatAccountRecord(a, &warnings)).LongList.size(), 223u);
  ASSERT_EQ(warnings.size(), 1u);
  ExpectReadsBackAsWritten(a);
}

TEST(AccountRecordLimits, FinalCarriageReturnIsLeftOut) {
  TServerAccount a;
  a.ShortListB = {"first\r", "last\r\r"};
  std::vector<std::string> warnings;
  const std::string record = FormatAccountRecord(a, &warnings);
  EXPECT_NE(record.back(), '\r');
  EXPECT_EQ(warnings.size(), 1u);
  EXPECT_EQ(Parsed(record).ShortListB, (std::vector<std::string>{"first\r", "last"}));
  ExpectReadsBackAsWritten(a);
}

TEST(AccountRecordLimits, OverlongPropertiesLoseTheChatLineFirst) {
  TServerAccount a;
  a.Name = "chatty";
  // x, body mesh, nickname of 100 bytes, chat text of 200 bytes, level name.
  a.Properties = std::string("!\x5f\x40") +
                 "&\x26"
                 "body.x" +
                 "," + char(32 + 100) + std::string(100, 'N') + "-" + char(32 + 200) +
                 std::string(200, 'C') +
                 ".\x2c"
                 "startlevel.x";
  std::vector<std::string> warnings;
  const TServerAccount back = Parsed(FormatAccountRecord(a, &warnings));
  EXPECT_EQ(back.Properties, std::string("!\x5f\x40") +
                                 "&\x26"
                                 "body.x" +
                                 "," + char(32 + 100) + std::string(100, 'N') +
                                 ".\x2c"
                                 "startlevel.x");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("property 13"), std::string::npos);
  ExpectReadsBackAsWritten(a);
}

TEST(AccountRecordLimits, AnyAccountReadsBackAsWritten) {
  std::mt19937 random(7);
  const auto text = [&random](std::size_t max_length) {
    std::string out(random() % (max_length + 1), ' ');
    for (char& c : out) {
      const unsigned pick = random() % 8;
      c = pick == 0 ? '\n' : pick == 1 ? '\r' : static_cast<char>(random() % 256);
    }
    return out;
  };
  const auto list = [&](std::size_t max_count, std::size_t max_length) {
    std::vector<std::string> out(random() % (max_count + 1));
    for (auto& entry : out) entry = text(max_length);
    return out;
  };
  for (int round = 0; round < 100; ++round) {
    TServerAccount a;
    a.Name = text(300);
    a.Password = text(300);
    // Well-formed entries (several chat lines) or arbitrary bytes.
    if (round % 2 == 0) {
      for (int i = 0; i < 3; ++i)
        a.Properties += "-" + std::string(1, char(32 + 200)) + text(0) + std::string(200, 'c');
    } else {
      a.Properties = text(400);
    }
    a.Rights = static_cast<int>(random() % 12) - 2;
    a.LoadOnly = random() % 2;
    a.Blocked = random() % 2;
    a.LongList = list(240, 300);
    a.ShortListA = list(5, 300);
    a.ShortListB = list(5, 300);
    SCOPED_TRACE(round);
    ExpectReadsBackAsWritten(a);
  }
}

TEST(AccountRecordLimits, PropertyLineFeedsAndUnreadableTails) {
  TServerAccount a;
  // A nickname holding a line feed, then a code outside the table.
  a.Properties = std::string(
                     ",\x23"
                     "a\nb") +
                 "\x7f"
                 "junk";
  std::vector<std::string> warnings;
  EXPECT_EQ(Parsed(FormatAccountRecord(a, &warnings)).Properties,
            ",\x22"
            "ab");
  EXPECT_EQ(warnings.size(), 2u);
  ExpectReadsBackAsWritten(a);

  TServerAccount rights;
  rights.Rights = 9;  // would spill into the blocked bit
  const TServerAccount back = Parsed(FormatAccountRecord(rights));
  EXPECT_EQ(back.Rights, 7);
  EXPECT_FALSE(back.Blocked);
}

// --- account list operations ----------------------------------------------------------------

TEST(AccountStore, FindAccountIsExactAndTakesTheFirst) {
  AccountStore list;
  list.AddNewAccount({"Ann", "pw", 0, false, true});
  list.AddNewAccount({"Ann", "pw", 3, false, false});
  TServerAccount* first = list.accounts()[0].get();
  EXPECT_EQ(list.FindAccount("Ann", "pw"), first);  // blocked or not, the earlier one
  EXPECT_EQ(list.FindAccount("ann", "pw"), nullptr);
  EXPECT_EQ(list.FindAccount("Ann", "PW"), nullptr);
  EXPECT_EQ(list.FindAccount("Ann", ""), nullptr);
  EXPECT_EQ(list.FindById(2), list.accounts()[1].get());
}

TEST(AccountStore, StatusCharSummaryAndGroups) {
  TServerAccount a;
  a.Id = 1;
  EXPECT_EQ(EncodeAccountId(a), std::string("\x20\x20\x20\x21"));
  a.Id = (5 << 21) | (4 << 14) | (3 << 7) | 2;
  EXPECT_EQ(EncodeAccountId(a), std::string("\x25\x24\x23\x22"));

  a.Rights = 2;
  EXPECT_EQ(AccountStatusChar(a), char(41));
  a.Session = FakeSession();
  EXPECT_EQ(AccountStatusChar(a), char(42));
  a.LoadOnly = true;
  a.Rights = 0;
  EXPECT_EQ(AccountStatusChar(a), char(32));
  a.Name = "guest";
  EXPECT_EQ(AccountSummary(a), EncodeAccountId(a) + " guest");

  const std::vector<std::pair<int, bool>> cases = {{3, true}, {2, false}, {1, true},
                                                   {0, true}, {0, false}, {5, false}};
  const std::vector<int> groups = {4, 3, 2, 0, 1, 1};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    TServerAccount g;
    g.Rights = cases[i].first;
    g.LoadOnly = cases[i].second;
    EXPECT_EQ(AccountGroup(g), groups[i]) << i;
  }
  EXPECT_EQ(RightsCaption(6), "Administrator");
}

class RecordingObserver : public AccountObserver {
 public:
  void AccountsLoaded(const AccountStore& list) override {
    events.push_back("loaded " + std::to_string(list.size()));
  }
  void AccountAdded(const TServerAccount& a) override { events.push_back("added " + a.Name); }
  void AccountRemoved(const TServerAccount& a) override { events.push_back("removed " + a.Name); }
  void AccountChanged(const TServerAccount& a, bool status, bool name) override {
    events.push_back("changed " + a.Name + (status ? " status" : "") + (name ? " name" : ""));
  }
  std::vector<std::string> events;
};

TEST(AccountStore, NoticesAndCounter) {
  RecordingObserver observer;
  AccountStore list(&observer);
  TServerAccount& a = list.AddNewAccount({"a", "1", 0, false, false});
  TServerAccount& b = list.ParseAccountRecord(
      "\x21"
      "b\x21"
      "2\x20 ");
  list.ChangeAccount(a, [](TServerAccount& x) { x.Password = "new"; });  // no notice
  list.ChangeAccount(a, [](TServerAccount& x) { x.Rights = 1; });
  list.ChangeAccount(b, [](TServerAccount& x) {
    x.Name = "bee";
    x.LoadOnly = true;
  });
  list.SetSession(a, FakeSession());
  EXPECT_TRUE(list.RemoveAccount(&b));
  EXPECT_FALSE(list.RemoveAccount(&b));
  EXPECT_EQ(observer.events, (std::vector<std::string>{"added a", "added b", "changed a status",
                                                       "changed bee status name",
                                                       "changed a status", "removed bee"}));
  // Ids keep counting past removed records; temporary records take numbers too.
  EXPECT_EQ(list.CreateAccount()->Id, 3);
  EXPECT_EQ(list.AddNewAccount({"c", "3", 0, false, false}).Id, 4);
}

TEST(AccountStore, RefreshStoredPropertiesTakesTheSessionsValues) {
  AccountStore list;
  TServerAccount& bound = list.AddNewAccount({"a", "1", 0, false, false});
  TServerAccount& idle = list.AddNewAccount({"b", "2", 0, false, false});
  idle.Properties = "kept";
  list.RefreshAllStoredProperties();  // no source yet: nothing changes
  list.SetStoredPropertiesSource([](const TServerPlayer&) { return std::string("fresh"); });
  bound.Session = FakeSession();
  list.RefreshAllStoredProperties();
  EXPECT_EQ(bound.Properties, "fresh");
  EXPECT_EQ(idle.Properties, "kept");
}

// --- the accounts file ----------------------------------------------------------------------

TEST(AccountsFile, LoadSkipsEmptyAndShortLinesAndSavesTheRest) {
  TempDir dir;
  const auto file = dir / "accounts.txt";
  RecordingObserver observer;
  WriteFile(file,
            "\x21"
            "a\x21"
            "1\x20 \r\n\r\n\x21x\n\x21"
            "b\x21"
            "2\x20\x22\r\n");
  AccountStore list(&observer);
  const AccountLoadResult loaded = list.LoadAccounts(file);
  EXPECT_EQ(loaded.status, AccountLoadResult::Status::kLoaded);
  EXPECT_EQ(loaded.accounts, 2);
  EXPECT_EQ(loaded.skipped_lines, 1);
  EXPECT_EQ(observer.events, (std::vector<std::string>{"loaded 2"}));
  EXPECT_EQ(list.accounts()[0]->Id, 1);
  EXPECT_EQ(list.accounts()[1]->Id, 2);
  EXPECT_EQ(list.accounts()[1]->Rights, 1);

  const AccountSaveResult saved = list.SaveAccounts(file);
  ASSERT_TRUE(saved.ok) << saved.error;
  EXPECT_EQ(saved.accounts, 2);
  // LF only between records, none at the end.
  EXPECT_EQ(ReadFile(file),
            "\x21"
            "a\x21"
            "1\x20" +
                std::string(8, ' ') +
                "\n\x21"
                "b\x21"
                "2" +
                "\x20\x22" + std::string(7, ' '));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AccountsFile, EmptyAndMissingFiles) {
  TempDir dir;
  const auto file = dir / "accounts.txt";
  AccountStore list;
  EXPECT_EQ(list.LoadAccounts(file).status, AccountLoadResult::Status::kMissing);
  ASSERT_TRUE(list.SaveAccounts(file).ok);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(ReadFile(file), "");
  EXPECT_EQ(list.LoadAccounts(file).status, AccountLoadResult::Status::kLoaded);
  EXPECT_EQ(list.size(), 0u);
}

TEST(AccountsFile, FailedSaveKeepsTheOldFileAndTheNextSaveTriesAgain) {
  TempDir dir;
  AccountStore list;
  list.AddNewAccount({"a", "1", 3, false, false});

  // The parent of the file is a regular file: nothing can be created there, even as root.
  WriteFile(dir / "blocker", "not a directory");
  const AccountSaveResult failed = list.SaveAccounts(dir / "blocker" / "accounts.txt");
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(failed.error.find("blocker"), std::string::npos) << failed.error;
  EXPECT_EQ(ReadFile(dir / "blocker"), "not a directory");

  // The target is a directory holding a file: the rename fails, the directory stays as it was
  // and no temporary file is left beside it.
  WriteFile(dir / "accounts.txt" / "inside", "old");
  const AccountSaveResult over_dir = list.SaveAccounts(dir / "accounts.txt");
  EXPECT_FALSE(over_dir.ok);
  EXPECT_EQ(ReadFile(dir / "accounts.txt" / "inside"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);

  std::filesystem::remove(dir / "blocker");
  const AccountSaveResult retried = list.SaveAccounts(dir / "blocker");
  EXPECT_TRUE(retried.ok) << retried.error;
  EXPECT_EQ(ReadFile(dir / "blocker"), FormatAccountRecord(*list.accounts()[0]));
}

TEST(AccountsFile, UnreadableFileIsMovedAsideBeforeTheFirstSave) {
  TempDir dir;
  const auto file = dir / "accounts.txt";
  std::filesystem::create_directories(file);  // exists, cannot be read as a file
  AccountStore list;
  list.AddNewAccount({"kept", "1", 0, false, false});
  const AccountLoadResult loaded = list.LoadAccounts(file);
  EXPECT_EQ(loaded.status, AccountLoadResult::Status::kUnreadable);
  EXPECT_FALSE(loaded.error.empty());
  EXPECT_EQ(list.size(), 1u);  // unchanged
  const AccountSaveResult saved = list.SaveAccounts(file);
  ASSERT_TRUE(saved.ok) << saved.error;
  EXPECT_TRUE(std::filesystem::is_directory(dir / "accounts.txt.unreadable"));
  ASSERT_EQ(saved.warnings.size(), 1u);
}

TEST(AccountsFile, AddAccountToFileAppendsAndRefusesDuplicates) {
  TempDir dir;
  const auto file = dir / "accounts.txt";
  WriteFile(file,
            "\x21"
            "a\x21"
            "1\x20 ");
  const base::Result<std::string> added = AddAccountToFile(file, {"root", "pw", 3, false, false});
  ASSERT_TRUE(added) << added.error();
  AccountStore list;
  list.LoadAccounts(file);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.accounts()[1]->Name, "root");
  EXPECT_EQ(list.accounts()[1]->Rights, 3);

  EXPECT_FALSE(AddAccountToFile(file, {"root", "pw", 1, false, false}).ok());
  EXPECT_TRUE(AddAccountToFile(file, {"root", "other", 1, true, false}).ok());
  EXPECT_FALSE(AddAccountToFile(file, {"x", "pw", 4, false, false}).ok());
  EXPECT_FALSE(AddAccountToFile(file, {"", "pw", 0, false, false}).ok());
  EXPECT_FALSE(AddAccountToFile(file, {"a\nb", "pw", 0, false, false}).ok());
  list.LoadAccounts(file);
  EXPECT_EQ(list.size(), 3u);

  std::filesystem::create_directories(dir / "bad.txt");
  EXPECT_FALSE(AddAccountToFile(dir / "bad.txt", {"n", "p", 0, false, false}).ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "bad.txt"));
}

}  // namespace
}  // namespace tarvo::server
