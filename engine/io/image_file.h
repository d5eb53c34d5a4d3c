#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "engine/scene/image.h"

namespace tarvo::engine::io {

/// Reads a picture file (BMP, PNG, GIF, JPEG); none, with a log line, when it cannot be read.
std::optional<Image> LoadImageFile(const std::string& path);
/// The pixels of a QImage as an engine image.
Image FromQImage(const QImage& image);
/// An engine image as a QImage (32-bit ARGB).
QImage ToQImage(const Image& image);

}  // namespace tarvo::engine::io
