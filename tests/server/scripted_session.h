#pragma once

#include <zlib.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/byte_stream.h"
#include "protocol/compression.h"
#include "protocol/framing.h"
#include "server/accounts/account_store.h"
#include "support/fake_stream.h"
#include "temp_dir.h"

namespace tarvo::server {

/// Lets a test read what a session was sent after the session, and its stream, are gone.
class SharedStream : public protocol::ByteStream {
 public:
  explicit SharedStream(std::shared_ptr<testing::FakeStream> stream) : stream_(std::move(stream)) {}
  protocol::IoResult Send(const std::uint8_t* data, std::size_t size) override {
    return stream_->Send(data, size);
  }
  protocol::IoResult Receive(std::uint8_t* data, std::size_t capacity) override {
    return stream_->Receive(data, capacity);
  }

 private:
  std::shared_ptr<testing::FakeStream> stream_;
};

/// One framed client packet holding one message.
inline std::string ClientPacket(int id, std::string_view payload) {
  std::string batch(1, static_cast<char>(id + 32));
  batch.append(payload);
  batch.push_back('\n');
  std::string body;
  protocol::CompressAppend(batch, body, protocol::Compressor::kZlib);
  return std::string{static_cast<char>(body.size() >> 8), static_cast<char>(body.size() & 0xFF)} +
         body;
}

/// Takes the whole packets from `wire` at `pos` on, each batch decoded by zlib's own
/// `uncompress`, and appends their messages to `messages`.
inline void DecodeFrom(const std::string& wire, std::size_t& pos,
                       std::vector<std::string>& messages) {
  static std::string batch(protocol::kMaxBatchSize, '\0');
  while (pos + 2 <= wire.size()) {
    const std::size_t length =
        (static_cast<std::size_t>(static_cast<unsigned char>(wire[pos])) << 8) |
        static_cast<unsigned char>(wire[pos + 1]);
    uLongf size = batch.size();
    if (uncompress(reinterpret_cast<Bytef*>(batch.data()), &size,
                   reinterpret_cast<const Bytef*>(wire.data() + pos + 2), length) != Z_OK)
      throw std::runtime_error("a packet zlib cannot decode");
    const std::string_view text(batch.data(), size);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
      messages.emplace_back(text.substr(start, end - start));
    pos += 2 + length;
  }
}

/// A world of one level and the guest account, for servers driven by scripted sessions; false
/// when the accounts file could not be written.
[[nodiscard]] inline bool WriteGuestWorld(const testing::TempDir& dir) {
  testing::WriteFile(dir / "levels/startlevel.x", "start line\r\nsecond");
  std::filesystem::create_directories(dir / "cwd");
  AccountStore accounts;
  accounts.AddNewAccount({"guest", "guest", 0, true, false});
  return accounts.SaveAccounts(dir / "accounts.txt").ok;
}

}  // namespace tarvo::server
