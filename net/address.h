#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/result.h"
#include "net/tcp_stream.h"

namespace tarvo::net {

/// Addresses are the protocol's 32-bit form: the four octets exactly as they lie in memory in a
/// socket address, so the first octet of the dotted text is the least significant byte
/// (127.0.0.1 is 0x0100007F).
inline constexpr std::uint32_t kAnyAddress = 0;
inline constexpr std::uint32_t kLoopbackAddress = 0x0100007F;

/// The protocol address of the octets a.b.c.d.
constexpr std::uint32_t MakeAddress(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                    std::uint8_t d) {
  return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b) << 8 |
         static_cast<std::uint32_t>(c) << 16 | static_cast<std::uint32_t>(d) << 24;
}

/// Parses strict dotted IPv4 text ("10.0.0.1"); nullopt for anything else.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

/// Dotted text of a protocol address.
std::string FormatIpv4(std::uint32_t address);

/// Resolves a host name (or dotted text) to its first IPv4 address. Asks the system resolver,
/// which may wait for a name server.
Result<std::uint32_t> ResolveHost(std::string_view host);

/// Connects to `address`:`port`, waiting at most `timeout`; the stream is non-blocking.
Result<TcpStream> ConnectTcp(std::uint32_t address, std::uint16_t port,
                             std::chrono::milliseconds timeout);

/// This machine's host name, or an empty text when the system does not tell it.
std::string LocalHostName();

}  // namespace tarvo::net
