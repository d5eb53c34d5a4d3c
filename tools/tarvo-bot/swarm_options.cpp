#include "tools/tarvo-bot/swarm_options.h"

#include <CLI/CLI.hpp>

#include "base/cli_parse.h"

namespace tarvo::bot {

SwarmCommandLine ParseSwarmOptions(int argc, const char* const* argv,
                                   const std::vector<std::string>& default_asset_folders) {
  SwarmOptions o;
  BotOptions& bot = o.bot;
  std::string walk = "circle";
  CLI::App app{
      "Headless players: N bots log in to a game server, walk through its levels by holding "
      "keypad keys (colliding, climbing, falling and landing as a player does), jump, chat and "
      "exchange movement over UDP, all in one process on one 50 ms loop."};
  app.add_option("--host", bot.host, "Server address or host name")->capture_default_str();
  app.add_option("--port", bot.port, "Server TCP port")->capture_default_str();
  app.add_option("--count", o.count, "Number of bots")
      ->check(CLI::Range(1, 200))
      ->capture_default_str();
  app.add_option("--account", bot.account, "Account name")->capture_default_str();
  app.add_option("--password", bot.password, "Account password")->capture_default_str();
  app.add_option("--nick-prefix", bot.nick_prefix, "Nicknames are this prefix and the bot's number")
      ->capture_default_str();
  app.add_option("--walk", walk,
                 "Keys the bots hold: still (none), forward (keypad 8), circle (8 and 6), "
                 "random (a new combination about every second)")
      ->check(CLI::IsMember({"still", "forward", "circle", "random"}))
      ->capture_default_str();
  app.add_option("--walk-after", bot.walk_after,
                 "Stand still for the first SECONDS, then walk as --walk says")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--walk-until", bot.walk_until,
                 "Stand still again from SECONDS on (0: walk to the end)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--jump", bot.jump_seconds, "Jump every SECONDS (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--chat", bot.chat_seconds, "Say a chat line every SECONDS (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--no-udp", bot.no_udp, "Open no UDP channel: everything goes over TCP");
  app.add_option("--duration", o.duration, "Stop after SECONDS (0: run until interrupted)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--status", o.status_seconds, "Seconds between two status lines")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_flag("--verbose", o.verbose,
               "Print what a player would see, each line prefixed with the bot's number: "
               "message boxes, administrator messages, levels entered and chat lines");
  app.add_option("--others", o.others_seconds,
                 "With --verbose: every SECONDS, where each bot sees the other players of its "
                 "level (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--assets", bot.asset_folders,
                 "Folder with the avatar's part meshes, searched before the default ones "
                 "(beside the program and the source tree's data/client)");
  if (auto ended = base::ParseOrEnd<SwarmCommandLine>(app, argc, argv)) return *ended;
  // The names were checked above: only a pattern can come back.
  if (const auto pattern = ParseWalkPattern(walk)) bot.walk = *pattern;
  bot.asset_folders.insert(bot.asset_folders.end(), default_asset_folders.begin(),
                           default_asset_folders.end());
  SwarmCommandLine line;
  line.options = std::move(o);
  return line;
}

}  // namespace tarvo::bot
