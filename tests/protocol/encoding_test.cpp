#include "protocol/encoding.h"

#include <gtest/gtest.h>

namespace tarvo::protocol {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(EncodingTest, NumbersAtTheLimitsOfTheirRanges) {
  std::string s;
  PutByteNumber(s, 0);
  PutByteNumber(s, 223);
  EXPECT_EQ(s, Bytes({32, 255}));

  s.clear();
  PutNumber2(s, 16383);
  EXPECT_EQ(s, Bytes({159, 159}));
  s.clear();
  PutNumber3(s, 0);
  EXPECT_EQ(s, "   ");
  s.clear();
  PutNumber3(s, 2097151);
  EXPECT_EQ(s, Bytes({159, 159, 159}));
  s.clear();
  PutNumber4(s, 268435455);
  EXPECT_EQ(s, Bytes({159, 159, 159, 159}));

  for (int v : {0, 1, 127, 128, 16383}) {
    s.clear();
    PutNumber2(s, v);
    EXPECT_EQ(DecodeNumber2(s.data()), v);
  }
  for (int v : {0, 16384, 2097151}) {
    s.clear();
    PutNumber3(s, v);
    EXPECT_EQ(DecodeNumber3(s.data()), v);
  }
  for (int v : {0, 2097152, 268435455}) {
    s.clear();
    PutNumber4(s, v);
    EXPECT_EQ(DecodeNumber4(s.data()), v);
  }
}

TEST(EncodingTest, OutOfRangeValuesAreClampedSoTheFieldKeepsItsWidth) {
  std::string s;
  PutByteNumber(s, 300);
  PutByteNumber(s, -5);
  EXPECT_EQ(s, Bytes({255, 32}));
  s.clear();
  PutNumber2(s, 20000);
  EXPECT_EQ(DecodeNumber2(s.data()), 16383);
}

TEST(EncodingTest, DecodersDoNotRangeCheck) {
  const std::string low = Bytes({31});
  EXPECT_EQ(DecodeByteNumber(low.data()), -1);
}

TEST(EncodingTest, AddressKeepsTheFirstOctetInTheLowByte) {
  const std::uint32_t loopback = 0x0100007F;  // 127.0.0.1 as it lies in a socket address
  std::string s;
  PutAddress(s, loopback);
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(DecodeAddress(s.data()), loopback);
  for (std::uint32_t v : {0u, 0xFFFFFFFFu, 0x80000000u, 0x12345678u}) {
    s.clear();
    PutAddress(s, v);
    EXPECT_EQ(DecodeAddress(s.data()), v);
  }
}

TEST(EncodingTest, ColourRoundTripsAndIgnoresTheTopByte) {
  std::string s;
  for (std::uint32_t v : {0u, 0xFFFFFFu, 0xFDCC47u, 0x800000u}) {
    s.clear();
    PutColour(s, v);
    EXPECT_EQ(DecodeColour(s.data()), v);
  }
  s.clear();
  PutColour(s, 0xAB123456u);
  EXPECT_EQ(DecodeColour(s.data()), 0x123456u);
}

TEST(EncodingTest, CoordinatesTruncateTowardZero) {
  std::string s;
  PutCoordinate(s, -4000.0);
  EXPECT_EQ(s, Bytes({32, 32}));
  s.clear();
  PutCoordinate(s, 4191.5);
  EXPECT_EQ(s, Bytes({159, 159}));
  s.clear();
  PutCoordinate(s, 0.7);
  EXPECT_EQ(DecodeNumber2(s.data()), 8001);
  EXPECT_DOUBLE_EQ(DecodeCoordinate(s.data()), 0.5);
  s.clear();
  PutCoordinate(s, -0.7);
  EXPECT_EQ(DecodeNumber2(s.data()), 7999);
  EXPECT_DOUBLE_EQ(DecodeCoordinate(s.data()), -0.5);
  // Beyond the range the value is clamped instead of wrapping into a wrong position.
  s.clear();
  PutCoordinate(s, -5000.0);
  EXPECT_DOUBLE_EQ(DecodeCoordinate(s.data()), -4000.0);
  s.clear();
  PutCoordinate(s, 9999.0);
  EXPECT_DOUBLE_EQ(DecodeCoordinate(s.data()), 4191.5);
}

TEST(EncodingTest, AnglesHaveTwoDegreeSteps) {
  std::string s;
  PutAngle(s, 270);
  PutAngle(s, 271);
  PutAngle(s, 446);
  EXPECT_EQ(s, Bytes({167, 167, 255}));
  EXPECT_DOUBLE_EQ(DecodeAngle(s.data()), 270);
  EXPECT_DOUBLE_EQ(DecodeAngle(s.data() + 2), 446);
}

TEST(EncodingTest, ShortStringsUpTo223Bytes) {
  std::string s;
  EXPECT_TRUE(PutShortString(s, std::string(223, 'a')));
  EXPECT_EQ(static_cast<unsigned char>(s[0]), 255);
  EXPECT_EQ(s.size(), 224u);
  s.clear();
  EXPECT_FALSE(PutShortString(s, std::string(300, 'b')));
  EXPECT_EQ(s.size(), 224u);  // cut, but still a readable frame
  PayloadReader r(s);
  EXPECT_EQ(r.ShortString().size(), 223u);
  EXPECT_TRUE(r.ok());
}

TEST(PayloadReaderTest, ReadsPastTheEndFailForGood) {
  std::string s;
  PutNumber4(s, 1234);
  PutShortString(s, "abc");
  PayloadReader r(s);
  EXPECT_EQ(r.Number4(), 1234);
  EXPECT_EQ(r.ShortString(), "abc");
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(r.ByteNumber(), 0);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.ShortString(), "");
  EXPECT_FALSE(r.ok());
}

TEST(PayloadReaderTest, ShortStringClaimingMoreThanIsLeftFails) {
  const std::string data = Bytes({32 + 10}) + "abc";
  PayloadReader r(data);
  EXPECT_EQ(r.ShortString(), "");
  EXPECT_FALSE(r.ok());
}

TEST(ParagraphMarksTest, LineBreaksTravelAsByte167) {
  const std::string marked = ToParagraphMarks("one\r\ntwo\nthree");
  EXPECT_EQ(marked, "one\xA7two\xA7three");
  EXPECT_EQ(ExpandParagraphMarks(marked), "one\ntwo\nthree");
}

}  // namespace
}  // namespace tarvo::protocol
