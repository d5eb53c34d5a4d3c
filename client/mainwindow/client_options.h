#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/command_line.h"

namespace tarvo::client {

/// Everything tarvo3d's command line says.
struct ClientOptions {
  /// --connect HOST[:PORT]: the connect dialog is filled with them and started (unless
  /// `wait_for_start`); the port stays the dialog's own when none is given.
  std::optional<std::string> connect_host;
  std::optional<std::string> connect_port;
  bool wait_for_start = false;
  std::string account;  ///< empty: the dialog's own
  std::string password;
  std::string nickname;
  /// Folder of tarvo3dconfig.txt; unset: beside the program when writable, else the user's.
  std::optional<std::filesystem::path> config_dir;
  /// Where the main window's picture is saved at `quit_after`.
  std::optional<std::filesystem::path> screenshot;
  double quit_after = 0;  ///< seconds; 0: run until the player quits
};

using ClientCommandLine = base::CommandLine<ClientOptions>;

/// Parses tarvo3d's command line. --help ends with status 0 and the help text, a bad command
/// line with the parser's status and the reason (2 for --screenshot without --quit-after).
ClientCommandLine ParseClientOptions(int argc, const char* const* argv);

}  // namespace tarvo::client
