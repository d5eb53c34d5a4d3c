#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::protocol {

/// Outcome of one non-blocking read or write on a byte stream.
enum class IoStatus {
  kOk,          ///< `bytes` were transferred (may be 0 for a send that accepted nothing).
  kWouldBlock,  ///< Nothing can be transferred now; try again on a later tick.
  kClosed,      ///< The peer closed the stream (a read returned 0 bytes).
  kError,       ///< Any other failure; the stream is unusable.
};

struct IoResult {
  IoStatus status = IoStatus::kOk;
  std::size_t bytes = 0;
};

/// The stream the framing works on: `net::TcpStream` for real sockets, fakes in tests.
/// Neither call ever blocks.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  /// Offers `size` bytes; returns how many the stream accepted.
  virtual IoResult Send(const std::uint8_t* data, std::size_t size) = 0;
  /// Reads at most `capacity` bytes into `data`.
  virtual IoResult Receive(std::uint8_t* data, std::size_t capacity) = 0;
  /// While held, the stream may gather the sends into larger segments; releasing hands on what
  /// was gathered. The framing holds the stream while it offers a packet in small pieces.
  virtual void HoldSends(bool hold) { (void)hold; }
};

}  // namespace tarvo::protocol
