#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::protocol {

/// Appends the zlib stream (level 9, default window and memory) of `data` to `out`. One deflate
/// state per thread is reset and reused: allocating it per packet would double the cost.
/// Returns the number of bytes appended.
std::size_t CompressAppend(std::string_view data, std::string& out);

enum class InflateResult { kOk, kCorrupt, kTooLarge };

/// Decompresses one zlib stream into `out` (replacing its contents), never producing or
/// allocating more than `max_size` bytes: a stream that would inflate further is refused as
/// soon as the bound is reached. Trailing bytes after the stream count as corrupt.
InflateResult InflateBounded(std::string_view data, std::size_t max_size, std::string& out);

}  // namespace tarvo::protocol
