#include "server/core/login_throttle.h"

#include <algorithm>

namespace tarvo::server {

std::chrono::milliseconds LoginThrottle::Cooldown(int strikes) const {
  std::chrono::milliseconds cooldown = limits_.login_cooldown;
  for (int i = 1; i < strikes && cooldown < limits_.login_cooldown_max; ++i) cooldown *= 2;
  return std::min(cooldown, limits_.login_cooldown_max);
}

// A record is forgotten once its cool-down and a whole window after its last failure are over.
bool LoginThrottle::Expired(const Record& record, Clock::time_point now) const {
  return now >= record.blocked_until &&
         now - record.last_failure >= limits_.login_failure_window + Cooldown(record.strikes);
}

void LoginThrottle::Prune(Clock::time_point now) {
  if (now < next_prune_) return;
  next_prune_ = now + limits_.login_failure_window;
  std::erase_if(records_, [&](const auto& entry) { return Expired(entry.second, now); });
}

bool LoginThrottle::Blocked(std::uint32_t address, Clock::time_point now) {
  const auto it = records_.find(address);
  return it != records_.end() && now < it->second.blocked_until;
}

void LoginThrottle::Failed(std::uint32_t address, Clock::time_point now) {
  if (limits_.login_failures <= 0) return;
  Prune(now);
  Record& record = records_[address];
  if (Expired(record, now)) record = Record{};
  record.last_failure = now;
  record.failures.push_back(now);
  while (!record.failures.empty() && now - record.failures.front() >= limits_.login_failure_window)
    record.failures.pop_front();
  // Once cooled down, every further failure starts a longer cool-down.
  if (record.strikes == 0 &&
      record.failures.size() < static_cast<std::size_t>(limits_.login_failures))
    return;
  ++record.strikes;
  record.failures.clear();
  record.blocked_until = now + Cooldown(record.strikes);
}

}  // namespace tarvo::server
