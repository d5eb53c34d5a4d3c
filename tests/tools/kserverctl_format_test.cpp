// Tables and JSON: what people and scripts read. The JSON is parsed back by a small strict
// reader, so escaping faults show up as parse failures, not as text differences.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <variant>

#include "net/address.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "tools/kserverctl/format.h"
#include "tools/kserverctl/text.h"

namespace tarvo::kserverctl {
namespace {

namespace p = protocol;
namespace m = protocol::msg;

// ---- a strict reader of the JSON subset the program writes ----
struct Json;
using JsonObject = std::map<std::string, Json>;
using JsonArray = std::vector<Json>;
struct Json {
  std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<JsonArray>,
               std::shared_ptr<JsonObject>>
      value;
  const Json& operator[](const std::string& key) const {
    return std::get<std::shared_ptr<JsonObject>>(value)->at(key);
  }
  const Json& operator[](std::size_t i) const {
    return std::get<std::shared_ptr<JsonArray>>(value)->at(i);
  }
  std::size_t size() const {
    if (auto a = std::get_if<std::shared_ptr<JsonArray>>(&value)) return (*a)->size();
    return std::get<std::shared_ptr<JsonObject>>(value)->size();
  }
  const std::string& str() const { return std::get<std::string>(value); }
  double num() const { return std::get<double>(value); }
  bool boolean() const { return std::get<bool>(value); }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}
  // Throws on anything that is not exactly one JSON value followed by one line feed.
  Json ReadDocument() {
    Json v = Value();
    if (pos_ + 1 != text_.size() || text_[pos_] != '\n') throw std::runtime_error("trailing");
    return v;
  }

 private:
  char Peek() const {
    if (pos_ >= text_.size()) throw std::runtime_error("end");
    return text_[pos_];
  }
  void Expect(char c) {
    if (Peek() != c) throw std::runtime_error(std::string("expected ") + c);
    ++pos_;
  }
  Json Value() {
    const char c = Peek();
    if (c == '{') {
      auto obj = std::make_shared<JsonObject>();
      ++pos_;
      if (Peek() != '}') {
        for (;;) {
          std::string key = String();
          Expect(':');
          if (!obj->emplace(key, Value()).second) throw std::runtime_error("duplicate key");
          if (Peek() == ',') {
            ++pos_;
            continue;
          }
          break;
        }
      }
      Expect('}');
      return Json{obj};
    }
    if (c == '[') {
      auto arr = std::make_shared<JsonArray>();
      ++pos_;
      if (Peek() != ']') {
        for (;;) {
          arr->push_back(Value());
          if (Peek() == ',') {
            ++pos_;
            continue;
          }
          break;
        }
      }
      Expect(']');
      return Json{arr};
    }
    if (c == '"') return Json{String()};
    for (std::string_view word : {"true", "false", "null"}) {
      if (text_.substr(pos_, word.size()) == word) {
        pos_ += word.size();
        if (word == "null") return Json{nullptr};
        return Json{word == "true"};
      }
    }
    const std::size_t start = pos_;
    while (pos_ < text_.size() &&
           std::string_view("-0123456789.eE+").find(text_[pos_]) != std::string_view::npos) {
      ++pos_;
    }
    if (start == pos_) throw std::runtime_error("bad value");
    return Json{std::stod(std::string(text_.substr(start, pos_ - start)))};
  }
  std::string String() {
    Expect('"');
    std::string out;
    for (;;) {
      const char c = Peek();
      ++pos_;
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) throw std::runtime_error("raw control");
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      const char e = Peek();
      ++pos_;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out.push_back(e);
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'u': {
          const unsigned code = std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16);
          pos_ += 4;
          if (code >= 0x80) throw std::runtime_error("unexpected wide escape");
          out.push_back(static_cast<char>(code));
          break;
        }
        default:
          throw std::runtime_error("bad escape");
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

Json ParseJson(const std::string& text) { return JsonReader(text).ReadDocument(); }

std::string Entry(int index, double number, std::string_view text = {}) {
  std::string out;
  p::PutEntry(out, index, number, text);
  return out;
}

// ---- tests ----

TEST(JsonOutput, AwkwardNamesSurviveTheRoundTrip) {
  const std::string nasty = std::string("q\"b\\s\x01\x1F\x7F") + "\xE9\xA7";
  std::vector<AccountRow> accounts = {{1, nasty, 13}, {16383, "", 0}};
  const Json list = ParseJson(FormatAccounts(accounts, OutputFormat::kJson));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["name"].str(), Latin1ToUtf8(nasty));
  EXPECT_EQ(list[0]["number"].num(), 1);
  EXPECT_EQ(list[0]["rights"].num(), 3);
  EXPECT_EQ(list[0]["rights_caption"].str(), "Administrator");
  EXPECT_EQ(list[0]["state"].str(), "offline");
  EXPECT_EQ(list[1]["state"].str(), "guest");
  EXPECT_EQ(ParseJson(FormatAccounts({}, OutputFormat::kJson)).size(), 0u);
}

TEST(JsonOutput, DetailsCarryFlagsAndTypedProperties) {
  AccountView view;
  view.number = 42;
  view.name = "bob";
  view.flags = 1 | (2 << 1) | 16;
  view.properties = DecodeProperties(Entry(p::kPropX, -12.5) + Entry(p::kPropViewAngle, 180) +
                                     Entry(p::kPropArmColour, 0xFF0000) +
                                     Entry(p::kPropNickname, 0,
                                           "N\xEF"
                                           "ck") +
                                     Entry(p::kPropAddress, net::MakeAddress(10, 0, 0, 7)));
  const Json json = ParseJson(FormatAccount(view, OutputFormat::kJson));
  EXPECT_EQ(json["number"].num(), 42);
  EXPECT_EQ(json["flags"].num(), 21);
  EXPECT_EQ(json["rights"].num(), 2);
  EXPECT_TRUE(json["guest"].boolean());
  EXPECT_TRUE(json["blocked"].boolean());
  EXPECT_TRUE(std::holds_alternative<std::nullptr_t>(json["state"].value));
  const Json& props = json["properties"];
  EXPECT_EQ(props["x"].num(), -12.5);
  EXPECT_EQ(props["angle"].num(), 180);
  EXPECT_EQ(props["arm_colour"].str(), "#FF0000");
  EXPECT_EQ(props["nickname"].str(),
            "N\xC3\xAF"
            "ck");
  EXPECT_EQ(props["address"].str(), "10.0.0.7");

  PlayerView player{3, "carol", 1, DecodeProperties(Entry(p::kPropLevelName, 0, "a.x"))};
  const Json pj = ParseJson(FormatPlayer(player, OutputFormat::kJson));
  EXPECT_EQ(pj["id"].num(), 3);
  EXPECT_EQ(pj["account"].str(), "carol");
  EXPECT_EQ(pj["properties"]["level"].str(), "a.x");
}

TEST(JsonOutput, EveryNoticeIsOneParsableLine) {
  RemoteDirectory directory;
  directory.Apply(*DecodeNotice(m::kAccountEntry, p::BuildAccountEntry(3, 5, "bob")));
  const std::vector<std::pair<int, std::string>> notices = {
      {m::kAccountEntry, p::BuildAccountEntry(4, 0, "new\"one")},
      {m::kAccountStatus, p::BuildAccountStatus(3, 6)},
      {m::kAccountName, p::BuildAccountName(3, "robert")},
      {m::kAccountRemoved, p::BuildAccountNumber(3)},
      {m::kPlayerEntry, p::BuildPlayerEntry(5, "bob", Entry(p::kPropLevelName, 0, "a.x"))},
      {m::kPlayerLeft, p::BuildPlayerId(5)},
      {m::kPlayerAccount, p::BuildPlayerAccount(5, "carol")},
      {m::kPlayerChanges, p::BuildPlayerEntries(5, Entry(p::kPropY, 2) + "\x7F")},
  };
  std::vector<std::string> names;
  for (const auto& [id, payload] : notices) {
    const auto notice = DecodeNotice(id, payload);
    ASSERT_TRUE(notice) << id;
    const Json json = ParseJson(FormatNotice(*notice, directory, OutputFormat::kJson));
    names.push_back(json["notice"].str());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"account_added", "account_status", "account_renamed",
                                             "account_removed", "player_joined", "player_left",
                                             "player_account", "player_changed"}));
  const auto renamed = DecodeNotice(m::kAccountName, p::BuildAccountName(3, "robert"));
  const Json json = ParseJson(FormatNotice(*renamed, directory, OutputFormat::kJson));
  EXPECT_EQ(json["old_name"].str(), "bob");
  EXPECT_EQ(json["name"].str(), "robert");
  const auto status = DecodeNotice(m::kAccountStatus, p::BuildAccountStatus(3, 6));
  const Json sj = ParseJson(FormatNotice(*status, directory, OutputFormat::kJson));
  EXPECT_EQ(sj["rights"].num(), 1);
  EXPECT_EQ(sj["state"].str(), "in use");
}

TEST(TableOutput, ListsLineUpAndCountRows) {
  std::vector<AccountRow> accounts = {{1, "admin", 13}, {12, "J\xF6rg", 6}, {100, "", 0}};
  EXPECT_EQ(FormatAccounts(accounts, OutputFormat::kTable),
            "NUMBER  NAME      RIGHTS             STATE\n"
            "1       admin     3 Administrator    offline\n"
            "12      J\xC3\xB6rg      1 Tarvoian Police  in use\n"
            "100     (noname)  0 No rights        guest\n"
            "3 account(s)\n");

  std::vector<PlayerRow> players = {
      {7, "bob",
       DecodeProperties(Entry(p::kPropLevelName, 0, "startlevel.x") +
                        Entry(p::kPropNickname, 0, "Bob\x1B") + Entry(p::kPropHeadMesh, 0, "h.x"))},
      {150, "carol", {}}};
  EXPECT_EQ(FormatPlayers(players, OutputFormat::kTable),
            "ID   ACCOUNT  NICKNAME  LEVEL         HEAD\n"
            "7    bob      Bob?      startlevel.x  h.x\n"
            "150  carol                            \n"
            "2 player(s)\n");
}

TEST(TableOutput, DetailsNameEveryField) {
  AccountView view;
  view.number = 3;
  view.name = "bob";
  view.status = 4 * 1 + 2;
  view.flags = 2;
  view.properties = DecodeProperties(
      Entry(p::kPropX, 10.5) + Entry(p::kPropY, 0) + Entry(p::kPropZ, -3) +
      Entry(p::kPropViewAngle, 270) + Entry(p::kPropBodyMesh, 0, "body.x") +
      Entry(p::kPropShoeColour, 0x800000) + Entry(p::kPropLevelName, 0, "castle.x") +
      Entry(p::kPropAddress, net::MakeAddress(192, 168, 0, 9)) + "\x7F");
  EXPECT_EQ(FormatAccount(view, OutputFormat::kTable),
            "account       3\n"
            "name          bob\n"
            "rights        1 Tarvoian Police\n"
            "guest         no\n"
            "blocked       no\n"
            "state         in use\n"
            "level name    castle.x\n"
            "position      10.5, 0, -3\n"
            "view angle    270\n"
            "body mesh     body.x\n"
            "shoe colour   #800000\n"
            "last address  192.168.0.9\n"
            "note          the property text was cut short\n");
}

TEST(TableOutput, NoticeLinesNameWhatChanged) {
  RemoteDirectory directory;
  directory.Apply(*DecodeNotice(m::kAccountEntry, p::BuildAccountEntry(3, 5, "bob")));
  directory.Apply(*DecodeNotice(m::kPlayerEntry, p::BuildPlayerEntry(5, "bob", "")));
  const auto line = [&](int id, const std::string& payload) {
    return FormatNotice(*DecodeNotice(id, payload), directory, OutputFormat::kTable);
  };
  EXPECT_EQ(line(m::kAccountEntry, p::BuildAccountEntry(4, 13, "root")),
            "account 4 added: \"root\", Administrator, offline\n");
  EXPECT_EQ(line(m::kPlayerAccount, p::BuildPlayerAccount(5, "carol")),
            "player 5 (bob) now uses account \"carol\"\n");
  EXPECT_EQ(line(m::kPlayerChanges,
                 p::BuildPlayerEntries(5, Entry(p::kPropHandColour, 0xFDCC47) +
                                              Entry(p::kPropChatText, 0, "hi \"all\""))),
            "player 5 (bob) changed: hand_colour=#FDCC47 chat=\"hi \"all\"\"\n");
  EXPECT_EQ(line(m::kPlayerLeft, p::BuildPlayerId(77)), "player 77 left\n");
}

}  // namespace
}  // namespace tarvo::kserverctl
