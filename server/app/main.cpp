// kserver: the game server. By default it starts from its start dialog and lives in the tray;
// `--headless` runs it without windows, logging to stderr; `--add-account` edits the accounts
// file without starting it.
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#ifdef TARVO_KSERVER_WINDOWED
#include <QApplication>
#include <QLocale>
#include <QSystemTrayIcon>
#endif
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/files.h"
#include "net/address.h"
#include "protocol/compression.h"
#include "server/accounts/account_list.h"
#include "server/app/headless_loop.h"
#include "server/app/log_observer.h"
#ifdef TARVO_KSERVER_WINDOWED
#include "server/app/stop_signal_notifier.h"
#include "server/app/windowed_server.h"
#endif
#include "server/core/server_config.h"
#include "server/core/server_frame.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvo::server;

constexpr int kExitUsage = 2;
constexpr const char* kLockFileName = "kserver.lock";

// How the server compresses its packets (--compressor, --threads).
struct Compression {
  tarvo::protocol::Compressor compressor = tarvo::protocol::kDefaultCompressor;
  int threads = 1;
};

fs::path ExecutableDirectory(const char* argv0) {
  std::error_code error;
  fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) exe = fs::absolute(argv0, error);
  return exe.parent_path();
}

void SetUpLog(bool verbose) {
  auto logger = spdlog::stderr_logger_mt("kserver");
  logger->set_pattern("%Y-%m-%d %H:%M:%S.%e [%l] %v");
  logger->set_level(verbose ? spdlog::level::debug : spdlog::level::info);
  logger->flush_on(spdlog::level::trace);
  spdlog::set_default_logger(logger);
}

int AddAccount(const fs::path& directory, const std::vector<std::string>& name_password, int rights,
               bool guest) {
  NewAccount fields;
  fields.name = name_password.at(0);
  fields.password = name_password.at(1);
  fields.rights = rights;
  fields.load_only = guest;
  const auto added = AddAccountToFile(directory / kAccountsFileName, fields);
  if (!added) {
    std::cerr << added.error() << "\n";
    return 1;
  }
  std::cout << *added << "\n";
  return 0;
}

int RunServer(const fs::path& directory, const std::optional<std::string>& port_option,
              std::uint32_t listen_address, const Compression& compression, int stats_every,
              const ServerLimits& limits, const LogLimits& log_limits) {
  const std::string port_text =
      port_option ? *port_option : ReadServerConfig(directory / kServerConfigFileName);
  if (const auto port = ParsePortText(port_text); !port) {
    std::cerr << "kserver: '" << port_text << "' is not a valid port: " << port.error() << "\n";
    return kExitUsage;
  }
  LogObserver log(log_limits);
  TServerFrame server(directory, &log);
  server.set_limits(limits);
  server.set_listen_address(listen_address);
  server.SetCompression(compression.compressor, compression.threads);
  if (const auto started = server.StartServer(port_text); !started) {
    spdlog::error("The server could not be started! {}", started.error());
    return 1;
  }
  return RunHeadless(server, stats_every);
}

// The account pacing's times as the command line gives them, in seconds.
struct AccountPacingSeconds {
  double window = 600;
  double interval = 2;
  double interval_max = 60;
};

// Caps on connections and the limits on password guessing (0 switches a cap or limit off).
void AddGuessingAndCapOptions(CLI::App& app, ServerLimits& limits, AccountPacingSeconds& pacing) {
  const auto add = [&app](const char* name, int& value, const char* help) {
    app.add_option(name, value, help)
        ->check(CLI::Range(0, 1000000))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  };
  add("--max-pending-per-address", limits.max_pending_per_address,
      "Connections not logged in from one address; more get \"Too many connections from your "
      "address.\" (default 8, 0: no cap)");
  add("--max-pending", limits.max_pending,
      "Connections not logged in from all addresses; more get \"The server is full.\" "
      "(default 64, 0: no cap)");
  add("--max-sessions-per-address", limits.max_sessions_per_address,
      "Logged-in players from one address (default 32, 0: no cap)");
  add("--login-names-per-address", limits.login_names_per_address,
      "Different account names failing from one address within --login-failure-window that "
      "cool the whole address down (default 20, 0: no limit)");
  add("--account-failures", limits.account_failures,
      "Failed logins of one account from anywhere within --account-failure-window after which "
      "its password is checked at most once per --account-check-interval (default 10, 0: no "
      "limit)");
  add("--password-checks-per-second", limits.password_checks_per_second,
      "Password checks per second for the whole server (default 200, 0: no limit)");
  app.add_option("--account-failure-window", pacing.window,
                 "Seconds over which an account's failed logins are counted (default 600)")
      ->check(CLI::PositiveNumber);
  app.add_option("--account-check-interval", pacing.interval,
                 "Seconds between two checks of a guessed account's password; doubled by each "
                 "further failure (default 2)")
      ->check(CLI::PositiveNumber);
  app.add_option("--account-check-interval-max", pacing.interval_max,
                 "Longest interval between two checks of a guessed account's password in "
                 "seconds (default 60)")
      ->check(CLI::PositiveNumber);
}

bool HasDisplay() {
  return std::getenv("QT_QPA_PLATFORM") != nullptr || std::getenv("DISPLAY") != nullptr ||
         std::getenv("WAYLAND_DISPLAY") != nullptr;
}

#ifdef TARVO_KSERVER_WINDOWED
int RunWindowed(int argc, char** argv, const fs::path& directory,
                const std::optional<std::string>& port_option, std::uint32_t listen_address,
                const Compression& compression, const ServerLimits& limits,
                const LogLimits& log_limits) {
  QApplication application(argc, argv);
  // The server lives on in the tray when its last window is hidden.
  QApplication::setQuitOnLastWindowClosed(false);
  QLocale::setDefault(QLocale::c());
  LogObserver log(log_limits);
  WindowedOptions options;
  options.directory = directory;
  options.port_text = port_option;
  options.limits = limits;
  options.listen_address = listen_address;
  options.tray_available = QSystemTrayIcon::isSystemTrayAvailable();
  if (!options.tray_available)
    spdlog::info("no system tray: the main window stays shown and offers Shutdown");
  WindowedServer windows(std::move(options), {&log});
  windows.server().SetCompression(compression.compressor, compression.threads);
  StopSignalNotifier stop([&windows](int signal) {
    spdlog::info("{} received: shutting down", signal == SIGINT ? "SIGINT" : "SIGTERM");
    windows.Stop();
  });
  windows.Show();
  const int status = QApplication::exec();
  if (status == 0 && windows.server().port() != 0) spdlog::info("server stopped");
  return status;
}
#else
// The headless program has no windows of its own: it hands a windowed start, with the same
// command line, to kserver-gui beside it (package kserver-gui), which opens them.
int RunWindowed(int /*argc*/, char** argv) {
  const fs::path gui = ExecutableDirectory(argv[0]) / "kserver-gui";
  ::execv(gui.c_str(), argv);
  std::cerr << "kserver: the start dialog and tray icon are kserver-gui's (" << gui.string() << ": "
            << std::strerror(errno)
            << "); install the kserver-gui package, or run the server with --headless\n";
  return kExitUsage;
}
#endif

}  // namespace

static int RunProgram(int argc, char** argv) {
  // Numbers are read and written with "." whatever the environment says.
  std::setlocale(LC_NUMERIC, "C");

  CLI::App app{
      "kserver: the Tarvo3D game server.\n\n"
      "  kserver [--dir DIR] [--port N] [--listen ADDRESS]\n"
      "      Shows the start dialog (the port from serverconfig.txt, or N), then runs the server\n"
      "      from the system tray: the main window shows the port, host name and session count\n"
      "      and opens the operator's windows; closing it only hides it. The tray menu's\n"
      "      Shutdown (or the window's, where the desktop has no tray), SIGINT or SIGTERM stop it\n"
      "      as below. Needs a display and the kserver-gui program, which opens the windows.\n"
      "  kserver --headless [--dir DIR] [--port N] [--listen ADDRESS]\n"
      "      Runs the server without windows. Logs go to stderr, one line per event: start\n"
      "      (port, host name, address listened on, accounts, level files), logins, refusals,\n"
      "      disconnects, saves, levels loaded or reloaded, refused over-long packets. SIGINT or\n"
      "      SIGTERM shuts down: every account is refreshed and accounts.txt saved, every player\n"
      "      is sent \"The server has been shut down.\", and the program exits with status 0 (1\n"
      "      when the save failed).\n"
      "  kserver --add-account NAME PASSWORD [--rights 0-3] [--guest] [--dir DIR]\n"
      "      Appends an account to accounts.txt without starting the server (for instance the\n"
      "      first administrator: --rights 3). A name and password pair that exists is refused.\n"
      "  --compressor shared|libdeflate|zlib, --threads N (either way of running the server)\n"
      "      Packets are zlib streams either way; zlib writes the bytes older servers wrote,\n"
      "      libdeflate the same format in less time, shared (the default) deflates each\n"
      "      level's relayed movement once a tick for all its players. Each tick's batches are\n"
      "      compressed on N threads (default: one per core) beside the game's own, which\n"
      "      sends each session's packets as soon as they are ready; 1 compresses each\n"
      "      session's batch on the game's thread at its turn in the tick.\n\n"
      "The server directory holds accounts.txt, serverconfig.txt (the line serverport=N),\n"
      "levels/ (level files and .gif pictures) and guilds/.\n"
      "Only one kserver at a time uses a server directory (it locks kserver.lock there); for a\n"
      "running server, add accounts with kserverctl add-account.\n"
      "Exit status: 0 after a clean shutdown or a cancelled start dialog, 1 when the server\n"
      "cannot start (\"The server could not be started!\" and the reason), the final save of\n"
      "the accounts at shutdown fails, or an account cannot be added, 2 for a bad command line\n"
      "or port text, no display without --headless, no --dir where the program's folder is\n"
      "read-only or a system folder, or a server directory another kserver uses or that\n"
      "cannot be locked.",
      "kserver"};
  bool headless = false;
  std::string directory_text;
  std::optional<std::string> port;
  std::vector<std::string> add_account;
  int rights = 0;
  bool guest = false;
  int stats_every = 0;
  bool verbose = false;
  std::string compressor_name(tarvo::protocol::CompressorName(tarvo::protocol::kDefaultCompressor));
  Compression compression;
  compression.threads = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));

  app.add_flag("--headless", headless, "Run without windows, logging to stderr");
  app.add_option(
      "--dir", directory_text,
      "Server directory (default: the directory of the kserver executable, unless that is "
      "read-only or a system folder)");
  app.add_option("--port", port,
                 "TCP port, overriding serverconfig.txt (windowed: the start dialog offers it); "
                 "0 lets the system choose (the log and the main window name the port bound)");
  std::string listen_text = "0.0.0.0";
  app.add_option("--listen", listen_text,
                 "Local IPv4 address to accept players on, for instance one interface's address "
                 "or 127.0.0.1 behind a proxy (default 0.0.0.0: every address)")
      ->check([](const std::string& text) {
        return tarvo::net::ParseIpv4(text) ? std::string() : "not a dotted IPv4 address";
      })
      ->capture_default_str();
  auto* add_option =
      app.add_option("--add-account", add_account, "Append the account NAME PASSWORD and exit")
          ->expected(2)
          ->type_name("NAME PASSWORD");
  app.add_option("--rights", rights,
                 "With --add-account: 0 No rights, 1 Tarvoian Police, 2 Trusted Admin, "
                 "3 Administrator (default 0)")
      ->check(CLI::Range(0, 3))
      ->needs(add_option);
  app.add_flag("--guest", guest,
               "With --add-account: a guest (load-only) account that any number of players may "
               "use at once and play never changes")
      ->needs(add_option);
  app.add_option(
         "--stats", stats_every,
         "With --headless: log the wall-clock and CPU time per tick (median, 99th percentile, "
         "maximum) and the resident memory every N ticks")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--compressor", compressor_name,
                 "Deflate of the packets: shared (default: each level's relayed movement "
                 "deflated once a tick for all its players, libdeflate for the rest), libdeflate, "
                 "or zlib (the exact bytes of older servers); all write zlib streams")
      ->check(CLI::IsMember({"zlib", "libdeflate", "shared"}));
  app.add_option("--threads", compression.threads,
                 "Threads compressing each tick's batches beside the game's own (default: the "
                 "number of cores); 1 compresses each session's batch at its turn")
      ->check(CLI::Range(1, 64));
  app.add_flag("--verbose", verbose, "Also log accepted connections and session counts");

  // Limits against hostile connections; both modes. Times are in seconds.
  ServerLimits limits;
  double login_timeout = 15;
  double idle_timeout = 60;
  double failure_window = 60;
  double cooldown = 10;
  double cooldown_max = 600;
  const auto seconds = [](double s) { return std::chrono::milliseconds(std::llround(s * 1000)); };
  app.add_option("--login-timeout", login_timeout,
                 "Seconds a new connection has to log in before it is closed (default 15)")
      ->check(CLI::PositiveNumber);
  app.add_option("--idle-timeout", idle_timeout,
                 "Seconds a connection that is not logged in may stay without sending a complete "
                 "message (default 60)")
      ->check(CLI::PositiveNumber);
  app.add_option("--messages-per-tick", limits.messages_per_tick,
                 "Messages of one session handled per 50 ms tick; the rest wait, and the "
                 "connection is not read while they do (default 64)")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--login-failures", limits.login_failures,
                 "Failed logins of one account name from one address within "
                 "--login-failure-window that start a cool-down for that name at that address "
                 "(default 5)")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--login-failure-window", failure_window,
                 "Seconds over which failed logins are counted (default 60)")
      ->check(CLI::PositiveNumber);
  app.add_option("--login-cooldown", cooldown,
                 "Seconds logins are refused unchecked after too many failures; doubled by each "
                 "further failure (default 10)")
      ->check(CLI::PositiveNumber);
  app.add_option("--login-cooldown-max", cooldown_max, "Longest cool-down in seconds (default 600)")
      ->check(CLI::PositiveNumber);
  AccountPacingSeconds pacing;
  AddGuessingAndCapOptions(app, limits, pacing);
  app.add_option("--send-buffer", limits.send_buffer_bytes,
                 "Kernel send and receive buffer of each connection in bytes, 0 for the "
                 "system's own (default 65536)")
      ->check(CLI::Range(0, 16 * 1024 * 1024));
  LogLimits log_limits;
  double summary_every = 60;
  app.add_option("--log-per-address", log_limits.lines_per_second,
                 "Log lines per second about one address's connections that did not log in "
                 "(accepts, refusals, closes); the rest are counted and summarised, 0 for no "
                 "limit (default 5)")
      ->check(CLI::NonNegativeNumber)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--log-per-minute", log_limits.lines_per_minute,
                 "Log lines per minute about connections that did not log in, from all addresses "
                 "together; 0 for no limit (default 300)")
      ->check(CLI::NonNegativeNumber)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--log-summary-every", summary_every,
                 "Seconds between the summaries of left-out log lines (default 60)")
      ->check(CLI::PositiveNumber)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : kExitUsage;
  }

  limits.login_timeout = seconds(login_timeout);
  limits.idle_timeout = seconds(idle_timeout);
  limits.login_failure_window = seconds(failure_window);
  limits.login_cooldown = seconds(cooldown);
  limits.login_cooldown_max = seconds(std::max(cooldown_max, cooldown));
  limits.account_failure_window = seconds(pacing.window);
  limits.account_check_interval = seconds(pacing.interval);
  limits.account_check_interval_max = seconds(std::max(pacing.interval_max, pacing.interval));
  log_limits.summary_every = seconds(summary_every);

  const fs::path directory =
      directory_text.empty() ? ExecutableDirectory(argv[0]) : fs::path(directory_text);
  if (directory_text.empty() && tarvo::base::IsReadOnlyOrSystemFolder(directory)) {
    std::cerr << "kserver: the program's folder " << directory.string()
              << " is no place for a world (read-only or a system folder); name the server "
                 "directory with --dir DIR\n";
    return kExitUsage;
  }
  // One program at a time writes a world's accounts file: a second one would overwrite the
  // other's changes at its next save.
  tarvo::base::FileLock lock(directory / kLockFileName);
  if (lock.held_elsewhere()) {
    std::cerr << "kserver: another kserver uses " << directory.string() << " (it holds "
              << kLockFileName << ")."
              << (add_account.empty() ? ""
                                      : " Add accounts to a running server with kserverctl "
                                        "add-account.")
              << "\n";
    return kExitUsage;
  }
  // Unguarded, a second server could overwrite this one's accounts unseen: no lock, no start.
  if (!lock.locked()) {
    std::cerr << "kserver: cannot lock the server directory " << directory.string() << " ("
              << lock.error() << "); make " << kLockFileName
              << " there writable by this user, or name another directory with --dir\n";
    return kExitUsage;
  }
  if (!add_account.empty()) {
    if (headless || port || listen_text != "0.0.0.0") {
      std::cerr << "kserver: --add-account does not start the server; leave out --headless, "
                   "--port and --listen\n";
      return kExitUsage;
    }
    return AddAccount(directory, add_account, rights, guest);
  }
  compression.compressor = *tarvo::protocol::ParseCompressor(compressor_name);
  SetUpLog(verbose);
  const std::uint32_t listen_address = *tarvo::net::ParseIpv4(listen_text);
  if (headless) {
    return RunServer(directory, port, listen_address, compression, stats_every, limits, log_limits);
  }
  if (stats_every > 0) {
    std::cerr << "kserver: --stats needs --headless\n";
    return kExitUsage;
  }
  if (!HasDisplay()) {
    std::cerr << "kserver: no display for the start dialog and tray icon; run the server with "
                 "--headless (see --help)\n";
    return kExitUsage;
  }
#ifdef TARVO_KSERVER_WINDOWED
  return RunWindowed(argc, argv, directory, port, listen_address, compression, limits, log_limits);
#else
  return RunWindowed(argc, argv);
#endif
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "kserver", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "kserver");
  }
  return 1;
}
