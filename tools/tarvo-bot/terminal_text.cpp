#include "tools/tarvo-bot/terminal_text.h"

namespace tarvo::bot {

std::string TerminalText(std::string_view latin1) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(latin1.size());
  for (const char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0)) {
      // A terminal acts on these (ESC and CSI sequences, OSC titles, the bell) instead of
      // showing them.
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else if (byte >= 0x80) {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace tarvo::bot
