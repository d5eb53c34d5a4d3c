#pragma once

#include <string_view>

#include "protocol/messages.h"

namespace tarvo::server {

class TServerFrame;
class TServerPlayer;
struct TServerAccount;

/// The remote-control side of the server: the login of kind 1 and the commands 51 to 64. The
/// server hands both over here and nowhere else; the notices to remote-control sessions leave
/// through `TServerFrame::NotifyRemoteSessions`. Every command that changes something is told
/// to the observer as a `Note`: who (account, address), what, on whom.
class RemoteControl {
 public:
  virtual ~RemoteControl() = default;

  /// A first message of kind 1. `account` is the account named by the login, or nullptr;
  /// `version` is 0 (unknown), 1 or 2. With a known version and an account of rights 1 or more
  /// that is not blocked, the session moves to the remote-control sessions and receives the
  /// account list (50) and the player list (55); otherwise it is closed without a message.
  virtual void HandleLogin(TServerFrame& server, TServerPlayer& session,
                           const protocol::LoginPayload& login, TServerAccount* account,
                           int version);

  /// A command with id 51..64 from a logged-in session, with that session's rights. Commands
  /// below their minimum payload or rights, without a target or failing the access rule are
  /// ignored without an answer.
  virtual void HandleCommand(TServerFrame& server, TServerPlayer& session, int id,
                             std::string_view payload);

  /// Whether `id` is a remote-control command id.
  static bool IsCommand(int id);

  /// The access rule: a session of rights `sender` may act on a target of rights `target`.
  static bool MayActOn(int sender, int target) { return sender >= target || sender == 3; }
};

}  // namespace tarvo::server
