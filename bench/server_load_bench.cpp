// Connections to a real kserver, all in one level, each sending one movement per 50 ms tick; by
// default half or none of them with a UDP port (then their movement between each other does not
// pass the server). Reports the server's wall-clock and CPU time per tick (from its --stats 1 log
// lines), the time zlib level 9 alone takes on one thread for the same batches, and their ratio.
// Each configuration runs TARVO_LOAD_SECONDS (default 20) and then on, 5 s at a time up to
// 60 s, until its median tick moves by less than 2% in the last 5 s. TARVO_KSERVER names another
// kserver program to measure (another build, to compare).
// For the limits against hostile clients: TARVO_LOAD_ARGS adds server options (space-separated),
// TARVO_LOAD_FLOOD=N makes the first player send N movements a tick instead of one, and
// TARVO_LOAD_IDLE=N opens N more connections that never send a byte. TARVO_LOAD_LEVELS=1 also
// prints what each libdeflate and zlib level costs on the sampled batches.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
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
#include "support/load_movement.h"
#include "support/protocol_client.h"

namespace {

using tarvo::testing::KServerProcess;
using tarvo::testing::ProtocolClient;
using Clock = std::chrono::steady_clock;
namespace msg = tarvo::protocol::msg;

constexpr auto kTick = std::chrono::milliseconds(50);
constexpr int kSampleTicks = 100;  // ticks whose batches are kept for the zlib comparison
constexpr int kSettleBlockTicks = 100;
constexpr int kMaxTicks = 1200;
constexpr double kSettled = 0.02;

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

double ZlibMicrosOnce(const std::vector<std::string>& batches, std::size_t* bytes = nullptr) {
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
    if (bytes != nullptr) *bytes += out.size() - z.avail_out;
  }
  const double elapsed = ThreadCpuMicros() - start;
  deflateEnd(&z);
  return elapsed;
}

// CPU microseconds that zlib alone takes for `batches` at level 9 on this one thread, with one
// reused stream (CPU time, so other processes on the machine do not count; the least of three).
double ZlibMicros(const std::vector<std::string>& batches) {
  double best = ZlibMicrosOnce(batches);
  for (int run = 1; run < 3; ++run) best = std::min(best, ZlibMicrosOnce(batches));
  return best;
}

// CPU time per tick and mean packet size of every libdeflate and zlib level on `batches`.
void PrintLevelTable(const std::vector<std::string>& batches) {
  if (batches.empty()) return;
  std::vector<unsigned char> out(100000);
  const auto report = [&](const char* name, int level, double micros, std::size_t bytes) {
    std::printf("%-10s %2d: %6.2f ms a tick, %7.1f bytes a packet\n", name, level,
                micros / kSampleTicks / 1000,
                static_cast<double>(bytes) / static_cast<double>(batches.size()));
  };
  for (int level = 1; level <= 12; ++level) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    std::size_t bytes = 0;
    const double start = ThreadCpuMicros();
    for (const std::string& b : batches)
      bytes += libdeflate_zlib_compress(c, b.data(), b.size(), out.data(), out.size());
    report("libdeflate", level, ThreadCpuMicros() - start, bytes);
    libdeflate_free_compressor(c);
  }
  for (int level = 1; level <= 9; ++level) {
    std::size_t bytes = 0;
    const double start = ThreadCpuMicros();
    for (const std::string& b : batches) {
      uLongf n = out.size();
      compress2(out.data(), &n, reinterpret_cast<const Bytef*>(b.data()), b.size(), level);
      bytes += n;
    }
    report("zlib", level, ThreadCpuMicros() - start, bytes);
  }
}

int EnvInt(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::max(0, std::atoi(text)) : 0;
}

// Reads what a client's socket holds and cuts it into packets without decompressing them (the
// load program must stay cheap next to the server), except while `sample` is set: then every
// packet's batch is kept. Returns the packets read.
struct PacketDrain {
  std::string input;
  std::size_t sampled_bytes = 0;  // packet bodies of the sampled batches
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
        sampled_bytes += length;
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

double LoadAverage1() {
  std::ifstream in("/proc/loadavg");
  double one = 0;
  in >> one;
  return one;
}

struct TickTimes {
  std::vector<double> wall_us;
  std::vector<double> cpu_us;
};

// The per-tick lines of `kserver --stats 1`, without the first and last `trim` ticks.
TickTimes ParseTicks(std::string_view log, std::size_t trim) {
  static constexpr std::string_view kLine = "tick stats: ticks=1 wall_median_us=";
  static constexpr std::string_view kCpu = "cpu_median_us=";
  TickTimes out;
  for (std::size_t at = log.find(kLine); at != std::string_view::npos;
       at = log.find(kLine, at + 1)) {
    const std::size_t end = log.find('\n', at);
    const std::string line(log.substr(at, end - at));
    const std::size_t cpu = line.find(kCpu);
    if (cpu == std::string::npos) continue;
    out.wall_us.push_back(std::atof(line.c_str() + kLine.size()));
    out.cpu_us.push_back(std::atof(line.c_str() + cpu + kCpu.size()));
  }
  if (out.wall_us.size() > 3 * trim) {
    const auto cut = [trim](std::vector<double>& v) {
      v = std::vector<double>(v.begin() + static_cast<std::ptrdiff_t>(trim),
                              v.end() - static_cast<std::ptrdiff_t>(trim));
    };
    cut(out.wall_us);
    cut(out.cpu_us);
  }
  return out;
}

// Arguments: players, players with a UDP port, threads (0: the server's default), and the
// compressor (0: the server's default, shared; 1: zlib; 2: libdeflate).
constexpr const char* kCompressorNames[] = {"shared", "zlib", "libdeflate"};

void BM_ServerLoad(benchmark::State& state) {
  const int players = static_cast<int>(state.range(0));
  const int udp_players = static_cast<int>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  const auto compressor = static_cast<std::size_t>(state.range(3));
  const char* seconds_env = std::getenv("TARVO_LOAD_SECONDS");
  const int min_ticks = (seconds_env ? std::max(1, std::atoi(seconds_env)) : 20) * 20;
  for (auto _ : state) {
    KServerProcess server;
    tarvo::testing::KServerOptions options;
    options.extra_args = {"--stats", "1"};
    if (threads > 0)
      options.extra_args.insert(options.extra_args.end(), {"--threads", std::to_string(threads)});
    if (compressor > 0)
      options.extra_args.insert(options.extra_args.end(),
                                {"--compressor", kCompressorNames[compressor]});
    if (const char* program = std::getenv("TARVO_KSERVER")) options.program = program;
    if (const char* extra = std::getenv("TARVO_LOAD_ARGS")) {
      std::istringstream words(extra);
      for (std::string word; words >> word;) options.extra_args.push_back(word);
    }
    const int flood = EnvInt("TARVO_LOAD_FLOOD");
    std::string flood_unsent;
    if (!server.Start(options)) {
      state.SkipWithError("kserver did not start");
      return;
    }
    // Players come from 127.0.0.1 to 127.0.0.8, 25 each, and log in 32 at a time, as the
    // server's default caps on connections per address and not logged in allow.
    std::vector<std::unique_ptr<ProtocolClient>> clients;
    for (int i = 0; i < players; ++i) {
      clients.push_back(std::make_unique<ProtocolClient>());
      const std::uint32_t source = (static_cast<std::uint32_t>(1 + i % 8) << 24) | 0x7Fu;
      if (!clients.back()->ConnectFrom(source, server.port())) {
        state.SkipWithError("connect failed");
        return;
      }
      clients.back()->Login("guest", "guest");
      if ((i + 1) % 32 != 0 && i + 1 != players) continue;
      for (int j = i / 32 * 32; j <= i; ++j) {
        if (!clients[static_cast<std::size_t>(j)]->WaitFor(msg::kLevelData,
                                                           std::chrono::milliseconds(20000))) {
          state.SkipWithError("login did not complete");
          return;
        }
      }
    }
    for (int i = 0; i < players; ++i) {
      auto& c = clients[static_cast<std::size_t>(i)];
      // The port is never used: the server only decides by it whom to relay movement to.
      std::string udp;
      tarvo::protocol::PutEntry(udp, tarvo::protocol::kPropUdpPort,
                                i < udp_players ? 20000 + i : 0);
      c->Send(msg::kProperties, udp);
    }
    // Let the logins' traffic settle.
    for (int i = 0; i < 20; ++i) {
      for (auto& c : clients) {
        c->Poll();
        c->inbox().clear();
      }
      std::this_thread::sleep_for(kTick);
    }

    // Connections that never send: they wait for the login deadline, or hold a slot until then.
    std::vector<tarvo::net::TcpStream> idle;
    for (int i = EnvInt("TARVO_LOAD_IDLE"); i > 0; --i) {
      auto stream = tarvo::net::ConnectTcp(tarvo::net::kLoopbackAddress, server.port(),
                                           std::chrono::milliseconds(3000));
      if (stream) idle.push_back(std::move(*stream));
    }

    std::vector<std::string> batches;
    std::vector<PacketDrain> drains(clients.size());
    const std::size_t log_from = server.Log().size();
    auto next = Clock::now();
    const int sample_from = kSettleBlockTicks;
    double last_median = 0;
    int tick = 0;
    for (;; ++tick) {
      const bool recording = tick >= sample_from && tick < sample_from + kSampleTicks;
      for (int i = 0; i < players; ++i) {
        if (i == 0 && flood > 0) {
          if (flood_unsent.size() < 65536)
            flood_unsent += tarvo::testing::MovementFloodPacket(tick * flood, flood);
          const auto r = clients[0]->stream().Send(
              reinterpret_cast<const std::uint8_t*>(flood_unsent.data()), flood_unsent.size());
          if (r.status == tarvo::protocol::IoStatus::kOk) flood_unsent.erase(0, r.bytes);
          continue;
        }
        clients[static_cast<std::size_t>(i)]->Queue(msg::kProperties,
                                                    tarvo::testing::LoadMovement(i, tick));
        clients[static_cast<std::size_t>(i)]->Flush();
      }
      next += kTick;
      std::this_thread::sleep_until(next);
      for (std::size_t i = 0; i < clients.size(); ++i)
        drains[i].Drain(clients[i]->stream(), recording, batches);
      if (tick + 1 < min_ticks || (tick + 1) % kSettleBlockTicks != 0) continue;
      if (tick + 1 >= kMaxTicks) break;
      const double median =
          Percentile(ParseTicks(std::string_view(server.Log()).substr(log_from), 20).wall_us, 0.5);
      if (last_median > 0 && std::abs(median - last_median) <= kSettled * last_median) break;
      last_median = median;
    }
    const int ticks = tick + 1;
    const TickTimes times = ParseTicks(std::string_view(server.Log()).substr(log_from), 20);
    const long rss_kb = ProcessStatusKb(server.pid(), "VmRSS:");
    server.Stop();

    const double wall_median = Percentile(times.wall_us, 0.5);
    const double zlib_per_tick = ZlibMicros(batches) / kSampleTicks;
    std::size_t zlib_bytes = 0;
    ZlibMicrosOnce(batches, &zlib_bytes);
    std::size_t packet_bytes = 0;
    for (const PacketDrain& drain : drains) packet_bytes += drain.sampled_bytes;
    if (EnvInt("TARVO_LOAD_LEVELS") > 0) PrintLevelTable(batches);
    std::size_t batch_bytes = 0;
    for (const auto& b : batches) batch_bytes += b.size();

    state.SetIterationTime(wall_median / 1e6);
    state.counters["wall_median_ms"] = wall_median / 1000;
    state.counters["wall_p99_ms"] = Percentile(times.wall_us, 0.99) / 1000;
    state.counters["cpu_median_ms"] = Percentile(times.cpu_us, 0.5) / 1000;
    state.counters["cpu_p99_ms"] = Percentile(times.cpu_us, 0.99) / 1000;
    state.counters["zlib_ms"] = zlib_per_tick / 1000;
    // The goal's measure: the server's median tick over zlib alone for one tick's batches.
    state.counters["ratio"] = zlib_per_tick > 0 ? wall_median / zlib_per_tick : 0;
    state.counters["cpu_ratio"] =
        zlib_per_tick > 0 ? Percentile(times.cpu_us, 0.5) / zlib_per_tick : 0;
    state.counters["seconds"] = ticks / 20.0;
    state.counters["batches"] = static_cast<double>(batches.size()) / kSampleTicks;
    state.counters["batch_bytes"] =
        batches.empty() ? 0
                        : static_cast<double>(batch_bytes) / static_cast<double>(batches.size());
    // Mean packet against zlib 9's packet of the same batch.
    state.counters["packet_ratio"] =
        zlib_bytes > 0 ? static_cast<double>(packet_bytes) / static_cast<double>(zlib_bytes) : 0;
    state.counters["rss_mb"] = static_cast<double>(rss_kb) / 1024;
    state.counters["load1"] = LoadAverage1();
    state.counters["idle"] = static_cast<double>(idle.size());
  }
}

BENCHMARK(BM_ServerLoad)
    ->ArgNames({"players", "udp", "threads", "compressor"})
    ->ArgsProduct({{50, 100, 150, 200}, {0}, {0}, {0, 2, 1}})
    ->Args({200, 100, 0, 0})
    ->Args({200, 100, 0, 2})
    ->Args({200, 100, 0, 1})
    ->Args({200, 0, 1, 0})  // shared on the tick's thread alone
    ->Args({200, 0, 1, 2})  // libdeflate on the tick's thread alone
    ->Args({200, 0, 1, 1})  // the server as it was: zlib on the tick's thread
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::ifstream loadavg("/proc/loadavg");
  std::string one, five, fifteen;
  loadavg >> one >> five >> fifteen;
  std::printf("load average: %s %s %s on %u cores\n", one.c_str(), five.c_str(), fifteen.c_str(),
              std::thread::hardware_concurrency());
  std::fflush(stdout);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
