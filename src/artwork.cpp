#include "src/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap banner_artwork() {
  QPixmap pixmap(352, 66);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 43);
  sky.setColorAt(0.0, QColor(0x1c, 0x3f, 0x7a));
  sky.setColorAt(1.0, QColor(0x3f, 0x7f, 0xc8));
  p.fillRect(QRect(0, 0, 352, 43), sky);
  // The lower band carries the red request to start the box: pure red on the blue above
  // has almost the same brightness and is hard to read, on this pale band it stands out.
  QLinearGradient band(0, 43, 0, 66);
  band.setColorAt(0.0, QColor(0xf2, 0xf6, 0xfb));
  band.setColorAt(1.0, QColor(0xdc, 0xe6, 0xf2));
  p.fillRect(QRect(0, 43, 352, 23), band);
  p.fillRect(QRect(0, 43, 352, 1), QColor(0x2a, 0x5a, 0x9c));

  // A set-top box with a cable to the word mark: what the tool is for, at a glance.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x10, 0x18, 0x28));
  p.drawRoundedRect(QRectF(14, 10, 58, 22), 4, 4);
  p.setBrush(QColor(0x59, 0xe0, 0x6a));
  p.drawEllipse(QPointF(64, 21), 2.5, 2.5);
  p.setBrush(QColor(0x6c, 0x8c, 0xb8));
  p.drawRect(QRectF(20, 18, 26, 6));
  QPainterPath cable;
  cable.moveTo(72, 21);
  cable.cubicTo(90, 21, 92, 34, 112, 30);
  p.setPen(QPen(QColor(0xd0, 0xe0, 0xf4), 2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(cable);

  QFont title("Arial");
  title.setPixelSize(26);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  // The lower band (from y 43) stays plain: the red "start your machine" line is drawn there.
  p.drawText(QRect(118, 4, 230, 36), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ZeVavi"));
  return pixmap;
}

QPixmap bottom_artwork() {
  QPixmap pixmap(351, 45);
  QPainter p(&pixmap);
  QLinearGradient shade(0, 0, 0, 45);
  shade.setColorAt(0.0, QColor(0xf4, 0xf6, 0xfa));
  shade.setColorAt(1.0, QColor(0xdc, 0xe2, 0xec));
  p.fillRect(pixmap.rect(), shade);
  p.setPen(QColor(0xc0, 0xc8, 0xd4));
  p.drawLine(0, 0, 350, 0);
  return pixmap;
}
