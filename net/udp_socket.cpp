#include "net/udp_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <utility>

#include "net/socket_util.h"

namespace tarvo::net {

using protocol::IoResult;
using protocol::IoStatus;

namespace {

IoStatus StatusOf(int error) {
  return (error == EAGAIN || error == EWOULDBLOCK) ? IoStatus::kWouldBlock : IoStatus::kError;
}

}  // namespace

Result<UdpSocket> UdpSocket::Open(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return Fail(detail::ErrorText("socket", errno));
  }
  const sockaddr_in socket_address = detail::MakeSocketAddress(0, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&socket_address), sizeof(socket_address)) != 0) {
    const int error = errno;
    detail::CloseFd(fd);
    return Fail(detail::ErrorText("bind UDP port " + std::to_string(port), error));
  }
  return UdpSocket(fd);
}

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

IoResult UdpSocket::SendTo(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
                           std::size_t size) {
  if (fd_ < 0) {
    return {IoStatus::kError, 0};
  }
  const sockaddr_in target = detail::MakeSocketAddress(address, port);
  for (;;) {
    const ssize_t sent = ::sendto(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    if (sent >= 0) {
      return {IoStatus::kOk, static_cast<std::size_t>(sent)};
    }
    if (errno != EINTR) {
      return {StatusOf(errno), 0};
    }
  }
}

DatagramResult UdpSocket::ReceiveFrom(std::uint8_t* buffer, std::size_t capacity) {
  DatagramResult result;
  if (fd_ < 0) {
    result.status = IoStatus::kError;
    return result;
  }
  for (;;) {
    sockaddr_in source{};
    socklen_t length = sizeof(source);
    const ssize_t received = ::recvfrom(fd_, buffer, capacity, MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&source), &length);
    if (received >= 0) {
      result.status = IoStatus::kOk;
      result.bytes = static_cast<std::size_t>(received);
      result.source_address = detail::AddressOf(source);
      result.source_port = ntohs(source.sin_port);
      return result;
    }
    if (errno != EINTR) {
      result.status = StatusOf(errno);
      return result;
    }
  }
}

std::uint16_t UdpSocket::LocalPort() const { return detail::BoundPort(fd_); }

void UdpSocket::Close() { detail::CloseFd(fd_); }

}  // namespace tarvo::net
