#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/compression.h"

namespace tarvo::protocol {

/// Code lengths of a Huffman code for `freq` in which no code is longer than `max_bits`; unused
/// symbols get 0. With at least two used symbols the code is complete, as inflaters require.
void BuildCodeLengths(std::span<const std::uint32_t> freq, int max_bits,
                      std::span<std::uint8_t> lengths);

/// One list of lines deflated once for many recipients, each of whom receives the list without
/// at most one line of its own. Every line is parsed (LZ77) against the two lines before it only,
/// and once more for each of those two missing, so a recipient's stream is the shared bit string
/// up to its own line, the two lines after it in their replacement parse, and the rest of the
/// shared bits at their new bit offset: one dynamic block under one Huffman table, a standard
/// zlib stream for any inflater, built in about the time of copying it.
class SharedDeflate {
 public:
  static constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

  /// Parses `lines` and writes the shared bits. The lines must stay alive and unchanged until
  /// the next `Prepare`.
  void Prepare(std::span<const std::string_view> lines);
  /// Appends the zlib stream of every prepared line but line `omitted` (`kNoLine`: all of them)
  /// to `out`. Returns the bytes appended.
  std::size_t AppendStream(std::size_t omitted, std::string& out) const;
  std::size_t line_count() const { return lines_.size(); }

  /// A symbol of the parse: a literal byte (`distance` 0) or a match.
  struct Symbol {
    std::uint16_t length;
    std::uint16_t distance;
  };

 private:
  // Where a unit's parse lies: symbols [first, last) of `symbols_`, bits [bit_begin, bit_end)
  // of `shared_` (the main parse) or of `pool_` (the replacement ones).
  struct Parse {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint64_t bit_begin = 0;
    std::uint64_t bit_end = 0;
  };
  std::string_view Unit(std::size_t unit) const;
  void ParseUnit(std::size_t unit, std::size_t missing, bool tail, Parse& parse);
  void WriteParses();

  std::vector<std::string_view> lines_;
  bool shifted_ = false;  // units cut one byte after each line start
  std::size_t total_size_ = 0;
  // Per unit (unit 0 is the shared first byte or empty; unit k >= 1 holds line k - 1): the main
  // parse and the replacement parses with unit k - 1 or k - 2 missing.
  std::vector<Parse> main_;
  std::vector<Parse> without_previous_;
  std::vector<Parse> without_second_;
  Parse tail_;  // the second-to-last unit without the next line's first byte
  std::vector<Symbol> symbols_;
  std::vector<std::uint8_t> shared_;
  std::vector<std::uint8_t> pool_;
  std::vector<std::uint32_t> prefix_adler_;  // of the lines before line j
  std::vector<std::uint32_t> suffix_adler_;  // of line j and all after it
  std::vector<std::size_t> line_start_;      // byte offset of line j in the joined lines
  std::uint32_t whole_adler_ = 1;
  std::uint32_t literal_code_[288] = {};
  std::uint8_t literal_bits_[288] = {};
  std::uint32_t distance_code_[30] = {};
  std::uint8_t distance_bits_[30] = {};
  std::string window_;  // scratch of the parser
};

/// A tick's relay lines for one audience, in arrival order with their owners, turned into every
/// recipient's packets: the lines cut into batches where one connection would cut them (before
/// a line that would bring the batch to 4096 bytes, after one that did), each recipient's batch
/// being that cut minus its own lines. `Compressor::kShared` splices them from one shared parse;
/// a recipient owning several lines of one batch, or a packet the splice makes too large, falls
/// back to the per-session compressor. The other compressors compress each batch alone.
class RelayPackets {
 public:
  /// Forgets the lines and chooses the compressor of the next tick.
  void Reset(Compressor compressor);
  /// Adds one message line (id byte, payload, line feed) owned by `owner`.
  void Add(std::string_view line, std::uint64_t owner);
  /// Cuts and, with the shared compressor, parses the lines.
  void Prepare();
  bool empty() const { return owners_.empty(); }

  /// Replaces `packets` with the packet bodies `recipient` receives, in order (none for a cut
  /// that holds only its own lines). Any key that owns no line receives every line.
  void PacketsFor(std::uint64_t recipient, std::vector<std::string>& packets);
  /// The batches behind `PacketsFor`, as a connection would have built them line by line.
  std::vector<std::string> BatchesFor(std::uint64_t recipient) const;
  /// Inflates `packets` as a client does and compares them with `BatchesFor`.
  bool Verify(std::uint64_t recipient, const std::vector<std::string>& packets) const;

 private:
  struct Cut {
    std::size_t first = 0;
    std::size_t last = 0;
    SharedDeflate deflate;
    std::string whole;  // the packet of a recipient owning none of its lines, once built
    bool whole_built = false;
  };
  void AppendBatch(const Cut& cut, std::uint64_t recipient, std::string& batch) const;

  Compressor compressor_ = kDefaultCompressor;
  std::string text_;
  std::vector<std::size_t> starts_;  // line j is text_[starts_[j], starts_[j + 1])
  std::vector<std::string_view> lines_;
  std::vector<std::uint64_t> owners_;
  std::vector<Cut> cuts_;  // the first `cut_count_` are in use; the rest keep their memory
  std::size_t cut_count_ = 0;
  std::string batch_;  // scratch
};

}  // namespace tarvo::protocol
