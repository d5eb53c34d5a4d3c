#pragma once

#include <cstdint>

namespace tarvo::engine {

/// An RGB colour with components from 0 to 1.
struct Color {
  float r = 1.0f;
  float g = 1.0f;
  float b = 1.0f;

  /// The colour of a 0xRRGGBB value: red R/255, green G/255, blue B/255.
  static Color FromRgb(uint32_t rgb) {
    return Color{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f,
                 static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                 static_cast<float>(rgb & 0xFF) / 255.0f};
  }

  friend bool operator==(const Color&, const Color&) = default;
};

}  // namespace tarvo::engine
