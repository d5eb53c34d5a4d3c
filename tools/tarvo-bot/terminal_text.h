#pragma once

#include <string>
#include <string_view>

namespace tarvo::bot {

/// Latin-1 text from the network as a terminal may safely show it: every control byte (0x00 to
/// 0x1F, 0x7F and 0x80 to 0x9F) becomes "\xNN" in lowercase hex, the other bytes of 0xA0 and
/// above become UTF-8. Line breaks are escaped too; a caller that keeps them splits first.
std::string TerminalText(std::string_view latin1);

}  // namespace tarvo::bot
