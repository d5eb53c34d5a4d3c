// FlushBatch and the client's decomposition on a realistic batch: 199 movement messages (message
// 2: player id, then entries 1 to 5), about 2.4 KB.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "protocol/framing.h"
#include "protocol/messages.h"
#include "protocol/properties.h"

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
  conn.set_compressor(state.range(0) == 0 ? Compressor::kZlib : Compressor::kLibdeflate);
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
  server.set_stream(&capture);
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

BENCHMARK_MAIN();
