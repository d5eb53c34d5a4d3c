#pragma once

#include <filesystem>
#include <optional>

#include "base/command_line.h"
#include "tools/assetgen/preview_scene.h"

namespace tarvo::assetgen {

/// Everything assetgen's command line says.
struct AssetgenOptions {
  std::filesystem::path folder = "data/client";  ///< where the assets are written
  /// --preview: the PNG file the level with one avatar is drawn into.
  std::optional<std::filesystem::path> preview_file;
  PreviewOptions preview;  ///< its size; `data_folder` is `folder`
};

using AssetgenCommandLine = base::CommandLine<AssetgenOptions>;

/// Parses assetgen's command line. --help ends with status 0 and the help text, a bad command
/// line with the parser's status and the reason.
AssetgenCommandLine ParseAssetgenOptions(int argc, const char* const* argv);

}  // namespace tarvo::assetgen
