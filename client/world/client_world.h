#pragma once

#include <memory>
#include <vector>

#include "client/world/avatar_view.h"
#include "client/world/player.h"
#include "client/world/player_session.h"

namespace tarvo::client {

/// Everything one client holds of the world: its local player, the remote players the server
/// announced, the current session and the seams to the 3D view and the chat display. The game
/// client has one; a bot process has one per bot.
class ClientWorld {
 public:
  ClientWorld();
  ~ClientWorld();
  ClientWorld(const ClientWorld&) = delete;
  ClientWorld& operator=(const ClientWorld&) = delete;

  /// The one local player.
  TPlayer& LocalPlayer() { return *local_player_; }
  const TPlayer& LocalPlayer() const { return *local_player_; }
  /// The remote players in announcement order; the list owns them.
  const std::vector<std::unique_ptr<TPlayer>>& OtherPlayers() const { return other_players_; }

  /// The first remote player with this id, or null.
  TPlayer* FindOtherPlayer(int id) const;
  /// Creates a remote player with this id at the end of the list.
  TPlayer& AddOtherPlayer(int id);
  /// Removes a remote player from the list and destroys it (its avatar goes with it).
  void DestroyOtherPlayer(TPlayer* player);
  /// Destroys every remote player.
  void ClearOtherPlayers();

  /// The active session, or null; players do nothing network-related without one.
  PlayerSession* CurrentSession() const { return current_session_; }
  void SetCurrentSession(PlayerSession* session) { current_session_ = session; }

  /// The 3D view; null while headless.
  AvatarView* View() const { return view_; }
  void SetView(AvatarView* view) { view_ = view; }
  /// Where chat lines go; null drops them.
  ChatDisplay* Chat() const { return chat_; }
  void SetChat(ChatDisplay* chat) { chat_ = chat; }

 private:
  std::unique_ptr<TPlayer> local_player_;
  std::vector<std::unique_ptr<TPlayer>> other_players_;
  PlayerSession* current_session_ = nullptr;
  AvatarView* view_ = nullptr;
  ChatDisplay* chat_ = nullptr;
};

}  // namespace tarvo::client
