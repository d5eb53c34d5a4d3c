#pragma once

#include <QImage>
#include <QOpenGLTextureBlitter>
#include <QOpenGLWidget>
#include <functional>
#include <memory>

#include "engine/scene/scene.h"

namespace tarvo::engine::io {
class Canvas;
}

namespace tarvo::engine::gl {

class GlRenderer;

/// The 3D view of the main window: draws its scene with OpenGL when the scene ticks, then the
/// 2D overlays (chat text, logo) over it. 640 by 456 pixels unless resized; the scene keeps its
/// vertical field of view at any size, so a wider view sees more to the sides.
class View : public QOpenGLWidget, public Renderer {
 public:
  /// Size of the view in pixels as it opens.
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 456;

  explicit View(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {kWidth, kHeight}; }
  ~View() override;

  /// The scene shown; the view attaches itself as its renderer. None shows the background.
  void SetScene(Scene* scene);
  /// Called once the GL context exists (each time it is made anew): build the scene here.
  void SetInitializeHandler(std::function<void()> handler) { on_initialize_ = std::move(handler); }
  /// Called before the GL context goes away: let go of the scene here.
  void SetFinalizeHandler(std::function<void()> handler) { on_finalize_ = std::move(handler); }
  /// Draws the overlays after the scene, on a canvas over the view.
  void SetOverlayHandler(std::function<void(io::Canvas&)> handler) {
    on_overlay_ = std::move(handler);
  }
  /// Called just before and just after the scene is drawn (frames between ticks place what
  /// moves there and put it back).
  void SetFrameHandlers(std::function<void()> before, std::function<void()> after) {
    on_before_draw_ = std::move(before);
    on_after_draw_ = std::move(after);
  }
  /// Whether the GL context exists and the renderer works.
  bool Initialized() const { return initialized_; }

  /// Schedules drawing of the scene (the tick's last step).
  void Render(Scene& scene) override;

 protected:
  void initializeGL() override;
  void paintGL() override;

 private:
  void Finalize();
  void DrawOverlays();

  Scene* scene_ = nullptr;
  std::unique_ptr<GlRenderer> renderer_;
  bool initialized_ = false;
  QOpenGLContext* watched_context_ = nullptr;  // whose end we already listen for
  QMetaObject::Connection context_connection_;
  std::function<void()> on_initialize_;
  std::function<void()> on_finalize_;
  std::function<void(io::Canvas&)> on_overlay_;
  std::function<void()> on_before_draw_;
  std::function<void()> on_after_draw_;
  // The overlays are painted into an image and laid over the picture as one texture: 2D
  // painting straight onto the core-profile context draws nothing on some drivers.
  QImage overlay_;
  std::unique_ptr<QOpenGLTextureBlitter> blitter_;
  unsigned overlay_texture_ = 0;
};

}  // namespace tarvo::engine::gl
