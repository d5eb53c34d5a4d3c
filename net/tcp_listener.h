#pragma once

#include <cstdint>
#include <optional>

#include "net/address.h"
#include "net/result.h"
#include "net/tcp_stream.h"
#include "protocol/byte_stream.h"

namespace tarvo::net {

/// One connection taken from a listener, with the peer's protocol address and host-order port.
struct AcceptResult {
  /// kOk with a stream, kWouldBlock when no connection waits, kError otherwise.
  protocol::IoStatus status = protocol::IoStatus::kWouldBlock;
  std::optional<TcpStream> stream;
  std::uint32_t peer_address = 0;
  std::uint16_t peer_port = 0;
  /// errno of a kError.
  int error = 0;
};

/// A non-blocking listening TCP socket. Owns its descriptor.
class TcpListener {
 public:
  /// Queue length for connections not yet accepted; deep enough for a burst of logins arriving
  /// between two 50 ms accept passes.
  static constexpr int kDefaultBacklog = 128;

  /// Binds `bind_address`:`port` (0 lets the system choose) with SO_REUSEADDR and listens.
  static Result<TcpListener> Listen(std::uint16_t port, std::uint32_t bind_address = kAnyAddress,
                                    int backlog = kDefaultBacklog);

  TcpListener() = default;
  ~TcpListener();
  TcpListener(TcpListener&& other) noexcept;
  TcpListener& operator=(TcpListener&& other) noexcept;
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  /// Takes one pending connection without blocking; the stream is non-blocking with Nagle off.
  AcceptResult Accept();

  /// The host-order port the listener is bound to.
  std::uint16_t LocalPort() const;
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  explicit TcpListener(int fd) : fd_(fd) {}

  int fd_ = -1;
};

}  // namespace tarvo::net
