#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "protocol/byte_stream.h"
#include "protocol/compression.h"

namespace tarvo::fuzz {

/// Hands out the fuzzer's bytes in reads of varying size, then would-block.
class InputStream : public protocol::ByteStream {
 public:
  InputStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  protocol::IoResult Send(const std::uint8_t*, std::size_t n) override {
    return {protocol::IoStatus::kOk, n};
  }
  protocol::IoResult Receive(std::uint8_t* out, std::size_t capacity) override {
    if (pos_ >= size_) return {protocol::IoStatus::kWouldBlock, 0};
    // The first byte picks the read size so packets get split at every place.
    const std::size_t step = 1 + (size_ > 0 ? data_[0] % 97 : 0) * 11;
    const std::size_t n = std::min({capacity, step, size_ - pos_});
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return {protocol::IoStatus::kOk, n};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

/// Every packet must come back whole through zlib's own `uncompress`, as every client reads it.
inline void CheckDecodesWithZlib(std::string_view body, std::string_view batch) {
  std::string out(batch.size() + 1, '\0');
  uLongf size = out.size();
  const int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                            reinterpret_cast<const Bytef*>(body.data()), body.size());
  if (rc != Z_OK || std::string_view(out.data(), size) != batch) std::abort();
}

/// The bytes on the wire for one input: with the low bit of the first byte clear, the rest as
/// it stands (framing and zlib see garbage); with it set, the rest cut at each "\xFF\xFF" into
/// batches, each compressed into a well-formed packet, so the splitters and parsers get reached.
/// The next bit picks the compressor that writes the packets: the receiver must read both.
inline std::string WireFrom(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) == 0) return std::string(rest);
  const auto compressor =
      (data[0] & 2) != 0 ? protocol::Compressor::kLibdeflate : protocol::Compressor::kZlib;
  std::string wire;
  for (;;) {
    const std::size_t cut = rest.find("\xFF\xFF");
    std::string body;
    tarvo::protocol::CompressAppend(rest.substr(0, cut), body, compressor);
    CheckDecodesWithZlib(body, rest.substr(0, cut));
    wire.push_back(static_cast<char>((body.size() >> 8) & 0xFF));
    wire.push_back(static_cast<char>(body.size() & 0xFF));
    wire += body;
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 2);
  }
  return wire;
}

}  // namespace tarvo::fuzz
