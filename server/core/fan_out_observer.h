#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "server/core/server_observer.h"

namespace tarvo::server {

/// Hands every notice of the core to several observers in the order they were added: the core
/// takes one observer, while the log and each operator window want the notices too. An observer
/// added or removed during a notice takes effect from the next notice on.
class FanOutObserver final : public ServerObserver {
 public:
  /// Adds an observer (nullptr and duplicates are ignored).
  void Add(ServerObserver* observer);
  /// Removes an observer; it is told nothing more, not even the rest of a running notice.
  void Remove(ServerObserver* observer);
  /// Removes every observer (before the windows they belong to are freed).
  void Clear();
  std::size_t size() const { return observers_.size(); }

  void ServerStarted(const ServerStartInfo& info) override;
  void SessionCountChanged(int count) override;
  void AccountViewChanged(const TServerAccount& account) override;
  void AccountRemoved(const TServerAccount& account) override;
  void PlayerListChanged() override;
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
  // Calls `notice` on each observer that is still registered when its turn comes.
  template <typename Notice>
  void Each(const Notice& notice);

  std::vector<ServerObserver*> observers_;
};

}  // namespace tarvo::server
