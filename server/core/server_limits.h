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
  /// Failed logins from one address within `login_failure_window` that start a cool-down.
  int login_failures = 5;
  std::chrono::milliseconds login_failure_window{std::chrono::seconds(60)};
  /// The first cool-down; each further failure doubles it up to `login_cooldown_max`.
  std::chrono::milliseconds login_cooldown{std::chrono::seconds(10)};
  std::chrono::milliseconds login_cooldown_max{std::chrono::minutes(10)};
  /// Kernel send buffer asked for each session's socket (0: the system's default).
  int send_buffer_bytes = 65536;
};

}  // namespace tarvo::server
