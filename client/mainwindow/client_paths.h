#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "client/mainwindow/adventure_window.h"

namespace tarvo::client {

/// The folders that exist among those that may hold the client's bundled files: beside the
/// installed program (share/tarvo3d), beside the program itself, and the source tree's
/// data/client.
std::vector<std::string> FindAssetFolders(const std::filesystem::path& program_directory);

/// The client's paths for this user: bundled files found as above, received levels and
/// screenshots in the user's writable application folder (or `data_folder` when given).
ClientPaths DefaultClientPaths(const std::filesystem::path& program_directory,
                               const std::filesystem::path& data_folder = {});

}  // namespace tarvo::client
