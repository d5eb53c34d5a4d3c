#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/config/client_settings.h"
#include "client/session/session_host.h"
#include "client/world/client_world.h"
#include "client/world/player_session.h"
#include "net/tcp_stream.h"
#include "net/udp_socket.h"
#include "protocol/framing.h"
#include "protocol/message_backlog.h"

namespace tarvo::client {

/// Choices of the program that runs a session.
struct SessionOptions {
  /// Level files from the server are written here, under their base name only.
  std::filesystem::path level_directory = ".";
  /// The connect gives up after this long instead of hanging.
  std::chrono::milliseconds connect_timeout{10000};
  /// The time the UDP channel's keep-alive and silence checks go by; tests set their own.
  std::function<std::chrono::steady_clock::time_point()> clock = std::chrono::steady_clock::now;
  /// Messages from the server handled per tick at most; the rest wait, in order, so that a
  /// flood never stops the window from drawing or quitting. 0 or less: no limit.
  int messages_per_tick = 256;
  /// Time per tick after which the waiting messages are left for the next tick.
  std::chrono::milliseconds tick_time_budget{20};
};

/// Counters a session keeps for tools and tests.
struct SessionStats {
  std::uint64_t messages_sent = 0;      ///< lines queued
  std::uint64_t messages_received = 0;  ///< lines and long messages handled
  std::uint64_t tcp_movements = 0;      ///< message 2 lines that moved a remote player
  std::uint64_t udp_movements = 0;      ///< movement datagrams applied
  std::uint64_t udp_chats = 0;          ///< chat datagrams applied
  std::uint64_t datagrams_sent = 0;
  std::uint64_t datagrams_received = 0;  ///< accepted: from a known player's address and port
  std::uint64_t datagrams_dropped = 0;   ///< from an unknown address or port, or empty
  std::uint64_t udp_fallbacks = 0;       ///< UDP channels closed because nothing arrived
};

/// The client's one connection to a game server: login, the TCP framing as the client takes
/// it apart, the handling of every server message and the UDP channel to the players of the
/// same level. It does nothing by itself: the game loop calls ReceiveTcp, ReceiveUdp and
/// SendPending once per tick. Construction connects at once and becomes the world's current
/// session; failures are shown through the host.
class TAdventureClient final : public PlayerSession, private protocol::MessageSink {
 public:
  /// Connects with `settings` (kept by reference: the options dialog may change the UDP
  /// settings while the session runs) and queues the login.
  TAdventureClient(ClientSettings& settings, ClientWorld& world, SessionHost& host,
                   SessionOptions options = {});
  ~TAdventureClient() override;
  TAdventureClient(const TAdventureClient&) = delete;
  TAdventureClient& operator=(const TAdventureClient&) = delete;

  /// Connects to `address` (first octet in the low byte) on the settings' port, queues the
  /// login and opens the UDP channel.
  void ConnectTo(std::uint32_t address);
  /// Queues one message line; a payload holding a line feed is dropped.
  void QueueMessage(int id, std::string_view payload);
  /// Queues a property text as message 1.
  void SendProperties(std::string_view text) override;
  /// Compresses the batch into a packet; an overflowing output queue ends the session.
  void FlushBatch();
  /// Hands the output queue to the socket, as much as it takes now.
  void SendPending() override;
  /// Reads what the socket holds (while few enough messages wait) and handles the waiting
  /// messages in order, up to the tick's budget. A closed connection ends the session once
  /// every message received before the close was handled.
  void ReceiveTcp() override;
  /// Ends the session: frees the remote players, closes the sockets, tells the user why.
  void Disconnect();

  /// Handles one message line from the server (without its line feed). Message 100 has already
  /// acted as it was taken out of the stream: it decides how the bytes after it are split.
  void HandleMessage(std::string_view line);
  /// Consumes a long message (the file of message 101), which this client does not use.
  void SkipLongMessage(std::string_view message);

  /// (Re)opens the UDP channel as the settings say; a failure leaves the client on TCP alone.
  void OpenUdpChannel();
  /// The options dialog's rule on closing: reopens or closes the UDP channel when the settings
  /// no longer match it.
  void ApplyUdpSettings() override;
  /// Handles every datagram waiting on the UDP channel.
  void ReceiveUdp() override;
  /// Applies a datagram accepted from `player`.
  void HandleDatagram(TPlayer& player, std::string_view text);
  /// Sends one datagram to every level peer.
  void SendToPeers(int id, std::string_view body);
  /// Sends one datagram to a player's UDP port, if it has one.
  void SendDatagram(const TPlayer& player, std::string_view text);
  /// Sends the 9-byte movement body to the peers while the channel is open.
  void SendMovement(std::string_view body) override;
  /// Once a tick, after the report: sends the current movement again when the peers have had
  /// none for a second, so a lost datagram is repaired and NAT mappings stay open; and closes
  /// a channel that has had peers for 5 s and heard none of them for 5 s (a NAT or firewall
  /// in the way), so that the server relays everything over TCP from then on.
  void MaintainUdpChannel() override;
  /// Sends a chat line to the peers; over 200 bytes it is cut and "..." appended.
  void SendChat(std::string_view text) override;
  void AddPeer(TPlayer& player) override;
  void RemovePeer(TPlayer& player) override;
  int UdpPort() const override { return udp_port_; }

  /// The part of a level name from the server that may name a file: what follows its last
  /// "/" or "\"; empty when that is empty, "." or "..".
  static std::string LevelBaseName(std::string_view name);
  /// Where the level named by the local player's level file lives; empty when the name is
  /// unusable.
  std::filesystem::path LevelPath() const;

  bool Connected() const { return connected_; }
  const std::string& DisconnectText() const { return disconnect_text_; }
  /// The players this client sends datagrams to; the list does not own them.
  const std::vector<TPlayer*>& UdpPeers() const { return udp_peers_; }
  bool LongMessageMode() const { return splitter_.long_message_mode(); }
  int LongMessageLength() const { return splitter_.long_message_length(); }
  const std::string& OutgoingBatch() const { return connection_.outgoing_batch(); }
  std::size_t OutputQueueSize() const { return connection_.output_queue_size(); }
  std::size_t InputQueueSize() const { return connection_.input_queue_size(); }
  std::uint64_t BytesSent() const { return connection_.bytes_sent(); }
  std::uint64_t BytesReceived() const { return connection_.bytes_received(); }
  /// Messages received and not yet handled.
  std::size_t WaitingMessages() const { return backlog_.size(); }
  const SessionStats& Stats() const { return stats_; }
  ClientWorld& World() const { return world_; }

 private:
  // protocol::MessageSink: what the splitter takes out waits in the backlog.
  void OnMessage(std::string_view raw) override;
  void OnLongMessage(std::string_view raw) override { backlog_.OnLongMessage(raw); }
  void HandleLevelData(std::string_view payload);
  void HandleOtherPlayer(std::string_view payload);
  void FallBackToTcp();

  ClientSettings& settings_;
  ClientWorld& world_;
  SessionHost& host_;
  SessionOptions options_;
  int server_port_ = 0;

  net::TcpStream tcp_;
  net::UdpSocket udp_;
  int udp_port_ = 0;
  std::vector<TPlayer*> udp_peers_;
  std::chrono::steady_clock::time_point last_movement_sent_{};
  /// Since when the peers have been silent; unset while there is no peer with a port.
  std::optional<std::chrono::steady_clock::time_point> udp_quiet_since_;
  bool connected_ = false;
  std::string disconnect_text_;
  protocol::ClientSplitter splitter_;
  protocol::MessageBacklog backlog_;
  protocol::BackloggedStream gate_{&tcp_, backlog_};
  protocol::PacketConnection connection_;
  bool peer_closed_ = false;             // the close waits until the backlog is handled
  bool decompress_error_waits_ = false;  // shown after the messages received before it
  bool handling_ = false;
  SessionStats stats_;
};

}  // namespace tarvo::client
