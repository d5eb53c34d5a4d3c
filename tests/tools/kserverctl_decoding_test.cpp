// Decoding of the server's notices and property texts, name resolution, the set-account merge
// and the command line, all without a server.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include "net/address.h"
#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "tools/kserverctl/commands.h"
#include "tools/kserverctl/decoding.h"
#include "tools/kserverctl/directory.h"
#include "tools/kserverctl/text.h"

namespace tarvo::kserverctl {
namespace {

namespace p = protocol;
namespace m = protocol::msg;

// The number a name resolved to, or nothing.
std::optional<int> Found(const Resolution& resolution) {
  return resolution ? std::optional<int>(*resolution) : std::nullopt;
}

std::string Entry(int index, double number, std::string_view text = {}) {
  std::string out;
  p::PutEntry(out, index, number, text);
  return out;
}

TEST(NoticeDecoding, EveryNoticeYieldsItsFields) {
  auto n = DecodeNotice(m::kAccountEntry, p::BuildAccountEntry(300, 4 * 2 + 1, "Jo\xEBl"));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->number, 300);
  EXPECT_EQ(n->status, 9);
  EXPECT_EQ(n->name, "Jo\xEBl");

  n = DecodeNotice(m::kAccountStatus, p::BuildAccountStatus(2, 14));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->number, 2);
  EXPECT_EQ(n->status, 14);

  n = DecodeNotice(m::kAccountName, p::BuildAccountName(2, "new name"));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->name, "new name");

  n = DecodeNotice(m::kAccountRemoved, p::BuildAccountNumber(16384));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->number, 16384);

  const std::string props = Entry(p::kPropY, -3.5) + Entry(p::kPropArmColour, 0x12AB34);
  n = DecodeNotice(m::kAccountDetails, p::BuildAccountDetails(5, props, 7));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->number, 5);
  EXPECT_EQ(n->flags, 7);
  ASSERT_EQ(n->properties.fields.size(), 2u);
  EXPECT_EQ(n->properties.fields[0].number, -3.5);
  EXPECT_EQ(PropertyValueText(n->properties.fields[1]), "#12AB34");
  EXPECT_TRUE(n->properties.complete);

  n = DecodeNotice(m::kPlayerEntry,
                   p::BuildPlayerEntry(12, "bob", Entry(p::kPropLevelName, 0, "a.x")));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->number, 12);
  EXPECT_EQ(n->name, "bob");
  EXPECT_EQ(n->properties.Find(p::kPropLevelName)->text, "a.x");

  n = DecodeNotice(m::kPlayerLeft, p::BuildPlayerId(200));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->number, 200);

  n = DecodeNotice(m::kPlayerDetails,
                   p::BuildPlayerDetails(3, "", Entry(p::kPropAddress, net::kLoopbackAddress), 1));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->flags, 1);
  EXPECT_EQ(PropertyValueText(n->properties.fields.at(0)), "127.0.0.1");

  n = DecodeNotice(m::kPlayerAccount, p::BuildPlayerAccount(3, "carol"));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->name, "carol");

  n = DecodeNotice(
      m::kPlayerChanges,
      p::BuildPlayerEntries(3, Entry(p::kPropViewAngle, 270) + Entry(p::kPropNickname, 0, "Zed")));
  ASSERT_TRUE(n);
  ASSERT_EQ(n->properties.fields.size(), 2u);
  EXPECT_EQ(n->properties.fields[0].number, 270);
  EXPECT_EQ(n->properties.fields[1].text, "Zed");
}

TEST(NoticeDecoding, ShortPayloadsAndForeignIdsGiveNothing) {
  EXPECT_FALSE(DecodeNotice(m::kAccountEntry, "  "));
  EXPECT_FALSE(DecodeNotice(m::kAccountDetails, "    "));  // number only
  EXPECT_FALSE(DecodeNotice(m::kPlayerLeft, ""));
  EXPECT_FALSE(DecodeNotice(m::kPlayerEntry,
                            "!\x29"
                            "ab"));  // name runs past the end
  EXPECT_FALSE(DecodeNotice(m::kConnectionAccepted, " "));
  EXPECT_FALSE(DecodeNotice(60, "!"));
}

TEST(PropertyDecoding, StopsAtAnUnknownCodeOrACutValueAndKeepsTheBytes) {
  const std::string good = Entry(p::kPropX, 4191.5) + Entry(p::kPropBodyMesh, 0, "body.x");
  PropertyList list = DecodeProperties(good + "R!");
  EXPECT_FALSE(list.complete);
  ASSERT_EQ(list.fields.size(), 2u);
  EXPECT_EQ(list.fields[0].raw + list.fields[1].raw, good);
  EXPECT_EQ(list.fields[1].text, "body.x");

  list = DecodeProperties(good + Entry(p::kPropNickname, 0, "long").substr(0, 3));
  EXPECT_FALSE(list.complete);
  EXPECT_EQ(list.fields.size(), 2u);

  list = DecodeProperties("");
  EXPECT_TRUE(list.complete);
  EXPECT_TRUE(list.fields.empty());
}

TEST(PropertyValues, ParsedAsTypedAndShownAsRead) {
  auto f = ParsePropertyValue(p::kPropX, "0.7");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->number, 0.5);  // the wire's half steps, toward zero
  f = ParsePropertyValue(p::kPropZ, "-0.7");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->number, -0.5);
  EXPECT_EQ(ParsePropertyValue(p::kPropY, "4192").error(),
            "y: expected a number from -4000 to 4191.5");
  EXPECT_FALSE(ParsePropertyValue(p::kPropY, "1e"));
  f = ParsePropertyValue(p::kPropViewAngle, "271");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->number, 270);
  f = ParsePropertyValue(p::kPropHandColour, "#fdcc47");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->number, 0xFDCC47);
  EXPECT_EQ(PropertyValueText(*f), "#FDCC47");
  f = ParsePropertyValue(p::kPropShoeColour, "0x800000");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->number, 0x800000);
  EXPECT_FALSE(ParsePropertyValue(p::kPropShoeColour, "#1000000"));
  EXPECT_FALSE(ParsePropertyValue(p::kPropShoeColour, "-1"));
  f = ParsePropertyValue(p::kPropAddress, "10.1.2.3");
  ASSERT_TRUE(f);
  EXPECT_EQ(static_cast<std::uint32_t>(f->number), net::MakeAddress(10, 1, 2, 3));
  EXPECT_FALSE(ParsePropertyValue(p::kPropAddress, "10.1.2"));
  f = ParsePropertyValue(p::kPropNickname, "J\xC3\xB6rg");  // UTF-8 as typed
  ASSERT_TRUE(f);
  EXPECT_EQ(f->text, "J\xF6rg");
  EXPECT_EQ(ParsePropertyValue(p::kPropNickname, std::string(201, 'n')).error(),
            "nickname: longer than 200 bytes");
  EXPECT_TRUE(ParsePropertyValue(p::kPropLevelName, std::string(223, 'l')));
  EXPECT_FALSE(ParsePropertyValue(p::kPropLevelName, std::string(224, 'l')));
  // Every value written from a parsed field reads back equal.
  for (int index : p::kAccountStoredOrder) {
    const std::string typed = index == p::kPropAddress          ? "1.2.3.4"
                              : p::kProperties[index].is_text() ? "t"
                              : p::kProperties[index].encoding == p::PropertyEncoding::kColour
                                  ? "#010203"
                                  : "8";
    f = ParsePropertyValue(index, typed);
    ASSERT_TRUE(f) << f.error();
    const PropertyList back = DecodeProperties(EncodeField(*f));
    ASSERT_EQ(back.fields.size(), 1u) << index;
    EXPECT_TRUE(SameValue(back.fields[0], *f)) << index;
    EXPECT_EQ(PropertyValueText(back.fields[0]), PropertyValueText(*f)) << index;
  }
}

TEST(TextConversion, WireTextsAreLatin1) {
  EXPECT_EQ(Latin1ToUtf8("J\xF6rg \xA7"), "J\xC3\xB6rg \xC2\xA7");
  EXPECT_EQ(Utf8ToLatin1("J\xC3\xB6rg"), "J\xF6rg");
  EXPECT_EQ(Utf8ToLatin1("snow \xE2\x98\x83"), "snow ?");
  EXPECT_EQ(Utf8ToLatin1("raw \xF6 byte"), "raw \xF6 byte");  // not UTF-8: as given
  EXPECT_EQ(Utf8ToLatin1("cut \xC3"), "cut \xC3");
  EXPECT_EQ(Printable("a\x1B[2Jb\x85\xE9"), "a?[2Jb?\xC3\xA9");
}

class DirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Add(m::kAccountEntry, p::BuildAccountEntry(1, 13, "admin"));
    Add(m::kAccountEntry, p::BuildAccountEntry(2, 1, "twin"));
    Add(m::kAccountEntry, p::BuildAccountEntry(3, 1, "twin"));
    Add(m::kAccountEntry, p::BuildAccountEntry(4, 1, "5"));
    Add(m::kAccountEntry, p::BuildAccountEntry(5, 1, "J\xF6rg"));
    Add(m::kPlayerEntry, p::BuildPlayerEntry(7, "twin", Entry(p::kPropLevelName, 0, "a.x")));
    Add(m::kPlayerEntry, p::BuildPlayerEntry(8, "twin", ""));
    Add(m::kPlayerEntry, p::BuildPlayerEntry(9, "admin", ""));
  }
  void Add(int id, const std::string& payload) { directory_.Apply(*DecodeNotice(id, payload)); }

  RemoteDirectory directory_;
};

TEST_F(DirectoryTest, NamesResolveOnlyWhenUnambiguous) {
  EXPECT_EQ(Found(directory_.ResolveAccount("admin")), 1);
  EXPECT_EQ(Found(directory_.ResolveAccount("J\xC3\xB6rg")), 5);  // typed in UTF-8
  EXPECT_EQ(Found(directory_.ResolveAccount("3")), 3);
  // Digits name the account with that number before one with that name.
  EXPECT_EQ(Found(directory_.ResolveAccount("5")), 5);
  const Resolution twin = directory_.ResolveAccount("twin");
  EXPECT_FALSE(twin);
  EXPECT_EQ(twin.error(),
            "\"twin\" is ambiguous: 2 accounts have that name (numbers 2, 3); name the account "
            "by its number");
  EXPECT_EQ(directory_.ResolveAccount("Admin").error(), "no account numbered or named \"Admin\"");
  EXPECT_EQ(directory_.ResolveAccount("42").error(), "no account numbered or named \"42\"");

  EXPECT_EQ(Found(directory_.ResolvePlayer("admin")), 9);
  EXPECT_EQ(Found(directory_.ResolvePlayer("8")), 8);
  EXPECT_NE(directory_.ResolvePlayer("twin").error().find("2 players use that account (ids 7, 8)"),
            std::string::npos);
  EXPECT_FALSE(Found(directory_.ResolvePlayer("1")));  // an account number, not a player
}

TEST_F(DirectoryTest, NoticesKeepTheListsCurrent) {
  Add(m::kAccountStatus, p::BuildAccountStatus(2, 6));
  Add(m::kAccountName, p::BuildAccountName(3, "solo"));
  Add(m::kAccountRemoved, p::BuildAccountNumber(4));
  EXPECT_EQ(directory_.FindAccount(2)->state(), 2);
  EXPECT_EQ(directory_.FindAccount(2)->rights(), 1);
  EXPECT_EQ(Found(directory_.ResolveAccount("twin")), 2);
  EXPECT_EQ(directory_.FindAccount(4), nullptr);
  EXPECT_EQ(directory_.accounts().size(), 4u);

  Add(m::kPlayerChanges,
      p::BuildPlayerEntries(7, Entry(p::kPropLevelName, 0, "b.x") + Entry(p::kPropX, 3)));
  Add(m::kPlayerAccount, p::BuildPlayerAccount(8, "solo"));
  Add(m::kPlayerLeft, p::BuildPlayerId(9));
  Add(m::kPlayerChanges, p::BuildPlayerEntries(42, Entry(p::kPropX, 3)));  // unknown: ignored
  const PlayerRow* seven = directory_.FindPlayer(7);
  ASSERT_NE(seven, nullptr);
  ASSERT_EQ(seven->properties.fields.size(), 2u);
  EXPECT_EQ(seven->properties.Find(p::kPropLevelName)->text, "b.x");
  EXPECT_EQ(directory_.FindPlayer(8)->account, "solo");
  EXPECT_EQ(directory_.FindPlayer(9), nullptr);
  EXPECT_EQ(directory_.players().size(), 2u);
}

TEST(Merge, OnlyTheGivenFieldsChange) {
  const std::string stored = Entry(p::kPropX, 1) + Entry(p::kPropNickname, 0, "Nick") +
                             Entry(p::kPropLevelName, 0, "start.x");
  const PropertyList current = DecodeProperties(stored);
  const int flags = 1 | (7 << 1);  // guest, rights 7 as a file may hold

  AccountEdit edit;
  edit.blocked = true;
  MergedChange change = MergeChange("old", flags, current, edit, {});
  EXPECT_EQ(change.name, "old");
  EXPECT_EQ(change.password, "");
  EXPECT_EQ(change.flags, flags | 16);  // rights 7 untouched
  EXPECT_EQ(change.properties, stored);

  edit = {};
  edit.rights = 2;
  edit.guest = false;
  edit.name = "N\xC3\xA9w";
  edit.password = "pw";
  edit.sets = {"level=castle.x", "position=5,6,7", "hand_colour=#000001"};
  const auto assignments = ParseAssignments(edit.sets);
  change = MergeChange("old", flags, current, edit, assignments);
  EXPECT_EQ(change.name, "N\xE9w");
  EXPECT_EQ(change.password, "pw");
  EXPECT_EQ(change.flags, 4);
  EXPECT_EQ(change.properties, Entry(p::kPropX, 5) + Entry(p::kPropY, 6) + Entry(p::kPropZ, 7) +
                                   Entry(p::kPropNickname, 0, "Nick") +
                                   Entry(p::kPropLevelName, 0, "castle.x") +
                                   Entry(p::kPropHandColour, 1));

  // Reading back what the server kept.
  PropertyList after = DecodeProperties(change.properties);
  EXPECT_TRUE(UnappliedFields("N\xE9w", 4, after, edit, assignments).empty());
  for (PropertyField& f : after.fields) {
    if (f.index == p::kPropLevelName) {
      f = DecodeProperties(Entry(p::kPropLevelName, 0, "start.x")).fields[0];
    }
  }
  EXPECT_EQ(UnappliedFields("old", 4 | 1, after, edit, assignments),
            (std::vector<std::string>{"name", "guest", "level"}));

  // A text too long for one message is refused rather than cut.
  edit = {};
  edit.sets = {"nickname=" + std::string(200, 'n'), "chat=" + std::string(30, 'c')};
  EXPECT_THROW(MergeChange("", 0, current, edit, ParseAssignments(edit.sets)), CtlError);
}

TEST(Assignments, OnlyStoredPropertiesWithValidValues) {
  const auto fields = ParseAssignments({"x=1.5", "address=1.2.3.4", "body_mesh=b.x"});
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[1].index, p::kPropAddress);
  for (const std::string bad :
       {"udp_port=5", "id=3", "x", "colour=1", "position=1,2", "angle=-1", "level=a\nb"}) {
    try {
      ParseAssignments({bad});
      ADD_FAILURE() << bad;
    } catch (const CtlError& error) {
      EXPECT_EQ(error.code(), kExitUsage) << bad;
    }
  }
}

class CommandLineTest : public ::testing::Test {
 protected:
  // Parses a command line (without the program name); returns false on a parse error.
  bool Parse(std::vector<std::string> args) {
    app_ = std::make_unique<CLI::App>();
    options_ = Options{};
    DefineCli(*app_, options_);
    std::reverse(args.begin(), args.end());
    try {
      app_->parse(args);
      FinishOptions(options_);
    } catch (const CLI::Error&) {
      return false;
    } catch (const CtlError&) {
      return false;
    }
    return true;
  }

  std::unique_ptr<CLI::App> app_;
  Options options_;
};

TEST_F(CommandLineTest, DefaultsAndConnectionOptions) {
  ASSERT_TRUE(Parse({"--account", "admin", "accounts"}));
  EXPECT_EQ(options_.session.host, "127.0.0.1");
  EXPECT_EQ(options_.session.port, 14901);
  EXPECT_EQ(options_.session.timeout, std::chrono::milliseconds(5000));
  EXPECT_EQ(options_.command, "accounts");
  EXPECT_FALSE(options_.json);

  ASSERT_TRUE(Parse({"--host", "example.org", "--port", "2000", "--account", "a", "--password", "p",
                     "--timeout", "0.25", "--json", "player", "bob"}));
  EXPECT_EQ(options_.session.host, "example.org");
  EXPECT_EQ(options_.session.port, 2000);
  EXPECT_EQ(options_.session.password, "p");
  EXPECT_EQ(options_.session.timeout, std::chrono::milliseconds(250));
  EXPECT_TRUE(options_.json);
  EXPECT_EQ(options_.target, "bob");

  EXPECT_FALSE(Parse({"accounts"}));        // no account
  EXPECT_FALSE(Parse({"--account", "a"}));  // no command
  EXPECT_FALSE(Parse({"--account", "a", "--timeout", "0", "players"}));
  EXPECT_FALSE(Parse({"--account", "a", "account"}));  // no target
  EXPECT_FALSE(Parse({"--account", "a", "--port", "70000", "players"}));
}

TEST_F(CommandLineTest, PasswordFromTheEnvironment) {
  ::setenv("KSERVERCTL_PASSWORD", "from-env", 1);
  ASSERT_TRUE(Parse({"--account", "a", "players"}));
  EXPECT_EQ(options_.session.password, "from-env");
  ASSERT_TRUE(Parse({"--account", "a", "--password", "typed", "players"}));
  EXPECT_EQ(options_.session.password, "typed");
  ::unsetenv("KSERVERCTL_PASSWORD");
}

TEST_F(CommandLineTest, EditOptionsRecordOnlyWhatIsGiven) {
  ASSERT_TRUE(Parse({"--account", "a", "set-account", "bob", "--set", "x=1", "--no-guest", "--set",
                     "level=l.x"}));
  EXPECT_EQ(options_.target, "bob");
  EXPECT_EQ(options_.edit.sets, (std::vector<std::string>{"x=1", "level=l.x"}));
  EXPECT_EQ(options_.edit.guest, false);
  EXPECT_FALSE(options_.edit.blocked);
  EXPECT_FALSE(options_.edit.rights);
  EXPECT_FALSE(options_.edit.name);

  ASSERT_TRUE(Parse(
      {"--account", "a", "set-player", "3", "--rights", "3", "--blocked", "--name", "carol"}));
  EXPECT_EQ(options_.edit.rights, 3);
  EXPECT_EQ(options_.edit.blocked, true);
  EXPECT_EQ(options_.edit.name, "carol");

  EXPECT_FALSE(Parse({"--account", "a", "set-account", "bob"}));  // nothing to change
  EXPECT_FALSE(Parse({"--account", "a", "set-account", "bob", "--rights", "4"}));
  EXPECT_FALSE(Parse({"--account", "a", "set-account", "bob", "--set", "udp_port=1"}));
  EXPECT_FALSE(Parse({"--account", "a", "set-account", "bob", "--new-password", ""}));

  ASSERT_TRUE(Parse({"--account", "a", "add-account", "n", "p", "--rights", "2", "--guest"}));
  EXPECT_EQ(options_.new_name, "n");
  EXPECT_EQ(options_.new_password, "p");
  EXPECT_EQ(options_.new_rights, 2);
  EXPECT_TRUE(options_.new_guest);
  EXPECT_FALSE(options_.new_blocked);

  ASSERT_TRUE(Parse({"--account", "a", "tell", "bob", "hello", "there"}));
  EXPECT_EQ(options_.words, (std::vector<std::string>{"hello", "there"}));
  ASSERT_TRUE(Parse({"--account", "a", "reload", "a.x", "b.x"}));
  EXPECT_EQ(options_.words.size(), 2u);
  EXPECT_FALSE(Parse({"--account", "a", "reload"}));
}

}  // namespace
}  // namespace tarvo::kserverctl
