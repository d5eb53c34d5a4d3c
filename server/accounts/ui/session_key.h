#pragma once

#include <cstdint>

#include "server/core/server_frame.h"

namespace tarvo::server {

/// The connected player session with this serial, or nullptr once it has ended. Windows keep
/// serials instead of session pointers: a serial is never given twice, so a later session that
/// took the same player id is never mistaken for the one that left.
inline TServerPlayer* FindPlayerSession(const TServerFrame& server, std::uint64_t serial) {
  if (serial == 0) return nullptr;
  for (const auto& session : server.player_sessions()) {
    if (session->serial() == serial) return session.get();
  }
  return nullptr;
}

/// Whether `session` is still one of the server's player sessions.
inline bool IsPlayerSession(const TServerFrame& server, const TServerPlayer* session) {
  if (session == nullptr) return false;
  for (const auto& s : server.player_sessions()) {
    if (s.get() == session) return true;
  }
  return false;
}

}  // namespace tarvo::server
