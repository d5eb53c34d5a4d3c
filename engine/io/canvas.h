#pragma once

#include <QFont>
#include <QPainter>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvo::engine::io {

class Surface;

/// 2D drawing on a surface or on the 3D view: font, colours, text and filled rectangles.
/// Texts are byte strings (Latin-1). Text is drawn without smoothing, so its pixels hold exactly
/// the font colour and a transparent colour key stays clean around it.
class Canvas {
 public:
  /// A canvas drawing on a surface.
  explicit Canvas(Surface& surface);
  /// A canvas drawing on any paint device (the 3D view's overlay).
  explicit Canvas(QPaintDevice* device);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  /// Ends drawing; later calls do nothing. The destructor releases too.
  void Release();

  /// Sets the font by name, weight and size in points (at 96 pixels per inch).
  void SetFont(const std::string& name, bool bold, int size);
  /// Sets the text colour, 0xRRGGBB.
  void SetFontColor(uint32_t rgb);
  /// Sets the brush colour, 0xRRGGBB, and makes the brush solid.
  void SetBrushColor(uint32_t rgb);
  /// Makes the brush transparent (text is drawn without a background box) or solid.
  void SetBrushTransparent(bool transparent) { brush_transparent_ = transparent; }

  /// The width of `text` in pixels with the current font.
  int TextWidth(const std::string& text) const;
  /// The height of a line of `text` in pixels with the current font.
  int TextHeight(const std::string& text) const;
  /// Draws `text` with its top left corner at (x, y); a solid brush fills the box behind it.
  void TextOut(int x, int y, const std::string& text);
  /// Fills a rectangle with the brush colour.
  void FillRect(int x, int y, int width, int height);
  /// Copies a whole surface to (x, y), opaque.
  void Draw(int x, int y, const Surface& surface);
  /// Copies a whole surface into the rectangle at (x, y), scaled to `width` by `height`, opaque.
  void Draw(int x, int y, int width, int height, const Surface& surface);

 private:
  std::unique_ptr<QPainter> painter_;
  QFont font_;
  uint32_t font_color_ = 0;
  uint32_t brush_color_ = 0xFFFFFF;
  bool brush_transparent_ = false;
};

}  // namespace tarvo::engine::io
