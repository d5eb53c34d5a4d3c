#include "client/config/comma_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo::client {
namespace {

using Items = std::vector<std::string>;

TEST(CommaTextTest, WritesQuotesOnlyWhereNeeded) {
  EXPECT_EQ(ToCommaText({}), "");
  EXPECT_EQ(ToCommaText({"127.0.0.1", "game.example.org"}), "127.0.0.1,game.example.org");
  EXPECT_EQ(ToCommaText({""}), "\"\"");
  EXPECT_EQ(ToCommaText({"a b", "c,d", "say \"hi\"", "tab\there"}),
            "\"a b\",\"c,d\",\"say \"\"hi\"\"\",\"tab\there\"");
}

TEST(CommaTextTest, RoundTripsAnyList) {
  const Items lists[] = {{},
                         {""},
                         {"", ""},
                         {"a", ""},
                         {"", "a"},
                         {"one"},
                         {"a b", "c,d", "\"", "\"\"", " lead", "trail "},
                         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}};
  for (const Items& items : lists) {
    EXPECT_EQ(FromCommaText(ToCommaText(items)), items) << ToCommaText(items);
  }
}

TEST(CommaTextTest, ReadsHandWrittenText) {
  EXPECT_EQ(FromCommaText("a, b ,c"), (Items{"a", "b", "c"}));
  EXPECT_EQ(FromCommaText("a b"), (Items{"a", "b"}));  // Unquoted blanks separate too.
  EXPECT_EQ(FromCommaText("a,"), (Items{"a", ""}));
  EXPECT_EQ(FromCommaText(",a"), (Items{"", "a"}));
  EXPECT_EQ(FromCommaText("   "), Items{});
  EXPECT_EQ(FromCommaText("\"unterminated, quote"), Items{"unterminated, quote"});
  EXPECT_EQ(FromCommaText(std::string("a,b\0c", 5)), (Items{"a", "b"}));
}

TEST(CommaTextTest, RememberedAddressGoesFirstOnceAndHistoryStaysShort) {
  Items history = {"alpha", "Beta", "gamma"};
  EXPECT_EQ(RememberServerAddress(history, "BETA"), (Items{"BETA", "alpha", "gamma"}));
  EXPECT_EQ(RememberServerAddress(history, ""), history);
  history = {"1", "2", "3", "4", "5"};
  EXPECT_EQ(RememberServerAddress(history, "6"), (Items{"6", "1", "2", "3", "4"}));
  EXPECT_EQ(RememberServerAddress({}, "127.0.0.1"), Items{"127.0.0.1"});
}

}  // namespace
}  // namespace tarvo::client
