#include "engine/gl/offscreen_renderer.h"

#include <spdlog/spdlog.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>

#include "engine/gl/gl_renderer.h"

namespace tarvo::engine::gl {

OffscreenRenderer::OffscreenRenderer(int width, int height)
    : width_(std::max(width, 1)), height_(std::max(height, 1)) {
  surface_ = std::make_unique<QOffscreenSurface>();
  surface_->setFormat(RendererFormat());
  surface_->create();
  context_ = std::make_unique<QOpenGLContext>();
  context_->setFormat(RendererFormat());
  if (!context_->create() || !context_->makeCurrent(surface_.get())) {
    spdlog::error("off-screen renderer: no OpenGL context");
    return;
  }
  const QSurfaceFormat format = context_->format();
  if (format.majorVersion() * 10 + format.minorVersion() < 33) {
    spdlog::error("off-screen renderer: OpenGL {}.{} is below 3.3", format.majorVersion(),
                  format.minorVersion());
    context_->doneCurrent();
    return;
  }
  QOpenGLFramebufferObjectFormat fbo_format;
  fbo_format.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
  framebuffer_ = std::make_unique<QOpenGLFramebufferObject>(width_, height_, fbo_format);
  renderer_ = std::make_unique<GlRenderer>();
  ok_ = framebuffer_->isValid() && renderer_->Initialize();
  context_->doneCurrent();
}

OffscreenRenderer::~OffscreenRenderer() {
  if (context_ && context_->makeCurrent(surface_.get())) {
    renderer_.reset();
    framebuffer_.reset();
    context_->doneCurrent();
  }
}

void OffscreenRenderer::DrawOnly(const Scene& scene) {
  if (!ok_ || !context_->makeCurrent(surface_.get())) return;
  framebuffer_->bind();
  renderer_->Draw(scene, width_, height_);
  context_->functions()->glFinish();
  framebuffer_->release();
}

QImage OffscreenRenderer::RenderImage(const Scene& scene) {
  if (!ok_ || !context_->makeCurrent(surface_.get())) return QImage();
  framebuffer_->bind();
  renderer_->Draw(scene, width_, height_);
  QImage image = framebuffer_->toImage(true).convertToFormat(QImage::Format_RGB32);
  framebuffer_->release();
  return image;
}

void OffscreenRenderer::Render(Scene& scene) { last_image_ = RenderImage(scene); }

}  // namespace tarvo::engine::gl
