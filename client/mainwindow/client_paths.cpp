#include "client/mainwindow/client_paths.h"

#include <QStandardPaths>

namespace tarvo::client {

std::vector<std::string> FindAssetFolders(const std::filesystem::path& program_directory) {
  std::vector<std::filesystem::path> candidates = {
      program_directory / ".." / "share" / "tarvo3d",
      program_directory,
#ifdef TARVO_SOURCE_DATA_DIR
      TARVO_SOURCE_DATA_DIR,
#endif
  };
  std::vector<std::string> folders;
  for (const auto& folder : candidates) {
    std::error_code error;
    if (std::filesystem::exists(folder / "body.x", error)) {
      folders.push_back(std::filesystem::weakly_canonical(folder, error).string());
    }
  }
  return folders;
}

ClientPaths DefaultClientPaths(const std::filesystem::path& program_directory,
                               const std::filesystem::path& data_folder) {
  ClientPaths paths;
  paths.asset_folders = FindAssetFolders(program_directory);
  std::filesystem::path base = data_folder;
  if (base.empty()) {
    base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
  }
  // Never the program's folder: it may be read-only, and levels come from any server.
  paths.level_folder = base / "levels";
  paths.screenshot_folder = base / "screenshots";
  return paths;
}

}  // namespace tarvo::client
