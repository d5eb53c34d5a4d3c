#include "net/socket_util.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace tarvo::net::detail {

std::string ErrorText(std::string_view what, int error) {
  std::string text(what);
  text += ": ";
  text += std::strerror(error);
  return text;
}

sockaddr_in MakeSocketAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  socket_address.sin_port = htons(port);
  // The first octet sits in the least significant byte of the protocol address and first in
  // memory in the socket address, whatever the host's byte order.
  const std::uint8_t octets[4] = {
      static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
      static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 24)};
  std::memcpy(&socket_address.sin_addr.s_addr, octets, sizeof(octets));
  return socket_address;
}

std::uint32_t AddressOf(const sockaddr_in& socket_address) {
  std::uint8_t octets[4];
  std::memcpy(octets, &socket_address.sin_addr.s_addr, sizeof(octets));
  return static_cast<std::uint32_t>(octets[0]) | static_cast<std::uint32_t>(octets[1]) << 8 |
         static_cast<std::uint32_t>(octets[2]) << 16 | static_cast<std::uint32_t>(octets[3]) << 24;
}

std::uint16_t BoundPort(int fd) {
  sockaddr_in socket_address{};
  socklen_t length = sizeof(socket_address);
  if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&socket_address), &length) != 0) {
    return 0;
  }
  return ntohs(socket_address.sin_port);
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    // POSIX leaves the descriptor state unspecified after EINTR; Linux always frees it, so a
    // retry could close a descriptor another part of the program just received.
    ::close(fd);
    fd = -1;
  }
}

}  // namespace tarvo::net::detail
