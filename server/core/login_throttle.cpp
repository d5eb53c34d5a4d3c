#include "server/core/login_throttle.h"

#include <algorithm>

namespace tarvo::server {

using namespace std::chrono_literals;

// ---- LoginThrottle ----

std::chrono::milliseconds LoginThrottle::Length(int strikes) const {
  std::chrono::milliseconds length = limits_.login_cooldown;
  for (int i = 1; i < strikes && length < limits_.login_cooldown_max; ++i) length *= 2;
  return std::min(length, limits_.login_cooldown_max);
}

// A record is forgotten once its cool-down and a whole window after its last failure are over.
bool LoginThrottle::Expired(const Cooldown& cooldown, Clock::time_point now) const {
  return now >= cooldown.blocked_until &&
         now - cooldown.last_failure >= limits_.login_failure_window + Length(cooldown.strikes);
}

void LoginThrottle::Strike(Cooldown& cooldown, Clock::time_point now) const {
  ++cooldown.strikes;
  cooldown.blocked_until = now + Length(cooldown.strikes);
}

void LoginThrottle::Prune(Clock::time_point now) {
  if (now < next_prune_) return;
  next_prune_ = now + limits_.login_failure_window;
  std::erase_if(pairs_, [&](const auto& entry) { return Expired(entry.second.cooldown, now); });
  std::erase_if(addresses_, [&](const auto& entry) { return Expired(entry.second.cooldown, now); });
}

LoginThrottle::Clock::duration LoginThrottle::CooldownLeft(std::uint32_t address,
                                                           std::string_view name,
                                                           Clock::time_point now) const {
  Clock::time_point until{};
  if (const auto it = addresses_.find(address); it != addresses_.end())
    until = it->second.cooldown.blocked_until;
  if (const auto it = pairs_.find(PairKey{address, std::string(name)}); it != pairs_.end())
    until = std::max(until, it->second.cooldown.blocked_until);
  return until > now ? until - now : Clock::duration::zero();
}

void LoginThrottle::Failed(std::uint32_t address, std::string_view name, Clock::time_point now) {
  if (limits_.login_failures <= 0) return;
  Prune(now);
  PairRecord& pair = pairs_[PairKey{address, std::string(name)}];
  if (Expired(pair.cooldown, now)) pair = PairRecord{};
  pair.cooldown.last_failure = now;
  pair.failures.push_back(now);
  while (!pair.failures.empty() && now - pair.failures.front() >= limits_.login_failure_window)
    pair.failures.pop_front();
  // Once cooled down, every further failure starts a longer cool-down.
  if (pair.cooldown.strikes > 0 ||
      pair.failures.size() >= static_cast<std::size_t>(limits_.login_failures)) {
    Strike(pair.cooldown, now);
    pair.failures.clear();
  }

  if (limits_.login_names_per_address <= 0) return;
  AddressRecord& record = addresses_[address];
  if (Expired(record.cooldown, now)) record = AddressRecord{};
  record.cooldown.last_failure = now;
  std::erase_if(record.names, [&](const auto& entry) {
    return entry.first == name || now - entry.second >= limits_.login_failure_window;
  });
  record.names.emplace_back(std::string(name), now);
  // Each further spray of that many names doubles the address's cool-down; a few failures of
  // one name after it do not, so players behind a shared address are not shut out together.
  if (record.names.size() >= static_cast<std::size_t>(limits_.login_names_per_address)) {
    Strike(record.cooldown, now);
    record.names.clear();
  }
}

// ---- AccountGuard ----

// Addresses counted per account at most; a crowd larger than this asks at the owner's rank.
constexpr std::size_t kMaxCountedAddresses = 4096;

void AccountGuard::CountAsk(Record& record, std::uint32_t address) {
  if (record.asked.size() < kMaxCountedAddresses || record.asked.contains(address))
    ++record.asked[address];
}

int AccountGuard::Asked(const Record& record, std::uint32_t address) {
  const auto it = record.asked.find(address);
  return it == record.asked.end() ? 0 : it->second;
}

void AccountGuard::DropOld(Record& record, Clock::time_point now) const {
  while (!record.failures.empty() &&
         now - record.failures.front().first >= limits_.account_failure_window)
    record.failures.pop_front();
  // What the addresses asked is forgotten with the last failure.
  if (record.failures.empty()) record.asked.clear();
}

AccountGuard::Clock::duration AccountGuard::IntervalOf(Record& record,
                                                       Clock::time_point now) const {
  DropOld(record, now);
  const auto failures = static_cast<int>(record.failures.size());
  if (limits_.account_failures <= 0 || failures < limits_.account_failures) return {};
  std::chrono::milliseconds interval = limits_.account_check_interval;
  for (int i = limits_.account_failures;
       i < failures && interval < limits_.account_check_interval_max; ++i)
    interval *= 2;
  return std::min(interval, limits_.account_check_interval_max);
}

AccountGuard::Clock::duration AccountGuard::Interval(std::string_view name, Clock::time_point now) {
  const auto it = accounts_.find(std::string(name));
  return it == accounts_.end() ? Clock::duration{} : IntervalOf(it->second, now);
}

bool AccountGuard::TakeGlobal(Clock::time_point now) {
  if (limits_.password_checks_per_second <= 0) return true;
  if (now - second_start_ >= 1s) {
    second_start_ = now;
    checks_in_second_ = 0;
  }
  if (checks_in_second_ >= limits_.password_checks_per_second) return false;
  ++checks_in_second_;
  return true;
}

void AccountGuard::StopWaiting(Record& record, std::uint64_t serial) {
  std::erase_if(record.waiters, [serial](const Waiter& w) { return w.serial == serial; });
  waiting_.erase(serial);
}

void AccountGuard::Forget(std::uint64_t serial) {
  const auto it = waiting_.find(serial);
  if (it == waiting_.end()) return;
  if (const auto record = accounts_.find(it->second); record != accounts_.end())
    std::erase_if(record->second.waiters, [serial](const Waiter& w) { return w.serial == serial; });
  waiting_.erase(it);
}

void AccountGuard::Prune(Clock::time_point now) {
  if (now < next_prune_) return;
  next_prune_ = now + limits_.account_failure_window;
  for (auto it = accounts_.begin(); it != accounts_.end();) {
    DropOld(it->second, now);
    if (it->second.failures.empty() && it->second.waiters.empty()) {
      it = accounts_.erase(it);
    } else {
      ++it;
    }
  }
}

AccountGuard::Turn AccountGuard::Ask(std::string_view name, std::uint64_t serial,
                                     std::uint32_t address, Clock::time_point now,
                                     Clock::time_point deadline) {
  Prune(now);
  const auto it = accounts_.find(std::string(name));
  const Clock::duration interval =
      it == accounts_.end() ? Clock::duration{} : IntervalOf(it->second, now);
  if (interval == Clock::duration{}) {
    if (it != accounts_.end()) StopWaiting(it->second, serial);
    if (TakeGlobal(now)) return {Verdict::kCheck, {}};
    // Past the server's checks for this second: the next second, if the login can wait.
    const Clock::duration wait = second_start_ + 1s - now;
    if (now + wait > deadline) return {Verdict::kRefuse, wait};
    return {Verdict::kWait, {}};
  }
  Record& record = it->second;
  const auto before = [&record](const Waiter& a, const Waiter& b) {
    const int asked_a = Asked(record, a.address);
    const int asked_b = Asked(record, b.address);
    return asked_a < asked_b || (asked_a == asked_b && a.since < b.since);
  };
  if (std::none_of(record.waiters.begin(), record.waiters.end(),
                   [serial](const Waiter& w) { return w.serial == serial; })) {
    CountAsk(record, address);
    const Waiter self{serial, address, now};
    // Refused at once when the waiters ahead would take every turn before the deadline.
    const auto ahead = std::count_if(record.waiters.begin(), record.waiters.end(),
                                     [&](const Waiter& w) { return before(w, self); });
    const Clock::time_point turn =
        std::max(record.next_check, now) + interval * static_cast<int>(ahead);
    if (turn > deadline) return {Verdict::kRefuse, turn - now};
    record.waiters.push_back(self);
    waiting_[serial] = std::string(name);
  }
  if (now >= record.next_check) {
    const Waiter* best = &record.waiters.front();
    for (const Waiter& w : record.waiters)
      if (before(w, *best)) best = &w;
    if (best->serial == serial && TakeGlobal(now)) {
      StopWaiting(record, serial);
      record.next_check = now + interval;
      return {Verdict::kCheck, {}};
    }
  }
  const Clock::time_point next = record.next_check > now ? record.next_check : now + interval;
  if (next > deadline) {
    StopWaiting(record, serial);
    return {Verdict::kRefuse, next - now};
  }
  return {Verdict::kWait, {}};
}

void AccountGuard::Failed(std::string_view name, std::uint32_t address, Clock::time_point now) {
  if (limits_.account_failures <= 0) return;
  Prune(now);
  Record& record = accounts_[std::string(name)];
  DropOld(record, now);
  record.failures.emplace_back(now, address);
  CountAsk(record, address);
}

void AccountGuard::Succeeded(std::string_view name) {
  const auto it = accounts_.find(std::string(name));
  if (it == accounts_.end()) return;
  it->second.failures.clear();
  it->second.asked.clear();
  it->second.next_check = {};
}

}  // namespace tarvo::server
