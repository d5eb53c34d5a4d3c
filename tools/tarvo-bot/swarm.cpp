#include "tools/tarvo-bot/swarm.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tarvo::bot {

int RunSwarm(SwarmOptions options, const std::atomic<bool>& stop, std::ostream& out,
             std::ostream& err) {
  using Clock = std::chrono::steady_clock;
  // Level files from the server go to a scratch directory of this run.
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-bot-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    err << "tarvo-bot: cannot create a scratch directory\n";
    return 1;
  }
  options.bot.level_directory = pattern;
  if (options.verbose) options.bot.verbose = &out;

  std::vector<std::unique_ptr<Bot>> bots;
  for (int i = 1; i <= options.count && !stop; ++i) {
    bots.push_back(std::make_unique<Bot>(options.bot, i));
    bots.back()->Connect();
  }

  const Clock::time_point start = Clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  Clock::time_point next_tick = start;
  double next_status = options.status_seconds;
  double next_others = options.others_seconds;
  while (!stop && (options.duration <= 0 || elapsed() < options.duration)) {
    const double now = elapsed();
    for (auto& bot : bots) bot->Tick(now);
    if (options.others_seconds > 0 && now >= next_others) {
      next_others += options.others_seconds;
      for (auto& bot : bots) bot->PrintOthers(now);
    }
    if (now >= next_status) {
      next_status += options.status_seconds;
      out << StatusLine(now, Tally(bots)) << std::endl;
    }
    bool anyone_connected = false;
    for (auto& bot : bots) anyone_connected = anyone_connected || bot->Connected();
    if (!anyone_connected) break;
    // Ticks are not made up: a late loop simply runs its next tick 50 ms after this one.
    next_tick += std::chrono::milliseconds(50);
    if (next_tick < Clock::now()) next_tick = Clock::now();
    std::this_thread::sleep_until(next_tick);
  }

  const SwarmTotals totals = Tally(bots);
  out << Summary(elapsed(), totals) << std::flush;
  bots.clear();
  std::error_code ec;
  std::filesystem::remove_all(options.bot.level_directory, ec);
  return totals.logged_in == totals.bots ? 0 : 1;
}

}  // namespace tarvo::bot
