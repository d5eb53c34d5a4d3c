#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/command_line.h"
#include "protocol/compression.h"
#include "server/accounts/account_store.h"
#include "server/core/server_limits.h"
#include "server/launch/log_observer.h"

namespace tarvo::server {

/// kserver's exit status for a bad command line or port text, no display without --headless,
/// or a server directory it must not or cannot use.
inline constexpr int kExitUsage = 2;

/// Everything kserver's command line says, checked and converted.
struct ServerOptions {
  bool headless = false;
  /// --dir; unset: the program's own folder.
  std::optional<std::filesystem::path> directory;
  /// --port as typed (checked when the server starts, as serverconfig.txt's is).
  std::optional<std::string> port_text;
  std::uint32_t listen_address = 0;  ///< --listen; 0: every address
  /// --add-account with --rights and --guest: add it to accounts.txt and exit.
  std::optional<NewAccount> add_account;
  int stats_every = 0;  ///< --stats; only with --headless
  bool verbose = false;
  protocol::Compressor compressor = protocol::kDefaultCompressor;
  int threads = 1;  ///< --threads; default: one per core
  ServerLimits limits;
  LogLimits log_limits;
};

using ServerCommandLine = base::CommandLine<ServerOptions>;

/// Parses kserver's command line. --help ends with status 0 and the help text; a bad command
/// line with `kExitUsage` and the reason.
ServerCommandLine ParseServerOptions(int argc, const char* const* argv);

}  // namespace tarvo::server
