#include "protocol/shared_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <queue>

#include "protocol/framing.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit writer stores words as they lie");

namespace tarvo::protocol {
namespace {

constexpr int kLiteralCodes = 286;  // 0-255 bytes, 256 end of block, 257-285 lengths
constexpr int kDistanceCodes = 30;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxLengthCodeBits = 7;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kMaxDistance = 32768;
// Bytes a bit writer may store past its end: one 64-bit word.
constexpr std::size_t kSlack = 8;

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                         4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                         9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint8_t, 19> kLengthCodeOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

int LengthIndex(int length) {
  // The last code is 258 alone; 227 to 257 share the one before it.
  if (length == kMaxMatch) return 28;
  const auto it = std::upper_bound(kLengthBase.begin(), kLengthBase.end() - 1, length);
  return static_cast<int>(it - kLengthBase.begin()) - 1;
}

int DistanceIndex(int distance) {
  const auto it = std::upper_bound(kDistanceBase.begin(), kDistanceBase.end(), distance);
  return static_cast<int>(it - kDistanceBase.begin()) - 1;
}

// Deflate's bit order: least significant bit first. Stores a whole word at a time, so the
// buffer needs `kSlack` bytes beyond what is written.
class BitWriter {
 public:
  explicit BitWriter(std::uint8_t* out) : begin_(out), out_(out) {}

  void Put(std::uint64_t bits, int count) {  // count <= 32
    pending_ |= bits << pending_count_;
    pending_count_ += count;
    std::memcpy(out_, &pending_, sizeof pending_);
    const int whole = pending_count_ >> 3;
    out_ += whole;
    pending_ >>= whole * 8;
    pending_count_ &= 7;
  }

  // Appends bits [from, to) of `source`, which must be readable `kSlack` bytes past `to`.
  void Copy(const std::uint8_t* source, std::uint64_t from, std::uint64_t to) {
    if (pending_count_ == 0 && (from & 7) == 0) {
      const std::uint64_t bytes = (to - from) >> 3;
      std::memcpy(out_, source + (from >> 3), bytes);
      out_ += bytes;
      from += bytes * 8;
    }
    for (; to - from >= 32; from += 32) Put(Load(source, from) & 0xFFFFFFFFu, 32);
    if (to > from) {
      const int count = static_cast<int>(to - from);
      Put(Load(source, from) & ((std::uint64_t{1} << count) - 1), count);
    }
  }

  std::uint64_t bit() const {
    return static_cast<std::uint64_t>(out_ - begin_) * 8 +
           static_cast<std::uint64_t>(pending_count_);
  }
  // Bytes written, the last one padded with zero bits.
  std::size_t Finish() const {
    return static_cast<std::size_t>(out_ - begin_) + (pending_count_ > 0 ? 1 : 0);
  }

 private:
  static std::uint64_t Load(const std::uint8_t* source, std::uint64_t bit) {
    std::uint64_t word;
    std::memcpy(&word, source + (bit >> 3), sizeof word);
    return word >> (bit & 7);
  }

  std::uint8_t* begin_;
  std::uint8_t* out_;
  std::uint64_t pending_ = 0;
  int pending_count_ = 0;
};

// Canonical codes for `lengths`, bit-reversed for the writer (RFC 1951, 3.2.2).
void CanonicalCodes(std::span<const std::uint8_t> lengths, std::uint32_t* codes) {
  std::array<std::uint32_t, kMaxCodeBits + 2> count{};
  for (const std::uint8_t length : lengths) ++count[length];
  count[0] = 0;
  std::array<std::uint32_t, kMaxCodeBits + 2> next{};
  std::uint32_t code = 0;
  for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
    code = (code + count[static_cast<std::size_t>(bits - 1)]) << 1;
    next[static_cast<std::size_t>(bits)] = code;
  }
  for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
    const int length = lengths[symbol];
    if (length == 0) continue;
    const std::uint32_t plain = next[static_cast<std::size_t>(length)]++;
    std::uint32_t reversed = 0;
    for (int b = 0; b < length; ++b) reversed |= ((plain >> b) & 1u) << (length - 1 - b);
    codes[symbol] = reversed;
  }
}

// Two used symbols at least: a one-symbol code is not complete and some inflaters refuse it.
void UseAtLeastTwo(std::span<std::uint32_t> freq) {
  int used =
      static_cast<int>(std::count_if(freq.begin(), freq.end(), [](auto f) { return f > 0; }));
  for (std::size_t i = 0; i < freq.size() && used < 2; ++i) {
    if (freq[i] == 0) {
      freq[i] = 1;
      ++used;
    }
  }
}

// LZ77 over a small buffer: hash chains over three-byte prefixes, longest match with one step
// of lazy evaluation, as deflate's best levels do.
class Matcher {
 public:
  // Parses `text[begin, end)` against everything before each position.
  void Parse(std::string_view text, std::size_t begin, std::vector<SharedDeflate::Symbol>& out) {
    text_ = text;
    ++epoch_;
    if (previous_.size() < text.size()) previous_.resize(text.size());
    inserted_ = 0;
    const std::size_t end = text.size();
    std::size_t at = begin;
    int distance = 0;
    int length = Longest(at, distance);
    while (at < end) {
      if (length >= kMinMatch) {
        int next_distance = 0;
        const int next_length = at + 1 < end ? Longest(at + 1, next_distance) : 0;
        if (next_length > length) {
          out.push_back({static_cast<std::uint8_t>(text[at]), 0});
          ++at;
          length = next_length;
          distance = next_distance;
          continue;
        }
        out.push_back({static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(distance)});
        at += static_cast<std::size_t>(length);
      } else {
        out.push_back({static_cast<std::uint8_t>(text[at]), 0});
        ++at;
      }
      if (at < end) length = Longest(at, distance);
    }
  }

 private:
  static constexpr int kHashBits = 11;
  static constexpr int kMaxChain = 256;

  std::uint32_t Hash(std::size_t at) const {
    const auto* p = reinterpret_cast<const unsigned char*>(text_.data() + at);
    const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  int Longest(std::size_t at, int& distance) {
    for (; inserted_ < at && inserted_ + 2 < text_.size(); ++inserted_) {
      const std::uint32_t h = Hash(inserted_);
      previous_[inserted_] = head_epoch_[h] == epoch_ ? head_[h] : -1;
      head_[h] = static_cast<std::int32_t>(inserted_);
      head_epoch_[h] = epoch_;
    }
    if (at + kMinMatch > text_.size()) return 0;
    const std::uint32_t h = Hash(at);
    std::int32_t candidate = head_epoch_[h] == epoch_ ? head_[h] : -1;
    const std::size_t limit = std::min<std::size_t>(kMaxMatch, text_.size() - at);
    int best = 0;
    for (int chain = 0; candidate >= 0 && chain < kMaxChain; ++chain) {
      const std::size_t from = static_cast<std::size_t>(candidate);
      if (at - from > static_cast<std::size_t>(kMaxDistance)) break;
      if (text_[from + static_cast<std::size_t>(best)] ==
          text_[at + static_cast<std::size_t>(best)]) {
        std::size_t n = 0;
        while (n < limit && text_[from + n] == text_[at + n]) ++n;
        if (static_cast<int>(n) > best) {
          best = static_cast<int>(n);
          distance = static_cast<int>(at - from);
          if (n == limit) break;
        }
      }
      candidate = previous_[from];
    }
    return best;
  }

  std::string_view text_;
  std::vector<std::int32_t> previous_;
  std::array<std::int32_t, 1 << kHashBits> head_{};
  std::array<std::uint32_t, 1 << kHashBits> head_epoch_{};
  std::uint32_t epoch_ = 0;
  std::size_t inserted_ = 0;
};

Matcher& ThreadMatcher() {
  thread_local Matcher matcher;
  return matcher;
}

void PutBigEndian32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t Adler(std::string_view bytes) {
  return static_cast<std::uint32_t>(
      adler32(1, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

}  // namespace

void BuildCodeLengths(std::span<const std::uint32_t> freq, int max_bits,
                      std::span<std::uint8_t> lengths) {
  std::fill(lengths.begin(), lengths.end(), 0);
  std::vector<std::uint64_t> weight(freq.begin(), freq.end());
  std::vector<std::size_t> used;
  for (std::size_t i = 0; i < freq.size(); ++i)
    if (freq[i] > 0) used.push_back(i);
  if (used.empty()) return;
  if (used.size() == 1) {
    lengths[used[0]] = 1;
    return;
  }
  // Huffman's tree; while it is too deep, flatten the weights and build it again. Halving keeps
  // the order of the weights, and equal weights give a balanced tree, so this ends.
  std::vector<std::int32_t> parent;
  for (;;) {
    using Node = std::pair<std::uint64_t, std::int32_t>;  // weight, node
    std::priority_queue<Node, std::vector<Node>, std::greater<>> queue;
    parent.assign(used.size(), -1);
    for (std::size_t k = 0; k < used.size(); ++k)
      queue.push({weight[used[k]], static_cast<std::int32_t>(k)});
    while (queue.size() > 1) {
      const Node a = queue.top();
      queue.pop();
      const Node b = queue.top();
      queue.pop();
      const auto joined = static_cast<std::int32_t>(parent.size());
      parent.push_back(-1);
      parent[static_cast<std::size_t>(a.second)] = joined;
      parent[static_cast<std::size_t>(b.second)] = joined;
      queue.push({a.first + b.first, joined});
    }
    // Parents are created after their children, so depths fill in from the root down.
    std::vector<int> depth(parent.size(), 0);
    for (std::size_t node = parent.size() - 1; node-- > 0;)
      depth[node] = depth[static_cast<std::size_t>(parent[node])] + 1;
    int deepest = 0;
    for (std::size_t k = 0; k < used.size(); ++k) deepest = std::max(deepest, depth[k]);
    if (deepest <= max_bits) {
      for (std::size_t k = 0; k < used.size(); ++k)
        lengths[used[k]] = static_cast<std::uint8_t>(depth[k]);
      return;
    }
    for (const std::size_t i : used) weight[i] = (weight[i] + 1) / 2;
  }
}

// ---- SharedDeflate ----

std::string_view SharedDeflate::Unit(std::size_t unit) const {
  const std::size_t n = lines_.size();
  if (!shifted_) return unit == 0 ? std::string_view() : lines_[unit - 1];
  if (unit == 0) return lines_[0].substr(0, 1);
  std::string_view text = lines_[unit - 1].substr(1);
  // The next line's first byte belongs to this unit, so matches may run into it.
  if (unit < n) return {text.data(), text.size() + 1};
  return text;
}

void SharedDeflate::ParseUnit(std::size_t unit, std::size_t missing, bool tail, Parse& parse) {
  // The two units a recipient has just before this one: the matches reach no further back.
  std::array<std::size_t, 2> before{};
  std::size_t found = 0;
  for (std::size_t k = unit; k-- > 0 && found < 2;) {
    if (k != missing || missing == 0) before[found++] = k;
  }
  window_.clear();
  for (std::size_t k = found; k-- > 0;) {
    // Bytes laid out contiguously in the joined lines are contiguous in the output too; the
    // window is rebuilt in the recipient's order either way.
    window_.append(Unit(before[k]));
  }
  const std::size_t begin = window_.size();
  std::string_view own = Unit(unit);
  if (tail) own.remove_suffix(1);
  window_.append(own);
  parse.first = static_cast<std::uint32_t>(symbols_.size());
  ThreadMatcher().Parse(window_, begin, symbols_);
  parse.last = static_cast<std::uint32_t>(symbols_.size());
}

void SharedDeflate::Prepare(std::span<const std::string_view> lines) {
  lines_.assign(lines.begin(), lines.end());
  const std::size_t n = lines_.size();
  symbols_.clear();
  shared_.clear();
  pool_.clear();
  main_.assign(n + 1, {});
  without_previous_.assign(n + 1, {});
  without_second_.assign(n + 1, {});
  tail_ = {};
  line_start_.assign(n + 1, 0);
  prefix_adler_.assign(n + 1, 1);
  suffix_adler_.assign(n + 1, 1);
  total_size_ = 0;
  if (n == 0) return;

  // Every relay line starts with the same id byte; cutting units one byte later lets a match
  // that ends a line take the next line's first byte with it.
  shifted_ = std::all_of(lines_.begin(), lines_.end(), [this](std::string_view line) {
    return !line.empty() && line[0] == lines_[0][0];
  });
  std::vector<std::uint32_t> line_adler(n);
  for (std::size_t j = 0; j < n; ++j) {
    line_start_[j] = total_size_;
    total_size_ += lines_[j].size();
    line_adler[j] = Adler(lines_[j]);
    prefix_adler_[j + 1] = static_cast<std::uint32_t>(
        adler32_combine(prefix_adler_[j], line_adler[j], static_cast<z_off_t>(lines_[j].size())));
  }
  line_start_[n] = total_size_;
  for (std::size_t j = n; j-- > 0;) {
    suffix_adler_[j] = static_cast<std::uint32_t>(
        adler32_combine(line_adler[j], suffix_adler_[j + 1],
                        static_cast<z_off_t>(total_size_ - line_start_[j + 1])));
  }
  whole_adler_ = prefix_adler_[n];

  for (std::size_t unit = 0; unit <= n; ++unit) {
    ParseUnit(unit, 0, false, main_[unit]);
    if (unit >= 2) ParseUnit(unit, unit - 1, false, without_previous_[unit]);
    if (unit >= 3) ParseUnit(unit, unit - 2, false, without_second_[unit]);
  }
  if (shifted_ && n >= 2) ParseUnit(n - 1, 0, true, tail_);
  WriteParses();
}

void SharedDeflate::WriteParses() {
  const std::size_t n = lines_.size();
  // One table for every packet: the counts of the main parse, which every packet shares almost
  // whole, and a code for each symbol only a replacement parse uses.
  std::array<std::uint32_t, kLiteralCodes> literal_freq{};
  std::array<std::uint32_t, kDistanceCodes> distance_freq{};
  const auto count = [&](const Parse& parse, std::uint32_t weight) {
    for (std::uint32_t s = parse.first; s < parse.last; ++s) {
      const Symbol symbol = symbols_[s];
      if (symbol.distance == 0) {
        literal_freq[symbol.length] += weight;
      } else {
        literal_freq[257 + static_cast<std::size_t>(LengthIndex(symbol.length))] += weight;
        distance_freq[static_cast<std::size_t>(DistanceIndex(symbol.distance))] += weight;
      }
    }
  };
  for (std::size_t unit = 0; unit <= n; ++unit) count(main_[unit], 2);
  for (std::size_t unit = 0; unit <= n; ++unit) {
    count(without_previous_[unit], 1);
    count(without_second_[unit], 1);
  }
  count(tail_, 1);
  literal_freq[kEndOfBlock] = 1;
  UseAtLeastTwo(literal_freq);
  UseAtLeastTwo(distance_freq);
  BuildCodeLengths(literal_freq, kMaxCodeBits, literal_bits_);
  BuildCodeLengths(distance_freq, kMaxCodeBits, distance_bits_);
  CanonicalCodes({literal_bits_, kLiteralCodes}, literal_code_);
  CanonicalCodes({distance_bits_, kDistanceCodes}, distance_code_);

  // At most 15 + 5 + 15 + 13 bits a symbol, plus the header.
  shared_.assign(symbols_.size() * 7 + 1024 + kSlack, 0);
  pool_.assign(symbols_.size() * 7 + kSlack, 0);
  BitWriter shared(shared_.data());
  BitWriter pool(pool_.data());

  // The block header: final block, dynamic codes, then both code length tables run-length
  // coded (RFC 1951, 3.2.7).
  int literal_count = kLiteralCodes;
  while (literal_count > 257 && literal_bits_[literal_count - 1] == 0) --literal_count;
  int distance_count = kDistanceCodes;
  while (distance_count > 1 && distance_bits_[distance_count - 1] == 0) --distance_count;
  std::vector<std::uint8_t> all(literal_bits_, literal_bits_ + literal_count);
  all.insert(all.end(), distance_bits_, distance_bits_ + distance_count);
  struct Run {
    int symbol;
    int extra;
  };
  std::vector<Run> runs;
  for (std::size_t i = 0; i < all.size();) {
    const int length = all[i];
    std::size_t run = 1;
    while (i + run < all.size() && all[i + run] == length) ++run;
    i += run;
    if (length == 0) {
      while (run >= 11) {
        const std::size_t take = std::min<std::size_t>(run, 138);
        runs.push_back({18, static_cast<int>(take - 11)});
        run -= take;
      }
      if (run >= 3) {
        runs.push_back({17, static_cast<int>(run - 3)});
        run = 0;
      }
    } else {
      runs.push_back({length, 0});
      --run;
      while (run >= 3) {
        const std::size_t take = std::min<std::size_t>(run, 6);
        runs.push_back({16, static_cast<int>(take - 3)});
        run -= take;
      }
    }
    for (; run > 0; --run) runs.push_back({length, 0});
  }
  std::array<std::uint32_t, 19> run_freq{};
  for (const Run& run : runs) ++run_freq[static_cast<std::size_t>(run.symbol)];
  UseAtLeastTwo(run_freq);
  std::array<std::uint8_t, 19> run_bits{};
  std::array<std::uint32_t, 19> run_code{};
  BuildCodeLengths(run_freq, kMaxLengthCodeBits, run_bits);
  CanonicalCodes(run_bits, run_code.data());
  int order_count = 19;
  while (order_count > 4 &&
         run_bits[kLengthCodeOrder[static_cast<std::size_t>(order_count - 1)]] == 0)
    --order_count;
  shared.Put(1, 1);  // the last block
  shared.Put(2, 2);  // dynamic Huffman codes
  shared.Put(static_cast<std::uint64_t>(literal_count - 257), 5);
  shared.Put(static_cast<std::uint64_t>(distance_count - 1), 5);
  shared.Put(static_cast<std::uint64_t>(order_count - 4), 4);
  for (int k = 0; k < order_count; ++k)
    shared.Put(run_bits[kLengthCodeOrder[static_cast<std::size_t>(k)]], 3);
  static constexpr std::array<int, 19> kRunExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 2, 3, 7};
  for (const Run& run : runs) {
    const auto s = static_cast<std::size_t>(run.symbol);
    shared.Put(run_code[s], run_bits[s]);
    if (kRunExtraBits[s] > 0) shared.Put(static_cast<std::uint64_t>(run.extra), kRunExtraBits[s]);
  }

  const auto write = [this](BitWriter& writer, Parse& parse) {
    parse.bit_begin = writer.bit();
    for (std::uint32_t s = parse.first; s < parse.last; ++s) {
      const Symbol symbol = symbols_[s];
      if (symbol.distance == 0) {
        writer.Put(literal_code_[symbol.length], literal_bits_[symbol.length]);
        continue;
      }
      const int li = LengthIndex(symbol.length);
      const std::size_t lc = 257 + static_cast<std::size_t>(li);
      writer.Put(literal_code_[lc], literal_bits_[lc]);
      writer.Put(
          static_cast<std::uint64_t>(symbol.length - kLengthBase[static_cast<std::size_t>(li)]),
          kLengthExtra[static_cast<std::size_t>(li)]);
      const auto di = static_cast<std::size_t>(DistanceIndex(symbol.distance));
      writer.Put(distance_code_[di], distance_bits_[di]);
      writer.Put(static_cast<std::uint64_t>(symbol.distance - kDistanceBase[di]),
                 kDistanceExtra[di]);
    }
    parse.bit_end = writer.bit();
  };
  for (std::size_t unit = 0; unit <= n; ++unit) write(shared, main_[unit]);
  for (std::size_t unit = 0; unit <= n; ++unit) {
    write(pool, without_previous_[unit]);
    write(pool, without_second_[unit]);
  }
  write(pool, tail_);
  // Readable one word past the last bit, for `BitWriter::Copy`.
  shared_.resize(shared.Finish() + kSlack);
  pool_.resize(pool.Finish() + kSlack);
}

std::size_t SharedDeflate::AppendStream(std::size_t omitted, std::string& out) const {
  const std::size_t n = lines_.size();
  if (n == 0 || (n == 1 && omitted == 0)) return 0;  // nothing to send
  if (omitted >= n) omitted = kNoLine;
  const std::size_t start = out.size();
  out.resize(start + 2 + shared_.size() + pool_.size() + 8 + kSlack);
  auto* bytes = reinterpret_cast<std::uint8_t*>(out.data() + start);
  bytes[0] = 0x78;  // deflate, 32 KiB window
  bytes[1] = 0xDA;  // best compression, no dictionary; the header is a multiple of 31
  BitWriter writer(bytes + 2);
  std::uint32_t adler = whole_adler_;
  const std::uint64_t end = main_[n].bit_end;
  if (omitted == kNoLine) {
    writer.Copy(shared_.data(), 0, end);
  } else {
    const std::size_t unit = omitted + 1;
    if (shifted_ && unit == n) {
      // The last line is left out: the line before it ends without the next line's first byte.
      writer.Copy(shared_.data(), 0, main_[n - 1].bit_begin);
      writer.Copy(pool_.data(), tail_.bit_begin, tail_.bit_end);
    } else {
      writer.Copy(shared_.data(), 0, main_[unit].bit_begin);
    }
    if (unit + 1 <= n) {
      const Parse& p = without_previous_[unit + 1];
      writer.Copy(pool_.data(), p.bit_begin, p.bit_end);
    }
    if (unit + 2 <= n) {
      const Parse& p = without_second_[unit + 2];
      writer.Copy(pool_.data(), p.bit_begin, p.bit_end);
    }
    if (unit + 3 <= n) writer.Copy(shared_.data(), main_[unit + 3].bit_begin, end);
    adler = static_cast<std::uint32_t>(
        adler32_combine(prefix_adler_[omitted], suffix_adler_[omitted + 1],
                        static_cast<z_off_t>(total_size_ - line_start_[omitted + 1])));
  }
  writer.Put(literal_code_[kEndOfBlock], literal_bits_[kEndOfBlock]);
  const std::size_t size = 2 + writer.Finish();
  PutBigEndian32(bytes + size, adler);
  out.resize(start + size + 4);
  return size + 4;
}

// ---- RelayPackets ----

void RelayPackets::Reset(Compressor compressor) {
  compressor_ = compressor;
  text_.clear();
  starts_.clear();
  lines_.clear();
  owners_.clear();
  cut_count_ = 0;
}

void RelayPackets::Add(std::string_view line, std::uint64_t owner) {
  starts_.push_back(text_.size());
  text_.append(line);
  owners_.push_back(owner);
}

void RelayPackets::Prepare() {
  lines_.clear();
  for (std::size_t j = 0; j < starts_.size(); ++j) {
    const std::size_t end = j + 1 < starts_.size() ? starts_[j + 1] : text_.size();
    lines_.emplace_back(text_.data() + starts_[j], end - starts_[j]);
  }
  cut_count_ = 0;
  const auto close = [this](std::size_t first, std::size_t last) {
    if (cut_count_ == cuts_.size()) cuts_.emplace_back();
    Cut& cut = cuts_[cut_count_++];
    cut.first = first;
    cut.last = last;
    cut.whole.clear();
    cut.whole_built = false;
    if (compressor_ == Compressor::kShared)
      cut.deflate.Prepare(std::span(lines_).subspan(first, last - first));
  };
  // The rule of `PacketConnection::QueueMessage`, applied to the list all batches come from.
  std::size_t first = 0;
  std::size_t size = 0;
  for (std::size_t j = 0; j < lines_.size(); ++j) {
    if (size + lines_[j].size() >= kBatchLimit && j > first) {
      close(first, j);
      first = j;
      size = 0;
    }
    size += lines_[j].size();
    if (size >= kBatchLimit) {
      close(first, j + 1);
      first = j + 1;
      size = 0;
    }
  }
  if (first < lines_.size()) close(first, lines_.size());
}

void RelayPackets::AppendBatch(const Cut& cut, std::uint64_t recipient, std::string& batch) const {
  for (std::size_t j = cut.first; j < cut.last; ++j)
    if (owners_[j] != recipient) batch.append(lines_[j]);
}

void RelayPackets::PacketsFor(std::uint64_t recipient, std::vector<std::string>& packets) {
  // The strings of the last call are reused: their memory serves the next recipient.
  std::size_t used = 0;
  const auto next_packet = [&packets, &used]() -> std::string& {
    if (used == packets.size()) packets.emplace_back();
    std::string& packet = packets[used++];
    packet.clear();
    return packet;
  };
  for (std::size_t c = 0; c < cut_count_; ++c) {
    Cut& cut = cuts_[c];
    std::size_t owned = 0;
    std::size_t own_line = 0;
    for (std::size_t j = cut.first; j < cut.last; ++j) {
      if (owners_[j] == recipient) {
        ++owned;
        own_line = j - cut.first;
      }
    }
    if (owned == cut.last - cut.first) continue;  // nothing in this batch for it
    std::string& packet = next_packet();
    if (owned == 0) {
      // Everyone who owns none of the lines gets the same bytes: build them once.
      if (!cut.whole_built) {
        if (compressor_ == Compressor::kShared) {
          cut.deflate.AppendStream(SharedDeflate::kNoLine, cut.whole);
        } else {
          batch_.clear();
          AppendBatch(cut, recipient, batch_);
          CompressAppend(batch_, cut.whole, compressor_);
        }
        cut.whole_built = true;
      }
      packet = cut.whole;
      continue;
    }
    if (compressor_ == Compressor::kShared && owned == 1) {
      cut.deflate.AppendStream(own_line, packet);
      if (packet.size() <= kMaxPacketBody) continue;
      packet.clear();  // the per-session compressor may still frame it
    }
    batch_.clear();
    AppendBatch(cut, recipient, batch_);
    CompressAppend(batch_, packet, compressor_);
  }
  packets.resize(used);
}

std::vector<std::string> RelayPackets::BatchesFor(std::uint64_t recipient) const {
  std::vector<std::string> batches;
  for (std::size_t c = 0; c < cut_count_; ++c) {
    std::string batch;
    AppendBatch(cuts_[c], recipient, batch);
    if (!batch.empty()) batches.push_back(std::move(batch));
  }
  return batches;
}

bool RelayPackets::Verify(std::uint64_t recipient, const std::vector<std::string>& packets) const {
  const std::vector<std::string> batches = BatchesFor(recipient);
  if (batches.size() != packets.size()) return false;
  std::string inflated;
  for (std::size_t k = 0; k < packets.size(); ++k) {
    if (InflateBounded(packets[k], kMaxBatchSize, inflated) != InflateResult::kOk) return false;
    if (inflated != batches[k]) return false;
  }
  return true;
}

}  // namespace tarvo::protocol
