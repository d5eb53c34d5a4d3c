#include "server/core/log_text.h"

#include <cstdio>

namespace tarvo::server {

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte > 126 || c == '\\' || c == '"') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Quoted(std::string_view text) { return "\"" + Printable(text) + "\""; }

}  // namespace tarvo::server
