#include "protocol/integer_parser.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>

namespace tarvo::protocol {
namespace {

TEST(ParseIntegerTest, DecimalWithSignAndLeadingBlanks) {
  EXPECT_EQ(ParseInteger("0"), 0);
  EXPECT_EQ(ParseInteger("14898"), 14898);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("-7"), -7);
  EXPECT_EQ(ParseInteger("   42"), 42);
  EXPECT_EQ(ParseInteger("000000000000000000012"), 12);
  EXPECT_EQ(ParseInteger("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
}

TEST(ParseIntegerTest, HexadecimalPrefixes) {
  EXPECT_EQ(ParseInteger("$FF"), 255);
  EXPECT_EQ(ParseInteger("xff"), 255);
  EXPECT_EQ(ParseInteger("Xff"), 255);
  EXPECT_EQ(ParseInteger("0x00FF00"), 0xFF00);
  EXPECT_EQ(ParseInteger("0XfdCC47"), 0xFDCC47);
  EXPECT_EQ(ParseInteger("-$10"), -16);
  EXPECT_EQ(ParseInteger(" +0x7FFFFFFF"), INT32_MAX);
  // Hexadecimal may use all 32 bits, taken as the two's-complement pattern.
  EXPECT_EQ(ParseInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseInteger("0x80000000"), INT32_MIN);
  EXPECT_EQ(ParseInteger("0x0000000000FF"), 255);
}

TEST(ParseIntegerTest, AnythingElseFails) {
  for (const char* text :
       {"",           " ",           "-",   "+",          "$",           "x",
        "0x",         "-0x",         "12a", "a12",        "1 ",          "1.5",
        "1e3",        "--1",         "+-1", "2147483648", "-2147483649", "99999999999999999999",
        "$100000000", "0x1FFFFFFFF", "$G",  "0b101",      "$-1",         "0 x1",
        "\t",         "1,000"}) {
    EXPECT_EQ(ParseInteger(text), std::nullopt) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace tarvo::protocol
