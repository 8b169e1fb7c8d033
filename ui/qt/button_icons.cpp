#include "ui/qt/button_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace ui::qt {

namespace {

const char* ThemeName(int resourceId) {
  switch (resourceId) {
    case 201:
      return "help-about";
    case 203:
      return "application-exit";
    case 204:
      return "list-add";
    case 205:
      return "list-remove";
    case 206:
      return "media-playback-start";
    case 207:
      return "media-playback-stop";
    case 208:
      return "document-save";
    case 209:
      return "process-stop";
    case 212:
      return "go-home";
    default:
      return nullptr;
  }
}

// Draws the picture for resourceId into a square of side s.
void DrawPicture(QPainter& p, int resourceId, qreal s) {
  const QColor ink(0x2E, 0x4A, 0x7A);
  const QColor red(0xB8, 0x2E, 0x2E);
  const QColor green(0x2E, 0x8B, 0x3E);
  QPen pen(ink, s / 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const qreal m = s * 0.2;  // margin
  switch (resourceId) {
    case 201: {  // About: an "i" in a circle
      p.drawEllipse(QRectF(m / 2, m / 2, s - m, s - m));
      p.drawLine(QPointF(s / 2, s * 0.45), QPointF(s / 2, s * 0.72));
      p.drawPoint(QPointF(s / 2, s * 0.3));
      break;
    }
    case 203: {  // Exit: a door with an arrow out
      p.drawRect(QRectF(m, m, s * 0.35, s - 2 * m));
      p.setPen(QPen(red, s / 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawLine(QPointF(s * 0.45, s / 2), QPointF(s - m, s / 2));
      p.drawLine(QPointF(s - m - s * 0.15, s * 0.35), QPointF(s - m, s / 2));
      p.drawLine(QPointF(s - m - s * 0.15, s * 0.65), QPointF(s - m, s / 2));
      break;
    }
    case 204:  // Add: a plus
      p.setPen(QPen(green, s / 6, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(s / 2, m), QPointF(s / 2, s - m));
      p.drawLine(QPointF(m, s / 2), QPointF(s - m, s / 2));
      break;
    case 205:  // Remove: a minus
      p.setPen(QPen(red, s / 6, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(m, s / 2), QPointF(s - m, s / 2));
      break;
    case 206: {  // Play: a triangle
      p.setBrush(green);
      p.setPen(Qt::NoPen);
      p.drawPolygon(QPolygonF({QPointF(m, m), QPointF(s - m, s / 2), QPointF(m, s - m)}));
      break;
    }
    case 207:  // Stop: a square
      p.setBrush(red);
      p.setPen(Qt::NoPen);
      p.drawRect(QRectF(m, m, s - 2 * m, s - 2 * m));
      break;
    case 208: {  // Convert: an arrow into a tray
      p.drawLine(QPointF(s / 2, m / 2), QPointF(s / 2, s * 0.62));
      p.drawLine(QPointF(s * 0.3, s * 0.42), QPointF(s / 2, s * 0.62));
      p.drawLine(QPointF(s * 0.7, s * 0.42), QPointF(s / 2, s * 0.62));
      QPainterPath tray;
      tray.moveTo(m / 2, s * 0.6);
      tray.lineTo(m / 2, s - m / 2);
      tray.lineTo(s - m / 2, s - m / 2);
      tray.lineTo(s - m / 2, s * 0.6);
      p.drawPath(tray);
      break;
    }
    case 209: {  // Abort: a crossed circle
      p.setPen(QPen(red, s / 8, Qt::SolidLine, Qt::RoundCap));
      p.drawEllipse(QRectF(m / 2, m / 2, s - m, s - m));
      p.drawLine(QPointF(s * 0.3, s * 0.3), QPointF(s * 0.7, s * 0.7));
      p.drawLine(QPointF(s * 0.7, s * 0.3), QPointF(s * 0.3, s * 0.7));
      break;
    }
    case 212: {  // Home page: a house
      QPainterPath house;
      house.moveTo(m / 2, s * 0.5);
      house.lineTo(s / 2, m / 2);
      house.lineTo(s - m / 2, s * 0.5);
      p.drawPath(house);
      p.drawRect(QRectF(s * 0.25, s * 0.48, s * 0.5, s * 0.42));
      p.drawLine(QPointF(s / 2, s * 0.9), QPointF(s / 2, s * 0.68));
      break;
    }
    default:
      break;
  }
}

}  // namespace

QIcon DrawnButtonIcon(int resourceId) {
  if (ThemeName(resourceId) == nullptr) return QIcon();
  QIcon icon;
  for (int side : {16, 24, 32}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawPicture(painter, resourceId, side);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QIcon ButtonIcon(int resourceId) {
  const char* name = ThemeName(resourceId);
  if (name == nullptr) return QIcon();
  return QIcon::fromTheme(QString::fromLatin1(name), DrawnButtonIcon(resourceId));
}

}  // namespace ui::qt
