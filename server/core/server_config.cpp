#include "server/core/server_config.h"

#include "base/files.h"
#include "protocol/integer_parser.h"

namespace tarvo::server {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string ParseServerConfig(std::string_view contents) {
  std::size_t pos = 0;
  while (pos < contents.size()) {
    std::size_t end = contents.find('\n', pos);
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = contents.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (!EqualsIgnoringCase(line.substr(0, equals), "serverport")) continue;
    const std::string_view value = line.substr(equals + 1);
    return std::string(value.empty() ? kDefaultPortText : value);
  }
  return std::string(kDefaultPortText);
}

std::string ReadServerConfig(const std::filesystem::path& file) {
  const base::Result<std::string> contents = base::ReadWholeFile(file);
  if (!contents) return std::string(kDefaultPortText);
  return ParseServerConfig(*contents);
}

std::string FormatServerConfig(std::string_view port_text) {
  std::string out = "serverport=";
  for (char c : port_text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  out += "\r\n";
  return out;
}

base::Result<void> WriteServerConfig(const std::filesystem::path& file,
                                     std::string_view port_text) {
  // Like every file the server writes: for the service's user alone.
  return base::WriteFileAtomically(file, FormatServerConfig(port_text), 0600);
}

base::Result<std::uint16_t> ParsePortText(std::string_view port_text) {
  const std::optional<std::int32_t> parsed = protocol::ParseInteger(port_text);
  if (!parsed) return base::Fail("'" + std::string(port_text) + "' is not a valid integer value");
  const std::int32_t value = *parsed;
  if (value < 0 || value > 65535)
    return base::Fail("port " + std::string(port_text) + " lies outside 0..65535");
  return static_cast<std::uint16_t>(value);
}

}  // namespace tarvo::server
