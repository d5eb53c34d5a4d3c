#include "engine/io/canvas.h"

#include <QFontMetrics>

#include "engine/io/surface.h"

namespace tarvo::engine::io {
namespace {

QColor ToColor(uint32_t rgb) {
  return QColor::fromRgb(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                         static_cast<int>(rgb & 0xFF));
}

}  // namespace

Canvas::Canvas(Surface& surface) : Canvas(&surface.image()) {}

Canvas::Canvas(QPaintDevice* device) : painter_(std::make_unique<QPainter>(device)) {
  SetFont("Dialog", false, 8);
}

Canvas::~Canvas() { Release(); }

void Canvas::Release() {
  if (painter_) {
    painter_->end();
    painter_.reset();
  }
}

void Canvas::SetFont(const std::string& name, bool bold, int size) {
  font_ = QFont(QString::fromLatin1(name.c_str()));
  font_.setPixelSize(std::max(1, (size * 96 + 36) / 72));
  font_.setBold(bold);
  font_.setStyleStrategy(QFont::NoAntialias);
  if (painter_) painter_->setFont(font_);
}

void Canvas::SetFontColor(uint32_t rgb) { font_color_ = rgb & 0xFFFFFF; }

void Canvas::SetBrushColor(uint32_t rgb) {
  brush_color_ = rgb & 0xFFFFFF;
  brush_transparent_ = false;
}

int Canvas::TextWidth(const std::string& text) const {
  return QFontMetrics(font_).horizontalAdvance(
      QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

int Canvas::TextHeight(const std::string& /*text*/) const { return QFontMetrics(font_).height(); }

void Canvas::TextOut(int x, int y, const std::string& text) {
  if (!painter_) return;
  const QString string = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetrics metrics(font_);
  if (!brush_transparent_) {
    painter_->fillRect(x, y, metrics.horizontalAdvance(string), metrics.height(),
                       ToColor(brush_color_));
  }
  painter_->setFont(font_);
  painter_->setPen(ToColor(font_color_));
  painter_->drawText(x, y + metrics.ascent(), string);
}

void Canvas::FillRect(int x, int y, int width, int height) {
  if (painter_) painter_->fillRect(x, y, width, height, ToColor(brush_color_));
}

void Canvas::Draw(int x, int y, const Surface& surface) {
  if (painter_) painter_->drawImage(x, y, surface.image());
}

void Canvas::Draw(int x, int y, int width, int height, const Surface& surface) {
  if (painter_) painter_->drawImage(QRect(x, y, width, height), surface.image());
}

}  // namespace tarvo::engine::io
