#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::client {

/// Everything the client keeps between runs: the connection settings and the local player's
/// nickname and look, with the values a first run starts from.
struct ClientSettings {
  /// The version tag sent at login.
  // NOLINTNEXTLINE(readability-identifier-naming): the protocol's established name
  static constexpr std::string_view ProtocolVersion = "VX3DV002";

  /// Server host: dotted IPv4 text or a host name.
  std::string ServerAddress = "127.0.0.1";
  /// Server TCP port as typed; read with ParseInteger.
  std::string ServerPort = "14901";
  /// Up to 5 recently used server addresses, as comma text.
  std::string ServerHistory;
  std::string AccountName = "guest";
  /// Plain text in memory; stored only enciphered, and never in the configuration file.
  std::string AccountPassword = "guest";
  /// Do not open the UDP channel.
  bool NoUdp = false;
  /// Bind the UDP channel to FixedUdpPort rather than to any free port.
  bool FixedPort = false;
  std::int32_t FixedUdpPort = 14898;

  std::string Nickname;
  std::string BodyMesh = "body.x";
  std::string HeadMesh = "head.x";
  std::string BodyTex = "body.bmp";
  /// Colours are 0xRRGGBB.
  std::uint32_t ArmColor = 0xFF0000;
  std::uint32_t ShoeColor = 0x800000;
  std::uint32_t HandColor = 0xFDCC47;

  bool operator==(const ClientSettings&) const = default;
};

}  // namespace tarvo::client
