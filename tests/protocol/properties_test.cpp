#include "protocol/properties.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/encoding.h"

namespace tarvo::protocol {
namespace {

std::vector<PropertyEntry> ReadAll(std::string_view data, EntrySide side,
                                   EntryStatus* last = nullptr) {
  std::vector<PropertyEntry> out;
  EntryReader reader(data, side);
  PropertyEntry e;
  EntryStatus status;
  while ((status = reader.Next(e)) == EntryStatus::kEntry) out.push_back(e);
  if (last) *last = status;
  return out;
}

TEST(PropertyTableTest, DefaultsAndSubsetsMatchTheProtocol) {
  const PropertySet p(7, 0x0100007F);
  EXPECT_EQ(p.Number(kPropPlayerId), 7);
  EXPECT_EQ(p.Number(kPropViewAngle), 270);
  EXPECT_EQ(p.Text(kPropBodyMesh), "body.x");
  EXPECT_EQ(p.Text(kPropHeadTexture), "man.bmp");
  EXPECT_EQ(p.Number(kPropArmColour), 0xFF0000);
  EXPECT_EQ(p.Number(kPropShoeColour), 0x800000);
  EXPECT_EQ(p.Text(kPropLevelName), "startlevel.x");
  EXPECT_EQ(p.Number(kPropAddress), 0x0100007F);
  EXPECT_EQ(p.Number(kPropHandColour), 0xFDCC47);

  int reports = 0, saved = 0, taken = 0, own = 0, all_players = 0;
  for (const PropertyInfo& info : kProperties) {
    reports += info.client_reports;
    saved += info.saved_in_account;
    taken += info.taken_from_account;
    own += info.own_set_after_login;
    all_players += info.relay_all_players;
    EXPECT_EQ(info.code(), static_cast<char>(info.index + 32));
  }
  EXPECT_EQ(reports, 15);
  EXPECT_EQ(saved, 16);
  EXPECT_EQ(taken, 12);
  EXPECT_EQ(own, 6);
  EXPECT_EQ(all_players, 2);
  EXPECT_EQ(kProperties[kPropChatText].relay, RelayClass::kMovement);
  EXPECT_EQ(kProperties[kPropNickname].relay, RelayClass::kLevel);
  for (int i : kAccountStoredOrder) EXPECT_TRUE(kProperties[i].saved_in_account) << i;
}

TEST(PropertyEntryTest, EveryPropertyRoundTrips) {
  PropertySet p(200, 0xFFFFFFFF);
  p.SetNumber(kPropX, -4000);
  p.SetNumber(kPropY, 4191.5);
  p.SetNumber(kPropZ, 12.5);
  p.SetNumber(kPropViewAngle, 446);
  p.SetNumber(kPropAnimationTime, 16383);
  p.SetText(kPropNickname, "nick");
  p.SetNumber(kPropUdpPort, 65535);
  const std::string all = EncodeAllEntries(p);

  PropertySet back(0, 0);
  EntryStatus last;
  auto entries = ReadAll(all, EntrySide::kServer, &last);
  EXPECT_EQ(last, EntryStatus::kEnd);
  ASSERT_EQ(entries.size(), 18u);
  for (const auto& e : entries) StoreEntry(back, e);
  for (int i = 0; i < kPropertyCount; ++i) {
    EXPECT_EQ(back.Number(i), p.Number(i)) << i;
    EXPECT_EQ(back.Text(i), p.Text(i)) << i;
  }
}

TEST(PropertyEntryTest, ShortStringEntryIsFollowedByTheNextEntry) {
  std::string s = "&";
  PutByteNumber(s, 6);
  s += "body.x";
  s += "$";
  PutByteNumber(s, 45);
  auto entries = ReadAll(s, EntrySide::kServer);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, "body.x");
  EXPECT_EQ(entries[1].index, kPropViewAngle);
  EXPECT_EQ(entries[1].number, 90);
}

TEST(PropertyEntryTest, ServerIgnoresALoneTrailingCodeByte) {
  std::string s;
  PutEntry(s, kPropAnimationTime, 5);
  s += "!";
  EntryStatus last;
  auto entries = ReadAll(s, EntrySide::kServer, &last);
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(last, EntryStatus::kEnd);
}

TEST(PropertyEntryTest, CodeAbove17StopsTheMessage) {
  std::string s;
  PutEntry(s, kPropX, 10);
  s += "R!";
  PutEntry(s, kPropY, 10);
  EntryStatus last;
  auto entries = ReadAll(s, EntrySide::kServer, &last);
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(last, EntryStatus::kInvalidCode);
}

TEST(PropertyEntryTest, ClientUnderstandsPresenceAndRemoval) {
  std::string s;
  PutLevelPresence(s, true);
  PutEntry(s, kPropX, 20);
  PutPlayerRemoved(s);
  auto entries = ReadAll(s, EntrySide::kClient);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].kind, PropertyEntry::Kind::kLevelPresence);
  EXPECT_EQ(entries[0].number, 1);
  EXPECT_EQ(entries[1].number, 20);
  EXPECT_EQ(entries[2].kind, PropertyEntry::Kind::kPlayerRemoved);
}

TEST(PropertyEntryTest, ValueCutOffByTheEndIsNotReadBeyondIt) {
  std::string s;
  PutEntry(s, kPropX, 10);
  s += "&";
  PutByteNumber(s, 50);
  s += "short";
  EntryStatus last;
  auto entries = ReadAll(s, EntrySide::kClient, &last);
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(last, EntryStatus::kEnd);
}

TEST(PropertyEntryTest, NicknameAndChatAreCutTo200Bytes) {
  PropertySet p;
  p.SetText(kPropNickname, std::string(250, 'n'));
  std::string s;
  PutEntry(s, kPropNickname, p);
  EXPECT_EQ(s.size(), 1u + 1u + 200u);
  // Other texts keep up to the short-string limit.
  p.SetText(kPropLevelName, std::string(220, 'l'));
  s.clear();
  PutEntry(s, kPropLevelName, p);
  EXPECT_EQ(s.size(), 222u);
}

TEST(PropertyEntryTest, SameOnWireComparesEncodedValues) {
  PropertySet a, b;
  a.SetNumber(kPropX, 0.7);
  b.SetNumber(kPropX, 0.9);
  EXPECT_TRUE(a.SameOnWire(kPropX, b));
  b.SetNumber(kPropX, 1.0);
  EXPECT_FALSE(a.SameOnWire(kPropX, b));
}

}  // namespace
}  // namespace tarvo::protocol
