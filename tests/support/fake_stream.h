#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "protocol/byte_stream.h"

namespace tarvo::testing {

/// A byte stream whose reads come from scripted chunks and whose writes are collected.
class FakeStream : public protocol::ByteStream {
 public:
  /// Bytes the next reads return. A read takes what it asks for across chunks, as a socket
  /// does, so it comes back short only when it took everything fed so far.
  void Feed(std::string chunk) { inbound_.push_back(std::move(chunk)); }
  void CloseInbound() { closed_ = true; }
  /// At most this many bytes are accepted in all; then sends would block.
  void LimitAccepted(std::size_t bytes) { accept_limit_ = bytes; }

  protocol::IoResult Send(const std::uint8_t* data, std::size_t size) override {
    ++send_calls;
    largest_send = std::max(largest_send, size);
    if (sent.size() >= accept_limit_) return {protocol::IoStatus::kWouldBlock, 0};
    const std::size_t n = std::min(size, accept_limit_ - sent.size());
    sent.append(reinterpret_cast<const char*>(data), n);
    return {protocol::IoStatus::kOk, n};
  }

  protocol::IoResult SendMore(const std::uint8_t* data, std::size_t size) override {
    ++more_calls;
    return Send(data, size);
  }

  protocol::IoResult Receive(std::uint8_t* data, std::size_t capacity) override {
    ++receive_calls;
    largest_receive = std::max(largest_receive, capacity);
    if (inbound_.empty()) {
      return {closed_ ? protocol::IoStatus::kClosed : protocol::IoStatus::kWouldBlock, 0};
    }
    std::size_t n = 0;
    while (n < capacity && !inbound_.empty()) {
      std::string& front = inbound_.front();
      const std::size_t take = std::min(capacity - n, front.size());
      std::memcpy(data + n, front.data(), take);
      front.erase(0, take);
      if (front.empty()) inbound_.pop_front();
      n += take;
    }
    if (n == 0) return {closed_ ? protocol::IoStatus::kClosed : protocol::IoStatus::kWouldBlock, 0};
    return {protocol::IoStatus::kOk, n};
  }

  std::string sent;
  std::size_t send_calls = 0;
  std::size_t more_calls = 0;  ///< of `send_calls`, those that said more bytes follow
  std::size_t receive_calls = 0;
  std::size_t largest_send = 0;
  std::size_t largest_receive = 0;

 private:
  std::deque<std::string> inbound_;
  bool closed_ = false;
  std::size_t accept_limit_ = static_cast<std::size_t>(-1);
};

}  // namespace tarvo::testing
