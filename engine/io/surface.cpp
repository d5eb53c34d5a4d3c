#include "engine/io/surface.h"

#include <spdlog/spdlog.h>

#include <QImageReader>
#include <algorithm>

#include "engine/io/image_file.h"

namespace tarvo::engine::io {

Surface::Surface(int width, int height)
    : image_(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32) {
  image_.fill(0xFF000000u);
}

std::shared_ptr<Surface> Surface::Create(int width, int height) {
  return std::make_shared<Surface>(width, height);
}

base::Result<void> Surface::LoadBitmap(const std::string& path) {
  QImageReader reader(QString::fromStdString(path));
  QImage picture = reader.read();
  if (picture.isNull()) {
    const std::string reason = reader.errorString().toStdString();
    spdlog::warn("picture {} could not be read: {}", path, reason);
    return base::Fail("picture " + path + " could not be read: " + reason);
  }
  image_ = picture.convertToFormat(QImage::Format_RGB32);
  return base::Ok();
}

void Surface::Fill(uint32_t rgb) { image_.fill(0xFF000000u | rgb); }

void Surface::FillRect(const QRect& rect, uint32_t rgb) {
  const QRect clipped = rect.intersected(image_.rect());
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(image_.scanLine(y));
    std::fill(line + clipped.left(), line + clipped.right() + 1, 0xFF000000u | rgb);
  }
}

void Surface::Draw(int x, int y, const Surface& source, const QRect& source_rect,
                   std::optional<uint32_t> transparent) {
  QRect from = source_rect.intersected(source.image_.rect());
  // Where the rectangle lands, clipped to this surface; shift the source to match.
  QRect to(x + (from.left() - source_rect.left()), y + (from.top() - source_rect.top()),
           from.width(), from.height());
  const QRect clipped = to.intersected(image_.rect());
  if (clipped.isEmpty()) return;
  from.translate(clipped.left() - to.left(), clipped.top() - to.top());
  const uint32_t key = transparent ? (*transparent & 0xFFFFFFu) : 0;
  for (int row = 0; row < clipped.height(); ++row) {
    const auto* in =
        reinterpret_cast<const uint32_t*>(source.image_.constScanLine(from.top() + row));
    auto* out = reinterpret_cast<uint32_t*>(image_.scanLine(clipped.top() + row));
    for (int col = 0; col < clipped.width(); ++col) {
      const uint32_t pixel = in[from.left() + col];
      if (transparent && (pixel & 0xFFFFFFu) == key) continue;
      out[clipped.left() + col] = pixel | 0xFF000000u;
    }
  }
}

uint32_t Surface::PixelAt(int x, int y) const {
  if (!image_.rect().contains(x, y)) return 0;
  return image_.pixel(x, y) & 0xFFFFFFu;
}

std::shared_ptr<Texture> Surface::CreateTexture() {
  auto texture = std::make_shared<Texture>(FromQImage(image_));
  std::weak_ptr<Surface> weak = weak_from_this();
  texture->SetSource([weak](Image& image) {
    if (auto surface = weak.lock()) image = FromQImage(surface->image_);
  });
  return texture;
}

}  // namespace tarvo::engine::io
