#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/core/server_limits.h"

namespace tarvo::server {

/// Failed logins counted per (source address, account name). Once a pair reaches the failure
/// limit within the window, logins of that name from that address are refused unchecked for a
/// cool-down that doubles on each further failure; other names from the same address are not
/// affected. An address whose failures spread over many names cools down as a whole. Records
/// that have run out are forgotten, so the tables stay small.
class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LoginThrottle(const ServerLimits& limits) : limits_(limits) {}

  /// How long logins of `name` from `address` are still refused unchecked (zero: not refused).
  Clock::duration CooldownLeft(std::uint32_t address, std::string_view name,
                               Clock::time_point now) const;
  /// Whether logins of `name` from `address` are refused now without looking at them.
  bool Blocked(std::uint32_t address, std::string_view name, Clock::time_point now) const {
    return CooldownLeft(address, name, now) > Clock::duration::zero();
  }
  /// A failed login of `name` from `address`.
  void Failed(std::uint32_t address, std::string_view name, Clock::time_point now);
  /// The (address, name) pairs with a record (for tests and statistics).
  std::size_t size() const { return pairs_.size(); }
  /// The addresses with a record of failing names.
  std::size_t address_records() const { return addresses_.size(); }

 private:
  struct Cooldown {
    int strikes = 0;  // cool-downs given so far
    Clock::time_point blocked_until{};
    Clock::time_point last_failure{};
  };
  struct PairRecord {
    std::deque<Clock::time_point> failures;  // within the window
    Cooldown cooldown;
  };
  struct AddressRecord {
    std::vector<std::pair<std::string, Clock::time_point>> names;  // last failure of each
    Cooldown cooldown;
  };
  struct PairKey {
    std::uint32_t address;
    std::string name;
    bool operator==(const PairKey&) const = default;
  };
  struct PairHash {
    std::size_t operator()(const PairKey& key) const {
      return std::hash<std::string>()(key.name) ^ (std::size_t{key.address} * 0x9E3779B97F4A7C15u);
    }
  };
  std::chrono::milliseconds Length(int strikes) const;
  bool Expired(const Cooldown& cooldown, Clock::time_point now) const;
  void Strike(Cooldown& cooldown, Clock::time_point now) const;
  void Prune(Clock::time_point now);

  const ServerLimits& limits_;
  std::unordered_map<PairKey, PairRecord, PairHash> pairs_;
  std::unordered_map<std::uint32_t, AddressRecord> addresses_;
  Clock::time_point next_prune_{};
};

/// Paces the password checks of accounts that are being guessed, wherever the guesses come
/// from, and of the whole server. After `account_failures` failures on one account its password
/// is checked at most once per interval; a login that must wait is answered at its turn. A turn
/// goes first to the address that asked least for that account (failures and waits counted),
/// so that a crowd of guessers, which asks again and again, cannot keep the owner out; a login
/// whose turn would come after its deadline is refused at once.
class AccountGuard {
 public:
  using Clock = std::chrono::steady_clock;

  explicit AccountGuard(const ServerLimits& limits) : limits_(limits) {}

  enum class Verdict { kCheck, kWait, kRefuse };
  struct Turn {
    Verdict verdict = Verdict::kCheck;
    Clock::duration wait{};  ///< with kRefuse: how long until a check could be made
  };
  /// Asks for a check of the password of account `name` for the login of session `serial`
  /// from `address`, which must be answered by `deadline`. A waiting login asks again each
  /// tick with the same serial until it gets kCheck or kRefuse.
  Turn Ask(std::string_view name, std::uint64_t serial, std::uint32_t address,
           Clock::time_point now, Clock::time_point deadline);
  /// The session `serial` no longer waits (it ended).
  void Forget(std::uint64_t serial);
  /// A wrong password for `name` from `address`.
  void Failed(std::string_view name, std::uint32_t address, Clock::time_point now);
  /// The right password for `name`: its guessing record ends.
  void Succeeded(std::string_view name);
  /// The interval between two checks of `name` now (zero: not limited).
  Clock::duration Interval(std::string_view name, Clock::time_point now);
  /// Accounts with a record (for tests and statistics).
  std::size_t size() const { return accounts_.size(); }

 private:
  struct Waiter {
    std::uint64_t serial;
    std::uint32_t address;
    Clock::time_point since;
  };
  struct Record {
    std::deque<std::pair<Clock::time_point, std::uint32_t>> failures;  // within the window
    std::unordered_map<std::uint32_t, int> asked;  // failures and paced logins per address
    Clock::time_point next_check{};
    std::vector<Waiter> waiters;
  };
  Clock::duration IntervalOf(Record& record, Clock::time_point now) const;
  static void CountAsk(Record& record, std::uint32_t address);
  static int Asked(const Record& record, std::uint32_t address);
  void DropOld(Record& record, Clock::time_point now) const;
  void StopWaiting(Record& record, std::uint64_t serial);
  bool TakeGlobal(Clock::time_point now);
  void Prune(Clock::time_point now);

  const ServerLimits& limits_;
  std::unordered_map<std::string, Record> accounts_;
  std::unordered_map<std::uint64_t, std::string> waiting_;  // serial -> account name
  Clock::time_point second_start_{};
  int checks_in_second_ = 0;
  Clock::time_point next_prune_{};
};

}  // namespace tarvo::server
