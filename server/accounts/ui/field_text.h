#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::server {

/// Shortest general decimal form with up to 15 significant digits, "." as separator whatever
/// the process locale.
std::string FormatNumber(double value);

/// A decimal number with "." as separator, blanks around it allowed; nothing for any other
/// text, and for infinities and NaN.
std::optional<double> ParseNumber(std::string_view text);

/// A 32-bit integer, decimal or hexadecimal after "$", "0x", "0X", "x" or "X", with an optional
/// sign and blanks around it; nothing when the text is not one or does not fit.
std::optional<std::int32_t> ParseInteger(std::string_view text);

/// "0x" and at least six upper-case hexadecimal digits.
std::string FormatColour(std::uint32_t value);

/// The text without leading and trailing blanks and control characters.
std::string_view TrimBlanks(std::string_view text);

}  // namespace tarvo::server
