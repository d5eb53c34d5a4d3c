#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvo::client {

/// Joins items with commas. An item holding a blank, a control character, a comma or a double
/// quote is put in double quotes with inner quotes doubled; one empty item is written as "".
std::string ToCommaText(const std::vector<std::string>& items);

/// Splits comma text: items end at a comma or at an unquoted blank or control character;
/// quoted items may hold anything, with "" standing for one quote. Empty text gives no items.
std::vector<std::string> FromCommaText(std::string_view text);

/// Puts `address` first in the history, drops other entries equal to it ignoring case, and
/// keeps at most `limit` entries. An empty address leaves the history as it is.
std::vector<std::string> RememberServerAddress(std::vector<std::string> history,
                                               const std::string& address, std::size_t limit = 5);

}  // namespace tarvo::client
