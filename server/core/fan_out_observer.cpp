#include "server/core/fan_out_observer.h"

#include <algorithm>

namespace tarvo::server {

void FanOutObserver::Add(ServerObserver* observer) {
  if (observer == nullptr || observer == this) return;
  if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) return;
  observers_.push_back(observer);
}

void FanOutObserver::Remove(ServerObserver* observer) { std::erase(observers_, observer); }

void FanOutObserver::Clear() { observers_.clear(); }

template <typename Notice>
void FanOutObserver::Each(const Notice& notice) {
  // A window may close (and unregister) while it handles a notice: walk a snapshot and skip
  // whoever has left since.
  const std::vector<ServerObserver*> snapshot = observers_;
  for (ServerObserver* observer : snapshot) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) continue;
    notice(*observer);
  }
}

void FanOutObserver::ServerStarted(const ServerStartInfo& info) {
  Each([&](ServerObserver& o) { o.ServerStarted(info); });
}
void FanOutObserver::SessionCountChanged(int count) {
  Each([&](ServerObserver& o) { o.SessionCountChanged(count); });
}
void FanOutObserver::AccountViewChanged(const TServerAccount& account) {
  Each([&](ServerObserver& o) { o.AccountViewChanged(account); });
}
void FanOutObserver::AccountRemoved(const TServerAccount& account) {
  Each([&](ServerObserver& o) { o.AccountRemoved(account); });
}
void FanOutObserver::PlayerListChanged() {
  Each([](ServerObserver& o) { o.PlayerListChanged(); });
}
void FanOutObserver::SessionAccepted(const TServerPlayer& session) {
  Each([&](ServerObserver& o) { o.SessionAccepted(session); });
}
void FanOutObserver::ConnectionRefused(std::uint32_t address, std::string_view text,
                                       std::string_view why) {
  Each([&](ServerObserver& o) { o.ConnectionRefused(address, text, why); });
}
void FanOutObserver::PlayerLoggedIn(const TServerPlayer& session) {
  Each([&](ServerObserver& o) { o.PlayerLoggedIn(session); });
}
void FanOutObserver::LoginRefused(const TServerPlayer& session, std::string_view reason) {
  Each([&](ServerObserver& o) { o.LoginRefused(session, reason); });
}
void FanOutObserver::SessionClosed(const TServerPlayer& session, std::string_view why) {
  Each([&](ServerObserver& o) { o.SessionClosed(session, why); });
}
void FanOutObserver::PacketRefused(const TServerPlayer& session, std::size_t batch_size,
                                   std::size_t compressed_size) {
  Each([&](ServerObserver& o) { o.PacketRefused(session, batch_size, compressed_size); });
}
void FanOutObserver::AccountsSaved(const AccountSaveResult& result) {
  Each([&](ServerObserver& o) { o.AccountsSaved(result); });
}
void FanOutObserver::LevelLoaded(const TServerLevel& level, bool reload) {
  Each([&](ServerObserver& o) { o.LevelLoaded(level, reload); });
}
void FanOutObserver::LevelNotFound(std::string_view name) {
  Each([&](ServerObserver& o) { o.LevelNotFound(name); });
}
void FanOutObserver::LevelDropped(std::string_view name) {
  Each([&](ServerObserver& o) { o.LevelDropped(name); });
}
void FanOutObserver::Note(std::string_view text) {
  Each([&](ServerObserver& o) { o.Note(text); });
}

}  // namespace tarvo::server
