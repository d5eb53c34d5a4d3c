#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "engine/scene/texture.h"

namespace tarvo::engine::io {

/// An off-screen picture to draw on, blit from and turn into a texture.
class Surface : public std::enable_shared_from_this<Surface> {
 public:
  /// A black surface of the given size (at least 1 by 1).
  static std::shared_ptr<Surface> Create(int width, int height);

  /// Replaces size and pixels with a picture file; when it fails the surface is unchanged, a
  /// line is logged and the reason returned.
  base::Result<void> LoadBitmap(const std::string& path);
  /// Width in pixels.
  int width() const { return image_.width(); }
  /// Height in pixels.
  int height() const { return image_.height(); }
  /// Fills the whole surface with 0xRRGGBB.
  void Fill(uint32_t rgb);
  /// Fills a rectangle (clipped to the surface) with 0xRRGGBB.
  void FillRect(const QRect& rect, uint32_t rgb);
  /// Copies `source_rect` of `source` to (x, y); with a transparent colour (0xRRGGBB) pixels of
  /// that colour are skipped. The copy is clipped to both surfaces.
  void Draw(int x, int y, const Surface& source, const QRect& source_rect,
            std::optional<uint32_t> transparent = std::nullopt);
  /// Copies the whole of `source` to (x, y).
  void Draw(int x, int y, const Surface& source,
            std::optional<uint32_t> transparent = std::nullopt) {
    Draw(x, y, source, source.image_.rect(), transparent);
  }
  /// The colour 0xRRGGBB at (x, y); 0 outside.
  uint32_t PixelAt(int x, int y) const;

  /// A texture of the surface's pixels; its `Changed` copies the surface again.
  std::shared_ptr<Texture> CreateTexture();

  /// The pixels, for painting with a canvas.
  QImage& image() { return image_; }
  const QImage& image() const { return image_; }

  /// Use `Create`; public for make_shared.
  Surface(int width, int height);

 private:
  QImage image_;
};

}  // namespace tarvo::engine::io
