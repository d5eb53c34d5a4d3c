#pragma once

#include <cstdint>
#include <vector>

namespace tarvo::engine {

/// A picture in memory: rows from the top, pixels as 0xAARRGGBB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  /// True when the picture has no pixels.
  bool Empty() const { return width <= 0 || height <= 0; }
  /// The pixel at (x, y); the caller keeps the point inside.
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

}  // namespace tarvo::engine
