// FlushBatch and the client's decomposition on a realistic batch: 199 movement messages (message
// 2: player id, then entries 1 to 5), about 2.4 KB.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "protocol/framing.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "protocol/shared_deflate.h"
#include "tests/support/load_movement.h"

namespace {

using namespace tarvo::protocol;

class NullStream : public ByteStream {
 public:
  IoResult Send(const std::uint8_t*, std::size_t size) override { return {IoStatus::kOk, size}; }
  IoResult Receive(std::uint8_t*, std::size_t) override { return {IoStatus::kWouldBlock, 0}; }
};

// One packet's bytes as they leave the server, replayed on reads.
class ReplayStream : public ByteStream {
 public:
  explicit ReplayStream(std::string data) : data_(std::move(data)) {}
  void Rewind() { pos_ = 0; }
  IoResult Send(const std::uint8_t*, std::size_t size) override { return {IoStatus::kOk, size}; }
  IoResult Receive(std::uint8_t* out, std::size_t capacity) override {
    if (pos_ >= data_.size()) return {IoStatus::kWouldBlock, 0};
    const std::size_t n = std::min(capacity, data_.size() - pos_);
    std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return {IoStatus::kOk, n};
  }

 private:
  std::string data_;
  std::size_t pos_ = 0;
};

std::vector<std::string> MovementPayloads() {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> pos(-1000, 1000);
  std::uniform_int_distribution<int> angle(0, 359), anim(0, 3000);
  std::vector<std::string> out;
  for (int id = 1; id <= 199; ++id) {
    PropertySet p(id);
    p.SetNumber(kPropX, pos(rng));
    p.SetNumber(kPropY, 0);
    p.SetNumber(kPropZ, pos(rng));
    p.SetNumber(kPropViewAngle, angle(rng));
    p.SetNumber(kPropAnimationTime, anim(rng));
    out.push_back(BuildPlayerEntries(id, EncodeEntries(p, kUdpMovementOrder)));
  }
  return out;
}

void BM_FlushBatch199Movements(benchmark::State& state) {
  const auto payloads = MovementPayloads();
  NullStream stream;
  ServerSplitter split;
  PacketConnection conn(&stream, split, false);
  conn.SetCompressor(state.range(0) == 0 ? Compressor::kZlib : Compressor::kLibdeflate);
  std::size_t batch_bytes = 0;
  for (auto _ : state) {
    for (const auto& p : payloads) conn.QueueMessage(msg::kOtherPlayer, p);
    batch_bytes = conn.outgoing_batch().size();
    conn.FlushBatch();
    conn.SendPending();
  }
  state.counters["batch_bytes"] = static_cast<double>(batch_bytes);
  state.counters["packet_bytes"] =
      static_cast<double>(conn.bytes_sent()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FlushBatch199Movements)
    ->ArgName("libdeflate")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

struct CountingSink : MessageSink {
  void OnMessage(std::string_view raw) override { count += raw.size(); }
  std::size_t count = 0;
};

void BM_ClientDecomposition199Movements(benchmark::State& state) {
  const auto payloads = MovementPayloads();
  NullStream out;
  ServerSplitter server_split;
  PacketConnection server(&out, server_split, false);
  for (const auto& p : payloads) server.QueueMessage(msg::kOtherPlayer, p);
  struct Capture : ByteStream {
    IoResult Send(const std::uint8_t* d, std::size_t n) override {
      data.append(reinterpret_cast<const char*>(d), n);
      return {IoStatus::kOk, n};
    }
    IoResult Receive(std::uint8_t*, std::size_t) override { return {IoStatus::kWouldBlock, 0}; }
    std::string data;
  } capture;
  server.SetStream(&capture);
  server.SendPending();

  ReplayStream in(capture.data);
  ClientSplitter client_split;
  PacketConnection client(&in, client_split, true);
  CountingSink sink;
  for (auto _ : state) {
    in.Rewind();
    client.ReceivePending(sink);
  }
  benchmark::DoNotOptimize(sink.count);
  state.counters["packet_bytes"] = static_cast<double>(capture.data.size());
}
BENCHMARK(BM_ClientDecomposition199Movements)->Unit(benchmark::kMicrosecond);

}  // namespace

// One tick's relay of N movers, every recipient's packets built: the load benchmark's lines in a
// shuffled arrival order. Argument 1 picks the compressor (0 shared, 1 zlib, 2 libdeflate);
// "prepare" alone is the shared parse and table, the rest the per-recipient splice.
void BM_RelayPacketsOneTick(benchmark::State& state) {
  const int players = static_cast<int>(state.range(0));
  const Compressor compressor = state.range(1) == 0   ? Compressor::kShared
                                : state.range(1) == 1 ? Compressor::kZlib
                                                      : Compressor::kLibdeflate;
  std::vector<std::string> lines;
  std::vector<int> order(static_cast<std::size_t>(players));
  for (int i = 0; i < players; ++i) order[static_cast<std::size_t>(i)] = i + 1;
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  for (const int player : order) lines.push_back(tarvo::testing::LoadMovementRelay(player, 7));
  RelayPackets relay;
  std::vector<std::string> packets;
  std::size_t bytes = 0;
  double prepare_ns = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    relay.Reset(compressor);
    for (std::size_t j = 0; j < lines.size(); ++j)
      relay.Add(lines[j], static_cast<std::uint64_t>(order[j]));
    relay.Prepare();
    prepare_ns +=
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    bytes = 0;
    for (int player = 1; player <= players; ++player) {
      relay.PacketsFor(static_cast<std::uint64_t>(player), packets);
      for (const std::string& packet : packets) bytes += packet.size();
    }
  }
  state.counters["prepare_us"] = prepare_ns / 1000 / static_cast<double>(state.iterations());
  state.counters["bytes_per_recipient"] = static_cast<double>(bytes) / players;
}
BENCHMARK(BM_RelayPacketsOneTick)
    ->ArgsProduct({{50, 100, 200}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
