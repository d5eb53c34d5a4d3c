// tarvo-bot: headless players for tests and load. N bots share one process and one 50 ms loop.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tools/tarvo-bot/bot.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

// The avatar's part meshes: where the package installs them, beside the program, then in the
// source tree it was built from.
std::vector<std::string> DefaultAssetFolders() {
  std::vector<std::string> folders;
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && !program.empty()) {
    folders.push_back((program.parent_path() / ".." / "share" / "tarvo3d").string());
    folders.push_back(program.parent_path().string());
    folders.push_back((program.parent_path() / "data" / "client").string());
  }
#ifdef TARVO_CLIENT_DATA_DIR
  folders.emplace_back(TARVO_CLIENT_DATA_DIR);
#endif
  return folders;
}

}  // namespace

static int RunProgram(int argc, char** argv) {
  using namespace tarvo::bot;
  using Clock = std::chrono::steady_clock;

  BotOptions options;
  int count = 1;
  std::string walk = "circle";
  double duration = 0;
  double status_seconds = 5;
  bool verbose = false;
  double others_seconds = 0;

  CLI::App app{
      "Headless players: N bots log in to a game server, walk through its levels by holding "
      "keypad keys (colliding, climbing, falling and landing as a player does), jump, chat and "
      "exchange movement over UDP, all in one process on one 50 ms loop."};
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
  app.add_option("--walk", walk,
                 "Keys the bots hold: still (none), forward (keypad 8), circle (8 and 6), "
                 "random (a new combination about every second)")
      ->check(CLI::IsMember({"still", "forward", "circle", "random"}))
      ->capture_default_str();
  app.add_option("--walk-after", options.walk_after,
                 "Stand still for the first SECONDS, then walk as --walk says")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--walk-until", options.walk_until,
                 "Stand still again from SECONDS on (0: walk to the end)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--jump", options.jump_seconds, "Jump every SECONDS (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--chat", options.chat_seconds, "Say a chat line every SECONDS (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--no-udp", options.no_udp, "Open no UDP channel: everything goes over TCP");
  app.add_option("--duration", duration, "Stop after SECONDS (0: run until interrupted)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--status", status_seconds, "Seconds between two status lines")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_flag("--verbose", verbose,
               "Print what a player would see, each line prefixed with the bot's number: "
               "message boxes, administrator messages, levels entered and chat lines");
  app.add_option("--others", others_seconds,
                 "With --verbose: every SECONDS, where each bot sees the other players of its "
                 "level (0: never)")
      ->check(CLI::NonNegativeNumber);
  std::vector<std::string> assets;
  app.add_option("--assets", assets,
                 "Folder with the avatar's part meshes, searched before the default ones "
                 "(beside the program and the source tree's data/client)");
  CLI11_PARSE(app, argc, argv);
  ParseWalkPattern(walk, options.walk);
  options.asset_folders = assets;
  for (std::string& folder : DefaultAssetFolders()) options.asset_folders.push_back(folder);
  if (verbose) options.verbose = &std::cout;

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
  double next_others = others_seconds;
  while (!g_stop && (duration <= 0 || elapsed() < duration)) {
    const double now = elapsed();
    for (auto& bot : bots) bot->Tick(now);
    if (others_seconds > 0 && now >= next_others) {
      next_others += others_seconds;
      for (auto& bot : bots) bot->PrintOthers(now);
    }
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

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "tarvo-bot", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "tarvo-bot");
  }
  return 1;
}
