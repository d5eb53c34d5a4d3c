#include "net/address.h"

#include <gtest/gtest.h>

namespace tarvo::net {
namespace {

TEST(AddressTest, DottedTextPutsTheFirstOctetInTheLowByte) {
  EXPECT_EQ(ParseIpv4("127.0.0.1"), 0x0100007Fu);
  EXPECT_EQ(ParseIpv4("10.20.30.40"), MakeAddress(10, 20, 30, 40));
  EXPECT_EQ(MakeAddress(10, 20, 30, 40), 0x281E140Au);
  EXPECT_EQ(ParseIpv4("0.0.0.0"), 0u);
  EXPECT_EQ(ParseIpv4("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(FormatIpv4(0x0100007F), "127.0.0.1");
  EXPECT_EQ(FormatIpv4(MakeAddress(192, 168, 1, 254)), "192.168.1.254");
}

TEST(AddressTest, AnythingButFourDecimalOctetsIsNotAnAddress) {
  for (const char* text : {"", "localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ",
                           " 1.2.3.4", "1.2.3.-4", "1..2.3", "1.2.3.4/8", "1234567890123456"}) {
    EXPECT_FALSE(ParseIpv4(text)) << text;
  }
}

TEST(AddressTest, ResolvesLocalNamesAndRejectsUnknownOnes) {
  auto localhost = ResolveHost("localhost");
  ASSERT_TRUE(localhost) << localhost.error();
  EXPECT_EQ(*localhost & 0xFF, 127u);
  auto dotted = ResolveHost("127.0.0.1");
  ASSERT_TRUE(dotted) << dotted.error();
  EXPECT_EQ(*dotted, kLoopbackAddress);
  // The reserved top-level domain never resolves.
  auto unknown = ResolveHost("no-such-host.invalid");
  EXPECT_FALSE(unknown);
  EXPECT_FALSE(unknown.error().empty());
  EXPECT_FALSE(ResolveHost(""));
}

TEST(AddressTest, LocalHostNameIsKnown) { EXPECT_FALSE(LocalHostName().empty()); }

}  // namespace
}  // namespace tarvo::net
