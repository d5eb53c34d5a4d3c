#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "client/game/game_world.h"
#include "engine/io/surface.h"

namespace tarvo::client {

/// Latin-1 text from the network as the canvas draws it: every control byte (0x00 to 0x1F,
/// 0x7F and 0x80 to 0x9F) shows as "?".
std::string ShownText(std::string_view latin1);

/// The nickname decal drawn with the 2D canvas: white bold text with a blue shadow one pixel
/// right and down, centred on a black surface that the decal leaves out, 0.4 world units per
/// pixel, floating over the avatar. Needs a Qt GUI application for its font.
class SurfaceNameLabel final : public NameLabel {
 public:
  /// Surface width for a requested width: the smallest power of two above it (above the text
  /// width when the request is negative), at most 512.
  static int SurfaceWidth(int requested_width, int text_width);
  /// Surface height in pixels.
  static constexpr int kSurfaceHeight = 32;
  /// World units per pixel of the decal.
  static constexpr float kUnitsPerPixel = 0.4f;

  /// Draws `text` (" " when empty) for a requested width and a height in world units.
  SurfaceNameLabel(const std::string& text, int width, int height);

  std::shared_ptr<engine::Texture> texture() const override { return texture_; }
  void Redraw(const std::string& text) override;
  /// The pixels.
  const engine::io::Surface& surface() const { return *surface_; }

 private:
  std::shared_ptr<engine::io::Surface> surface_;
  std::shared_ptr<engine::Texture> texture_;
};

/// Makes `SurfaceNameLabel`s for the main window's world.
class SurfaceLabelMaker final : public LabelMaker {
 public:
  std::unique_ptr<NameLabel> MakeNameLabel(const std::string& text, int width, int height) override;
};

}  // namespace tarvo::client
