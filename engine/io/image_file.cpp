#include "engine/io/image_file.h"

#include <spdlog/spdlog.h>

#include <QImageReader>
#include <cstring>

namespace tarvo::engine::io {

std::optional<Image> LoadImageFile(const std::string& path) {
  QImageReader reader(QString::fromStdString(path));
  QImage image = reader.read();
  if (image.isNull()) {
    spdlog::warn("picture {} could not be read: {}", path, reader.errorString().toStdString());
    return std::nullopt;
  }
  return FromQImage(image);
}

Image FromQImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  Image out;
  out.width = image.width();
  out.height = image.height();
  out.pixels.resize(static_cast<size_t>(out.width) * out.height);
  for (int y = 0; y < out.height; ++y) {
    std::memcpy(&out.pixels[static_cast<size_t>(y) * out.width], image.constScanLine(y),
                static_cast<size_t>(out.width) * 4);
  }
  return out;
}

QImage ToQImage(const Image& image) {
  QImage out(image.width, image.height, QImage::Format_ARGB32);
  for (int y = 0; y < image.height; ++y) {
    std::memcpy(out.scanLine(y), &image.pixels[static_cast<size_t>(y) * image.width],
                static_cast<size_t>(image.width) * 4);
  }
  return out;
}

}  // namespace tarvo::engine::io
