#include "protocol/framing.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <random>
#include <vector>

#include "protocol/compression.h"
#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "support/fake_stream.h"

namespace tarvo::protocol {
namespace {

using testing::FakeStream;

struct Recorder : MessageSink {
  void OnMessage(std::string_view raw) override { messages.emplace_back(raw); }
  void OnLongMessage(std::string_view raw) override { long_messages.emplace_back(raw); }
  std::vector<std::string> messages;
  std::vector<std::string> long_messages;
};

struct Events : FramingObserver {
  void OnOutputOverflow() override { ++overflows; }
  void OnBatchRefused(std::size_t, std::size_t compressed) override {
    ++refused;
    last_refused_size = compressed;
  }
  int overflows = 0;
  int refused = 0;
  std::size_t last_refused_size = 0;
};

// Splits framed bytes into batches, checking every length prefix, with zlib's own `uncompress`
// as every client decodes them.
std::vector<std::string> Packets(const std::string& wire) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < wire.size()) {
    EXPECT_GE(wire.size() - pos, 2u);
    const std::size_t len =
        (static_cast<unsigned char>(wire[pos]) << 8) | static_cast<unsigned char>(wire[pos + 1]);
    EXPECT_LE(pos + 2 + len, wire.size());
    std::string batch(kMaxBatchSize, '\0');
    uLongf size = kMaxBatchSize;
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(batch.data()), &size,
                         reinterpret_cast<const Bytef*>(wire.data() + pos + 2), len),
              Z_OK);
    batch.resize(size);
    out.push_back(batch);
    pos += 2 + len;
  }
  return out;
}

std::string Packet(std::string_view batch) {
  std::string body;
  CompressAppend(batch, body);
  std::string out;
  out.push_back(static_cast<char>(body.size() >> 8));
  out.push_back(static_cast<char>(body.size() & 0xFF));
  return out + body;
}

std::string RandomPrintable(std::size_t n, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(32, 255);
  std::string s(n, ' ');
  for (char& c : s) c = static_cast<char>(byte(rng));
  return s;
}

// Every sending case runs with both compressors.
class FramingTest : public ::testing::TestWithParam<Compressor> {
 protected:
  void SetUp() override { sender_.SetCompressor(GetParam()); }

  FakeStream wire_;
  ServerSplitter server_split_;
  ClientSplitter client_split_;
  PacketConnection sender_{&wire_, server_split_, false};
};

INSTANTIATE_TEST_SUITE_P(Compressors, FramingTest,
                         ::testing::Values(Compressor::kZlib, Compressor::kLibdeflate),
                         [](const auto& info) { return std::string(CompressorName(info.param)); });

TEST_P(FramingTest, SmallMessagesShareOnePacketInOrder) {
  sender_.QueueMessage(2, "first");
  sender_.QueueMessage(3, "second");
  EXPECT_EQ(sender_.SendPending(), SendStatus::kDone);
  const auto packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], "\"first\n#second\n");
}

TEST_P(FramingTest, LargeMessageTravelsAloneAfterAFlush) {
  sender_.QueueMessage(1, "before");
  sender_.QueueMessage(0, std::string(5000, 'x'));
  sender_.QueueMessage(1, "after");
  sender_.SendPending();
  const auto packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0], "!before\n");
  EXPECT_EQ(packets[1].size(), 5002u);
  EXPECT_EQ(packets[2], "!after\n");
}

TEST_P(FramingTest, FourThousandAndTwoHundredMakeTwoPackets) {
  sender_.QueueMessage(1, std::string(4000, 'a'));
  sender_.QueueMessage(1, std::string(200, 'b'));
  sender_.SendPending();
  EXPECT_EQ(Packets(wire_.sent).size(), 2u);
}

TEST_P(FramingTest, SendOffersAtMost256BytesPerCall) {
  sender_.QueueMessage(0, RandomPrintable(3000));
  EXPECT_EQ(sender_.SendPending(), SendStatus::kDone);
  EXPECT_LE(wire_.largest_send, kSendChunk);
  EXPECT_GT(wire_.send_calls, 10u);
  // Every piece but the last tells the socket more follow, so they leave as one segment.
  EXPECT_EQ(wire_.more_calls, wire_.send_calls - 1);
}

TEST_P(FramingTest, OutputOfExactly256BytesLeavesInOneFinalPiece) {
  ASSERT_EQ(sender_.QueuePacket(std::string(254, 'x')), QueueStatus::kQueued);
  EXPECT_EQ(sender_.SendPending(), SendStatus::kDone);
  EXPECT_EQ(wire_.send_calls, 1u);
  EXPECT_EQ(wire_.more_calls, 0u);
  ASSERT_EQ(sender_.QueuePacket(std::string(255, 'x')), QueueStatus::kQueued);
  EXPECT_EQ(sender_.SendPending(), SendStatus::kDone);
  EXPECT_EQ(wire_.send_calls, 3u);
  EXPECT_EQ(wire_.more_calls, 1u);
}

TEST_P(FramingTest, WouldBlockKeepsTheRestForTheNextCall) {
  wire_.LimitAccepted(100);
  sender_.QueueMessage(0, RandomPrintable(1000));
  EXPECT_EQ(sender_.SendPending(), SendStatus::kWouldBlock);
  EXPECT_GT(sender_.output_queue_size(), 0u);
  wire_.LimitAccepted(1 << 20);
  EXPECT_EQ(sender_.SendPending(), SendStatus::kDone);
  EXPECT_EQ(Packets(wire_.sent).size(), 1u);
}

TEST_P(FramingTest, OverflowDiscardsTheOutputQueue) {
  Events events;
  sender_.SetObserver(&events);
  wire_.LimitAccepted(0);
  QueueStatus status = QueueStatus::kQueued;
  for (int i = 0; i < 100 && status == QueueStatus::kQueued; ++i) {
    status = sender_.QueueMessage(0, RandomPrintable(5000, i));
  }
  EXPECT_EQ(status, QueueStatus::kOverflow);
  EXPECT_EQ(events.overflows, 1);
  EXPECT_EQ(sender_.output_queue_size(), 0u);
}

TEST_P(FramingTest, UnframeableBatchIsRefusedAndLaterMessagesStillArrive) {
  Events events;
  sender_.SetObserver(&events);
  EXPECT_EQ(sender_.QueueMessage(0, RandomPrintable(70000)), QueueStatus::kRefusedTooLarge);
  EXPECT_EQ(events.refused, 1);
  EXPECT_GT(events.last_refused_size, kMaxPacketBody);
  sender_.QueueMessage(1, "next");
  sender_.SendPending();
  const auto packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], "!next\n");
}

TEST_P(FramingTest, UnframeableLongMessageIsNotAnnounced) {
  Events events;
  sender_.SetObserver(&events);
  EXPECT_EQ(sender_.QueueLongMessage(msg::kFile, RandomPrintable(70000)),
            QueueStatus::kRefusedTooLarge);
  sender_.QueueMessage(1, "next");
  sender_.SendPending();
  const auto packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], "!next\n");
}

TEST_P(FramingTest, EmptyPacketIsRefusedRatherThanSent) {
  // What a relay hands over when its compressor could not be allocated: no zlib stream is empty.
  EXPECT_EQ(sender_.QueuePacket(""), QueueStatus::kRefusedTooLarge);
  sender_.QueueMessage(1, "next");
  sender_.SendPending();
  const auto packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0], "!next\n");
}

// A line is the id byte, the payload and the line feed: payload n makes a line of n + 2.
TEST_P(FramingTest, BatchIsFlushedBeforeItWouldReachAndAfterItReachesExactly4096) {
  // 4000 + 95 = 4095 stays one batch; 4000 + 96 would make 4096 and goes to the next packet.
  sender_.QueueMessage(1, std::string(3998, 'a'));
  sender_.QueueMessage(1, std::string(93, 'b'));
  EXPECT_EQ(sender_.outgoing_batch().size(), 4095u);
  EXPECT_EQ(sender_.output_queue_size(), 0u);
  sender_.QueueMessage(1, std::string(94, 'c'));
  EXPECT_EQ(sender_.outgoing_batch().size(), 96u);
  sender_.SendPending();
  auto packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].size(), 4095u);
  EXPECT_EQ(packets[1].size(), 96u);

  // A single line of exactly 4096 leaves at once; one of 4095 waits for company.
  wire_.sent.clear();
  EXPECT_EQ(sender_.QueueMessage(1, std::string(4094, 'd')), QueueStatus::kQueued);
  EXPECT_TRUE(sender_.outgoing_batch().empty());
  EXPECT_GT(sender_.output_queue_size(), 0u);
  EXPECT_EQ(sender_.QueueMessage(1, std::string(4093, 'e')), QueueStatus::kQueued);
  EXPECT_EQ(sender_.outgoing_batch().size(), 4095u);
  sender_.SendPending();
  packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].size(), 4096u);
  EXPECT_EQ(packets[1].size(), 4095u);
}

// Fills an unsent output queue to exactly `total` bytes: incompressible packets, then one whose
// payload length is searched so that its packet makes up the rest.
QueueStatus FillOutputTo(PacketConnection& sender, std::size_t total, Compressor compressor) {
  unsigned seed = 0;
  while (sender.output_queue_size() + 9000 < total) {
    EXPECT_EQ(sender.QueueMessage(0, RandomPrintable(5000, ++seed)), QueueStatus::kQueued);
  }
  const std::size_t rest = total - sender.output_queue_size();
  for (std::size_t length = rest - 400; length < rest + 100; ++length) {
    const std::string payload = RandomPrintable(length, 99);
    std::string packet;
    CompressAppend(' ' + payload + '\n', packet, compressor);  // id 0 is sent as a blank
    if (packet.size() + 2 == rest) return sender.QueueMessage(0, payload);
  }
  ADD_FAILURE() << "no payload makes a packet of " << rest << " bytes";
  return QueueStatus::kRefusedTooLarge;
}

TEST_P(FramingTest, OutputQueueOneByteUnderTheLimitStaysAndAtTheLimitIsDiscarded) {
  Events events;
  sender_.SetObserver(&events);
  EXPECT_EQ(FillOutputTo(sender_, kOutputQueueLimit - 1, GetParam()), QueueStatus::kQueued);
  EXPECT_EQ(sender_.output_queue_size(), kOutputQueueLimit - 1);
  EXPECT_EQ(events.overflows, 0);

  PacketConnection at_limit(&wire_, server_split_, false);
  at_limit.SetCompressor(GetParam());
  at_limit.SetObserver(&events);
  EXPECT_EQ(FillOutputTo(at_limit, kOutputQueueLimit, GetParam()), QueueStatus::kOverflow);
  EXPECT_EQ(at_limit.output_queue_size(), 0u);
  EXPECT_EQ(events.overflows, 1);
}

TEST(InflateBoundedTest, SmallBoundIsNeverExceeded) {
  constexpr std::size_t kBound = 5000;
  std::string out;
  std::string body;
  CompressAppend(std::string(kBound, 'a'), body);
  EXPECT_EQ(InflateBounded(body, kBound, out), InflateResult::kOk);
  EXPECT_EQ(out, std::string(kBound, 'a'));
  EXPECT_LE(out.capacity(), kBound);

  // One byte more: refused, nothing returned, and no buffer beyond the bound was made.
  for (std::size_t size : {kBound + 1, 100 * kBound}) {
    std::string fresh;
    body.clear();
    CompressAppend(std::string(size, 'a'), body);
    EXPECT_EQ(InflateBounded(body, kBound, fresh), InflateResult::kTooLarge) << size;
    EXPECT_TRUE(fresh.empty());
    EXPECT_LE(fresh.capacity(), kBound) << size;
  }
}

TEST(InflateBoundedTest, RandomBytesOneOverTheBoundAreTooLarge) {
  std::mt19937 rng(11);
  std::string noise(5001, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  std::string body;
  std::string out;
  CompressAppend(noise, body);
  EXPECT_EQ(InflateBounded(body, 5000, out), InflateResult::kTooLarge);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(InflateBounded(body, 5001, out), InflateResult::kOk);
  EXPECT_EQ(out, noise);
}

TEST_P(FramingTest, ABodyOf65535BytesIsSentAndOneOf65536IsRefused) {
  // Random bytes are stored, not compressed: find the payloads whose packets come to exactly
  // 65,535 and 65,536 bytes.
  std::mt19937 rng(5);
  std::string noise(65600, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  std::size_t fits = 0;
  std::size_t over = 0;
  for (std::size_t n = 65400; n < noise.size() && (fits == 0 || over == 0); ++n) {
    std::string body;
    const std::size_t size = CompressAppend("!" + noise.substr(0, n) + "\n", body, GetParam());
    if (size == 65535) fits = n;
    if (size == 65536) over = n;
  }
  ASSERT_NE(fits, 0u);
  ASSERT_NE(over, 0u);
  Events events;
  sender_.SetObserver(&events);
  EXPECT_EQ(sender_.QueueLongMessage(1, noise.substr(0, over)), QueueStatus::kRefusedTooLarge);
  EXPECT_EQ(events.last_refused_size, 65536u);
  EXPECT_EQ(sender_.QueueLongMessage(1, noise.substr(0, fits)), QueueStatus::kQueued);
  EXPECT_EQ(sender_.SendPending(), SendStatus::kDone);
  const auto packets = Packets(wire_.sent);
  ASSERT_EQ(packets.size(), 2u);  // the announcement, then the message alone
  EXPECT_EQ(packets[1], "!" + noise.substr(0, fits) + "\n");
  const std::size_t header = wire_.sent.size() - 65537;
  EXPECT_EQ(static_cast<unsigned char>(wire_.sent[header]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(wire_.sent[header + 1]), 0xFF);
}

TEST_P(FramingTest, ClientRefusesPayloadsWithALineFeed) {
  PacketConnection client(&wire_, client_split_, true);
  EXPECT_EQ(client.QueueMessage(1, "a\nb"), QueueStatus::kRefusedLineFeed);
  EXPECT_TRUE(client.outgoing_batch().empty());
}

class ReceiveTest : public ::testing::Test {
 protected:
  ReceiveStatus ReceiveServer() {
    PacketConnection conn(&wire_, server_split_, false);
    return conn.ReceivePending(got_);
  }
  FakeStream wire_;
  ServerSplitter server_split_;
  Recorder got_;
};

TEST_F(ReceiveTest, PacketSplitAcrossReadsIsDecodedOnlyWhenComplete) {
  const std::string packet = Packet("!hello\n");
  PacketConnection conn(&wire_, server_split_, false);
  wire_.Feed(packet.substr(0, 1));
  EXPECT_EQ(conn.ReceivePending(got_), ReceiveStatus::kDrained);
  EXPECT_TRUE(got_.messages.empty());
  wire_.Feed(packet.substr(1));
  EXPECT_EQ(conn.ReceivePending(got_), ReceiveStatus::kDrained);
  ASSERT_EQ(got_.messages.size(), 1u);
  EXPECT_EQ(got_.messages[0], "!hello");
}

TEST_F(ReceiveTest, SeveralPacketsInOneReadAreAllHandled) {
  wire_.Feed(Packet("!a\n") + Packet("\"b\n#c\n"));
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDrained);
  EXPECT_EQ(got_.messages, (std::vector<std::string>{"!a", "\"b", "#c"}));
}

TEST_F(ReceiveTest, ReadsAtMost1024BytesPerCall) {
  wire_.Feed(Packet(RandomPrintable(5000) + "\n"));
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDrained);
  EXPECT_EQ(wire_.largest_receive, kReceiveChunk);
  ASSERT_EQ(got_.messages.size(), 1u);
}

// A read that comes back short has emptied the socket: no read is spent to hear it would block.
TEST_F(ReceiveTest, ReadingStopsAtAShortReadNotAtAWouldBlock) {
  // The start of a packet announced 65535 bytes long.
  const auto partial = [](std::size_t n) { return "\xFF\xFF" + std::string(n - 2, 'a'); };
  wire_.Feed(partial(1000));
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDrained);
  EXPECT_EQ(wire_.receive_calls, 1u);
  wire_.Feed(partial(kReceiveChunk));  // a full read may leave more
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDrained);
  EXPECT_EQ(wire_.receive_calls, 3u);
  // A close behind the data is heard by the next call.
  wire_.Feed(Packet("!a\n"));
  wire_.CloseInbound();
  PacketConnection conn(&wire_, server_split_, false);
  EXPECT_EQ(conn.ReceivePending(got_), ReceiveStatus::kDrained);
  EXPECT_EQ(got_.messages, std::vector<std::string>{"!a"});
  EXPECT_EQ(conn.ReceivePending(got_), ReceiveStatus::kClosed);
}

TEST_F(ReceiveTest, ServerDropsTheUnterminatedTailButKeepsEmptyMessages) {
  wire_.Feed(Packet("!a\n\n\"b\ntail"));
  ReceiveServer();
  EXPECT_EQ(got_.messages, (std::vector<std::string>{"!a", "", "\"b"}));
}

TEST_F(ReceiveTest, PeerCloseAndWouldBlockAreToldApart) {
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDrained);
  wire_.CloseInbound();
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kClosed);
}

TEST_F(ReceiveTest, DecompressionBombIsRefusedWithoutInflatingIt) {
  const std::string bomb(10 * 1000 * 1000, 'A');
  std::string body;
  CompressAppend(bomb, body);
  ASSERT_LE(body.size(), kMaxPacketBody);
  std::string packet{static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)};
  wire_.Feed(packet + body + Packet("!after\n"));
  PacketConnection conn(&wire_, server_split_, false);
  EXPECT_EQ(conn.ReceivePending(got_), ReceiveStatus::kDecompressError);
  EXPECT_EQ(conn.input_queue_size(), 0u);
  EXPECT_TRUE(got_.messages.empty());
}

TEST_F(ReceiveTest, GarbageAndEmptyPacketsAreDecompressErrors) {
  wire_.Feed(std::string("\0\x05hello", 7));
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDecompressError);
  wire_.Feed(std::string("\0\0", 2));
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDecompressError);
  std::string trailing = Packet("!x\n");
  trailing += "junk";
  trailing[1] = static_cast<char>(trailing[1] + 4);
  wire_.Feed(trailing);
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDecompressError);
}

TEST_F(ReceiveTest, BatchOfExactlyTheBoundIsAccepted) {
  std::string batch(kMaxBatchSize - 1, 'a');
  batch += '\n';
  wire_.Feed(Packet(batch));
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDrained);
  EXPECT_EQ(got_.messages.size(), 1u);
  wire_.Feed(Packet(batch + "\n"));
  EXPECT_EQ(ReceiveServer(), ReceiveStatus::kDecompressError);
}

// The client's rules: long messages, zero bytes and empty lines.
class ClientSplitTest : public ::testing::Test {
 protected:
  // Hands message 100 to the splitter like the client's handler does.
  struct Handler : Recorder {
    explicit Handler(ClientSplitter& s) : split(s) {}
    void OnMessage(std::string_view raw) override {
      Recorder::OnMessage(raw);
      auto m = SplitMessage(raw);
      if (m && m->id == msg::kLongMessageFollows) {
        if (auto n = ParseLongMessageFollows(m->payload)) split.EnterLongMessageMode(*n);
      }
    }
    ClientSplitter& split;
  };

  std::string Announce(int n) {
    std::string s;
    s.push_back(static_cast<char>(msg::kLongMessageFollows + 32));
    s += BuildLongMessageFollows(n);
    s += '\n';
    return s;
  }

  ClientSplitter split_;
  Handler got_{split_};
};

TEST_F(ClientSplitTest, LongMessageWithLineFeedsAndZerosIsTakenWhole) {
  std::string file = "\x85";
  file += std::string("a\nb\0c\n", 6);
  ASSERT_EQ(file.size(), 7u);
  split_.Split(Announce(7) + file + "!next\n", got_);
  ASSERT_EQ(got_.long_messages.size(), 1u);
  EXPECT_EQ(got_.long_messages[0], file);
  ASSERT_EQ(got_.messages.size(), 2u);
  EXPECT_EQ(got_.messages[1], "!next");
  EXPECT_FALSE(split_.long_message_mode());
}

TEST_F(ClientSplitTest, LongMessageContinuesInTheNextPacket) {
  split_.Split("!a\n" + Announce(300), got_);
  EXPECT_TRUE(split_.long_message_mode());
  const std::string body(299, 'z');
  split_.Split(body + "\n" + "!b\n", got_);
  ASSERT_EQ(got_.long_messages.size(), 1u);
  EXPECT_EQ(got_.long_messages[0].size(), 300u);
  EXPECT_EQ(got_.messages.back(), "!b");
}

TEST_F(ClientSplitTest, LongMessageLongerThanThePacketWaitsForTheNext) {
  split_.Split(Announce(500) + std::string(100, 'q'), got_);
  EXPECT_TRUE(got_.long_messages.empty());
  EXPECT_EQ(split_.long_message_length(), 500);
  split_.Split(std::string(500, 'r') + "!c\n", got_);
  ASSERT_EQ(got_.long_messages.size(), 1u);
  EXPECT_EQ(got_.long_messages[0], std::string(500, 'r'));
  EXPECT_EQ(got_.messages.back(), "!c");
}

TEST_F(ClientSplitTest, ZeroLengthAnnouncementDoesNotStallLaterPackets) {
  split_.Split(Announce(0) + "!a\n", got_);
  EXPECT_FALSE(split_.long_message_mode());
  EXPECT_EQ(got_.messages.back(), "!a");
}

TEST_F(ClientSplitTest, EmptyLineOrZeroByteEndsThePacket) {
  split_.Split("!a\n\n!b\n", got_);
  EXPECT_EQ(got_.messages, (std::vector<std::string>{"!a"}));
  got_.messages.clear();
  split_.Split(std::string("!a\n!x\0y\n!c\n", 11), got_);
  EXPECT_EQ(got_.messages, (std::vector<std::string>{"!a"}));
  got_.messages.clear();
  split_.Split("!a\n!tail", got_);
  EXPECT_EQ(got_.messages, (std::vector<std::string>{"!a"}));
}

TEST_F(ClientSplitTest, AFailingHandlerDoesNotStopTheRest) {
  struct Throwing : Recorder {
    void OnMessage(std::string_view raw) override {
      Recorder::OnMessage(raw);
      if (raw == "!bad") throw std::runtime_error("bad");
    }
  } sink;
  split_.Split("!bad\n!good\n", sink);
  EXPECT_EQ(sink.messages.size(), 2u);
}

// Deferred compression (the server's worker pool) must not change a byte on the wire.
TEST_P(FramingTest, DeferredCompressionSendsTheSameBytes) {
  const auto script = [](PacketConnection& c) {
    c.QueueMessage(1, "before");
    c.QueueMessage(1, std::string(4000, 'a'));
    c.QueueMessage(1, std::string(200, 'b'));  // flushes the two before it
    c.QueueLongMessage(msg::kFile, BuildFile("small", "tiny"));
    c.QueueLongMessage(msg::kFile, BuildFile("big", RandomPrintable(6000)));
    c.QueueMessage(0, RandomPrintable(5000, 2));
    c.QueueMessage(1, "after");
  };
  script(sender_);
  sender_.SendPending();

  FakeStream deferred_wire;
  PacketConnection deferred(&deferred_wire, server_split_, false);
  deferred.SetCompressor(GetParam());
  deferred.SetDeferredCompression(true);
  script(deferred);
  deferred.FlushBatch();
  EXPECT_EQ(deferred.output_queue_size(), 0u);
  ASSERT_TRUE(deferred.HasUncompressed());
  deferred.CompressSealed();
  EXPECT_FALSE(deferred.HasUncompressed());
  EXPECT_EQ(deferred.SendPending(), SendStatus::kDone);
  EXPECT_EQ(deferred_wire.sent, wire_.sent);
  EXPECT_EQ(Packets(wire_.sent).size(), 5u);
}

TEST_P(FramingTest, DeferredCompressionFindsOverflowAndRefusalOnSending) {
  Events events;
  sender_.SetObserver(&events);
  sender_.SetDeferredCompression(true);
  EXPECT_EQ(sender_.QueueMessage(0, RandomPrintable(70000)), QueueStatus::kQueued);
  sender_.QueueMessage(1, "next");
  EXPECT_EQ(sender_.SendPending(), SendStatus::kDone);
  EXPECT_EQ(events.refused, 1);
  EXPECT_EQ(Packets(wire_.sent), std::vector<std::string>{"!next\n"});

  // What follows the overflow joins the emptied queue, as it does when compressed at once.
  FakeStream blocked;
  blocked.LimitAccepted(0);
  PacketConnection at_once(&blocked, server_split_, false);
  at_once.SetCompressor(GetParam());
  wire_.LimitAccepted(0);
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(sender_.QueueMessage(0, RandomPrintable(5000, i)), QueueStatus::kQueued);
    at_once.QueueMessage(0, RandomPrintable(5000, i));
  }
  EXPECT_EQ(events.overflows, 0);
  EXPECT_EQ(sender_.SendPending(), SendStatus::kOverflow);
  EXPECT_EQ(events.overflows, 1);
  at_once.FlushBatch();
  EXPECT_EQ(sender_.output_queue_size(), at_once.output_queue_size());
}

TEST(EndToEndFramingTest, ClientConnectionReceivesLongFileFromServerConnection) {
  FakeStream server_to_client;
  ServerSplitter server_split;
  ClientSplitter client_split;
  PacketConnection server(&server_to_client, server_split, false);
  const std::string file = RandomPrintable(6000) + std::string("\n\0", 2);
  EXPECT_EQ(server.QueueLongMessage(msg::kFile, BuildFile("pic", file)), QueueStatus::kQueued);
  server.QueueMessage(msg::kAdminMessage, "hi");
  server.SendPending();

  FakeStream client_in;
  // Deliver in awkward pieces.
  for (std::size_t i = 0; i < server_to_client.sent.size(); i += 777) {
    client_in.Feed(server_to_client.sent.substr(i, 777));
  }
  PacketConnection client(&client_in, client_split, true);
  struct Handler : Recorder {
    explicit Handler(ClientSplitter& s) : split(s) {}
    void OnMessage(std::string_view raw) override {
      Recorder::OnMessage(raw);
      auto m = SplitMessage(raw);
      if (m && m->id == msg::kLongMessageFollows) {
        split.EnterLongMessageMode(*ParseLongMessageFollows(m->payload));
      }
    }
    ClientSplitter& split;
  } handler(client_split);
  EXPECT_EQ(client.ReceivePending(handler), ReceiveStatus::kDrained);
  ASSERT_EQ(handler.long_messages.size(), 1u);
  auto parsed = ParseFile(std::string_view(handler.long_messages[0]).substr(1));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->data.substr(0, parsed->data.size() - 1), file);
  EXPECT_EQ(handler.messages.back(), "(hi");
}

TEST(ReentrancyTest, ReceiveCalledFromAHandlerDoesNothing) {
  FakeStream wire;
  ServerSplitter split;
  PacketConnection conn(&wire, split, false);
  struct Nested : MessageSink {
    void OnMessage(std::string_view) override { inner = conn->ReceivePending(*this); }
    PacketConnection* conn = nullptr;
    ReceiveStatus inner = ReceiveStatus::kDrained;
  } sink;
  sink.conn = &conn;
  wire.Feed(Packet("!a\n"));
  EXPECT_EQ(conn.ReceivePending(sink), ReceiveStatus::kDrained);
  EXPECT_EQ(sink.inner, ReceiveStatus::kBusy);
}

TEST(DatagramTest, OneMessageWithoutTerminator) {
  EXPECT_EQ(*BuildDatagram(1, "hi"), "!hi");
  EXPECT_FALSE(BuildDatagram(1, "h\ni"));
}

// The server's default compressor must not make packets larger than zlib's best did: a batch of
// one tick's relayed movement, as 200 walking players produce.
TEST(CompressorLevelTest, LibdeflateIsNoLargerThanZlibBestOnRelayedMovement) {
  std::string batch;
  for (int player = 1; player < 200; ++player) {
    const double angle = player * 0.35;
    std::string line;
    PutEntry(line, kPropPlayerId, player);
    PutEntry(line, kPropX, 300 * std::cos(angle));
    PutEntry(line, kPropY, 0);
    PutEntry(line, kPropZ, 300 * std::sin(angle));
    PutEntry(line, kPropViewAngle, (player * 13) % 360);
    PutEntry(line, kPropAnimationTime, (player * 3) % 1000);
    batch += static_cast<char>(msg::kOtherPlayer + 32) + line + "\n";
  }
  std::string zlib_packet;
  std::string libdeflate_packet;
  CompressAppend(batch, zlib_packet, Compressor::kZlib);
  CompressAppend(batch, libdeflate_packet, Compressor::kLibdeflate);
  EXPECT_LE(libdeflate_packet.size(), zlib_packet.size()) << "batch of " << batch.size();
}

}  // namespace
}  // namespace tarvo::protocol
