#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "session/session_fixture.h"

namespace tarvo::client::testing {
namespace {

namespace msg = protocol::msg;

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- Connecting ----

TEST_F(SessionTest, EmptyAddressOrPortShowsTheFailureAndTriesNothing) {
  for (int which = 0; which < 2; ++which) {
    ClientSettings s = settings;
    (which == 0 ? s.ServerAddress : s.ServerPort).clear();
    RecordingHost h;
    TAdventureClient client(s, world, h);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(world.CurrentSession(), nullptr);
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].text, "Could not establish a connection to the server!");
  }
  EXPECT_FALSE(server.Accept());
}

TEST_F(SessionTest, PortThatIsNotANumberLeavesNoCurrentSession) {
  settings.ServerPort = "14a01";
  TAdventureClient client(settings, world, host);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(world.CurrentSession(), nullptr);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].text.find("14a01"), std::string::npos);
}

TEST_F(SessionTest, HexadecimalPortIsAccepted) {
  settings.ServerPort = "$" + [this] {
    char text[8];
    std::snprintf(text, sizeof text, "%X", server.port());
    return std::string(text);
  }();
  Connect();
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(SessionTest, RefusedConnectStaysCurrentUnconnectedAndIsStillCached) {
  std::uint16_t closed_port;
  {
    auto probe = net::TcpListener::Listen(0, net::kLoopbackAddress);
    ASSERT_TRUE(probe);
    closed_port = probe->LocalPort();
  }
  settings.ServerPort = std::to_string(closed_port);
  TAdventureClient client(settings, world, host);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(world.CurrentSession(), &client);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Could not establish a connection to the server!");
  EXPECT_EQ(ProcessHostCache().FindCachedHost("127.0.0.1"), net::kLoopbackAddress);

  // Unconnected: sending does nothing, receiving fails quietly, queued text piles up unsent.
  world.AddOtherPlayer(7);
  client.QueueMessage(1, "x");
  client.SendPending();
  EXPECT_FALSE(client.OutgoingBatch().empty());
  client.ReceiveTcp();
  EXPECT_EQ(host.boxes.size(), 1u);
  EXPECT_TRUE(world.OtherPlayers().empty());
}

TEST_F(SessionTest, CachedAddressIsNotResolvedAgain) {
  // A name that no resolver knows connects because the cache holds it.
  ProcessHostCache().AddCachedHost("tarvo.invalid", net::kLoopbackAddress);
  settings.ServerAddress = "tarvo.invalid";
  Connect();
  EXPECT_TRUE(host.boxes.empty());
  // Texts compare exactly: another spelling is not a hit.
  EXPECT_EQ(ProcessHostCache().FindCachedHost("TARVO.invalid"), -1);
}

TEST_F(SessionTest, LoginAndFirstReportLeaveTogetherWithTheFirstSendPending) {
  settings.AccountName = "alice";
  settings.AccountPassword = "s3cr3";
  Connect();
  world.LocalPlayer().Nickname = "Al";
  EXPECT_EQ(server.Receive(1).size(), 0u);  // nothing leaves before SendPending
  world.LocalPlayer().ReportChanges();
  session->SendPending();
  const auto& got = server.Receive(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::string(" VX3DV002") + char(37) + "alice" + char(37) + "s3cr3");
  EXPECT_EQ(got[1][0], '!');  // message 1: the first property report
  EXPECT_EQ(got[1].substr(1, 1), "&");
  EXPECT_NE(got[1].find(std::string(",") + char(32 + 2) + "Al"), std::string::npos);
}

// ---- Queueing ----

TEST_F(SessionTest, QueueingFollowsTheBatchLimitAndDropsLineFeeds) {
  Connect();
  session->QueueMessage(1, std::string(4000, 'a'));
  session->QueueMessage(1, std::string(200, 'b'));  // would reach 4096: the first batch leaves
  EXPECT_EQ(session->OutgoingBatch().size(), 202u);
  session->QueueMessage(1, "two\nlines");
  EXPECT_EQ(session->OutgoingBatch().size(), 202u);
  session->SendPending();
  const auto& got = server.Receive(3);
  ASSERT_EQ(got.size(), 3u);  // login, then the two texts; the line feed never left
  EXPECT_EQ(got[1].size(), 4001u);
  EXPECT_EQ(got[2].size(), 201u);
}

TEST_F(SessionTest, OverflowingOutputQueueDisconnects) {
  Connect();
  std::mt19937 random(7);
  std::string noise(4000, ' ');
  for (int i = 0; i < 100 && session->Connected(); ++i) {
    for (char& c : noise) c = static_cast<char>(32 + random() % 200);
    session->QueueMessage(1, noise);
  }
  EXPECT_FALSE(session->Connected());
  EXPECT_EQ(world.CurrentSession(), nullptr);
  EXPECT_EQ(session->OutputQueueSize(), 0u);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "You have been disconnected from the server.");
}

// ---- Receiving and disconnecting ----

TEST_F(SessionTest, DisconnectShowsReasonOnlyWhenItWasTheLastLine) {
  Connect();
  world.AddOtherPlayer(3);
  server.Send({{msg::kDisconnectReason, "Kicked."}});
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return !session->Connected(); }));
  EXPECT_EQ(world.CurrentSession(), nullptr);
  EXPECT_TRUE(world.OtherPlayers().empty());
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Kicked.");
}

TEST_F(SessionTest, LineAfterTheReasonBringsBackTheGenericText) {
  Connect();
  server.Send({{msg::kDisconnectReason, "Kicked."}, {msg::kFirstInLevel, ""}});
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return !session->Connected(); }));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "You have been disconnected from the server.");
}

TEST_F(SessionTest, BadPacketShowsDecompressErrorAndKeepsTheConnection) {
  Connect();
  // A corrupt packet followed, in the same read, by a good one: both are lost.
  std::string good_body;
  protocol::CompressAppend("!a.x\n", good_body);
  server.SendRaw(LoopbackServer::Frame("not zlib at all") + LoopbackServer::Frame(good_body));
  ASSERT_TRUE(PumpUntil([&] { return !host.boxes.empty(); }));
  EXPECT_EQ(host.boxes[0].text, "Decompress error");
  EXPECT_EQ(session->InputQueueSize(), 0u);
  EXPECT_TRUE(session->Connected());
  // The connection still works.
  server.Send({{msg::kLevelName, "b.x"}});
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "b.x"; }));
}

TEST_F(SessionTest, PacketThatInflatesPastTheBoundIsADecompressError) {
  Connect();
  std::string huge(300000, 'a');
  huge.back() = '\n';
  server.SendBatch(huge);
  ASSERT_TRUE(PumpUntil([&] { return !host.boxes.empty(); }));
  EXPECT_EQ(host.boxes[0].text, "Decompress error");
}

TEST_F(SessionTest, PacketSplitAcrossReadsIsHandledOnceComplete) {
  Connect();
  std::string body;
  protocol::CompressAppend("!one.x\n", body);
  const std::string packet = LoopbackServer::Frame(body);
  server.SendRaw(packet.substr(0, 1));
  for (int i = 0; i < 20; ++i) session->ReceiveTcp();
  EXPECT_EQ(world.LocalPlayer().LevelFile, "level1.x");
  server.SendRaw(packet.substr(1));
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "one.x"; }));
}

// ---- Per-tick budget ----

// Level names "l<first>" on: each one handled leaves its name in the local player.
std::string LevelNameLines(int first, int count) {
  std::string batch;
  for (int i = first; i < first + count; ++i) {
    batch += static_cast<char>(msg::kLevelName + 32);
    batch += "l" + std::to_string(i) + "\n";
  }
  return batch;
}

TEST_F(SessionTest, ATickHandles256MessagesAndTheRestWaitInOrder) {
  options.tick_time_budget = 60s;  // the count alone decides here
  Connect();
  server.SendBatch(LevelNameLines(0, 500));
  server.SendBatch(LevelNameLines(500, 500));
  std::this_thread::sleep_for(200ms);  // all of it in the socket before the first tick
  session->ReceiveTcp();
  EXPECT_EQ(session->Stats().messages_received, 256u);
  EXPECT_EQ(world.LocalPlayer().LevelFile, "l255");
  EXPECT_GE(session->WaitingMessages(), 244u);
  session->ReceiveTcp();
  EXPECT_EQ(session->Stats().messages_received, 512u);
  EXPECT_EQ(world.LocalPlayer().LevelFile, "l511");
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "l999"; }));
  EXPECT_EQ(session->Stats().messages_received, 1000u);
  EXPECT_EQ(session->WaitingMessages(), 0u);
}

TEST_F(SessionTest, AClosedConnectionHandlesEveryWaitingMessageBeforeItsBox) {
  Connect();
  // A long message across the first tick's end, then the reason as the last line.
  std::string batch = LevelNameLines(0, 250);
  batch += static_cast<char>(msg::kLongMessageFollows + 32);
  protocol::PutNumber3(batch, 30);
  batch += '\n';
  batch += "\x85" + std::string(28, '\n') + "\n";
  batch += LevelNameLines(250, 350);
  batch += static_cast<char>(msg::kDisconnectReason + 32);
  batch += "Bye\n";
  server.SendBatch(batch);
  server.Close();
  int ticks = 0;
  for (; ticks < 500 && host.boxes.empty(); ++ticks) {
    session->ReceiveTcp();
    std::this_thread::sleep_for(2ms);
  }
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Bye");
  EXPECT_EQ(session->Stats().messages_received, 603u);
  EXPECT_EQ(world.LocalPlayer().LevelFile, "l599");
  EXPECT_GE(ticks, 3);
  EXPECT_FALSE(session->Connected());
}

TEST_F(SessionTest, AReasonEndingATickIsForgottenWhenTheNextTickHandlesMore) {
  options.tick_time_budget = 60s;
  Connect();
  std::string batch = LevelNameLines(0, 255);
  batch += static_cast<char>(msg::kDisconnectReason + 32);
  batch += "Kicked.\n";  // the 256th: the first tick ends with it
  batch += LevelNameLines(255, 1);
  server.SendBatch(batch);
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return !host.boxes.empty(); }));
  EXPECT_EQ(host.boxes[0].text, "You have been disconnected from the server.");
  EXPECT_EQ(world.LocalPlayer().LevelFile, "l255");
}

TEST_F(SessionTest, ADecompressErrorIsShownAfterTheMessagesBeforeIt) {
  Connect();
  server.SendBatch(LevelNameLines(0, 300));
  server.SendRaw(LoopbackServer::Frame("not zlib"));
  std::this_thread::sleep_for(100ms);  // both in the socket before the first tick
  ASSERT_TRUE(PumpUntil([&] { return !host.boxes.empty(); }));
  EXPECT_EQ(host.boxes[0].text, "Decompress error");
  EXPECT_EQ(world.LocalPlayer().LevelFile, "l299");
  EXPECT_TRUE(session->Connected());
}

// ---- Long messages ----

TEST_F(SessionTest, AnnouncedLongMessageIsSkippedWholeAndHandlingGoesOn) {
  Connect();
  std::string file_message = "\x85" + std::string(298, '\n');  // id 101, holds line feeds
  file_message += '\n';
  ASSERT_EQ(file_message.size(), 300u);
  std::string batch;
  batch += static_cast<char>(msg::kLongMessageFollows + 32);
  protocol::PutNumber3(batch, 300);
  batch += '\n';
  batch += file_message;
  batch += "!after.x\n";
  server.SendBatch(batch);
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "after.x"; }));
  EXPECT_FALSE(session->LongMessageMode());
}

TEST_F(SessionTest, LongMessageLongerThanItsPacketIsTakenFromTheNextOne) {
  Connect();
  std::string announce;
  announce += static_cast<char>(msg::kLongMessageFollows + 32);
  protocol::PutNumber3(announce, 50);
  announce += '\n';
  server.SendBatch(announce + std::string(20, 'x'));  // too short: the rest of this packet goes
  ASSERT_TRUE(PumpUntil([&] { return session->LongMessageMode(); }));
  EXPECT_EQ(session->LongMessageLength(), 50);
  server.SendBatch(std::string(49, '\n') + "\n" + "!next.x\n");
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "next.x"; }));
  EXPECT_FALSE(session->LongMessageMode());
}

TEST_F(SessionTest, ShortOrImpossibleAnnouncementsAreIgnored) {
  Connect();
  std::string too_long;
  protocol::PutNumber3(too_long, 300000);  // more than any packet can hold
  server.Send({{msg::kLongMessageFollows, "!!"},
               {msg::kLongMessageFollows, too_long},
               {msg::kLevelName, "still.x"}});
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "still.x"; }));
  EXPECT_FALSE(session->LongMessageMode());
}

// ---- Messages ----

TEST_F(SessionTest, LevelFileIsWrittenUnderItsBaseNameInsideTheLevelDirectory) {
  Connect();
  const std::string text = std::string("line one") + protocol::kParagraphMark + "line two";
  server.Send({{msg::kLevelName, "../../outside/Start.x"}, {msg::kLevelData, text}});
  ASSERT_TRUE(PumpUntil([&] { return !host.levels.empty(); }));
  const auto expected = levels.path() / "levels" / "Start.x";
  EXPECT_EQ(host.levels[0], expected);
  EXPECT_EQ(ReadAll(expected), "line one\nline two");
  EXPECT_FALSE(std::filesystem::exists(levels.path() / "outside"));
  EXPECT_EQ(world.LocalPlayer().LevelFile, "../../outside/Start.x");

  // An empty payload reuses the file on disk without writing it.
  std::ofstream(expected, std::ios::trunc) << "kept";
  server.Send({{msg::kLevelData, ""}});
  ASSERT_TRUE(PumpUntil([&] { return host.levels.size() == 2; }));
  EXPECT_EQ(ReadAll(expected), "kept");

  // A name with nothing left after its directories is not a file: the level is not entered.
  server.Send({{msg::kLevelName, "..\\"}, {msg::kLevelData, "x"}, {msg::kLevelName, "done"}});
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "done"; }));
  EXPECT_EQ(host.levels.size(), 2u);
}

TEST_F(SessionTest, OtherPlayerMessagesCreateOnceThenUpdate) {
  Connect();
  std::string first;
  first += static_cast<char>(32 + 9);
  first += ",";
  protocol::PutShortString(first, "nine");
  std::string second;
  second += static_cast<char>(32 + 9);
  second += "!";
  protocol::PutCoordinate(second, 12.5);
  std::string low_id = std::string(1, '\x1F') + ",";  // first character below 32
  protocol::PutShortString(low_id, "bad");
  server.Send({{msg::kOtherPlayer, first},
               {msg::kOtherPlayer, second},
               {msg::kOtherPlayer, low_id},
               {msg::kOtherPlayer, ""},
               {msg::kLevelName, "end"}});
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().LevelFile == "end"; }));
  ASSERT_EQ(world.OtherPlayers().size(), 1u);
  const TPlayer& nine = *world.OtherPlayers()[0];
  EXPECT_EQ(nine.Id, 9);
  EXPECT_EQ(nine.Nickname, "nine");
  EXPECT_EQ(nine.X, 12.5);
  EXPECT_EQ(session->Stats().tcp_movements, 1u);
}

TEST_F(SessionTest, OwnPropertiesAreAppliedAndNotReportedBack) {
  Connect();
  world.LocalPlayer().ReportChanges();  // first report
  std::string own = " ";
  own += static_cast<char>(32 + 4);
  own += "!";
  protocol::PutCoordinate(own, 100);
  server.Send({{msg::kOwnProperties, own}});
  ASSERT_TRUE(PumpUntil([&] { return world.LocalPlayer().X == 100; }));
  EXPECT_EQ(world.LocalPlayer().Id, 4);
  session->SendPending();
  const std::size_t before = server.Receive(2).size();
  world.LocalPlayer().ReportChanges();
  session->SendPending();
  EXPECT_EQ(server.Receive(before + 1).size(), before);
}

TEST_F(SessionTest, AdministratorMessageShowsLinesUnderItsCaption) {
  Connect();
  server.Send({{msg::kAdminMessage, ""},
               {msg::kAdminMessage, std::string("Hello") + protocol::kParagraphMark + "world"}});
  ASSERT_TRUE(PumpUntil([&] { return !host.boxes.empty(); }));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Hello\nworld");
  EXPECT_EQ(host.boxes[0].caption, "Administrator message");
}

}  // namespace
}  // namespace tarvo::client::testing
