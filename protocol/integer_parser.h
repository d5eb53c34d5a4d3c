#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvo::protocol {

/// Parses a 32-bit integer as configuration files, typed fields and port texts give it: optional
/// leading blanks, an optional sign, then decimal digits or hexadecimal digits after "$", "x", "X",
/// "0x" or "0X". Decimal values must lie in the signed 32-bit range; hexadecimal values may use all
/// 32 bits and are taken as the two's-complement pattern ("$FFFFFFFF" is -1). Anything else,
/// including trailing text, gives nullopt.
std::optional<std::int32_t> ParseInteger(std::string_view text);

}  // namespace tarvo::protocol
