#pragma once

#include <string>
#include <string_view>

#include "server/core/server_observer.h"

namespace tarvo::server {

/// A log-safe copy of a text from the network or a file: control bytes and bytes above 126 are
/// written as \xNN, so one event stays one line.
std::string Printable(std::string_view text);

/// The headless server's observer: one log line on stderr per event.
class LogObserver final : public ServerObserver {
 public:
  void ServerStarted(const ServerStartInfo& info) override;
  void SessionCountChanged(int count) override;
  void SessionAccepted(const TServerPlayer& session) override;
  void SessionRefusedFull(std::uint32_t address) override;
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
};

}  // namespace tarvo::server
