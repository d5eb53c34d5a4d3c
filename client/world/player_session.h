#pragma once

#include <string_view>

namespace tarvo::client {

class TPlayer;

/// What a player needs of the network session: the bound UDP port, the two ways to send the
/// local player's changes, and the list of level peers. The client session implements it.
class PlayerSession {
 public:
  virtual ~PlayerSession() = default;
  /// Local port of the UDP channel; 0 when there is none.
  virtual int UdpPort() const = 0;
  /// Queues a property text to the server (message 1).
  virtual void SendProperties(std::string_view text) = 0;
  /// Sends the 9-byte movement body to every UDP peer.
  virtual void SendMovement(std::string_view body) = 0;
  /// Appends a remote player to the level peers (no duplicate check).
  virtual void AddPeer(TPlayer& player) = 0;
  /// Removes the first occurrence of a remote player from the level peers.
  virtual void RemovePeer(TPlayer& player) = 0;
};

}  // namespace tarvo::client
