#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::protocol {

/// The deflate implementation that writes packets. All write zlib streams that zlib's
/// `uncompress` reads; zlib gives today's exact bytes, libdeflate the same format in less time.
/// `kShared` deflates the server's relayed movement once per level and tick for all recipients
/// (`RelayPackets`) and compresses every other batch as `kLibdeflate` does.
enum class Compressor { kZlib, kLibdeflate, kShared };

/// The fastest, used unless a program is told otherwise.
inline constexpr Compressor kDefaultCompressor = Compressor::kShared;

/// "zlib", "libdeflate" or "shared"; nothing for any other name.
std::optional<Compressor> ParseCompressor(std::string_view name);
/// The name `ParseCompressor` takes.
std::string_view CompressorName(Compressor compressor);

/// Appends the zlib stream of `data` to `out`: zlib at level 9 (default window and memory), or
/// libdeflate at its level 6 (for `kShared` too: one batch alone has nothing to share). Each thread
/// keeps one state per compressor and reuses it: allocating it per packet would double the cost.
/// Returns the number of bytes appended; 0 (nothing appended) when the compressor's state cannot
/// be allocated, which a caller treats as a packet it cannot send. Packets are too hot a path for
/// anything costlier than this count.
std::size_t CompressAppend(std::string_view data, std::string& out,
                           Compressor compressor = kDefaultCompressor);

enum class InflateResult { kOk, kCorrupt, kTooLarge };

/// Decompresses one zlib stream into `out` (replacing its contents), never producing or
/// allocating more than `max_size` bytes: a stream that would inflate further is refused as
/// soon as the bound is reached. Trailing bytes after the stream count as corrupt.
InflateResult InflateBounded(std::string_view data, std::size_t max_size, std::string& out);

}  // namespace tarvo::protocol
