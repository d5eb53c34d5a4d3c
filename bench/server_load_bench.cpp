// 200 connections to a real kserver, all in one level with UDP port 0, each sending one movement
// per 50 ms tick. Reports the server's CPU time per tick (from its --stats 1 log lines), its
// resident memory, and the ratio of the median tick to zlib alone compressing the same batches
// at level 9. TARVO_LOAD_SECONDS shortens or lengthens the 30 s run; TARVO_LOAD_ARGS adds server
// options (space-separated); TARVO_LOAD_FLOOD=N makes the first player send N movements per
// tick instead of one, as a hostile client would.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/compression.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "support/kserver_process.h"
#include "support/protocol_client.h"

namespace {

using tarvo::testing::KServerProcess;
using tarvo::testing::ProtocolClient;
using Clock = std::chrono::steady_clock;
namespace msg = tarvo::protocol::msg;

constexpr int kPlayers = 200;
constexpr auto kTick = std::chrono::milliseconds(50);
constexpr int kSampleTicks = 40;  // ticks whose batches are kept for the zlib comparison

long ProcessStatusKb(int pid, const char* key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key) + 1);
  }
  return 0;
}

double Percentile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto i = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(i, values.size() - 1)];
}

double ThreadCpuMicros() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// CPU microseconds that zlib alone takes for `batches` at level 9, with one reused stream (CPU
// time, like the server's tick figures, so other processes on the machine do not count).
double ZlibMicros(const std::vector<std::string>& batches) {
  z_stream z{};
  deflateInit(&z, 9);
  std::vector<unsigned char> out(70000);
  const double start = ThreadCpuMicros();
  for (const std::string& batch : batches) {
    deflateReset(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(batch.data()));
    z.avail_in = static_cast<uInt>(batch.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
  }
  const double elapsed = ThreadCpuMicros() - start;
  deflateEnd(&z);
  return elapsed;
}

// Reads what a client's socket holds and cuts it into packets without decompressing them (the
// load program must stay cheap next to the server), except while `sample` is set: then every
// packet's batch is kept. Returns the packets read.
struct PacketDrain {
  std::string input;
  int Drain(tarvo::net::TcpStream& stream, bool sample, std::vector<std::string>& batches) {
    std::uint8_t chunk[16384];
    int packets = 0;
    for (;;) {
      const auto r = stream.Receive(chunk, sizeof chunk);
      if (r.status != tarvo::protocol::IoStatus::kOk || r.bytes == 0) break;
      input.append(reinterpret_cast<const char*>(chunk), r.bytes);
    }
    std::size_t pos = 0;
    while (input.size() - pos >= 2) {
      const auto* head = reinterpret_cast<const unsigned char*>(input.data() + pos);
      const std::size_t length = (static_cast<std::size_t>(head[0]) << 8) | head[1];
      if (input.size() - pos < length + 2) break;
      if (sample) {
        std::string batch;
        tarvo::protocol::InflateBounded(std::string_view(input).substr(pos + 2, length),
                                        tarvo::protocol::kMaxBatchSize, batch);
        batches.push_back(std::move(batch));
      }
      pos += length + 2;
      ++packets;
    }
    input.erase(0, pos);
    return packets;
  }
};

std::string Movement(int player, int tick) {
  const double angle = (player * 7 + tick) * 0.05;
  std::string out;
  tarvo::protocol::PutEntry(out, tarvo::protocol::kPropX, 300 * std::cos(angle));
  tarvo::protocol::PutEntry(out, tarvo::protocol::kPropY, 0);
  tarvo::protocol::PutEntry(out, tarvo::protocol::kPropZ, 300 * std::sin(angle));
  tarvo::protocol::PutEntry(out, tarvo::protocol::kPropViewAngle, (player * 13 + tick * 4) % 360);
  tarvo::protocol::PutEntry(out, tarvo::protocol::kPropAnimationTime, (tick * 3) % 1000);
  return out;
}

// One packet of `count` movements, framed by hand as a hostile client would.
std::string FloodPacket(int count, int tick) {
  std::string batch;
  for (int i = 0; i < count; ++i) {
    batch.push_back(static_cast<char>(msg::kProperties + 32));
    tarvo::protocol::PutEntry(batch, tarvo::protocol::kPropX, (tick * count + i) % 8000 / 2.0);
    batch.push_back('\n');
  }
  std::string body;
  tarvo::protocol::CompressAppend(batch, body);
  std::string packet;
  packet.push_back(static_cast<char>(body.size() >> 8));
  packet.push_back(static_cast<char>(body.size() & 0xFF));
  return packet + body;
}

void BM_ServerLoad(benchmark::State& state) {
  const char* seconds_env = std::getenv("TARVO_LOAD_SECONDS");
  const int seconds = seconds_env ? std::max(1, std::atoi(seconds_env)) : 30;
  for (auto _ : state) {
    KServerProcess server;
    tarvo::testing::KServerOptions options;
    options.extra_args = {"--stats", "1"};
    if (const char* extra = std::getenv("TARVO_LOAD_ARGS")) {
      std::istringstream words(extra);
      for (std::string word; words >> word;) options.extra_args.push_back(word);
    }
    const char* flood_env = std::getenv("TARVO_LOAD_FLOOD");
    const int flood = flood_env ? std::max(0, std::atoi(flood_env)) : 0;
    std::string flood_unsent;
    if (!server.Start(options)) {
      state.SkipWithError("kserver did not start");
      return;
    }
    std::vector<std::unique_ptr<ProtocolClient>> clients;
    for (int i = 0; i < kPlayers; ++i) {
      clients.push_back(std::make_unique<ProtocolClient>());
      if (!clients.back()->Connect(server.port())) {
        state.SkipWithError("connect failed");
        return;
      }
      clients.back()->Login("guest", "guest");
    }
    std::string udp_off;
    tarvo::protocol::PutEntry(udp_off, tarvo::protocol::kPropUdpPort, 0);
    for (auto& c : clients) {
      if (!c->WaitFor(msg::kLevelData, std::chrono::milliseconds(20000))) {
        state.SkipWithError("login did not complete");
        return;
      }
      c->Send(msg::kProperties, udp_off);
    }
    // Let the logins' traffic settle.
    for (int i = 0; i < 20; ++i) {
      for (auto& c : clients) {
        c->Poll();
        c->inbox().clear();
      }
      std::this_thread::sleep_for(kTick);
    }

    std::vector<std::string> batches;
    std::vector<PacketDrain> drains(clients.size());
    const int ticks = seconds * 20;
    const std::size_t log_from = server.Log().size();
    auto next = Clock::now();
    std::size_t received = 0;
    const int sample_from = std::max(0, ticks / 2 - kSampleTicks / 2);
    std::size_t sample_log_from = 0;
    std::size_t sample_log_to = 0;
    for (int tick = 0; tick < ticks; ++tick) {
      const bool recording = tick >= sample_from && tick < sample_from + kSampleTicks;
      if (tick == sample_from) sample_log_from = server.Log().size();
      if (tick == sample_from + kSampleTicks) sample_log_to = server.Log().size();
      for (int i = 0; i < kPlayers; ++i) {
        if (i == 0 && flood > 0) {
          if (flood_unsent.size() < 65536) flood_unsent += FloodPacket(flood, tick);
          const auto r = clients[0]->stream().Send(
              reinterpret_cast<const std::uint8_t*>(flood_unsent.data()), flood_unsent.size());
          if (r.status == tarvo::protocol::IoStatus::kOk) flood_unsent.erase(0, r.bytes);
          continue;
        }
        clients[static_cast<std::size_t>(i)]->Queue(msg::kProperties, Movement(i, tick));
        clients[static_cast<std::size_t>(i)]->Flush();
      }
      next += kTick;
      std::this_thread::sleep_until(next);
      for (std::size_t i = 0; i < clients.size(); ++i)
        received +=
            static_cast<std::size_t>(drains[i].Drain(clients[i]->stream(), recording, batches));
    }
    const std::string full_log = server.Log();
    const std::string log = full_log.substr(log_from);
    const long rss_kb = ProcessStatusKb(server.pid(), "VmRSS:");
    const long peak_kb = ProcessStatusKb(server.pid(), "VmHWM:");

    // Server ticks that ran while every player was moving (skip the first and last second).
    const auto ticks_in = [](const std::string& text) {
      static constexpr std::string_view kTickLine = "tick stats: ticks=1 median_us=";
      std::vector<double> out;
      for (std::size_t at = text.find(kTickLine); at != std::string::npos;
           at = text.find(kTickLine, at + 1))
        out.push_back(std::atof(text.c_str() + at + kTickLine.size()));
      return out;
    };
    std::vector<double> tick_us = ticks_in(log);
    // The server's CPU for exactly the traffic whose batches were kept: the tick lines logged
    // while the sample ran (one tick may straddle each end).
    const std::vector<double> sample_ticks =
        ticks_in(full_log.substr(sample_log_from, sample_log_to - sample_log_from));
    double sample_server_us = 0;
    for (double t : sample_ticks) sample_server_us += t;
    if (tick_us.size() > 60)
      tick_us = std::vector<double>(tick_us.begin() + 20, tick_us.end() - 20);
    const double median = Percentile(tick_us, 0.5);
    const double p99 = Percentile(tick_us, 0.99);
    const double zlib_sample_us = ZlibMicros(batches);
    const double zlib_per_tick = zlib_sample_us / kSampleTicks;
    std::size_t batch_bytes = 0;
    for (const auto& b : batches) batch_bytes += b.size();

    state.SetIterationTime(median / 1e6);
    state.counters["tick_median_ms"] = median / 1000;
    state.counters["tick_p99_ms"] = p99 / 1000;
    state.counters["zlib_per_tick_ms"] = zlib_per_tick / 1000;
    // Median tick over zlib's share of one client tick of traffic; meaningful when the server
    // keeps up (one server tick per client tick).
    state.counters["ratio_median"] = zlib_per_tick > 0 ? median / zlib_per_tick : 0;
    // Server CPU over zlib alone for the same batches: holds also when ticks run late.
    state.counters["ratio_cpu"] = zlib_sample_us > 0 ? sample_server_us / zlib_sample_us : 0;
    state.counters["server_ticks_in_sample"] = static_cast<double>(sample_ticks.size());
    state.counters["rss_mb"] = static_cast<double>(rss_kb) / 1024;
    state.counters["peak_rss_mb"] = static_cast<double>(peak_kb) / 1024;
    state.counters["ticks_measured"] = static_cast<double>(tick_us.size());
    state.counters["batches_per_tick"] = static_cast<double>(batches.size()) / kSampleTicks;
    state.counters["batch_bytes_avg"] =
        batches.empty() ? 0
                        : static_cast<double>(batch_bytes) / static_cast<double>(batches.size());
    state.counters["packets_received_per_tick"] = static_cast<double>(received) / ticks;
    server.Stop();
  }
}

BENCHMARK(BM_ServerLoad)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
