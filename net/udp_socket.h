#pragma once

#include <cstddef>
#include <cstdint>

#include "net/result.h"
#include "protocol/byte_stream.h"

namespace tarvo::net {

/// Outcome of one datagram read: its size and where it came from.
struct DatagramResult {
  /// kOk (a datagram, possibly empty), kWouldBlock (none waiting) or kError.
  protocol::IoStatus status = protocol::IoStatus::kWouldBlock;
  std::size_t bytes = 0;
  std::uint32_t source_address = 0;
  std::uint16_t source_port = 0;
};

/// A non-blocking UDP socket bound to every local address. Owns its descriptor.
class UdpSocket {
 public:
  /// Binds any local address on `port` (0 lets the system choose). A port already taken fails;
  /// the socket does not share ports.
  static Result<UdpSocket> Open(std::uint16_t port);

  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  /// Sends one datagram to `address`:`port` without blocking.
  protocol::IoResult SendTo(std::uint32_t address, std::uint16_t port, const std::uint8_t* data,
                            std::size_t size);
  /// Reads one datagram of at most `capacity` bytes (a longer one is cut) without blocking.
  DatagramResult ReceiveFrom(std::uint8_t* buffer, std::size_t capacity);

  /// The host-order port the socket is bound to.
  std::uint16_t LocalPort() const;
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  explicit UdpSocket(int fd) : fd_(fd) {}

  int fd_ = -1;
};

}  // namespace tarvo::net
