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
  /// Offers `size` bytes as `Send` does, telling the stream that more follow at once: it may
  /// hold them back to leave with those. The framing offers all but the last piece of its output
  /// this way, so the pieces leave as few segments without a system call to cork the socket.
  virtual IoResult SendMore(const std::uint8_t* data, std::size_t size) { return Send(data, size); }
  /// Reads at most `capacity` bytes into `data`. A read of fewer bytes than asked has taken all
  /// the stream held at that moment.
  virtual IoResult Receive(std::uint8_t* data, std::size_t capacity) = 0;
};

}  // namespace tarvo::protocol
