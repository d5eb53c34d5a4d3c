#pragma once

#include <chrono>
#include <cstddef>

namespace tarvo::server {

/// What the server allows a connection before it is closed, refused or slowed; set from the
/// command line so tests can make every limit small.
struct ServerLimits {
  /// A connection that has not sent its login by then is closed.
  std::chrono::milliseconds login_timeout{std::chrono::seconds(15)};
  /// A connection kept "not logged in" by its first message is closed after this long without a
  /// complete message.
  std::chrono::milliseconds idle_timeout{std::chrono::seconds(60)};
  /// Messages of one session handled per tick; the rest wait in order for the next ticks.
  int messages_per_tick = 64;
  /// Failed logins of one account name from one address within `login_failure_window` that
  /// cool that pair down.
  int login_failures = 5;
  std::chrono::milliseconds login_failure_window{std::chrono::seconds(60)};
  /// The first cool-down; each further failure doubles it up to `login_cooldown_max`.
  std::chrono::milliseconds login_cooldown{std::chrono::seconds(10)};
  std::chrono::milliseconds login_cooldown_max{std::chrono::minutes(10)};
  /// Different account names failing from one address within `login_failure_window` that cool
  /// the whole address down (0: no limit).
  int login_names_per_address = 20;

  /// Failed logins of one account, from anywhere, within `account_failure_window` after which
  /// its password is checked at most once per `account_check_interval`, doubling with each
  /// further failure up to `account_check_interval_max` (0 failures: no limit).
  int account_failures = 10;
  std::chrono::milliseconds account_failure_window{std::chrono::minutes(10)};
  std::chrono::milliseconds account_check_interval{std::chrono::seconds(2)};
  std::chrono::milliseconds account_check_interval_max{std::chrono::minutes(1)};
  /// Password checks per second for the whole server (0: no limit).
  int password_checks_per_second = 200;

  /// Connections not logged in from one address, and from everywhere (0: no cap).
  int max_pending_per_address = 8;
  int max_pending = 64;
  /// Logged-in player sessions from one address (0: no cap).
  int max_sessions_per_address = 32;
  /// Kernel send buffer asked for each session's socket (0: the system's default).
  int send_buffer_bytes = 65536;
};

}  // namespace tarvo::server
