#include "net/tcp_stream.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <utility>

#include "net/socket_util.h"

namespace tarvo::net {

using protocol::IoResult;
using protocol::IoStatus;

namespace {

IoResult FailureOf(int error) {
  if (error == EAGAIN || error == EWOULDBLOCK) {
    return {IoStatus::kWouldBlock, 0};
  }
  return {IoStatus::kError, 0};
}

}  // namespace

TcpStream::TcpStream(int fd) : fd_(fd) {
  if (fd_ >= 0) {
    const int flags = fcntl(fd_, F_GETFL, 0);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) {
      // Fails only for a descriptor that is not open, which F_GETFL has just ruled out.
      (void)fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    }
  }
}

TcpStream::~TcpStream() { Close(); }

TcpStream::TcpStream(TcpStream&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

IoResult TcpStream::Send(const std::uint8_t* data, std::size_t size) {
  return SendWith(data, size, 0);
}

IoResult TcpStream::SendMore(const std::uint8_t* data, std::size_t size) {
  return SendWith(data, size, MSG_MORE);
}

IoResult TcpStream::SendWith(const std::uint8_t* data, std::size_t size, int flags) {
  if (fd_ < 0) {
    return {IoStatus::kError, 0};
  }
  if (size == 0) {
    return {IoStatus::kOk, 0};
  }
  for (;;) {
    const ssize_t sent = ::send(fd_, data, size, flags | MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      return {IoStatus::kOk, static_cast<std::size_t>(sent)};
    }
    if (errno != EINTR) {
      return FailureOf(errno);
    }
  }
}

IoResult TcpStream::Receive(std::uint8_t* data, std::size_t capacity) {
  if (fd_ < 0) {
    return {IoStatus::kError, 0};
  }
  if (capacity == 0) {
    // recv would return 0, which must not be mistaken for the peer's close.
    return {IoStatus::kOk, 0};
  }
  for (;;) {
    const ssize_t received = ::recv(fd_, data, capacity, MSG_DONTWAIT);
    if (received > 0) {
      return {IoStatus::kOk, static_cast<std::size_t>(received)};
    }
    if (received == 0) {
      return {IoStatus::kClosed, 0};
    }
    if (errno != EINTR) {
      return FailureOf(errno);
    }
  }
}

bool TcpStream::SetNoDelay(bool enabled) {
  const int value = enabled ? 1 : 0;
  return fd_ >= 0 && setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof(value)) == 0;
}

bool TcpStream::SetKernelBuffers(int bytes) {
  return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes)) == 0 &&
         setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) == 0;
}

void TcpStream::ShutdownWrite() {
  if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

void TcpStream::Close() { detail::CloseFd(fd_); }

void TcpStream::Abort() {
  if (fd_ < 0) return;
  const linger drop{1, 0};
  // Without the option the connection still ends, with a goodbye instead of a reset.
  (void)setsockopt(fd_, SOL_SOCKET, SO_LINGER, &drop, sizeof(drop));
  Close();
}

}  // namespace tarvo::net
