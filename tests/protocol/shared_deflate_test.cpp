// The relay packets of one tick, spliced from one shared parse, against the batches a connection
// builds line by line: every recipient must inflate exactly what it would have received alone.
#include "protocol/shared_deflate.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "protocol/compression.h"
#include "protocol/framing.h"
#include "support/fake_stream.h"
#include "support/load_movement.h"

namespace tarvo::protocol {
namespace {

struct Tick {
  std::vector<std::string> lines;  // whole message lines
  std::vector<std::uint64_t> owners;
};

// The packets a connection of its own sends for the recipient's share of the lines.
std::vector<std::string> OldBatches(const Tick& tick, std::uint64_t recipient) {
  testing::FakeStream wire;
  ServerSplitter splitter;
  PacketConnection connection(&wire, splitter, false);
  connection.SetCompressor(Compressor::kZlib);
  for (std::size_t j = 0; j < tick.lines.size(); ++j) {
    if (tick.owners[j] == recipient) continue;
    const std::string& line = tick.lines[j];
    EXPECT_EQ(connection.QueueMessage(static_cast<unsigned char>(line[0]) - 32,
                                      std::string_view(line).substr(1, line.size() - 2)),
              QueueStatus::kQueued);
  }
  EXPECT_EQ(connection.SendPending(), SendStatus::kDone);
  std::vector<std::string> batches;
  for (std::size_t at = 0; at + 2 <= wire.sent.size();) {
    const std::size_t length = (static_cast<unsigned char>(wire.sent[at]) << 8) |
                               static_cast<unsigned char>(wire.sent[at + 1]);
    std::string batch;
    EXPECT_EQ(
        InflateBounded(std::string_view(wire.sent).substr(at + 2, length), kMaxBatchSize, batch),
        InflateResult::kOk);
    batches.push_back(std::move(batch));
    at += 2 + length;
  }
  return batches;
}

// Inflates every packet as the client does: zlib, the 256,000-byte bound, nothing after the
// stream, the checksum checked.
std::vector<std::string> Inflated(const std::vector<std::string>& packets) {
  std::vector<std::string> batches;
  for (const std::string& packet : packets) {
    std::string batch;
    EXPECT_EQ(InflateBounded(packet, kMaxBatchSize, batch), InflateResult::kOk);
    EXPECT_LE(packet.size(), kMaxPacketBody);
    batches.push_back(std::move(batch));
  }
  return batches;
}

std::string Joined(const std::vector<std::string>& batches) {
  std::string all;
  for (const std::string& batch : batches) all += batch;
  return all;
}

std::string RandomLine(std::mt19937& random, bool relay_like) {
  const std::size_t size = std::uniform_int_distribution<std::size_t>(2, 700)(random);
  std::string line;
  // Mostly the repetitive text of relayed movement, sometimes any byte but the line feed.
  const bool noisy = std::uniform_int_distribution<int>(0, 4)(random) == 0;
  line.push_back(relay_like ? '"' : static_cast<char>(random() % 255));
  if (line[0] == '\n') line[0] = '!';
  while (line.size() + 1 < size) {
    if (noisy) {
      char c = static_cast<char>(random() % 256);
      line.push_back(c == '\n' ? 'x' : c);
    } else {
      line += "1A" + std::to_string(random() % 200) + "/-3.25/" + std::to_string(random() % 50);
    }
  }
  line.resize(size - 1);
  line.push_back('\n');
  return line;
}

void ExpectEveryRecipientDecodes(const Tick& tick, std::uint64_t players, Compressor compressor) {
  RelayPackets relay;
  relay.Reset(compressor);
  for (std::size_t j = 0; j < tick.lines.size(); ++j) relay.Add(tick.lines[j], tick.owners[j]);
  relay.Prepare();
  std::vector<std::string> packets;
  // Key 0 owns nothing: a recipient absent from the list.
  for (std::uint64_t recipient = 0; recipient <= players; ++recipient) {
    relay.PacketsFor(recipient, packets);
    // Message for message and in order; the packets are cut where the shared list is cut, so
    // a recipient's cuts may fall one line off those its own connection would have made.
    const std::vector<std::string> batches = Inflated(packets);
    ASSERT_EQ(Joined(batches), Joined(OldBatches(tick, recipient))) << "recipient " << recipient;
    for (const std::string& batch : batches) EXPECT_LT(batch.size(), kBatchLimit + 700);
    EXPECT_TRUE(relay.Verify(recipient, packets));
  }
}

TEST(SharedDeflateTest, EveryRecipientOfRandomTicksInflatesItsOldBatches) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Tick tick;
    const std::size_t count = std::uniform_int_distribution<std::size_t>(0, 250)(random);
    const std::uint64_t players = std::uniform_int_distribution<std::uint64_t>(1, 40)(random);
    const bool relay_like = round % 5 != 4;
    for (std::size_t j = 0; j < count; ++j) {
      tick.lines.push_back(RandomLine(random, relay_like));
      // Owners with several lines, some right after each other.
      tick.owners.push_back(j > 0 && random() % 8 == 0 ? tick.owners.back()
                                                       : 1 + random() % players);
    }
    ExpectEveryRecipientDecodes(tick, players, Compressor::kShared);
  }
}

TEST(SharedDeflateTest, SmallTicksAndEveryPlaceOfTheOwnLine) {
  // One to six lines, each recipient owning one place: the first, the last, the neighbours of
  // the cut units, and a list holding only its own line (no packet).
  std::mt19937 random(7);
  for (std::size_t count = 1; count <= 6; ++count) {
    Tick tick;
    for (std::size_t j = 0; j < count; ++j) {
      tick.lines.push_back(testing::LoadMovementRelay(static_cast<int>(j + 1), 3));
      tick.owners.push_back(j + 1);
    }
    ExpectEveryRecipientDecodes(tick, count, Compressor::kShared);
  }
}

TEST(SharedDeflateTest, OtherCompressorsCutAndSkipTheSame) {
  std::mt19937 random(11);
  Tick tick;
  for (int j = 0; j < 240; ++j) {
    tick.lines.push_back(RandomLine(random, true));
    tick.owners.push_back(1 + static_cast<std::uint64_t>(j % 30));
  }
  ExpectEveryRecipientDecodes(tick, 30, Compressor::kZlib);
  ExpectEveryRecipientDecodes(tick, 30, Compressor::kLibdeflate);
}

TEST(SharedDeflateTest, CodeLengthsStayWithinTheLimitAndComplete) {
  // Fibonacci counts give Huffman's tree its greatest depth: 30 symbols would need 29 bits.
  std::vector<std::uint32_t> freq(30);
  freq[0] = freq[1] = 1;
  for (std::size_t i = 2; i < freq.size(); ++i) freq[i] = freq[i - 1] + freq[i - 2];
  for (const int limit : {7, 15}) {
    std::vector<std::uint8_t> lengths(freq.size());
    BuildCodeLengths(freq, limit, lengths);
    double kraft = 0;
    for (const std::uint8_t length : lengths) {
      ASSERT_GE(length, 1);
      ASSERT_LE(length, limit);
      kraft += std::ldexp(1.0, -length);
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
  }
  // A tick whose bytes follow those counts decodes for everyone.
  Tick tick;
  std::string text;
  for (std::size_t i = 0; i < 17; ++i) text.append(freq[i], static_cast<char>('A' + i));
  std::shuffle(text.begin(), text.end(), std::mt19937(3));
  for (std::size_t at = 0; at < text.size(); at += 300) {
    tick.lines.push_back('"' + text.substr(at, 300) + '\n');
    tick.owners.push_back(tick.lines.size());
  }
  ExpectEveryRecipientDecodes(tick, tick.lines.size(), Compressor::kShared);
}

// The load benchmark's lines, 200 players: the spliced packets may be at most 2 % larger than
// zlib's best on the same batches.
TEST(SharedDeflateTest, PacketsOfTheLoadBenchmarkStayWithinTwoPercentOfZlibBest) {
  std::size_t shared_bytes = 0;
  std::size_t zlib_bytes = 0;
  std::vector<std::string> packets;
  for (int t = 0; t < 4; ++t) {
    RelayPackets shared;
    RelayPackets zlib;
    shared.Reset(Compressor::kShared);
    zlib.Reset(Compressor::kZlib);
    std::vector<int> order(200);
    std::iota(order.begin(), order.end(), 1);
    std::shuffle(order.begin(), order.end(), std::mt19937(static_cast<unsigned>(t)));
    for (const int player : order) {
      const std::string line = testing::LoadMovementRelay(player, 40 + t);
      shared.Add(line, static_cast<std::uint64_t>(player));
      zlib.Add(line, static_cast<std::uint64_t>(player));
    }
    shared.Prepare();
    zlib.Prepare();
    for (std::uint64_t player = 1; player <= 200; ++player) {
      shared.PacketsFor(player, packets);
      for (const std::string& p : packets) shared_bytes += p.size();
      zlib.PacketsFor(player, packets);
      for (const std::string& p : packets) zlib_bytes += p.size();
    }
  }
  EXPECT_LE(static_cast<double>(shared_bytes), 1.02 * static_cast<double>(zlib_bytes))
      << shared_bytes << " bytes against zlib's " << zlib_bytes;
}

}  // namespace
}  // namespace tarvo::protocol
