#include "engine/gl/view.h"

#include <spdlog/spdlog.h>

#include <QOpenGLContext>

#include "engine/gl/gl_renderer.h"
#include "engine/io/canvas.h"

namespace tarvo::engine::gl {

View::View(QWidget* parent) : QOpenGLWidget(parent) {
  setFormat(RendererFormat());
  setFixedSize(kWidth, kHeight);
  setFocusPolicy(Qt::StrongFocus);
}

View::~View() {
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
  connect(
      context(), &QOpenGLContext::aboutToBeDestroyed, this,
      [this] {
        makeCurrent();
        Finalize();
        doneCurrent();
      },
      Qt::UniqueConnection);
  if (initialized_ && on_initialize_) on_initialize_();
}

void View::Finalize() {
  if (!initialized_) return;
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
    renderer_->Draw(*scene_, static_cast<int>(width() * ratio), static_cast<int>(height() * ratio));
  } else {
    QOpenGLContext::currentContext()->functions()->glClearColor(0, 0, 0, 1);
    QOpenGLContext::currentContext()->functions()->glClear(GL_COLOR_BUFFER_BIT);
  }
  if (on_overlay_) {
    io::Canvas canvas(this);
    try {
      on_overlay_(canvas);
    } catch (const std::exception& e) {
      spdlog::warn("3D view overlay: {}", e.what());  // one frame without overlay
    }
  }
}

}  // namespace tarvo::engine::gl
