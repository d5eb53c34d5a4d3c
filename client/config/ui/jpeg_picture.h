#pragma once

#include <QImage>
#include <filesystem>

namespace tarvo::client {

/// Decodes a JPEG file with libjpeg into an RGB32 image. A missing file, or one libjpeg cannot
/// decode, gives a null image; libjpeg's errors never end the program.
QImage ReadJpegFile(const std::filesystem::path& file);

}  // namespace tarvo::client
