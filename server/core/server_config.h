#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tarvo::server {

/// Name of the configuration file in the server directory.
inline constexpr std::string_view kServerConfigFileName = "serverconfig.txt";
/// Port text used when the configuration gives none.
inline constexpr std::string_view kDefaultPortText = "14901";

/// The port text of a configuration file's contents: the value of the first "serverport=" line
/// (key compared without regard to letter case), or the default when there is none or it is
/// empty.
std::string ParseServerConfig(std::string_view contents);

/// The port text stored in `file`; the default when the file is missing or unreadable.
std::string ReadServerConfig(const std::filesystem::path& file);

/// The file's contents for a port text: the one line "serverport=" + text, ended by CR LF.
/// Line breaks inside the text are left out so the file stays one line.
std::string FormatServerConfig(std::string_view port_text);

/// Writes the configuration anew, atomically.
base::Result<void> WriteServerConfig(const std::filesystem::path& file, std::string_view port_text);

/// The port a port text names: optional blanks, an optional sign, decimal digits, and a value
/// from 0 to 65535 (0 lets the system choose).
base::Result<std::uint16_t> ParsePortText(std::string_view port_text);

}  // namespace tarvo::server
