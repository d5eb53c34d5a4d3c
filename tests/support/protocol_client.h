#pragma once

// A minimal player client over a real loopback socket, speaking through protocol/ and net/:
// for end-to-end tests and load programs. Header-only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/address.h"
#include "net/tcp_stream.h"
#include "protocol/compression.h"
#include "protocol/framing.h"
#include "protocol/messages.h"
#include "protocol/properties.h"

namespace tarvo::testing {

/// One message as the client received it.
struct Received {
  int id = 0;
  std::string payload;
};

/// A player client: queues messages, sends them as packets, and collects what the server sends
/// (long messages included).
class ProtocolClient : public protocol::MessageSink {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

  ProtocolClient() : recording_(splitter_), connection_(nullptr, recording_, false) {}
  ProtocolClient(const ProtocolClient&) = delete;
  ProtocolClient& operator=(const ProtocolClient&) = delete;

  /// Connects to the server on loopback.
  bool Connect(std::uint16_t port) { return ConnectTo(net::kLoopbackAddress, port); }
  /// Connects to the server at `address` (first octet in the low byte).
  bool ConnectTo(std::uint32_t address, std::uint16_t port) {
    auto stream = net::ConnectTcp(address, port, std::chrono::milliseconds(3000));
    if (!stream) return false;
    stream_ = std::move(stream.value());
    connection_.SetStream(&link_);
    return true;
  }

  /// Connects to the server on loopback from another local address (127.0.0.2, say), as a
  /// second machine would.
  bool ConnectFrom(std::uint32_t source, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = source;
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = net::kLoopbackAddress;
    remote.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
      ::close(fd);
      return false;
    }
    stream_ = net::TcpStream(fd);
    connection_.SetStream(&link_);
    return true;
  }

  /// Queues a message and hands everything queued to the socket.
  void Send(int id, std::string_view payload) {
    connection_.QueueMessage(id, payload);
    Flush();
  }
  /// Queues a message without sending (several then travel in one packet).
  void Queue(int id, std::string_view payload) { connection_.QueueMessage(id, payload); }
  /// Sends everything queued, waiting while the socket takes no more.
  bool Flush(std::chrono::milliseconds timeout = kDefaultTimeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const protocol::SendStatus status = connection_.SendPending();
      if (status == protocol::SendStatus::kDone) return true;
      if (status != protocol::SendStatus::kWouldBlock || Clock::now() > deadline) return false;
      WaitSocket(POLLOUT, 5);
    }
  }
  /// Bytes written to the socket as they are, without framing.
  bool SendRaw(std::string_view bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + kDefaultTimeout;
    while (done < bytes.size()) {
      const auto r = stream_.Send(reinterpret_cast<const std::uint8_t*>(bytes.data() + done),
                                  bytes.size() - done);
      if (r.status == protocol::IoStatus::kOk) {
        done += r.bytes;
      } else if (r.status != protocol::IoStatus::kWouldBlock || Clock::now() > deadline) {
        return false;
      } else {
        WaitSocket(POLLOUT, 5);
      }
    }
    return true;
  }

  /// Sends the login (kind 0: player, 1: remote control).
  void Login(std::string_view account, std::string_view password,
             std::string_view version = protocol::kVersionCurrent, int kind = 0) {
    Send(kind, protocol::BuildLogin(version, account, password));
  }

  /// Makes each Poll read at most `bytes`, as a client behind a slow link does (0: no limit).
  void LimitReadsPerPoll(std::size_t bytes) { link_.per_poll = bytes; }

  /// Reads what the socket holds now, without waiting.
  void Poll() {
    if (closed_) return;
    link_.left = link_.per_poll;
    const protocol::ReceiveStatus status = connection_.ReceivePending(*this);
    if (status == protocol::ReceiveStatus::kClosed || status == protocol::ReceiveStatus::kError)
      closed_ = true;
    if (status == protocol::ReceiveStatus::kDecompressError) decompress_errors_++;
  }

  /// The next received message, waiting for it at most `timeout`.
  std::optional<Received> Next(std::chrono::milliseconds timeout = kDefaultTimeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      if (!inbox_.empty()) {
        Received r = std::move(inbox_.front());
        inbox_.pop_front();
        return r;
      }
      if (closed_ || Clock::now() > deadline) return std::nullopt;
      WaitSocket(POLLIN, 5);
      Poll();
    }
  }

  /// Skips messages until one with `id` (and matching `accept`, when given) arrives; the skipped
  /// ones are kept in `skipped` (when given).
  std::optional<Received> WaitFor(int id, std::chrono::milliseconds timeout = kDefaultTimeout,
                                  const std::function<bool(const Received&)>& accept = {},
                                  std::vector<Received>* skipped = nullptr) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() < 0) return std::nullopt;
      auto r = Next(left);
      if (!r) return std::nullopt;
      if (r->id == id && (!accept || accept(*r))) return r;
      if (skipped) skipped->push_back(std::move(*r));
    }
  }

  /// Everything that arrives until the connection is quiet for `quiet`.
  std::vector<Received> Drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) {
    std::vector<Received> out;
    while (auto r = Next(quiet)) out.push_back(std::move(*r));
    return out;
  }

  /// Waits until the server closes the connection (messages arriving before are kept).
  bool WaitClosed(std::chrono::milliseconds timeout = kDefaultTimeout) {
    const auto deadline = Clock::now() + timeout;
    while (!closed_ && Clock::now() < deadline) {
      WaitSocket(POLLIN, 5);
      Poll();
    }
    return closed_;
  }

  /// Called with every decompressed batch before it is taken apart (load programs measure the
  /// compression of exactly what the server sent).
  void SetBatchRecorder(std::function<void(std::string_view)> recorder) {
    recording_.recorder = std::move(recorder);
  }

  void Close() { stream_.Close(); }
  bool closed() const { return closed_; }
  int decompress_errors() const { return decompress_errors_; }
  std::deque<Received>& inbox() { return inbox_; }
  protocol::PacketConnection& connection() { return connection_; }
  net::TcpStream& stream() { return stream_; }

  // protocol::MessageSink
  void OnMessage(std::string_view raw) override {
    if (raw.empty()) return;
    Received r{static_cast<unsigned char>(raw[0]) - 32, std::string(raw.substr(1))};
    if (r.id == protocol::msg::kLongMessageFollows) {
      if (auto length = protocol::ParseLongMessageFollows(r.payload))
        splitter_.EnterLongMessageMode(*length);
    }
    inbox_.push_back(std::move(r));
  }
  void OnLongMessage(std::string_view raw) override {
    if (raw.empty()) return;
    std::string_view body = raw.substr(1);
    if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
    inbox_.push_back({static_cast<unsigned char>(raw[0]) - 32, std::string(body)});
  }

 private:
  void WaitSocket(short events, int milliseconds) {
    if (!stream_.IsOpen()) return;
    pollfd p{stream_.fd(), events, 0};
    ::poll(&p, 1, milliseconds);
  }

  struct RecordingSplitter final : protocol::BatchSplitter {
    explicit RecordingSplitter(protocol::ClientSplitter& inner) : inner(inner) {}
    void Split(std::string_view batch, protocol::MessageSink& sink) override {
      if (recorder) recorder(batch);
      inner.Split(batch, sink);
    }
    protocol::ClientSplitter& inner;
    std::function<void(std::string_view)> recorder;
  };

  // The socket as the framing sees it, with reads optionally capped per poll.
  struct Link final : protocol::ByteStream {
    explicit Link(net::TcpStream& stream) : stream(stream) {}
    protocol::IoResult Send(const std::uint8_t* data, std::size_t size) override {
      return stream.Send(data, size);
    }
    protocol::IoResult Receive(std::uint8_t* data, std::size_t capacity) override {
      if (per_poll == 0) return stream.Receive(data, capacity);
      if (left == 0) return {protocol::IoStatus::kWouldBlock, 0};
      const protocol::IoResult r = stream.Receive(data, std::min(capacity, left));
      if (r.status == protocol::IoStatus::kOk) left -= std::min(left, r.bytes);
      return r;
    }
    protocol::IoResult SendMore(const std::uint8_t* data, std::size_t size) override {
      return stream.SendMore(data, size);
    }
    net::TcpStream& stream;
    std::size_t per_poll = 0;
    std::size_t left = 0;
  };

  net::TcpStream stream_;
  Link link_{stream_};
  protocol::ClientSplitter splitter_;
  RecordingSplitter recording_;
  protocol::PacketConnection connection_;
  std::deque<Received> inbox_;
  bool closed_ = false;
  int decompress_errors_ = 0;
};

/// One framed packet of `count` movement messages, as a flooding client sends them: message i
/// carries x alone, ((first + i) mod 8000) / 2, so a receiver can tell their order.
inline std::string MovementFloodPacket(int first, int count) {
  std::string batch;
  for (int i = 0; i < count; ++i) {
    batch.push_back(static_cast<char>(protocol::msg::kProperties + 32));
    protocol::PutEntry(batch, protocol::kPropX, ((first + i) % 8000) / 2.0);
    batch.push_back('\n');
  }
  std::string body;
  protocol::CompressAppend(batch, body);
  std::string packet;
  packet.push_back(static_cast<char>(body.size() >> 8));
  packet.push_back(static_cast<char>(body.size() & 0xFF));
  return packet + body;
}

}  // namespace tarvo::testing
