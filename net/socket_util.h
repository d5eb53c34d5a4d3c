#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>

// Small helpers shared by the socket classes; not part of the library's public surface.
namespace tarvo::net::detail {

/// `what` followed by the text of errno value `error` ("bind: Address already in use").
std::string ErrorText(std::string_view what, int error);

/// A sockaddr_in for a protocol address and a host-order port.
sockaddr_in MakeSocketAddress(std::uint32_t address, std::uint16_t port);

/// The protocol address held in a sockaddr_in.
std::uint32_t AddressOf(const sockaddr_in& socket_address);

/// The host-order port a socket is bound to, or 0 when the system does not tell it.
std::uint16_t BoundPort(int fd);

/// Closes `fd` if it is valid and sets it to -1.
void CloseFd(int& fd);

}  // namespace tarvo::net::detail
