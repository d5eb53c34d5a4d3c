// The server's configuration file: any contents give a port text, and the file written for that
// text gives it back (line breaks, which the file cannot hold, left out).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/core/server_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvo::server;
  const std::string port_text =
      ParseServerConfig(std::string_view(reinterpret_cast<const char*>(data), size));
  std::string expected;
  for (char c : port_text) {
    if (c != '\r' && c != '\n') expected.push_back(c);
  }
  if (expected.empty()) expected = kDefaultPortText;
  if (ParseServerConfig(FormatServerConfig(port_text)) != expected) {
    std::fprintf(stderr, "server config: written port text reads back differently\n");
    std::abort();
  }
  const auto port = ParsePortText(port_text);
  if (!port && port.error().empty()) {
    std::fprintf(stderr, "server config: refused port text without a reason\n");
    std::abort();
  }
  return 0;
}
