#pragma once

#include <string>
#include <string_view>

#include "server/core/log_text.h"
#include "server/core/server_observer.h"

namespace tarvo::server {

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
