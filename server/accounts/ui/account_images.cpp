#include "server/accounts/ui/account_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace tarvo::server {

namespace {

const QColor kFolderFace(250, 210, 70);
const QColor kFolderEdge(150, 110, 20);
const QColor kWood(140, 85, 40);
const QColor kSkin(240, 190, 150);
const QColor kShirt(40, 90, 200);

void DrawClosedFolder(QPainter& p) {
  p.setPen(kFolderEdge);
  p.setBrush(kFolderFace);
  p.drawPolygon(
      QPolygonF({{1.5, 3.5}, {6.5, 3.5}, {7.5, 5}, {14.5, 5}, {14.5, 13.5}, {1.5, 13.5}}));
  p.drawLine(QPointF(1.5, 6), QPointF(14.5, 6));
}

void DrawOpenFolder(QPainter& p) {
  p.setPen(kFolderEdge);
  p.setBrush(kFolderFace.darker(115));
  p.drawPolygon(QPolygonF({{1.5, 3.5}, {6.5, 3.5}, {7.5, 5}, {13.5, 5}, {13.5, 7}, {1.5, 13.5}}));
  // The front flap folded down.
  p.setBrush(kFolderFace);
  p.drawPolygon(QPolygonF({{3.5, 7.5}, {15.5, 7.5}, {12.5, 13.5}, {0.5, 13.5}}));
}

void DrawEmptyChair(QPainter& p) {
  p.setPen(QPen(kWood, 1.2));
  // Table on the right.
  p.drawLine(QPointF(8, 7.5), QPointF(15, 7.5));
  p.drawLine(QPointF(9, 7.5), QPointF(9, 14));
  p.drawLine(QPointF(14, 7.5), QPointF(14, 14));
  // Chair on the left: back, seat, legs.
  p.drawLine(QPointF(2, 3), QPointF(2, 14));
  p.drawLine(QPointF(2, 9.5), QPointF(6.5, 9.5));
  p.drawLine(QPointF(6, 9.5), QPointF(6, 14));
}

void DrawSleeping(QPainter& p) {
  // A figure lying on its back, with a "z" above it.
  p.setPen(QPen(Qt::black, 0.8));
  p.setBrush(kSkin);
  p.drawEllipse(QPointF(3, 11), 2, 2);
  p.setBrush(kShirt);
  p.drawRoundedRect(QRectF(5, 9.5, 9.5, 3.5), 1.5, 1.5);
  p.setPen(QPen(QColor(60, 60, 160), 1));
  p.drawPolyline(QPolygonF({{9, 2.5}, {12, 2.5}, {9, 6}, {12, 6}}));
}

void DrawOnTheMove(QPainter& p) {
  // A walking figure in mid-stride.
  p.setPen(Qt::NoPen);
  p.setBrush(kSkin);
  p.drawEllipse(QPointF(9, 2.8), 2, 2);
  p.setPen(QPen(kShirt, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8.5, 5.5), QPointF(7.5, 10));    // body
  p.drawLine(QPointF(8.3, 6.5), QPointF(11.5, 8.5));  // arm forward
  p.drawLine(QPointF(8.3, 6.5), QPointF(5, 8));       // arm back
  p.setPen(QPen(Qt::darkGray, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(7.5, 10), QPointF(11, 14.5));  // leg forward
  p.drawLine(QPointF(7.5, 10), QPointF(4, 14));     // leg back
}

}  // namespace

QPixmap DrawAccountImage(AccountImage image) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (image) {
    case AccountImage::kClosedFolder:
      DrawClosedFolder(p);
      break;
    case AccountImage::kOpenFolder:
      DrawOpenFolder(p);
      break;
    case AccountImage::kEmptyChair:
      DrawEmptyChair(p);
      break;
    case AccountImage::kSleeping:
      DrawSleeping(p);
      break;
    case AccountImage::kOnTheMove:
      DrawOnTheMove(p);
      break;
  }
  return pixmap;
}

}  // namespace tarvo::server
