#pragma once

#include <string>
#include <vector>

#include "base/command_line.h"
#include "tools/tarvo-bot/bot.h"

namespace tarvo::bot {

/// Everything tarvo-bot's command line says: what each bot does, and how many run for how long.
struct SwarmOptions {
  /// Shared by every bot; `level_directory` and `verbose` are set when the run starts.
  BotOptions bot;
  int count = 1;
  double duration = 0;        ///< seconds; 0: until SIGINT or SIGTERM
  double status_seconds = 5;  ///< between two status lines
  bool verbose = false;       ///< print what a player would see
  double others_seconds = 0;  ///< with `verbose`: between two lists of the others; 0: never
};

using SwarmCommandLine = base::CommandLine<SwarmOptions>;

/// Parses tarvo-bot's command line; the folders of --assets come before
/// `default_asset_folders`. --help ends with status 0 and the help text, a bad command line
/// with the parser's status and the reason.
SwarmCommandLine ParseSwarmOptions(int argc, const char* const* argv,
                                   const std::vector<std::string>& default_asset_folders);

}  // namespace tarvo::bot
