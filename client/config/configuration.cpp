#include "client/config/configuration.h"

#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "client/config/des_cipher.h"
#include "client/config/integer_parser.h"

namespace tarvo::client {
namespace {

// A configuration file is a few hundred bytes; anything past this bound is not ours to read.
constexpr std::size_t kMaxFileSize = 1 << 20;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) {
      return false;
    }
  }
  return true;
}

// Lines end at CR, at LF, or at the pair.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (text[pos] == '\r' || text[pos] == '\n') {
      lines.push_back(text.substr(start, pos - start));
      if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') {
        ++pos;
      }
      start = pos + 1;
    }
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
  }
  return lines;
}

// The value of the first line whose key (the text before its first "=") is `key`; empty when
// no line has it.
std::string_view ValueOf(const std::vector<std::string_view>& lines, std::string_view key) {
  for (const std::string_view line : lines) {
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos && EqualIgnoringCase(line.substr(0, equals), key)) {
      return line.substr(equals + 1);
    }
  }
  return {};
}

void SetIfNotEmpty(std::string& target, std::string_view value) {
  if (!value.empty()) {
    target.assign(value);
  }
}

void SetColourIfParses(std::uint32_t& target, std::string_view value) {
  if (const std::optional<std::int32_t> parsed = ParseInteger(value)) {
    target = static_cast<std::uint32_t>(*parsed);
  }
}

bool IsTrue(std::string_view value) { return EqualIgnoringCase(value, "true"); }

std::string ColourText(std::uint32_t colour) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "0x%06X", colour);
  return buffer;
}

std::optional<std::string> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  std::string text(kMaxFileSize, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

}  // namespace

void ApplyConfigurationText(std::string_view text, ClientSettings& settings) {
  const std::vector<std::string_view> lines = SplitLines(text);
  SetIfNotEmpty(settings.ServerHistory, ValueOf(lines, "serveraddr"));
  SetIfNotEmpty(settings.ServerPort, ValueOf(lines, "serverport"));
  SetIfNotEmpty(settings.AccountName, ValueOf(lines, "accountname"));
  SetIfNotEmpty(settings.AccountPassword, ValueOf(lines, "password"));
  settings.FixedPort = IsTrue(ValueOf(lines, "fixedport"));
  if (const std::optional<std::int32_t> port = ParseInteger(ValueOf(lines, "fixedudpport"))) {
    settings.FixedUdpPort = *port;
  }
  settings.NoUdp = IsTrue(ValueOf(lines, "noudp"));
  SetIfNotEmpty(settings.BodyMesh, ValueOf(lines, "bodyx"));
  SetIfNotEmpty(settings.HeadMesh, ValueOf(lines, "headx"));
  SetIfNotEmpty(settings.BodyTex, ValueOf(lines, "bodytex"));
  SetColourIfParses(settings.ArmColor, ValueOf(lines, "armcolor"));
  SetColourIfParses(settings.ShoeColor, ValueOf(lines, "shoecolor"));
  SetColourIfParses(settings.HandColor, ValueOf(lines, "handcolor"));
}

std::string ConfigurationText(const ClientSettings& settings) {
  const auto boolean = [](bool value) { return value ? "true" : "false"; };
  std::string text;
  const auto line = [&text](std::string_view key, std::string_view value) {
    text.append(key).append("=").append(value).append("\r\n");
  };
  line("serveraddr", settings.ServerHistory);
  line("serverport", settings.ServerPort);
  line("fixedport", boolean(settings.FixedPort));
  line("fixedudpport", std::to_string(settings.FixedUdpPort));
  line("noudp", boolean(settings.NoUdp));
  line("bodyx", settings.BodyMesh);
  line("headx", settings.HeadMesh);
  line("bodytex", settings.BodyTex);
  line("armcolor", ColourText(settings.ArmColor));
  line("shoecolor", ColourText(settings.ShoeColor));
  line("handcolor", ColourText(settings.HandColor));
  return text;
}

bool LoadConfiguration(const std::filesystem::path& directory, UserValueStore* user_store,
                       ClientSettings& settings) {
  const std::optional<std::string> text = ReadFile(directory / kConfigurationFileName);
  if (!text) {
    return false;
  }
  ApplyConfigurationText(*text, settings);
  if (user_store != nullptr) {
    if (auto nickname = user_store->Read("nickname")) {
      SetIfNotEmpty(settings.Nickname, *nickname);
    }
    if (auto account = user_store->Read("accountname")) {
      SetIfNotEmpty(settings.AccountName, *account);
    }
    if (auto password = user_store->Read("password"); password && !password->empty()) {
      settings.AccountPassword = DecryptPasswordText(*password, PasswordKey);
    }
  }
  return true;
}

base::Result<void> SaveConfiguration(const std::filesystem::path& directory,
                                     UserValueStore* user_store, const ClientSettings& settings) {
  base::Result<void> written =
      base::WriteFileAtomically(directory / kConfigurationFileName, ConfigurationText(settings));
  if (user_store == nullptr) return written;
  // The first failed value abandons the rest. Only logged: a user whose settings cannot be
  // written (a read-only home) would otherwise be told so on every save.
  const bool stored =
      user_store->Write("nickname", settings.Nickname) &&
      user_store->Write("accountname", settings.AccountName) &&
      user_store->Write("password", EncryptPasswordText(settings.AccountPassword, PasswordKey));
  if (!stored) spdlog::warn("the nickname, account name and password could not be stored");
  return written;
}

std::filesystem::path ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || program.empty()) {
    return std::filesystem::current_path(error);
  }
  return program.parent_path();
}

}  // namespace tarvo::client
