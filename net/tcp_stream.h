#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/byte_stream.h"

namespace tarvo::net {

/// A connected, non-blocking TCP socket. Owns its descriptor and closes it on destruction.
class TcpStream : public protocol::ByteStream {
 public:
  /// A closed stream.
  TcpStream() = default;
  /// Takes ownership of a connected socket and makes it non-blocking.
  explicit TcpStream(int fd);
  ~TcpStream() override;

  TcpStream(TcpStream&& other) noexcept;
  TcpStream& operator=(TcpStream&& other) noexcept;
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  /// Offers `size` bytes without blocking; never raises SIGPIPE on a broken connection.
  protocol::IoResult Send(const std::uint8_t* data, std::size_t size) override;
  /// Reads at most `capacity` bytes without blocking; an orderly close reports kClosed.
  protocol::IoResult Receive(std::uint8_t* data, std::size_t capacity) override;

  /// Turns Nagle's coalescing off (true) or on; returns false when the system refuses.
  [[nodiscard]] bool SetNoDelay(bool enabled);
  /// Asks for kernel send and receive buffers of `bytes` each (Linux books twice the amount
  /// asked); returns false when the system refuses.
  [[nodiscard]] bool SetKernelBuffers(int bytes);
  /// Sends with MSG_MORE, so the pieces before the last of one output leave as one segment.
  protocol::IoResult SendMore(const std::uint8_t* data, std::size_t size) override;

  /// Says the last byte was sent (a half-close) and keeps reading possible.
  void ShutdownWrite();
  /// Closes the socket; later calls report kError.
  void Close();
  /// Closes the socket and drops what it has not sent yet (the peer sees a reset), so the
  /// kernel frees its buffers at once instead of holding them for a peer that does not read.
  void Abort();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  protocol::IoResult SendWith(const std::uint8_t* data, std::size_t size, int flags);

  int fd_ = -1;
};

}  // namespace tarvo::net
