#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <unordered_map>

#include "server/core/server_limits.h"

namespace tarvo::server {

/// Failed logins counted per source address. Once an address reaches the failure limit within
/// the window, its logins are refused unchecked for a cool-down that doubles on each further
/// failure. Addresses whose record has run out are forgotten, so the table stays small.
class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LoginThrottle(const ServerLimits& limits) : limits_(limits) {}

  /// Whether logins from `address` are refused now without looking at them.
  bool Blocked(std::uint32_t address, Clock::time_point now);
  /// A failed login from `address`.
  void Failed(std::uint32_t address, Clock::time_point now);
  /// The addresses with a record (for tests and statistics).
  std::size_t size() const { return records_.size(); }

 private:
  struct Record {
    std::deque<Clock::time_point> failures;  // within the window
    int strikes = 0;                         // cool-downs given so far
    Clock::time_point blocked_until{};
    Clock::time_point last_failure{};
  };
  std::chrono::milliseconds Cooldown(int strikes) const;
  bool Expired(const Record& record, Clock::time_point now) const;
  void Prune(Clock::time_point now);

  const ServerLimits& limits_;
  std::unordered_map<std::uint32_t, Record> records_;
  Clock::time_point next_prune_{};
};

}  // namespace tarvo::server
