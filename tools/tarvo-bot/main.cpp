// tarvo-bot: headless players for tests and load. N bots share one process and one 50 ms loop.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "tools/tarvo-bot/bot.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvo::bot;
  using Clock = std::chrono::steady_clock;

  BotOptions options;
  int count = 1;
  std::string walk = "circle";
  double duration = 0;
  double status_seconds = 5;

  CLI::App app{
      "Headless players: N bots log in to a game server, walk, chat and exchange "
      "movement over UDP, all in one process on one 50 ms loop."};
  app.add_option("--host", options.host, "Server address or host name")->capture_default_str();
  app.add_option("--port", options.port, "Server TCP port")->capture_default_str();
  app.add_option("--count", count, "Number of bots")
      ->check(CLI::Range(1, 200))
      ->capture_default_str();
  app.add_option("--account", options.account, "Account name")->capture_default_str();
  app.add_option("--password", options.password, "Account password")->capture_default_str();
  app.add_option("--nick-prefix", options.nick_prefix,
                 "Nicknames are this prefix and the bot's number")
      ->capture_default_str();
  app.add_option("--walk", walk, "How the bots walk")
      ->check(CLI::IsMember({"circle", "line", "random", "still"}))
      ->capture_default_str();
  app.add_option("--chat", options.chat_seconds, "Say a chat line every SECONDS (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--no-udp", options.no_udp, "Open no UDP channel: everything goes over TCP");
  app.add_option("--duration", duration, "Stop after SECONDS (0: run until interrupted)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--status", status_seconds, "Seconds between two status lines")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  ParseWalkPattern(walk, options.walk);

  // Level files from the server go to a scratch directory of this run.
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-bot-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "tarvo-bot: cannot create a scratch directory\n";
    return 1;
  }
  options.level_directory = pattern;

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  std::vector<std::unique_ptr<Bot>> bots;
  for (int i = 1; i <= count && !g_stop; ++i) {
    bots.push_back(std::make_unique<Bot>(options, i));
    bots.back()->Connect();
  }

  const Clock::time_point start = Clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  Clock::time_point next_tick = start;
  double next_status = status_seconds;
  while (!g_stop && (duration <= 0 || elapsed() < duration)) {
    const double now = elapsed();
    for (auto& bot : bots) bot->Tick(now);
    if (now >= next_status) {
      next_status += status_seconds;
      std::cout << StatusLine(now, Tally(bots)) << std::endl;
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
  std::cout << Summary(elapsed(), totals) << std::flush;
  bots.clear();
  std::error_code ec;
  std::filesystem::remove_all(options.level_directory, ec);
  return totals.logged_in == totals.bots ? 0 : 1;
}
