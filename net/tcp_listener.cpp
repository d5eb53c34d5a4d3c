#include "net/tcp_listener.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <utility>

#include "net/socket_util.h"

namespace tarvo::net {

using protocol::IoStatus;

Result<TcpListener> TcpListener::Listen(std::uint16_t port, std::uint32_t bind_address,
                                        int backlog) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return Fail(detail::ErrorText("socket", errno));
  }
  // A restarted server must get its port back while old connections linger in TIME_WAIT.
  const int reuse = 1;
  // Without it a port still held by old connections fails in bind, which reports it.
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));

  const sockaddr_in socket_address = detail::MakeSocketAddress(bind_address, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&socket_address), sizeof(socket_address)) != 0) {
    const int error = errno;
    detail::CloseFd(fd);
    return Fail(
        detail::ErrorText("bind " + FormatIpv4(bind_address) + ":" + std::to_string(port), error));
  }
  if (::listen(fd, backlog < 0 ? 0 : backlog) != 0) {
    const int error = errno;
    detail::CloseFd(fd);
    return Fail(detail::ErrorText("listen", error));
  }
  return TcpListener(fd);
}

TcpListener::~TcpListener() { Close(); }

TcpListener::TcpListener(TcpListener&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

AcceptResult TcpListener::Accept() {
  AcceptResult result;
  if (fd_ < 0) {
    result.status = IoStatus::kError;
    result.error = EBADF;
    return result;
  }
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    const int fd =
        ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      result.status = IoStatus::kOk;
      result.stream.emplace(fd);
      // Relayed movement must not wait for the peer's delayed acknowledgement; where the system
      // refuses, it only arrives later.
      (void)result.stream->SetNoDelay(true);
      result.peer_address = detail::AddressOf(peer);
      result.peer_port = ntohs(peer.sin_port);
      return result;
    }
    const int error = errno;
    // A connection reset before we took it is gone; the next one may be waiting behind it.
    if (error == EINTR || error == ECONNABORTED || error == EPROTO) {
      continue;
    }
    result.status =
        (error == EAGAIN || error == EWOULDBLOCK) ? IoStatus::kWouldBlock : IoStatus::kError;
    result.error = error;
    return result;
  }
}

std::uint16_t TcpListener::LocalPort() const { return detail::BoundPort(fd_); }

void TcpListener::Close() { detail::CloseFd(fd_); }

}  // namespace tarvo::net
