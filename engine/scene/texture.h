#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/scene/image.h"
#include "engine/scene/visual.h"

namespace tarvo::engine {

/// A picture for mesh faces; added to a frame as a visual it is a decal that faces the viewer.
class Texture : public Visual {
 public:
  /// Refills the texture's pixels from where they came from (an off-screen surface).
  using Source = std::function<void(Image&)>;

  /// A texture holding the given picture; `name` is the file it came from, if any.
  explicit Texture(Image image, std::string name = {});

  Kind kind() const override { return Kind::kDecal; }

  /// A number unique to this texture for the program's life.
  uint64_t id() const { return id_; }
  /// Counts changes of the pixels; renderers upload again when it moves.
  uint32_t version() const { return version_; }
  /// The file name the texture was loaded from, or empty.
  const std::string& name() const { return name_; }
  /// The pixels.
  const Image& image() const { return image_; }
  /// Width in pixels.
  int width() const { return image_.width; }
  /// Height in pixels.
  int height() const { return image_.height; }

  /// Replaces the pixels.
  void SetImage(Image image);
  /// Sets where `Changed` takes new pixels from.
  void SetSource(Source source) { source_ = std::move(source); }
  /// Tells the texture that its source's pixels changed; the palette flag is accepted and unused.
  void Changed(bool pixels, bool palette);

  /// The decal point, in texture pixels from the top left, placed at the frame's origin.
  void SetDecalOrigin(int x, int y) {
    origin_x_ = x;
    origin_y_ = y;
  }
  /// The decal's size: world units when scaled, screen pixels otherwise.
  void SetDecalSize(float width, float height) {
    decal_width_ = width;
    decal_height_ = height;
  }
  /// Whether the decal's size is in world units (it shrinks with distance).
  void SetDecalScale(bool scale) { decal_scale_ = scale; }
  /// Whether pixels of the transparent colour are left out of the decal.
  void SetDecalTransparency(bool transparent) { decal_transparent_ = transparent; }
  /// The colour (0xRRGGBB) left out when transparency is on; black by default.
  void SetDecalTransparentColor(uint32_t rgb) { transparent_color_ = rgb & 0xFFFFFF; }

  int decal_origin_x() const { return origin_x_; }
  int decal_origin_y() const { return origin_y_; }
  float decal_width() const { return decal_width_; }
  float decal_height() const { return decal_height_; }
  bool decal_scale() const { return decal_scale_; }
  bool decal_transparent() const { return decal_transparent_; }
  uint32_t decal_transparent_color() const { return transparent_color_; }

 private:
  uint64_t id_;
  uint32_t version_ = 0;
  std::string name_;
  Image image_;
  Source source_;
  int origin_x_ = 0;
  int origin_y_ = 0;
  float decal_width_ = 1.0f;
  float decal_height_ = 1.0f;
  bool decal_scale_ = true;
  bool decal_transparent_ = false;
  uint32_t transparent_color_ = 0;
};

/// A fresh number for an engine object that renderers cache by.
uint64_t NextObjectId();

}  // namespace tarvo::engine
