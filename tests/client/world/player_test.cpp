#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "client/world/client_world.h"
#include "protocol/encoding.h"
#include "protocol/properties.h"

namespace tarvo::client {
namespace {

// Records what the player asks of its session.
class RecordingSession : public PlayerSession {
 public:
  void ReceiveTcp() override {}
  void ReceiveUdp() override {}
  void MaintainUdpChannel() override {}
  void SendPending() override {}
  void SendChat(std::string_view) override {}
  void ApplyUdpSettings() override {}
  int UdpPort() const override { return udp_port; }
  void SendProperties(std::string_view text) override { properties.emplace_back(text); }
  void SendMovement(std::string_view body) override { movements.emplace_back(body); }
  void AddPeer(TPlayer& player) override { peers.push_back(&player); }
  void RemovePeer(TPlayer& player) override {
    for (auto it = peers.begin(); it != peers.end(); ++it) {
      if (*it == &player) {
        peers.erase(it);
        return;
      }
    }
  }

  int udp_port = 0;
  std::vector<std::string> properties;
  std::vector<std::string> movements;
  std::vector<TPlayer*> peers;
};

// Counts the engine calls a player makes.
class RecordingView : public AvatarView {
 public:
  bool Initialized() const override { return initialized; }
  void CreateAvatar(TPlayer&) override { ++created; }
  void FinishAvatar(TPlayer&, bool) override { ++finished; }
  void DestroyAvatar(TPlayer&) override { ++destroyed; }
  void PlaceAvatar(TPlayer& player, bool) override { placed.push_back(player.X); }
  void SetAnimationTime(TPlayer&, int) override {}
  bool SetBodyTexture(TPlayer&, const std::string& file) override {
    textures.push_back(file);
    return file != "missing.bmp";
  }
  void SetPartColour(TPlayer&, int part, std::uint32_t colour) override {
    colours.emplace_back(part, colour);
  }
  void RedrawNameLabel(TPlayer&) override { ++labels; }

  bool initialized = true;
  int created = 0, finished = 0, destroyed = 0, labels = 0;
  std::vector<double> placed;
  std::vector<std::string> textures;
  std::vector<std::pair<int, std::uint32_t>> colours;
};

class Lines : public ChatDisplay {
 public:
  void AddChatLine(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

std::string Entry(int code, double number, std::string_view text = {}) {
  std::string out;
  protocol::PutEntry(out, code, number, text);
  return out;
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.SetCurrentSession(&session);
    world.SetChat(&chat);
  }
  RecordingView view;  // outlives the world's players
  ClientWorld world;
  RecordingSession session;
  Lines chat;
};

TEST_F(PlayerTest, NewPlayerHoldsTheClientDefaults) {
  const TPlayer& p = world.LocalPlayer();
  EXPECT_EQ(p.Id, -1);
  EXPECT_EQ(p.LevelFile, "level1.x");  // not the server's "startlevel.x"
  EXPECT_EQ(p.Angle, 0);
  EXPECT_EQ(p.HeadTex, "man.bmp");
  EXPECT_EQ(p.HandColor, 0xFDCC47u);
  EXPECT_TRUE(p.Rising);
  EXPECT_FALSE(p.SentProps.has_value());
}

// ---- ApplyProperties ----

TEST_F(PlayerTest, EntriesAreReadOneAfterTheOther) {
  TPlayer& p = world.AddOtherPlayer(3);
  const std::string text = Entry(6, 0, "body.x") + Entry(7, 0, "big.x") + Entry(1, -12.5) +
                           Entry(4, 271) + Entry(5, 40) + Entry(10, 0x123456) + Entry(15, 40000) +
                           Entry(16, 0x0100007F) + Entry(12, 0, "Nick");
  p.ApplyProperties(text, false);
  EXPECT_EQ(p.BodyMesh, "body.x");
  EXPECT_EQ(p.HeadMesh, "big.x");
  EXPECT_EQ(p.X, -12.5);
  EXPECT_EQ(p.Angle, 270);
  EXPECT_EQ(p.AnimTime, 40);
  EXPECT_EQ(p.ArmColor, 0x123456u);
  EXPECT_EQ(p.ClientPort, 40000);
  EXPECT_EQ(p.ClientAddress, 0x0100007Fu);
  EXPECT_EQ(p.Nickname, "Nick");
}

TEST_F(PlayerTest, UnknownCodeStopsButThePositionReadIsStillPlaced) {
  world.SetView(&view);
  TPlayer& p = world.AddOtherPlayer(3);
  const auto result = p.ApplyProperties(Entry(1, 33) + "~" + Entry(2, 99), false);
  EXPECT_TRUE(result.position_changed);
  EXPECT_EQ(p.X, 33);
  EXPECT_EQ(p.Y, 0);
  EXPECT_EQ(view.placed, std::vector<double>{33});
}

TEST_F(PlayerTest, ValueCutOffByTheEndIsNotRead) {
  TPlayer& p = world.AddOtherPlayer(3);
  std::string text = Entry(12, 0, "abc");
  text.pop_back();  // the nickname says 3 bytes, 2 follow
  p.ApplyProperties(Entry(1, 5) + text, false);
  EXPECT_EQ(p.X, 5);
  EXPECT_EQ(p.Nickname, "");
  p.ApplyProperties("!", false);  // a lone code byte
  EXPECT_EQ(p.X, 5);
}

TEST_F(PlayerTest, LevelPresenceMaintainsPeersAndGoesOnWithTheEntriesAfterIt) {
  world.SetView(&view);
  TPlayer& p = world.AddOtherPlayer(3);
  p.ApplyProperties("R!" + Entry(1, 7), false);
  ASSERT_EQ(session.peers, std::vector<TPlayer*>{&p});
  EXPECT_EQ(p.X, 7);
  EXPECT_EQ(view.placed, std::vector<double>{7});
  p.ApplyProperties("R " + Entry(2, 1), false);
  EXPECT_TRUE(session.peers.empty());
  EXPECT_EQ(p.Y, 1);

  // Never for the local player, and not without a session.
  world.LocalPlayer().ApplyProperties("R!", false);
  EXPECT_TRUE(session.peers.empty());
  world.SetCurrentSession(nullptr);
  p.ApplyProperties("R!" + Entry(3, 2), false);
  EXPECT_EQ(p.Z, 2);
}

TEST_F(PlayerTest, PlayerRemovedDestroysTheOtherPlayerAndEndsTheText) {
  world.SetView(&view);
  TPlayer& p = world.AddOtherPlayer(3);
  p.avatar_objects = std::make_unique<AvatarObjects>();
  TPlayer& q = world.AddOtherPlayer(4);
  p.ApplyProperties("R!", false);
  const auto result = p.ApplyProperties(Entry(1, 9) + "S" + Entry(12, 0, "ghost"), false);
  EXPECT_TRUE(result.removed);
  EXPECT_TRUE(view.placed.empty());  // no position update after "S"
  EXPECT_EQ(view.destroyed, 1);
  ASSERT_EQ(world.OtherPlayers().size(), 1u);
  EXPECT_EQ(world.OtherPlayers()[0].get(), &q);
  EXPECT_TRUE(session.peers.empty());

  // The local player is never destroyed; the text still ends.
  TPlayer& me = world.LocalPlayer();
  EXPECT_FALSE(me.ApplyProperties("S" + Entry(1, 4), false).removed);
  EXPECT_EQ(me.X, 0);
}

TEST_F(PlayerTest, ChatTextWithContentBecomesAChatLine) {
  TPlayer& p = world.AddOtherPlayer(3);
  p.ApplyProperties(Entry(12, 0, "Ann") + Entry(13, 0, " hi "), false);
  p.ApplyProperties(Entry(13, 0, "   "), false);
  EXPECT_EQ(chat.lines, std::vector<std::string>{"Ann:  hi "});
  EXPECT_EQ(p.ChatText, "   ");
}

TEST_F(PlayerTest, LookChangesReachTheViewOnlyWhenTheyChangeSomething) {
  world.SetView(&view);
  TPlayer& p = world.AddOtherPlayer(3);
  p.ApplyProperties(Entry(10, 0xFF0000) + Entry(8, 0, "body.bmp"), false);  // as held
  EXPECT_TRUE(view.colours.empty());
  EXPECT_TRUE(view.textures.empty());
  p.ApplyProperties(Entry(17, 0x00FF00) + Entry(11, 1), false);
  const std::vector<std::pair<int, std::uint32_t>> expected = {
      {4, 0x00FF00}, {5, 0x00FF00}, {6, 1}, {7, 1}};
  EXPECT_EQ(view.colours, expected);
  p.ApplyProperties(Entry(8, 0, "missing.bmp"), false);
  EXPECT_EQ(p.BodyTex, "body.bmp");  // an unloadable texture keeps the old one
  p.ApplyProperties(Entry(8, 0, "stone.bmp"), false);
  EXPECT_EQ(p.BodyTex, "stone.bmp");

  // Without an initialized view the values are only stored.
  view.initialized = false;
  view.colours.clear();
  p.ApplyProperties(Entry(10, 0x0000FF) + Entry(8, 0, "missing.bmp"), false);
  EXPECT_EQ(p.ArmColor, 0x0000FFu);
  EXPECT_EQ(p.BodyTex, "missing.bmp");
  EXPECT_TRUE(view.colours.empty());
}

TEST_F(PlayerTest, BuildAvatarReplaysOnlyTheLookAwayFromDefaults) {
  TPlayer& p = world.AddOtherPlayer(3);
  p.BuildAvatar();  // headless: nothing happens
  EXPECT_EQ(view.created, 0);
  world.SetView(&view);
  p.ArmColor = 0x010203;
  p.BodyTex = "stone.bmp";
  p.BuildAvatar();
  EXPECT_EQ(view.created, 1);
  EXPECT_EQ(view.finished, 1);
  EXPECT_EQ(view.textures, std::vector<std::string>{"stone.bmp"});
  const std::vector<std::pair<int, std::uint32_t>> expected = {{2, 0x010203}, {3, 0x010203}};
  EXPECT_EQ(view.colours, expected);
  EXPECT_EQ(p.ArmColor, 0x010203u);
  EXPECT_EQ(p.BodyMesh, "body.x");
}

// ---- Encoding ----

TEST_F(PlayerTest, EncodePropertyCutsTextsInTheFieldAndUsesTheSessionPort) {
  TPlayer& me = world.LocalPlayer();
  me.Nickname = std::string(300, 'n');
  EXPECT_EQ(me.EncodeProperty(12).size(), 201u);
  EXPECT_EQ(me.Nickname.size(), 200u);
  me.ClientPort = 1234;
  session.udp_port = 5000;
  std::string port;
  protocol::PutNumber3(port, 5000);
  EXPECT_EQ(me.EncodeProperty(15), port);
  world.SetCurrentSession(nullptr);
  EXPECT_EQ(me.EncodeProperty(15), "   ");
  EXPECT_EQ(me.EncodeProperty(18), "");
  EXPECT_EQ(me.PropertyList().size(), 15u);
}

// ---- ReportChanges ----

TEST_F(PlayerTest, FirstReportSendsLookNicknameAndPortButNotTheHandColour) {
  TPlayer& me = world.LocalPlayer();
  me.Nickname = "Me";
  me.HandColor = 0x111111;
  session.udp_port = 4321;
  me.ReportChanges();
  ASSERT_EQ(session.properties.size(), 1u);
  std::string expected;
  for (int code : {6, 7, 8, 9, 10, 11, 12, 15}) {
    expected += static_cast<char>(code + 32) + me.EncodeProperty(code);
  }
  EXPECT_EQ(session.properties[0], expected);
  EXPECT_TRUE(session.movements.empty());

  // Unchanged: nothing. A new hand colour goes out with the next change.
  me.ReportChanges();
  EXPECT_EQ(session.properties.size(), 1u);
  me.HandColor = 0x222222;
  me.ReportChanges();
  ASSERT_EQ(session.properties.size(), 2u);
  EXPECT_EQ(session.properties[1], Entry(17, 0x222222));
}

TEST_F(PlayerTest, MovementGoesToTheServerAndAsNineBytesToThePeers) {
  TPlayer& me = world.LocalPlayer();
  me.ReportChanges();
  me.X = 10;
  me.Z = -4.5;
  me.AnimTime = 3;
  me.ReportChanges();
  ASSERT_EQ(session.properties.size(), 2u);
  EXPECT_EQ(session.properties[1], Entry(1, 10) + Entry(3, -4.5) + Entry(5, 3));
  ASSERT_EQ(session.movements.size(), 1u);
  std::string body;
  protocol::PutCoordinate(body, 10);
  protocol::PutCoordinate(body, 0);
  protocol::PutCoordinate(body, -4.5);
  protocol::PutAngle(body, 0);
  protocol::PutNumber2(body, 3);
  EXPECT_EQ(session.movements[0], body);

  // A look change alone sends no movement; a change below the wire's resolution sends nothing.
  me.ChatText = "hello";
  me.X = 10.2;
  me.ReportChanges();
  EXPECT_EQ(session.properties.back(), Entry(13, 0, "hello"));
  EXPECT_EQ(session.movements.size(), 1u);
}

TEST_F(PlayerTest, EachMovementValueAloneSendsAMovementAndTheFirstLookValueDoesNot) {
  TPlayer& me = world.LocalPlayer();
  me.ReportChanges();
  const std::vector<std::function<void()>> changes = {[&] { me.X = 7; }, [&] { me.Y = 2; },
                                                      [&] { me.Z = -3; }, [&] { me.Angle = 90; },
                                                      [&] { me.AnimTime = 12; }};
  for (std::size_t i = 0; i < changes.size(); ++i) {
    changes[i]();
    me.ReportChanges();
    const int code = static_cast<int>(i) + 1;
    ASSERT_EQ(session.properties.size(), i + 2) << "code " << code;
    EXPECT_EQ(session.properties.back(), static_cast<char>(code + 32) + me.EncodeProperty(code));
    ASSERT_EQ(session.movements.size(), i + 1) << "code " << code;
    EXPECT_EQ(session.movements.back().size(), 9u);
  }
  // Code 6, the slot right after the movement values, is a look change only.
  me.BodyMesh = "other.x";
  me.ReportChanges();
  EXPECT_EQ(session.properties.back(), static_cast<char>(6 + 32) + me.EncodeProperty(6));
  EXPECT_EQ(session.movements.size(), 5u);
}

TEST_F(PlayerTest, ServerValuesAreNotReportedBackButLocalChangesAre) {
  TPlayer& me = world.LocalPlayer();
  me.ReportChanges();
  // The server's own set after login, and a nickname it corrected.
  me.ApplyProperties(Entry(0, 4) + Entry(1, 100) + Entry(4, 90) + Entry(12, 0, "Bob"), false);
  me.ReportChanges();
  EXPECT_EQ(session.properties.size(), 1u);
  EXPECT_TRUE(session.movements.empty());
  // A chat line typed here is a local change: it is reported.
  me.ApplyProperties(Entry(13, 0, "hi"), true);
  me.ReportChanges();
  ASSERT_EQ(session.properties.size(), 2u);
  EXPECT_EQ(session.properties[1], Entry(13, 0, "hi"));
}

TEST_F(PlayerTest, NothingIsReportedWithoutASessionAndANewSessionStartsAfresh) {
  TPlayer& me = world.LocalPlayer();
  world.SetCurrentSession(nullptr);
  me.ReportChanges();
  EXPECT_FALSE(me.SentProps.has_value());
  world.SetCurrentSession(&session);
  me.ReportChanges();
  me.SentProps.reset();  // what a new session does
  me.ReportChanges();
  ASSERT_EQ(session.properties.size(), 2u);
  EXPECT_EQ(session.properties[0], session.properties[1]);
}

}  // namespace
}  // namespace tarvo::client
