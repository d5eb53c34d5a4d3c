#pragma once

#include <string_view>

namespace tarvo::client {

class TPlayer;

/// What the game needs of the network session: the steps of the game loop's tick, the bound
/// UDP port, the ways to send the local player's changes and chat, and the list of level peers.
/// The client session implements it; the world owns the seam so that it needs no session code.
class PlayerSession {
 public:
  virtual ~PlayerSession() = default;

  /// Reads and handles what the server sent; the session may end (and stop being current).
  virtual void ReceiveTcp() = 0;
  /// Handles the datagrams of the level peers.
  virtual void ReceiveUdp() = 0;
  /// Once a tick after the report: keeps the UDP channel alive or gives it up.
  virtual void MaintainUdpChannel() = 0;
  /// Hands what is queued to the server's connection.
  virtual void SendPending() = 0;

  /// Local port of the UDP channel; 0 when there is none.
  virtual int UdpPort() const = 0;
  /// Queues a property text to the server (message 1).
  virtual void SendProperties(std::string_view text) = 0;
  /// Sends the 9-byte movement body to every UDP peer.
  virtual void SendMovement(std::string_view body) = 0;
  /// Sends a chat line to every UDP peer.
  virtual void SendChat(std::string_view text) = 0;
  /// Reopens or closes the UDP channel when the settings no longer match it.
  virtual void ApplyUdpSettings() = 0;
  /// Appends a remote player to the level peers (no duplicate check).
  virtual void AddPeer(TPlayer& player) = 0;
  /// Removes the first occurrence of a remote player from the level peers.
  virtual void RemovePeer(TPlayer& player) = 0;
};

}  // namespace tarvo::client
