#pragma once

#include <string_view>

#include "protocol/messages.h"

namespace tarvo::server {

class TServerFrame;
class TServerPlayer;
struct TServerAccount;

/// The remote-control side of the server: the login of kind 1 and the commands 51 to 64. The
/// server hands both over here and nowhere else; the notices to remote-control sessions leave
/// through `TServerFrame::NotifyRemoteSessions`.
class RemoteControl {
 public:
  virtual ~RemoteControl() = default;

  /// A first message of kind 1. `account` is the account named by the login, or nullptr;
  /// `version` is 0 (unknown), 1 or 2. This server offers no remote control yet: the login is
  /// refused the way a refused remote-control login always is, by closing without a message.
  virtual void HandleLogin(TServerFrame& server, TServerPlayer& session,
                           const protocol::LoginPayload& login, TServerAccount* account,
                           int version);

  /// A command with id 51..64 from a logged-in session. Ignored here.
  virtual void HandleCommand(TServerFrame& server, TServerPlayer& session, int id,
                             std::string_view payload);

  /// Whether `id` is a remote-control command id.
  static bool IsCommand(int id);
};

}  // namespace tarvo::server
