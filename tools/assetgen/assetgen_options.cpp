#include "tools/assetgen/assetgen_options.h"

#include <CLI/CLI.hpp>
#include <string>

#include "base/cli_parse.h"

namespace tarvo::assetgen {

AssetgenCommandLine ParseAssetgenOptions(int argc, const char* const* argv) {
  AssetgenOptions o;
  CLI::App cli("Writes the default avatar meshes, level and pictures of the client");
  cli.footer(
      "With --preview the assets are written as usual, then the level with one avatar, its "
      "light, shadow and name label is drawn from the files just written. Drawing needs "
      "OpenGL 3.3: run on a display, or without one under xvfb-run -a (Mesa's software "
      "renderer does). Without OpenGL the preview fails with a message and exit status 2.\n");
  std::string out = "data/client";
  cli.add_option("folder", out, "Folder to write into")->capture_default_str();
  std::string preview_file;
  auto* preview_option =
      cli.add_option("--preview", preview_file,
                     "Also render a preview of level1.x with one avatar into this PNG file");
  cli.add_option("--width", o.preview.width, "Preview width in pixels")
      ->check(CLI::Range(16, 8192))
      ->needs(preview_option)
      ->capture_default_str();
  cli.add_option("--height", o.preview.height, "Preview height in pixels")
      ->check(CLI::Range(16, 8192))
      ->needs(preview_option)
      ->capture_default_str();
  if (auto ended = base::ParseOrEnd<AssetgenCommandLine>(cli, argc, argv)) return *ended;
  o.folder = out;
  o.preview.data_folder = out;
  if (!preview_file.empty()) o.preview_file = preview_file;
  AssetgenCommandLine line;
  line.options = std::move(o);
  return line;
}

}  // namespace tarvo::assetgen
