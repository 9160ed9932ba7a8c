#include "ui/qt/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace torvane {

namespace {

// The design on a 256 x 256 grid.
void PaintIcon(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing);

  // Tile: rounded square, blue gradient.
  QLinearGradient tile(0, 0, 0, 256);
  tile.setColorAt(0.0, QColor(0x2F, 0x7D, 0xC4));
  tile.setColorAt(1.0, QColor(0x17, 0x3F, 0x6B));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);

  // Chip: white body with four pins on each side.
  const QColor chip_color(0xF4, 0xF7, 0xFA);
  painter.setBrush(chip_color);
  for (int i = 0; i < 4; ++i) {
    const qreal y = 132 + i * 22;
    painter.drawRoundedRect(QRectF(44, y, 24, 10), 3, 3);
    painter.drawRoundedRect(QRectF(188, y, 24, 10), 3, 3);
  }
  painter.drawRoundedRect(QRectF(62, 118, 132, 108), 14, 14);
  painter.setBrush(QColor(0x17, 0x3F, 0x6B));
  painter.drawRoundedRect(QRectF(80, 136, 96, 72), 8, 8);

  // Arrow: amber, from the top edge down into the chip.
  QPainterPath arrow;
  arrow.moveTo(110, 28);
  arrow.lineTo(146, 28);
  arrow.lineTo(146, 104);
  arrow.lineTo(176, 104);
  arrow.lineTo(128, 172);
  arrow.lineTo(80, 104);
  arrow.lineTo(110, 104);
  arrow.closeSubpath();
  painter.setBrush(QColor(0xFF, 0xB8, 0x1C));
  painter.setPen(QPen(QColor(0x17, 0x3F, 0x6B), 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPath(arrow);
}

}  // namespace

QImage RenderAppIcon(int size) {
  if (size <= 0) return QImage();
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.scale(size / 256.0, size / 256.0);
  PaintIcon(painter);
  painter.end();
  return image;
}

QIcon MakeAppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(QPixmap::fromImage(RenderAppIcon(size)));
  }
  return icon;
}

}  // namespace torvane
