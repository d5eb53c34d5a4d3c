#include "protocol/messages.h"

#include <gtest/gtest.h>

#include "protocol/encoding.h"

namespace tarvo::protocol {
namespace {

TEST(MessagesTest, LoginPayloadLayout) {
  const std::string p = BuildLogin(kVersionCurrent, "guest", "pass1");
  EXPECT_EQ(p, std::string("VX3DV002") + char(37) + "guest" + char(37) + "pass1");
  auto login = ParseLogin(p);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->version, "VX3DV002");
  EXPECT_EQ(login->account, "guest");
  EXPECT_EQ(login->password, "pass1");
}

TEST(MessagesTest, LoginWithMissingOrOverrunningFieldsIsRejected) {
  EXPECT_FALSE(ParseLogin("VX3DV00"));
  EXPECT_FALSE(ParseLogin("VX3DV002"));                                // no account name
  EXPECT_FALSE(ParseLogin(std::string("VX3DV002") + char(33) + "a"));  // no password
  EXPECT_FALSE(ParseLogin(std::string("VX3DV002") + char(40) + "ab" + char(32)));
  EXPECT_TRUE(ParseLogin(std::string("VX3DV002") + char(32) + char(32)));
}

TEST(MessagesTest, EveryCatalogueIdIsFoundInItsDirection) {
  EXPECT_EQ(FindMessage(Direction::kToPlayer, 101)->name, "file");
  EXPECT_EQ(FindMessage(Direction::kRemoteNotice, 59)->name, "player changes");
  EXPECT_EQ(FindMessage(Direction::kRemoteCommand, 59)->name, "get player");
  EXPECT_EQ(FindMessage(Direction::kRemoteCommand, 52)->min_payload, 6);
  EXPECT_EQ(FindMessage(Direction::kRemoteCommand, 62)->min_rights, 2);
  EXPECT_EQ(FindMessage(Direction::kToPlayer, 9), nullptr);
  // Every row is the one found for its id: no id is listed twice in a direction.
  for (const MessageInfo& info : MessageCatalogue()) {
    EXPECT_EQ(FindMessage(info.direction, info.id), &info) << info.name;
    EXPECT_FALSE(info.name.empty()) << info.id;
  }
}

TEST(MessagesTest, RemoteCommandsRoundTrip) {
  AccountChange change{"name", "", "!  ", 2 * 3 + 1};
  // Parsed fields are views into the payload, so it must outlive them.
  const std::string set_payload = BuildSetAccount(4711, change);
  auto set = ParseSetAccount(set_payload);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->account_number, 4711);
  EXPECT_EQ(set->change.name, "name");
  EXPECT_EQ(set->change.password, "");
  EXPECT_EQ(set->change.properties, "!  ");
  EXPECT_EQ(DecodeAccountFlags(set->change.flags).rights, 3);
  EXPECT_TRUE(DecodeAccountFlags(set->change.flags).load_only);

  const std::string player_payload = BuildSetPlayer(200, change);
  auto player = ParseSetPlayer(player_payload);
  ASSERT_TRUE(player);
  EXPECT_EQ(player->player_id, 200);
  EXPECT_FALSE(ParseSetAccount(BuildAccountNumber(5) + "  "));  // 6 bytes, fields missing

  const std::string text_payload = BuildPlayerText(3, "hello");
  auto text = ParsePlayerText(text_payload);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->player_id, 3);
  EXPECT_EQ(text->text, "hello");
}

TEST(MessagesTest, ReloadLevelsCountDoesNotLimitTheNames) {
  std::string p;
  PutNumber2(p, 1);
  for (const char* n : {"a.x", "b.x", "c.x"}) PutShortString(p, n);
  p += char(32 + 40);  // a name that runs past the end is not read
  auto r = ParseReloadLevels(p);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->names.size(), 3u);

  std::string zero;
  PutNumber2(zero, 0);
  PutShortString(zero, "a.x");
  EXPECT_TRUE(ParseReloadLevels(zero)->names.empty());
}

TEST(MessagesTest, NoticesRoundTrip) {
  const std::string entry_payload = BuildAccountEntry(12, 4 * 2 + 1, "bob");
  auto entry = ParseAccountEntry(entry_payload);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->account_number, 12);
  EXPECT_EQ(DecodeAccountStatus(entry->status).rights, 2);
  EXPECT_EQ(DecodeAccountStatus(entry->status).state, 1);
  EXPECT_EQ(entry->name, "bob");

  const std::string details = BuildAccountDetails(12, "props", 16);
  EXPECT_EQ(details.substr(4, 1), " ");  // the password field is always empty
  auto d = ParseAccountDetails(details);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->properties, "props");
  EXPECT_TRUE(DecodeAccountFlags(d->flags).blocked);

  const std::string pd_payload = BuildPlayerDetails(9, "acc", "pp", 1);
  auto pd = ParsePlayerDetails(pd_payload);
  ASSERT_TRUE(pd);
  EXPECT_EQ(pd->account_name, "acc");
  EXPECT_EQ(pd->properties, "pp");

  const std::string pe_payload = BuildPlayerEntry(9, "acc", ".\x26level.x");
  auto pe = ParsePlayerEntry(pe_payload);
  ASSERT_TRUE(pe);
  EXPECT_EQ(pe->entries, ".\x26level.x");
}

TEST(MessagesTest, FileMessageLengthCountsIdLengthByteAndTerminator) {
  const std::string payload = BuildFile("pic", "DATA");
  EXPECT_EQ(static_cast<int>(payload.size()) + 2, FileMessageLength(3, 4));
  auto n = ParseLongMessageFollows(BuildLongMessageFollows(64499 + 3 + 3));
  ASSERT_TRUE(n);
  EXPECT_EQ(*n, 64505);
  EXPECT_FALSE(ParseLongMessageFollows("  "));
}

TEST(MessagesTest, MovementBodyIsNineBytes) {
  Movement m{10.5, -3, 4000, 270, 77};
  const std::string body = BuildMovement(m);
  EXPECT_EQ(body.size(), kMovementBodySize);
  auto back = ParseMovement(body + "extra");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->x, 10.5);
  EXPECT_EQ(back->y, -3);
  EXPECT_EQ(back->view_angle, 270);
  EXPECT_EQ(back->animation_time, 77);
  EXPECT_FALSE(ParseMovement(body.substr(0, 8)));
}

TEST(MessagesTest, UdpChatLongerThan200IsCutAndMarked) {
  EXPECT_EQ(BuildUdpChat(std::string(250, 'c')), std::string(200, 'c') + "...");
  EXPECT_EQ(BuildUdpChat("hi"), "hi");
}

TEST(MessagesTest, AdminMessageText) {
  EXPECT_EQ(AdminMessageText("Police ", "bob", "stop"), "Police bob:\xA7stop");
}

}  // namespace
}  // namespace tarvo::protocol
