#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "server/core/log_text.h"
#include "server/core/server_observer.h"

namespace tarvo::server {

/// How often the log may speak of traffic that did not log in.
struct LogLimits {
  int lines_per_second = 5;  ///< per address; 0: no limit
  /// From all addresses together, per minute; 0: no limit. Keeps the log's growth independent
  /// of the number of addresses a crowd uses.
  int lines_per_minute = 300;
  std::chrono::milliseconds summary_every{std::chrono::minutes(1)};
};

/// The headless server's observer: one log line on stderr per event. Events of connections
/// that have not logged in are limited per address and in all; what is left out is summarised
/// once per period. Logins, logouts and whatever concerns logged-in sessions are never left out.
class LogObserver final : public QuietObserver {
 public:
  explicit LogObserver(LogLimits limits = {}) : limits_(limits) {}
  /// Writes what is still to be summarised.
  ~LogObserver() override;
  LogObserver(const LogObserver&) = delete;
  LogObserver& operator=(const LogObserver&) = delete;

  void ServerStarted(const ServerStartInfo& info) override;
  void SessionCountChanged(int count) override;
  void SessionAccepted(const TServerPlayer& session) override;
  void ConnectionRefused(std::uint32_t address, std::string_view text,
                         std::string_view why) override;
  void PlayerLoggedIn(const TServerPlayer& session) override;
  void LoginRefused(const TServerPlayer& session, std::string_view reason) override;
  void SessionClosed(const TServerPlayer& session, std::string_view why) override;
  void PacketRefused(const TServerPlayer& session, std::size_t batch_size,
                     std::size_t compressed_size) override;
  void AccountsSaved(const AccountSaveResult& result) override;
  void LevelLoaded(const TServerLevel& level, bool reload) override;
  void LevelNotFound(std::string_view name) override;
  void LevelDropped(std::string_view name) override;
  void Note(std::string_view text) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct AddressCount {
    Clock::time_point second_start{};
    int in_second = 0;
    long suppressed = 0;
  };
  // Whether a line about unauthenticated traffic from `address` may be written now.
  bool Allow(std::uint32_t address);
  bool Allow(const TServerPlayer& session);
  // Writes the summaries that are due and forgets quiet addresses.
  void Summarise(Clock::time_point now, bool all);

  LogLimits limits_;
  std::unordered_map<std::uint32_t, AddressCount> counts_;
  Clock::time_point period_start_{};
  Clock::time_point minute_start_{};
  int in_minute_ = 0;
};

}  // namespace tarvo::server
