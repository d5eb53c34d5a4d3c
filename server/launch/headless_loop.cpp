#include "server/launch/headless_loop.h"

#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "server/core/server_frame.h"

namespace tarvo::server {
namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signal) { g_stop_signal = signal; }

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A client that vanishes mid-send must not end the server; sends report the error instead.
  std::signal(SIGPIPE, SIG_IGN);
}

namespace {

long ResidentKilobytes() {
  long pages_total = 0;
  long pages_resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages_total, &pages_resident) != 2) pages_resident = 0;
  std::fclose(statm);
  return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Percentiles of the tick's wall-clock and CPU times, logged every `every` ticks.
class TickStats {
 public:
  explicit TickStats(int every) : every_(every) {
    if (every_ > 0) {
      wall_.reserve(static_cast<std::size_t>(every_));
      cpu_.reserve(static_cast<std::size_t>(every_));
    }
  }

  void Add(std::int64_t wall_us, std::int64_t cpu_us, std::size_t sessions) {
    if (every_ <= 0) return;
    wall_.push_back(wall_us);
    cpu_.push_back(cpu_us);
    if (wall_.size() < static_cast<std::size_t>(every_)) return;
    std::sort(wall_.begin(), wall_.end());
    std::sort(cpu_.begin(), cpu_.end());
    const auto at = [](const std::vector<std::int64_t>& v, double q) {
      const auto i = static_cast<std::size_t>(std::lround(q * static_cast<double>(v.size() - 1)));
      return v[std::min(i, v.size() - 1)];
    };
    spdlog::info(
        "tick stats: ticks={} wall_median_us={} wall_p99_us={} wall_max_us={} cpu_median_us={} "
        "cpu_p99_us={} sessions={} rss_kb={}",
        wall_.size(), at(wall_, 0.5), at(wall_, 0.99), wall_.back(), at(cpu_, 0.5), at(cpu_, 0.99),
        sessions, ResidentKilobytes());
    wall_.clear();
    cpu_.clear();
  }

 private:
  int every_;
  std::vector<std::int64_t> wall_;
  std::vector<std::int64_t> cpu_;
};

}  // namespace

int RunHeadless(TServerFrame& server, int stats_every) {
  InstallStopSignals();
  using Clock = std::chrono::steady_clock;
  const auto tick = std::chrono::milliseconds(kTickMilliseconds);
  const auto save_tick = std::chrono::milliseconds(kSaveTickMilliseconds);
  TickStats stats(stats_every);
  auto next_tick = Clock::now();
  auto next_save_tick = next_tick + save_tick;
  while (g_stop_signal == 0) {
    server.Tick();
    stats.Add(server.last_tick_wall_us(), server.last_tick_cpu_us(),
              server.player_sessions().size());
    const auto now = Clock::now();
    if (now >= next_save_tick) {
      server.SaveCountdownTick();
      next_save_tick += save_tick;
      if (next_save_tick < now) next_save_tick = now + save_tick;
    }
    // A tick that ran long is not made up for by a burst of ticks.
    next_tick = std::max(next_tick + tick, now);
    std::this_thread::sleep_until(next_tick);
  }
  spdlog::info("{} received: shutting down", g_stop_signal == SIGINT ? "SIGINT" : "SIGTERM");
  if (!server.Shutdown()) {
    spdlog::error(
        "server stopped without saving the accounts: progress since the last save is lost");
    return 1;
  }
  spdlog::info("server stopped");
  return 0;
}

}  // namespace tarvo::server
