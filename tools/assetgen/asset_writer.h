#pragma once

#include "tools/assetgen/assetgen_options.h"

namespace tarvo::assetgen {

/// Picks Qt's platform before the application starts: the pictures are drawn into images and
/// need no display; the preview needs OpenGL, which comes through the display when there is
/// one, and without one the off-screen platform is tried. A platform set by the user stays.
void ChooseQtPlatform(const AssetgenOptions& options);

/// Writes the meshes and pictures into the options' folder, then the preview when asked for.
/// Returns the exit status: 1 when a file cannot be written, 2 when the preview fails.
int WriteAssets(const AssetgenOptions& options);

}  // namespace tarvo::assetgen
