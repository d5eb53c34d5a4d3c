#include "client/session/adventure_client.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <fstream>
#include <system_error>

#include "base/files.h"
#include "client/config/integer_parser.h"
#include "client/session/host_cache.h"
#include "net/address.h"
#include "protocol/encoding.h"
#include "protocol/messages.h"
#include "protocol/properties.h"

namespace tarvo::client {
namespace {

namespace msg = protocol::msg;

// A flood of datagrams must not hold the tick forever; what is left waits for the next one.
constexpr int kMaxDatagramsPerTick = 1024;
// The keep-alive goes a tick before the second is over, so the gap at a peer never exceeds it.
constexpr std::chrono::milliseconds kKeepAliveEvery{950};
// Peers that send nothing for this long while they should (each sends at least once a second)
// mean that datagrams do not reach this client.
constexpr std::chrono::seconds kUdpSilenceLimit{5};

}  // namespace

TAdventureClient::TAdventureClient(ClientSettings& settings, ClientWorld& world, SessionHost& host,
                                   SessionOptions options)
    : settings_(settings),
      world_(world),
      host_(host),
      options_(std::move(options)),
      backlog_(options_.messages_per_tick),
      connection_(&gate_, splitter_, /*refuse_line_feeds=*/true) {
  if (settings_.ServerAddress.empty() || settings_.ServerPort.empty()) {
    host_.ShowMessage(kConnectFailedText, "");
    return;
  }
  const std::optional<std::int32_t> port = ParseInteger(settings_.ServerPort);
  if (!port.has_value()) {
    // Not a connect that failed but a setting that is wrong: say which, and stay unconnected
    // without becoming the current session.
    host_.ShowMessage("\"" + settings_.ServerPort + "\" is not a valid server port.", "");
    return;
  }
  server_port_ = *port;
  world_.SetCurrentSession(this);
  world_.LocalPlayer().SentProps.reset();  // the next report sends the complete first set

  HostCache& cache = ProcessHostCache();
  const std::string& address_text = settings_.ServerAddress;
  if (const std::int64_t cached = cache.FindCachedHost(address_text); cached != -1) {
    ConnectTo(static_cast<std::uint32_t>(cached));
    return;
  }
  std::uint32_t address = 0;
  if (const std::optional<std::uint32_t> dotted = net::ParseIpv4(address_text)) {
    address = *dotted;
  } else if (net::Result<std::uint32_t> resolved = net::ResolveHost(address_text)) {
    address = *resolved;
  } else {
    host_.ShowMessage(kConnectFailedText, "");
    return;
  }
  ConnectTo(address);
  // Cached whatever the connect did: the name resolved, and it will resolve the same way.
  cache.AddCachedHost(address_text, address);
}

TAdventureClient::~TAdventureClient() {
  if (world_.CurrentSession() == this) world_.SetCurrentSession(nullptr);
}

void TAdventureClient::ConnectTo(std::uint32_t address) {
  if (server_port_ < 1 || server_port_ > 65535) {
    host_.ShowMessage(kConnectFailedText, "");
    return;
  }
  net::Result<net::TcpStream> stream =
      net::ConnectTcp(address, static_cast<std::uint16_t>(server_port_), options_.connect_timeout);
  if (!stream) {
    host_.ShowMessage(kConnectFailedText, "");
    return;
  }
  tcp_ = std::move(*stream);
  (void)tcp_.SetNoDelay(true);  // already asked by ConnectTcp; a refusal only delays packets
  connected_ = true;
  // Leaves with the first SendPending, in one packet with the first property report.
  QueueMessage(msg::kPlayerLogin,
               protocol::BuildLogin(ClientSettings::ProtocolVersion, settings_.AccountName,
                                    settings_.AccountPassword));
  OpenUdpChannel();
}

void TAdventureClient::QueueMessage(int id, std::string_view payload) {
  const protocol::QueueStatus status = connection_.QueueMessage(id, payload);
  if (status == protocol::QueueStatus::kQueued) ++stats_.messages_sent;
  if (status == protocol::QueueStatus::kOverflow) Disconnect();
}

void TAdventureClient::SendProperties(std::string_view text) {
  QueueMessage(msg::kProperties, text);
}

void TAdventureClient::FlushBatch() {
  if (connection_.FlushBatch() == protocol::QueueStatus::kOverflow) Disconnect();
}

void TAdventureClient::SendPending() {
  if (!connected_) return;
  // Send failures never end the session here: ReceiveTcp notices a broken connection.
  if (connection_.SendPending() == protocol::SendStatus::kOverflow) Disconnect();
}

void TAdventureClient::ReceiveTcp() {
  // A handler's message box runs ticks of its own: they leave the backlog to the outer one.
  if (handling_) return;
  const auto deadline = protocol::MessageBacklog::Clock::now() + options_.tick_time_budget;
  // Nothing is read past a close or a bad packet until what came before it is handled.
  if (!peer_closed_ && !decompress_error_waits_) {
    switch (connection_.ReceivePending(*this)) {
      case protocol::ReceiveStatus::kClosed:
      case protocol::ReceiveStatus::kError:
        peer_closed_ = true;
        break;
      case protocol::ReceiveStatus::kDecompressError:
        decompress_error_waits_ = true;
        break;
      case protocol::ReceiveStatus::kDrained:
      case protocol::ReceiveStatus::kBusy:
        break;
    }
  }
  handling_ = true;
  backlog_.Handle(
      [this](std::string_view raw, bool long_message) {
        // One message that fails must not stop the ones after it.
        try {
          if (long_message) {
            SkipLongMessage(raw);
          } else {
            HandleMessage(raw);
          }
        } catch (const std::exception& e) {
          spdlog::warn("a message from the server could not be handled: {}", e.what());
        } catch (...) {
          spdlog::warn("a message from the server could not be handled");
        }
      },
      deadline);
  handling_ = false;
  if (!backlog_.empty()) return;
  if (decompress_error_waits_) {
    decompress_error_waits_ = false;
    host_.ShowMessage(kDecompressErrorText, "");
  }
  if (peer_closed_) {
    peer_closed_ = false;
    Disconnect();
  }
}

void TAdventureClient::OnMessage(std::string_view raw) {
  // Message 100 changes how the bytes after it are split, so it acts now rather than in turn.
  // Fewer than three bytes announce nothing. A length no packet can hold would never be met
  // and would swallow every later packet, so it is ignored as well.
  if (!raw.empty() && static_cast<unsigned char>(raw[0]) - 32 == msg::kLongMessageFollows) {
    const std::optional<int> length = protocol::ParseLongMessageFollows(raw.substr(1));
    if (length.has_value() && *length <= static_cast<int>(protocol::kMaxBatchSize)) {
      splitter_.EnterLongMessageMode(*length);
    }
  }
  backlog_.OnMessage(raw);
}

void TAdventureClient::Disconnect() {
  // The peers are about to be freed with the players.
  udp_peers_.clear();
  world_.ClearOtherPlayers();
  if (!connected_) return;
  connected_ = false;
  tcp_.Close();
  udp_.Close();
  udp_port_ = 0;
  connection_.Clear();
  backlog_.Clear();
  peer_closed_ = false;
  decompress_error_waits_ = false;
  if (world_.CurrentSession() == this) world_.SetCurrentSession(nullptr);
  host_.ShowMessage(disconnect_text_.empty() ? std::string(kDisconnectedText) : disconnect_text_,
                    "");
}

void TAdventureClient::HandleMessage(std::string_view line) {
  // Only a message 5 that is the last line before the close survives to the disconnect.
  disconnect_text_.clear();
  ++stats_.messages_received;
  if (line.empty()) return;
  const int id = static_cast<unsigned char>(line[0]) - 32;
  const std::string_view payload = line.substr(1);
  switch (id) {
    case msg::kLevelData:
      HandleLevelData(payload);
      break;
    case msg::kLevelName:
      world_.LocalPlayer().LevelFile = std::string(payload);
      break;
    case msg::kOtherPlayer:
      HandleOtherPlayer(payload);
      break;
    case msg::kOwnProperties:
      world_.LocalPlayer().ApplyProperties(payload, false);
      break;
    case msg::kDisconnectReason:
      disconnect_text_ = std::string(payload);
      break;
    case msg::kAdminMessage:
      if (!payload.empty()) {
        host_.ShowMessage(protocol::ExpandParagraphMarks(payload), kAdminMessageCaption);
      }
      break;
    default:
      break;
  }
}

void TAdventureClient::SkipLongMessage(std::string_view) {
  disconnect_text_.clear();
  ++stats_.messages_received;
}

std::string TAdventureClient::LevelBaseName(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return {};
  return std::string(name);
}

std::filesystem::path TAdventureClient::LevelPath() const {
  const std::string base = LevelBaseName(world_.LocalPlayer().LevelFile);
  if (base.empty()) return {};
  return options_.level_directory / base;
}

void TAdventureClient::HandleLevelData(std::string_view payload) {
  // The name comes from the server: only its base name is used, inside the level directory.
  const std::filesystem::path file = LevelPath();
  if (file.empty()) return;
  // An empty payload means the file on disk is still current.
  if (!payload.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    if (const auto written =
            base::WriteFileAtomically(file, protocol::ExpandParagraphMarks(payload));
        !written) {
      spdlog::warn("level not entered: {}", written.error());
      return;  // not written, so not entered
    }
  }
  host_.LoadLevel(file);
}

void TAdventureClient::HandleOtherPlayer(std::string_view payload) {
  if (payload.empty()) return;
  const int id = static_cast<unsigned char>(payload[0]) - 32;
  if (id < 0) return;
  TPlayer* player = world_.FindOtherPlayer(id);
  if (player == nullptr) {
    player = &world_.AddOtherPlayer(id);
    player->BuildAvatar();
  }
  // The entries may destroy the player ("S"): it is not touched afterwards.
  if (player->ApplyProperties(payload.substr(1), false).position_changed) ++stats_.tcp_movements;
}

void TAdventureClient::OpenUdpChannel() {
  udp_.Close();
  udp_port_ = 0;
  udp_quiet_since_.reset();
  if (settings_.NoUdp) return;
  const int port = settings_.FixedPort && settings_.FixedUdpPort > 0 ? settings_.FixedUdpPort : 0;
  if (port > 65535) return;  // no such port: run on TCP alone
  net::Result<net::UdpSocket> socket = net::UdpSocket::Open(static_cast<std::uint16_t>(port));
  if (!socket) return;
  udp_ = std::move(*socket);
  udp_port_ = udp_.LocalPort();
  if (udp_port_ == 0) udp_.Close();
}

void TAdventureClient::ApplyUdpSettings() {
  const bool fixed_differs = settings_.FixedPort && settings_.FixedUdpPort != udp_port_;
  if (fixed_differs || settings_.NoUdp || udp_port_ == 0) OpenUdpChannel();
}

void TAdventureClient::ReceiveUdp() {
  if (udp_port_ == 0) return;
  std::uint8_t chunk[protocol::kReceiveChunk];
  for (int i = 0; i < kMaxDatagramsPerTick; ++i) {
    const net::DatagramResult r = udp_.ReceiveFrom(chunk, sizeof chunk);
    if (r.status != protocol::IoStatus::kOk) return;
    // An empty datagram carries nothing, and anyone can send one: it must not shut the
    // channel.
    if (r.bytes == 0) {
      ++stats_.datagrams_dropped;
      continue;
    }
    TPlayer* sender = nullptr;
    for (const auto& player : world_.OtherPlayers()) {
      if (player->ClientAddress == r.source_address && player->ClientPort == r.source_port) {
        sender = player.get();
        break;
      }
    }
    if (sender == nullptr) {
      ++stats_.datagrams_dropped;
      continue;
    }
    std::string_view text(reinterpret_cast<const char*>(chunk), r.bytes);
    text = text.substr(0, text.find('\0'));
    ++stats_.datagrams_received;
    udp_quiet_since_ = options_.clock();
    HandleDatagram(*sender, text);
  }
}

void TAdventureClient::HandleDatagram(TPlayer& player, std::string_view text) {
  if (text.empty()) return;
  const int id = static_cast<unsigned char>(text[0]) - 32;
  const std::string_view body = text.substr(1);
  if (id == msg::kUdpMovement) {
    if (body.size() < protocol::kMovementBodySize) return;
    // The body is the five movement values back to back; give each its code again.
    std::string entries;
    std::size_t at = 0;
    for (int code : protocol::kUdpMovementOrder) {
      const std::size_t width = static_cast<std::size_t>(protocol::kProperties[code].width);
      entries.push_back(protocol::kProperties[code].code());
      entries.append(body.substr(at, width));
      at += width;
    }
    player.ApplyProperties(entries, false);
    ++stats_.udp_movements;
  } else if (id == msg::kUdpChat) {
    player.ChatText = std::string(body);
    std::string entry(1, protocol::kProperties[protocol::kPropChatText].code());
    entry += player.EncodeProperty(protocol::kPropChatText);
    player.ApplyProperties(entry, false);
    ++stats_.udp_chats;
  }
}

void TAdventureClient::SendToPeers(int id, std::string_view body) {
  const std::optional<std::string> text = protocol::BuildDatagram(id, body);
  if (!text.has_value()) return;
  for (TPlayer* peer : udp_peers_) SendDatagram(*peer, *text);
}

void TAdventureClient::SendDatagram(const TPlayer& player, std::string_view text) {
  if (!udp_.IsOpen()) return;
  if (text.find('\n') != std::string_view::npos) return;
  if (player.ClientPort <= 0 || player.ClientPort > 65535) return;
  const protocol::IoResult r =
      udp_.SendTo(player.ClientAddress, static_cast<std::uint16_t>(player.ClientPort),
                  reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (r.status == protocol::IoStatus::kOk) ++stats_.datagrams_sent;
}

void TAdventureClient::SendMovement(std::string_view body) {
  if (udp_port_ == 0) return;
  SendToPeers(msg::kUdpMovement, body);
  last_movement_sent_ = options_.clock();
}

void TAdventureClient::MaintainUdpChannel() {
  if (udp_port_ == 0) return;
  const bool has_peer = std::any_of(udp_peers_.begin(), udp_peers_.end(),
                                    [](const TPlayer* peer) { return peer->ClientPort > 0; });
  if (!has_peer) {
    udp_quiet_since_.reset();
    return;
  }
  const auto now = options_.clock();
  if (!udp_quiet_since_.has_value()) udp_quiet_since_ = now;
  if (now - *udp_quiet_since_ >= kUdpSilenceLimit) {
    FallBackToTcp();
    return;
  }
  // Only once the first report went out: before it the position is not the player's yet.
  if (now - last_movement_sent_ >= kKeepAliveEvery && world_.LocalPlayer().SentProps.has_value())
    SendMovement(world_.LocalPlayer().MovementBody());
}

void TAdventureClient::FallBackToTcp() {
  // As if UDP had been switched off: the next report announces port 0, the server then relays
  // every movement and chat line both ways, and the peers stop sending datagrams here.
  udp_.Close();
  udp_port_ = 0;
  udp_quiet_since_.reset();
  ++stats_.udp_fallbacks;
  host_.ShowNotice(kUdpBlockedText);
}

void TAdventureClient::SendChat(std::string_view text) {
  SendToPeers(msg::kUdpChat, protocol::BuildUdpChat(text));
}

void TAdventureClient::AddPeer(TPlayer& player) { udp_peers_.push_back(&player); }

void TAdventureClient::RemovePeer(TPlayer& player) {
  auto it = std::find(udp_peers_.begin(), udp_peers_.end(), &player);
  if (it != udp_peers_.end()) udp_peers_.erase(it);
}

}  // namespace tarvo::client
