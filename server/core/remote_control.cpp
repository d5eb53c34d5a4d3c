#include "server/core/remote_control.h"

#include "server/core/server_frame.h"
#include "server/core/server_player.h"

namespace tarvo::server {

void RemoteControl::HandleLogin(TServerFrame& server, TServerPlayer& session,
                                const protocol::LoginPayload& /*login*/,
                                TServerAccount* /*account*/, int /*version*/) {
  session.MarkClosing("remote control is not available on this server");
  server.observer().LoginRefused(session, "remote-control login (not available)");
}

void RemoteControl::HandleCommand(TServerFrame& /*server*/, TServerPlayer& /*session*/, int /*id*/,
                                  std::string_view /*payload*/) {}

bool RemoteControl::IsCommand(int id) {
  switch (id) {
    case protocol::msg::kGetAccount:
    case protocol::msg::kSetAccount:
    case protocol::msg::kAddAccount:
    case protocol::msg::kDeleteAccount:
    case protocol::msg::kGetPlayer:
    case protocol::msg::kSetPlayer:
    case protocol::msg::kDisconnectPlayer:
    case protocol::msg::kReloadLevels:
    case protocol::msg::kMessageToAll:
    case protocol::msg::kMessageToPlayer:
      return true;
    default:
      return false;
  }
}

}  // namespace tarvo::server
