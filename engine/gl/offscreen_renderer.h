#pragma once

#include <QImage>
#include <memory>

#include "engine/scene/scene.h"

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;

namespace tarvo::engine::gl {

class GlRenderer;

/// Renders scenes into images without a window (tests, previews, benchmarks). Needs a
/// QGuiApplication on a platform with OpenGL (under X, or xvfb-run).
class OffscreenRenderer : public Renderer {
 public:
  /// A renderer for pictures of `width` by `height` pixels.
  OffscreenRenderer(int width, int height);
  ~OffscreenRenderer() override;

  /// Whether an OpenGL 3.3 context could be made; without one nothing is drawn.
  bool ok() const { return ok_; }
  /// Draws the scene and gives the picture (an empty image when not ok).
  QImage RenderImage(const Scene& scene);
  /// Draws the scene without reading the pixels back (for timing the drawing alone).
  void DrawOnly(const Scene& scene);
  /// Draws the scene and keeps the picture as `last_image`.
  void Render(Scene& scene) override;
  /// The picture of the last `Render`.
  const QImage& last_image() const { return last_image_; }

 private:
  int width_;
  int height_;
  bool ok_ = false;
  std::unique_ptr<QOffscreenSurface> surface_;
  std::unique_ptr<QOpenGLContext> context_;
  std::unique_ptr<QOpenGLFramebufferObject> framebuffer_;
  std::unique_ptr<GlRenderer> renderer_;
  QImage last_image_;
};

}  // namespace tarvo::engine::gl
