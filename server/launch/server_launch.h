#pragma once

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "base/files.h"
#include "base/result.h"
#include "server/accounts/account_store.h"
#include "server/launch/server_options.h"

namespace tarvo::server {

/// The name of the lock file that keeps a second kserver out of a server directory.
inline constexpr const char* kLockFileName = "kserver.lock";

/// The folder of the running program (where its world lives unless --dir names another).
std::filesystem::path ExecutableDirectory(const char* argv0);

/// Whether a display is there for the start dialog and the tray icon.
bool HasDisplay();

/// The server directory, locked for this program while the object lives.
struct ServerDirectory {
  std::filesystem::path path;
  std::unique_ptr<base::FileLock> lock;
};

/// Picks the server directory (--dir, else `program_directory` unless that is read-only or a
/// system folder) and locks it, so one program at a time writes its accounts file. A failure
/// says why in a line for stderr.
base::Result<ServerDirectory> OpenServerDirectory(const ServerOptions& options,
                                                  const std::filesystem::path& program_directory);

/// Appends `account` to the directory's accounts.txt; writes what was done to `out` or why not
/// to `err`. Returns the exit status.
int AddAccount(const std::filesystem::path& directory, const NewAccount& account, std::ostream& out,
               std::ostream& err);

/// The log on stderr, with debug lines when `verbose`.
void SetUpLog(bool verbose);

/// Starts the server without windows and runs it until SIGINT or SIGTERM; returns the exit
/// status.
int RunHeadlessServer(const std::filesystem::path& directory, const ServerOptions& options);

/// The headless program has no windows of its own: it hands a windowed start, with the same
/// command line, to kserver-gui beside it. Returns only when that fails, with the exit status.
int HandOverToWindowedProgram(char** argv);

}  // namespace tarvo::server
