// Writes the client's default meshes and pictures into a folder (data/client in the repository),
// and on request a preview picture of them drawn the way the client draws them.
#include <QGuiApplication>
#include <cstdio>
#include <exception>
#include <iostream>

#include "tools/assetgen/asset_writer.h"
#include "tools/assetgen/assetgen_options.h"

static int RunProgram(int argc, char** argv) {
  using namespace tarvo::assetgen;
  const AssetgenCommandLine command_line = ParseAssetgenOptions(argc, argv);
  if (!command_line.options) return command_line.Finish(std::cout, std::cerr);
  ChooseQtPlatform(*command_line.options);
  QGuiApplication app(argc, argv);
  return WriteAssets(*command_line.options);
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "assetgen", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "assetgen");
  }
  return 1;
}
