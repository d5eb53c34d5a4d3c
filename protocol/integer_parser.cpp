#include "protocol/integer_parser.h"

namespace tarvo::protocol {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
    ++pos;
  }
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  bool hexadecimal = false;
  if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
    hexadecimal = true;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == '0' &&
             (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    hexadecimal = true;
    pos += 2;
  }
  if (pos >= text.size()) {
    return std::nullopt;
  }

  // Accumulate in 64 bits and stop as soon as the value leaves what 32 bits may hold.
  const std::uint64_t limit =
      hexadecimal ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  const int base = hexadecimal ? 16 : 10;
  std::uint64_t value = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = HexDigit(text[pos]);
    if (digit < 0 || digit >= base) {
      return std::nullopt;
    }
    value = value * base + static_cast<std::uint64_t>(digit);
    if (value > limit) {
      return std::nullopt;
    }
  }
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  if (negative) {
    bits = 0u - bits;
  }
  return static_cast<std::int32_t>(bits);
}

}  // namespace tarvo::protocol
