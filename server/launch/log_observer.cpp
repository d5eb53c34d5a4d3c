#include "server/launch/log_observer.h"

#include <spdlog/spdlog.h>

#include "net/address.h"
#include "server/core/server_level.h"
#include "server/core/server_player.h"

namespace tarvo::server {

namespace {

std::string Describe(const TServerPlayer& session) {
  std::string out = "player " + std::to_string(session.id());
  if (!session.account_name().empty())
    out += ", account \"" + Printable(session.account_name()) + "\"";
  out += ", address " + net::FormatIpv4(session.address());
  return out;
}

// 1234567 -> "1,234,567"
std::string Grouped(long value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string Period(std::chrono::milliseconds period) {
  if (period == std::chrono::minutes(1)) return "minute";
  if (period.count() % 1000 == 0) return std::to_string(period.count() / 1000) + " s";
  return std::to_string(period.count()) + " ms";
}

}  // namespace

bool LogObserver::Allow(const TServerPlayer& session) {
  // Players and remote-control sessions that logged in are always logged.
  if (session.is_playing() || session.rights() > 0) return true;
  return Allow(session.address());
}

bool LogObserver::Allow(std::uint32_t address) {
  if (limits_.lines_per_second <= 0 && limits_.lines_per_minute <= 0) return true;
  const auto now = Clock::now();
  Summarise(now, false);
  AddressCount& count = counts_[address];
  if (now - count.second_start >= std::chrono::seconds(1)) {
    count.second_start = now;
    count.in_second = 0;
  }
  if (now - minute_start_ >= std::chrono::minutes(1)) {
    minute_start_ = now;
    in_minute_ = 0;
  }
  if ((limits_.lines_per_second <= 0 || count.in_second < limits_.lines_per_second) &&
      (limits_.lines_per_minute <= 0 || in_minute_ < limits_.lines_per_minute)) {
    ++count.in_second;
    ++in_minute_;
    return true;
  }
  ++count.suppressed;
  return false;
}

void LogObserver::Summarise(Clock::time_point now, bool all) {
  if (period_start_ == Clock::time_point{}) period_start_ = now;
  if (!all && now - period_start_ < limits_.summary_every) return;
  period_start_ = now;
  long suppressed = 0;
  std::size_t addresses = 0;
  std::uint32_t one = 0;
  for (auto it = counts_.begin(); it != counts_.end();) {
    AddressCount& count = it->second;
    if (count.suppressed > 0) {
      suppressed += count.suppressed;
      ++addresses;
      one = it->first;
    }
    // An address quiet for a whole period is forgotten, so the table stays small.
    if (count.suppressed == 0 && now - count.second_start >= limits_.summary_every) {
      it = counts_.erase(it);
      continue;
    }
    count.suppressed = 0;
    ++it;
  }
  // One line per period, however many addresses there were.
  if (addresses == 1) {
    spdlog::info("... {} more from {} in the last {}", Grouped(suppressed), net::FormatIpv4(one),
                 Period(limits_.summary_every));
  } else if (addresses > 1) {
    spdlog::info("... {} more lines about {} addresses in the last {}", Grouped(suppressed),
                 Grouped(static_cast<long>(addresses)), Period(limits_.summary_every));
  }
}

LogObserver::~LogObserver() { Summarise(Clock::now(), true); }

void LogObserver::ServerStarted(const ServerStartInfo& info) {
  spdlog::info(
      "server started at port {} on host \"{}\", listening on {}: {} account(s) loaded{}, {} "
      "level file(s) indexed",
      info.port, Printable(info.host_name),
      info.address == "0.0.0.0" ? "every IPv4 address (0.0.0.0)" : info.address,
      info.accounts_loaded, info.accounts_note.empty() ? "" : " (" + info.accounts_note + ")",
      info.level_files);
}

void LogObserver::SessionCountChanged(int count) {
  spdlog::debug("current session count: {}", count);
}

void LogObserver::SessionAccepted(const TServerPlayer& session) {
  if (!spdlog::should_log(spdlog::level::debug) || !Allow(session)) return;
  spdlog::debug("connection accepted: {}", Describe(session));
}

void LogObserver::ConnectionRefused(std::uint32_t address, std::string_view text,
                                    std::string_view why) {
  if (!Allow(address)) return;
  spdlog::warn("connection from {} closed: {} (sent \"{}\")", net::FormatIpv4(address), why,
               Printable(text));
}

void LogObserver::PlayerLoggedIn(const TServerPlayer& session) {
  spdlog::info("login: {}{}", Describe(session),
               session.account() == nullptr ? " (guest account)" : "");
}

void LogObserver::LoginRefused(const TServerPlayer& session, std::string_view reason) {
  if (!Allow(session)) return;
  spdlog::info("login refused: {}: {}", Describe(session), Printable(reason));
}

void LogObserver::SessionClosed(const TServerPlayer& session, std::string_view why) {
  if (!Allow(session)) return;
  spdlog::info("disconnect: {}: {}", Describe(session), Printable(why));
}

void LogObserver::PacketRefused(const TServerPlayer& session, std::size_t batch_size,
                                std::size_t compressed_size) {
  if (!Allow(session)) return;
  spdlog::warn(
      "over-long packet refused: {}: a batch of {} bytes compresses to {} bytes, more than a "
      "packet can carry",
      Describe(session), batch_size, compressed_size);
}

void LogObserver::AccountsSaved(const AccountSaveResult& result) {
  for (const std::string& warning : result.warnings) spdlog::warn("accounts: {}", warning);
  if (result.ok) {
    spdlog::info("accounts saved: {} account(s)", result.accounts);
  } else {
    spdlog::error("accounts could not be saved (the next save tries again): {}", result.error);
  }
}

void LogObserver::LevelLoaded(const TServerLevel& level, bool reload) {
  spdlog::info("level {}: {} ({}, {} bytes)", reload ? "reloaded" : "loaded",
               Printable(level.name()), Printable(level.path()), level.text().size());
}

void LogObserver::LevelNotFound(std::string_view name) {
  spdlog::warn("level not found: \"{}\"", Printable(name));
}

void LogObserver::LevelDropped(std::string_view name) {
  spdlog::info("level dropped from the cache: {}", Printable(name));
}

void LogObserver::Note(std::string_view text) { spdlog::info("{}", text); }

}  // namespace tarvo::server
