#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.h"
#include "client/config/client_settings.h"
#include "client/config/user_store.h"

namespace tarvo::client {

inline constexpr std::string_view kConfigurationFileName = "tarvo3dconfig.txt";

/// Applies the known keys of a configuration text to `settings`. Keys match case-insensitively
/// up to the first "=" of a line, the first matching line wins; empty or malformed values keep
/// the value `settings` already holds.
void ApplyConfigurationText(std::string_view text, ClientSettings& settings);

/// The file's 11 lines, each ended by CR LF. Account name and password are never among them.
std::string ConfigurationText(const ClientSettings& settings);

/// Reads `directory`/tarvo3dconfig.txt into `settings`; only when that file exists, the
/// nickname, account name and password of `user_store` (may be null) then override it.
/// Returns whether the file existed.
bool LoadConfiguration(const std::filesystem::path& directory, UserValueStore* user_store,
                       ClientSettings& settings);

/// Replaces `directory`/tarvo3dconfig.txt atomically, then stores the nickname, account name and
/// enciphered password in `user_store` (may be null). Fails when the file could not be written;
/// the per-user values are stored either way.
base::Result<void> SaveConfiguration(const std::filesystem::path& directory,
                                     UserValueStore* user_store, const ClientSettings& settings);

/// The directory of the running program, where the configuration file lives by default.
std::filesystem::path ProgramDirectory();

}  // namespace tarvo::client
