#include "engine/gl/view.h"

#include <spdlog/spdlog.h>

#include <QOpenGLContext>

#include "engine/gl/gl_renderer.h"
#include "engine/io/canvas.h"

namespace tarvo::engine::gl {

View::View(QWidget* parent) : QOpenGLWidget(parent) {
  setFormat(RendererFormat());
  resize(kWidth, kHeight);
  setFocusPolicy(Qt::StrongFocus);
}

View::~View() {
  // The base class ends the context after this object is gone: nothing of ours may hear of it.
  disconnect(context_connection_);
  if (initialized_) {
    makeCurrent();
    Finalize();
    doneCurrent();
  }
}

void View::SetScene(Scene* scene) {
  if (scene_ && scene_ != scene) scene_->SetRenderer(nullptr);
  scene_ = scene;
  if (scene_) scene_->SetRenderer(this);
}

void View::Render(Scene& /*scene*/) { update(); }

void View::initializeGL() {
  renderer_ = std::make_unique<GlRenderer>();
  initialized_ = renderer_->Initialize();
  if (!initialized_) spdlog::error("3D view: the renderer could not start");
  // The context may be replaced (moving to another screen, full screen): release and rebuild.
  if (context() != watched_context_) {
    watched_context_ = context();
    disconnect(context_connection_);
    context_connection_ = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
      makeCurrent();
      Finalize();
      doneCurrent();
    });
  }
  if (initialized_ && on_initialize_) on_initialize_();
}

void View::Finalize() {
  if (!initialized_) return;
  if (overlay_texture_ != 0) {
    context()->functions()->glDeleteTextures(1, &overlay_texture_);
    overlay_texture_ = 0;
  }
  if (blitter_) blitter_->destroy();
  blitter_.reset();
  if (on_finalize_) on_finalize_();
  initialized_ = false;
  if (renderer_) renderer_->Release();
  renderer_.reset();
}

void View::paintGL() {
  if (initialized_ && scene_) {
    const qreal ratio = devicePixelRatioF();
    scene_->viewport().width = width();
    scene_->viewport().height = height();
    if (on_before_draw_) on_before_draw_();
    try {
      renderer_->Draw(*scene_, static_cast<int>(width() * ratio),
                      static_cast<int>(height() * ratio));
    } catch (const std::exception& e) {
      spdlog::warn("3D view: {}", e.what());  // one frame without the scene
    }
    if (on_after_draw_) on_after_draw_();
  } else {
    QOpenGLContext::currentContext()->functions()->glClearColor(0, 0, 0, 1);
    QOpenGLContext::currentContext()->functions()->glClear(GL_COLOR_BUFFER_BIT);
  }
  if (on_overlay_ && initialized_) DrawOverlays();
}

void View::DrawOverlays() {
  const qreal ratio = devicePixelRatioF();
  const QSize pixels(static_cast<int>(width() * ratio), static_cast<int>(height() * ratio));
  // Drawn in the view's own units at the screen's pixel density, so HiDPI text stays sharp.
  if (overlay_.size() != pixels) {
    overlay_ = QImage(pixels, QImage::Format_RGBA8888_Premultiplied);
  }
  overlay_.setDevicePixelRatio(ratio);
  overlay_.fill(Qt::transparent);
  {
    io::Canvas canvas(&overlay_);
    try {
      on_overlay_(canvas);
    } catch (const std::exception& e) {
      spdlog::warn("3D view overlay: {}", e.what());  // one frame without overlay
      return;
    }
  }
  QOpenGLFunctions* gl = context()->functions();
  if (!blitter_) {
    blitter_ = std::make_unique<QOpenGLTextureBlitter>();
    if (!blitter_->create()) {
      blitter_.reset();
      return;
    }
  }
  if (overlay_texture_ == 0) gl->glGenTextures(1, &overlay_texture_);
  gl->glActiveTexture(GL_TEXTURE0);
  gl->glBindTexture(GL_TEXTURE_2D, overlay_texture_);
  gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, overlay_.width(), overlay_.height(), 0, GL_RGBA,
                   GL_UNSIGNED_BYTE, overlay_.constBits());
  gl->glViewport(0, 0, pixels.width(), pixels.height());
  gl->glDisable(GL_DEPTH_TEST);
  gl->glEnable(GL_BLEND);
  gl->glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);  // premultiplied
  blitter_->bind();
  const QRect target(QPoint(0, 0), pixels);
  blitter_->blit(overlay_texture_, QOpenGLTextureBlitter::targetTransform(target, target),
                 QOpenGLTextureBlitter::OriginTopLeft);
  blitter_->release();
  gl->glDisable(GL_BLEND);
  gl->glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace tarvo::engine::gl
