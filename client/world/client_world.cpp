#include "client/world/client_world.h"

#include <algorithm>

namespace tarvo::client {

ClientWorld::ClientWorld() : local_player_(std::make_unique<TPlayer>(*this)) {}

ClientWorld::~ClientWorld() {
  ClearOtherPlayers();
  local_player_.reset();
}

TPlayer* ClientWorld::FindOtherPlayer(int id) const {
  for (const auto& player : other_players_) {
    if (player->Id == id) return player.get();
  }
  return nullptr;
}

TPlayer& ClientWorld::AddOtherPlayer(int id) {
  auto player = std::make_unique<TPlayer>(*this);
  player->Id = id;
  other_players_.push_back(std::move(player));
  return *other_players_.back();
}

void ClientWorld::DestroyOtherPlayer(TPlayer* player) {
  auto it = std::find_if(other_players_.begin(), other_players_.end(),
                         [player](const auto& p) { return p.get() == player; });
  if (it == other_players_.end()) return;
  // Take it out of the list before it is destroyed, so nothing can reach it half-destroyed.
  std::unique_ptr<TPlayer> doomed = std::move(*it);
  other_players_.erase(it);
}

void ClientWorld::ClearOtherPlayers() {
  std::vector<std::unique_ptr<TPlayer>> doomed;
  doomed.swap(other_players_);
}

}  // namespace tarvo::client
