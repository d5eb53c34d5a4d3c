#include "server/launch/server_launch.h"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <system_error>

#include "server/core/server_config.h"
#include "server/core/server_frame.h"
#include "server/launch/headless_loop.h"
#include "server/launch/log_observer.h"

namespace tarvo::server {

namespace fs = std::filesystem;

fs::path ExecutableDirectory(const char* argv0) {
  std::error_code error;
  fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) exe = fs::absolute(argv0, error);
  return exe.parent_path();
}

bool HasDisplay() {
  return std::getenv("QT_QPA_PLATFORM") != nullptr || std::getenv("DISPLAY") != nullptr ||
         std::getenv("WAYLAND_DISPLAY") != nullptr;
}

base::Result<ServerDirectory> OpenServerDirectory(const ServerOptions& options,
                                                  const fs::path& program_directory) {
  ServerDirectory directory;
  directory.path = options.directory.value_or(program_directory);
  std::ostringstream error;
  if (!options.directory && base::IsReadOnlyOrSystemFolder(directory.path)) {
    error << "kserver: the program's folder " << directory.path.string()
          << " is no place for a world (read-only or a system folder); name the server "
             "directory with --dir DIR\n";
    return base::Fail(error.str());
  }
  // A second program would overwrite the other's changes to the accounts file at its next save.
  directory.lock = std::make_unique<base::FileLock>(directory.path / kLockFileName);
  if (directory.lock->held_elsewhere()) {
    error << "kserver: another kserver uses " << directory.path.string() << " (it holds "
          << kLockFileName << ")."
          << (options.add_account ? " Add accounts to a running server with kserverctl "
                                    "add-account."
                                  : "")
          << "\n";
    return base::Fail(error.str());
  }
  if (!directory.lock->locked()) {
    // Unguarded, a second server could overwrite this one's accounts unseen: no lock, no start.
    error << "kserver: cannot lock the server directory " << directory.path.string() << " ("
          << directory.lock->error() << "); make " << kLockFileName
          << " there writable by this user, or name another directory with --dir\n";
    return base::Fail(error.str());
  }
  return directory;
}

int AddAccount(const fs::path& directory, const NewAccount& account, std::ostream& out,
               std::ostream& err) {
  const auto added = AddAccountToFile(directory / kAccountsFileName, account);
  if (!added) {
    err << added.error() << "\n";
    return 1;
  }
  out << *added << "\n";
  return 0;
}

void SetUpLog(bool verbose) {
  auto logger = spdlog::stderr_logger_mt("kserver");
  logger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%l] %v");
  logger->set_level(verbose ? spdlog::level::debug : spdlog::level::info);
  logger->flush_on(spdlog::level::trace);
  spdlog::set_default_logger(logger);
}

int RunHeadlessServer(const fs::path& directory, const ServerOptions& options) {
  const std::string port_text =
      options.port_text ? *options.port_text : ReadServerConfig(directory / kServerConfigFileName);
  if (const auto port = ParsePortText(port_text); !port) {
    std::cerr << "kserver: '" << port_text << "' is not a valid port: " << port.error() << "\n";
    return kExitUsage;
  }
  LogObserver log(options.log_limits);
  TServerFrame server(directory, &log);
  server.SetLimits(options.limits);
  server.SetListenAddress(options.listen_address);
  server.SetCompression(options.compressor, options.threads);
  // A stop that comes as soon as the start is logged must find the handlers in place.
  InstallStopSignals();
  if (const auto started = server.StartServer(port_text); !started) {
    spdlog::error("The server could not be started! {}", started.error());
    return 1;
  }
  return RunHeadless(server, options.stats_every);
}

int HandOverToWindowedProgram(char** argv) {
  const fs::path gui = ExecutableDirectory(argv[0]) / "kserver-gui";
  ::execv(gui.c_str(), argv);
  std::cerr << "kserver: the start dialog and tray icon are kserver-gui's (" << gui.string() << ": "
            << std::strerror(errno)
            << "); install the kserver-gui package, or run the server with --headless\n";
  return kExitUsage;
}

}  // namespace tarvo::server
