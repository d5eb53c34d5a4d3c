#include "tools/assetgen/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <cmath>

namespace tarvo::assetgen {
namespace {

QFont Font(int pixels, bool bold) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

}  // namespace

QImage MakeBodyTexture() {
  QImage image(64, 64, QImage::Format_RGB32);
  image.fill(QColor(48, 80, 192));
  QPainter p(&image);
  p.fillRect(0, 0, 64, 6, QColor(230, 230, 240));  // collar
  p.fillRect(0, 56, 64, 8, QColor(40, 40, 60));    // belt
  p.fillRect(30, 6, 4, 50, QColor(36, 64, 160));   // seam
  p.setBrush(QColor(250, 200, 40));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPoint(32, 28), 11, 11);
  p.setPen(QColor(48, 80, 192));
  p.setFont(Font(16, true));
  p.drawText(QRect(21, 17, 22, 22), Qt::AlignCenter, QStringLiteral("T"));
  return image;
}

QImage MakeFaceTexture() {
  QImage image(64, 64, QImage::Format_RGB32);
  image.fill(QColor(240, 192, 144));
  QPainter p(&image);
  p.fillRect(0, 0, 64, 14, QColor(74, 42, 16));
  p.setBrush(QColor(32, 32, 64));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPoint(20, 28), 5, 5);
  p.drawEllipse(QPoint(44, 28), 5, 5);
  p.setBrush(QColor(160, 48, 32));
  p.drawRect(20, 46, 24, 5);
  return image;
}

QImage MakeLogo() {
  QImage image(150, 40, QImage::Format_RGB32);
  QPainter p(&image);
  QLinearGradient gradient(0, 0, 0, 40);
  gradient.setColorAt(0, QColor(20, 40, 110));
  gradient.setColorAt(1, QColor(5, 10, 40));
  p.fillRect(image.rect(), gradient);
  p.setPen(QColor(250, 200, 40));
  p.drawRect(0, 0, 149, 39);
  p.setFont(Font(24, true));
  p.setPen(QColor(0, 0, 0));
  p.drawText(QRect(2, 2, 150, 40), Qt::AlignCenter, QStringLiteral("Tarvo 3D"));
  p.setPen(QColor(255, 255, 255));
  p.drawText(QRect(0, 0, 150, 40), Qt::AlignCenter, QStringLiteral("Tarvo 3D"));
  return image;
}

QImage MakeIcon() {
  // Transparent corners: desktop menus draw the icon over their own background.
  QImage image(256, 256, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(0, 0, 0, 256);
  gradient.setColorAt(0, QColor(20, 40, 110));
  gradient.setColorAt(1, QColor(5, 10, 40));
  p.setPen(QPen(QColor(250, 200, 40), 8));
  p.setBrush(gradient);
  p.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);
  p.setFont(Font(150, true));
  p.setPen(QColor(0, 0, 0));
  p.drawText(QRect(6, 6, 256, 256), Qt::AlignCenter, QStringLiteral("T"));
  p.setPen(QColor(255, 255, 255));
  p.drawText(QRect(0, 0, 256, 256), Qt::AlignCenter, QStringLiteral("T"));
  p.setFont(Font(40, true));
  p.setPen(QColor(250, 200, 40));
  p.drawText(QRect(0, 180, 256, 60), Qt::AlignCenter, QStringLiteral("3D"));
  return image;
}

QImage MakeConnectBackground() {
  QImage image(433, 321, QImage::Format_RGB32);
  QPainter p(&image);
  // Planks with a little grain.
  for (int y = 0; y < 321; ++y) {
    const int plank = y / 40;
    for (int x = 0; x < 433; ++x) {
      const double grain = std::sin(x * 0.05 + plank * 1.7 + std::sin(y * 0.3 + x * 0.01) * 2.0);
      const int base = 120 + plank % 2 * 12 + static_cast<int>(grain * 10);
      image.setPixel(x, y, qRgb(base + 30, base - 20, base / 2 - 20));
    }
    if (y % 40 == 0) {
      for (int x = 0; x < 433; ++x) image.setPixel(x, y, qRgb(60, 30, 10));
    }
  }
  p.setPen(QPen(QColor(60, 30, 10), 4));
  p.drawRect(2, 2, 429, 317);

  p.setFont(Font(34, true));
  p.setPen(QColor(50, 20, 5));
  p.drawText(QRect(3, 18, 433, 50), Qt::AlignCenter, QStringLiteral("Tarvo 3D"));
  p.setPen(QColor(255, 230, 160));
  p.drawText(QRect(0, 15, 433, 50), Qt::AlignCenter, QStringLiteral("Tarvo 3D"));

  // The edit controls lie at x 114, 185 by 24 pixels, at these heights.
  const struct {
    const char* label;
    int y;
  } rows[] = {
      {"Nickname", 96}, {"Server IP", 135}, {"Port", 171}, {"Account", 208}, {"Password", 246}};
  p.setFont(Font(15, true));
  for (const auto& row : rows) {
    p.fillRect(111, row.y - 3, 191, 30, QColor(40, 18, 6));
    p.fillRect(114, row.y, 185, 24, QColor(64, 0, 0));
    p.setPen(QColor(255, 240, 200));
    p.drawText(QRect(10, row.y, 96, 24), Qt::AlignRight | Qt::AlignVCenter,
               QString::fromLatin1(row.label));
  }
  return image;
}

}  // namespace tarvo::assetgen
