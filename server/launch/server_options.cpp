#include "server/launch/server_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "base/cli_parse.h"
#include "net/address.h"

namespace tarvo::server {
namespace {

constexpr const char* kDescription =
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
    "cannot be locked.";

// The command line's texts before they are converted; times are in seconds.
struct RawOptions {
  std::string directory;
  std::string listen = "0.0.0.0";
  std::vector<std::string> add_account;
  std::string compressor{protocol::CompressorName(protocol::kDefaultCompressor)};
  double login_timeout = 15;
  double idle_timeout = 60;
  double failure_window = 60;
  double cooldown = 10;
  double cooldown_max = 600;
  double account_failure_window = 600;
  double account_check_interval = 2;
  double account_check_interval_max = 60;
  double summary_every = 60;
};

// Running the server: the port, the address, the compression and the log.
void AddRunOptions(CLI::App& app, ServerOptions& o, RawOptions& raw) {
  app.add_flag("--headless", o.headless, "Run without windows, logging to stderr");
  app.add_option(
      "--dir", raw.directory,
      "Server directory (default: the directory of the kserver executable, unless that is "
      "read-only or a system folder)");
  app.add_option("--port", o.port_text,
                 "TCP port, overriding serverconfig.txt (windowed: the start dialog offers it); "
                 "0 lets the system choose (the log and the main window name the port bound)");
  app.add_option("--listen", raw.listen,
                 "Local IPv4 address to accept players on, for instance one interface's address "
                 "or 127.0.0.1 behind a proxy (default 0.0.0.0: every address)")
      ->check([](const std::string& text) {
        return net::ParseIpv4(text) ? std::string() : "not a dotted IPv4 address";
      })
      ->capture_default_str();
  auto* add_option =
      app.add_option("--add-account", raw.add_account, "Append the account NAME PASSWORD and exit")
          ->expected(2)
          ->type_name("NAME PASSWORD");
  o.add_account.emplace();
  app.add_option("--rights", o.add_account->rights,
                 "With --add-account: 0 No rights, 1 Tarvoian Police, 2 Trusted Admin, "
                 "3 Administrator (default 0)")
      ->check(CLI::Range(0, 3))
      ->needs(add_option);
  app.add_flag("--guest", o.add_account->load_only,
               "With --add-account: a guest (load-only) account that any number of players may "
               "use at once and play never changes")
      ->needs(add_option);
  app.add_option(
         "--stats", o.stats_every,
         "With --headless: log the wall-clock and CPU time per tick (median, 99th percentile, "
         "maximum) and the resident memory every N ticks")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--compressor", raw.compressor,
                 "Deflate of the packets: shared (default: each level's relayed movement "
                 "deflated once a tick for all its players, libdeflate for the rest), libdeflate, "
                 "or zlib (the exact bytes of older servers); all write zlib streams")
      ->check(CLI::IsMember({"zlib", "libdeflate", "shared"}));
  app.add_option("--threads", o.threads,
                 "Threads compressing each tick's batches beside the game's own (default: the "
                 "number of cores); 1 compresses each session's batch at its turn")
      ->check(CLI::Range(1, 64));
  app.add_flag("--verbose", o.verbose, "Also log accepted connections and session counts");
}

// Limits against hostile connections; both modes.
void AddLoginOptions(CLI::App& app, ServerLimits& limits, RawOptions& raw) {
  app.add_option("--login-timeout", raw.login_timeout,
                 "Seconds a new connection has to log in before it is closed (default 15)")
      ->check(CLI::PositiveNumber);
  app.add_option("--idle-timeout", raw.idle_timeout,
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
  app.add_option("--login-failure-window", raw.failure_window,
                 "Seconds over which failed logins are counted (default 60)")
      ->check(CLI::PositiveNumber);
  app.add_option("--login-cooldown", raw.cooldown,
                 "Seconds logins are refused unchecked after too many failures; doubled by each "
                 "further failure (default 10)")
      ->check(CLI::PositiveNumber);
  app.add_option("--login-cooldown-max", raw.cooldown_max,
                 "Longest cool-down in seconds (default 600)")
      ->check(CLI::PositiveNumber);
}

// Caps on connections and the limits on password guessing (0 switches a cap or limit off).
void AddGuessingAndCapOptions(CLI::App& app, ServerLimits& limits, RawOptions& raw) {
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
  app.add_option("--account-failure-window", raw.account_failure_window,
                 "Seconds over which an account's failed logins are counted (default 600)")
      ->check(CLI::PositiveNumber);
  app.add_option("--account-check-interval", raw.account_check_interval,
                 "Seconds between two checks of a guessed account's password; doubled by each "
                 "further failure (default 2)")
      ->check(CLI::PositiveNumber);
  app.add_option("--account-check-interval-max", raw.account_check_interval_max,
                 "Longest interval between two checks of a guessed account's password in "
                 "seconds (default 60)")
      ->check(CLI::PositiveNumber);
  app.add_option("--send-buffer", limits.send_buffer_bytes,
                 "Kernel send and receive buffer of each connection in bytes, 0 for the "
                 "system's own (default 65536)")
      ->check(CLI::Range(0, 16 * 1024 * 1024));
}

void AddLogOptions(CLI::App& app, LogLimits& log_limits, RawOptions& raw) {
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
  app.add_option("--log-summary-every", raw.summary_every,
                 "Seconds between the summaries of left-out log lines (default 60)")
      ->check(CLI::PositiveNumber)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::chrono::milliseconds Seconds(double s) {
  return std::chrono::milliseconds(std::llround(s * 1000));
}

// Turns the texts and seconds into the options' own types; a longest time shorter than its
// first step is raised to it.
void Convert(const RawOptions& raw, ServerOptions& o) {
  ServerLimits& limits = o.limits;
  limits.login_timeout = Seconds(raw.login_timeout);
  limits.idle_timeout = Seconds(raw.idle_timeout);
  limits.login_failure_window = Seconds(raw.failure_window);
  limits.login_cooldown = Seconds(raw.cooldown);
  limits.login_cooldown_max = Seconds(std::max(raw.cooldown_max, raw.cooldown));
  limits.account_failure_window = Seconds(raw.account_failure_window);
  limits.account_check_interval = Seconds(raw.account_check_interval);
  limits.account_check_interval_max =
      Seconds(std::max(raw.account_check_interval_max, raw.account_check_interval));
  o.log_limits.summary_every = Seconds(raw.summary_every);
  if (!raw.directory.empty()) o.directory = raw.directory;
  o.listen_address = *net::ParseIpv4(raw.listen);
  o.compressor = *protocol::ParseCompressor(raw.compressor);
  if (raw.add_account.empty()) {
    o.add_account.reset();
  } else {
    o.add_account->name = raw.add_account.at(0);
    o.add_account->password = raw.add_account.at(1);
  }
}

}  // namespace

ServerCommandLine ParseServerOptions(int argc, const char* const* argv) {
  CLI::App app{kDescription, "kserver"};
  ServerOptions options;
  options.threads = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  RawOptions raw;
  AddRunOptions(app, options, raw);
  AddLoginOptions(app, options.limits, raw);
  AddGuessingAndCapOptions(app, options.limits, raw);
  AddLogOptions(app, options.log_limits, raw);
  if (auto ended = base::ParseOrEnd<ServerCommandLine>(app, argc, argv, kExitUsage)) return *ended;
  Convert(raw, options);
  if (options.add_account && (options.headless || options.port_text || raw.listen != "0.0.0.0")) {
    return ServerCommandLine::Refuse(
        kExitUsage,
        "kserver: --add-account does not start the server; leave out --headless, --port and "
        "--listen\n");
  }
  if (!options.add_account && !options.headless && options.stats_every > 0) {
    return ServerCommandLine::Refuse(kExitUsage, "kserver: --stats needs --headless\n");
  }
  ServerCommandLine line;
  line.options = std::move(options);
  return line;
}

}  // namespace tarvo::server
