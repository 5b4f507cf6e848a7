// Draws every bitmap of the five built-in looks and the single-control bitmaps, at the
// geometry and frame order the controls cut them by, and writes them with a Qt resource
// file that lists them: artgen OUTPUT_DIR.
//
// Everything is 24-bit with fuchsia (255, 0, 255) as the see-through key. Shapes are drawn
// anti-aliased on a transparent canvas and then flattened: a pixel at least half covered
// takes its colour blended over the look's usual backdrop, the rest becomes the key. So edges
// stay smooth on the light forms they sit on and no pink fringe survives the keying.
#include "widgets/skin/elementtable.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace {

const QColor key(255, 0, 255);

// A look's character: its colours, corner radius and whether its surfaces are glossy.
struct Look {
  const char *word;
  QColor backdrop;  // what the artwork usually sits on (the matte of the flattening)
  QColor border, face_top, face_bottom, hot_top, hot_bottom, down_top, down_bottom;
  QColor hot_ring;  // an inner ring on the hot frame; invalid for none
  QColor accent, accent_dark, mark;
  qreal radius;
  bool gloss;
  // Button frames fill their corners with the backdrop: the looks whose buttons are not
  // drawn transparent (the element table's ButtonTransparentBool) must not show the key.
  bool opaque_buttons;
  QSize button, check, radio, progress, scroll_button, tab, tab_line, title_button, scrollbar_button,
      scrollbar_track;
  // The caption bar's height: its buttons (at the look's button top) sit as far from its
  // bottom as from its top.
  int title_height;
  QColor title;  // the caption bar's colour, under white or (MacOS) black caption text
};

// clang-format off
const Look looks[5] = {
    // MacOS: glossy grey-white pills, an aqua accent.
    {"MACOS", QColor(231, 231, 231), QColor(120, 120, 128), QColor(255, 255, 255), QColor(206, 208, 214),
     QColor(214, 234, 255), QColor(120, 178, 240), QColor(82, 146, 222), QColor(36, 96, 188), QColor(),
     QColor(62, 144, 236), QColor(24, 84, 176), QColor(24, 24, 24), 11.5, true, false,
     {252, 23}, {60, 17}, {64, 17}, {13, 10}, {72, 18}, {36, 27}, {17, 7}, {306, 17}, {96, 22}, {33, 16}, 25, QColor(214, 214, 218)},
    // WinXP: rounded dark-blue borders on a light face, orange glow when hot.
    {"WINXP", QColor(236, 233, 216), QColor(0, 60, 116), QColor(255, 255, 255), QColor(226, 223, 210),
     QColor(255, 255, 255), QColor(226, 223, 210), QColor(205, 202, 187), QColor(228, 226, 214),
     QColor(248, 179, 48), QColor(45, 210, 60), QColor(20, 150, 32), QColor(33, 161, 33), 3.0, false, true,
     {54, 21}, {52, 13}, {52, 13}, {6, 10}, {72, 18}, {18, 18}, {8, 1}, {378, 21}, {96, 17}, {21, 16}, 31, QColor(22, 90, 226)},
    // DeepBlue: dark navy faces with a cool highlight, square-cut.
    // The button faces stay light enough for the black captions the controls draw.
    {"DEEPBLUE", QColor(232, 232, 232), QColor(8, 20, 56), QColor(186, 204, 240), QColor(112, 140, 206),
     QColor(208, 224, 252), QColor(132, 164, 232), QColor(84, 108, 178), QColor(124, 150, 212), QColor(),
     QColor(52, 96, 196), QColor(14, 34, 92), QColor(255, 255, 255), 2.0, false, true,
     {222, 21}, {52, 13}, {52, 13}, {1, 10}, {72, 17}, {12, 17}, {5, 5}, {342, 19}, {96, 16}, {21, 16}, 23, QColor(24, 46, 120)},
    // Protein: soft pastel lilac and mint, round and light.
    {"PROTEIN", QColor(251, 251, 251), QColor(150, 140, 186), QColor(250, 246, 255), QColor(226, 216, 246),
     QColor(236, 252, 244), QColor(190, 234, 212), QColor(206, 192, 240), QColor(232, 222, 250), QColor(),
     QColor(176, 222, 200), QColor(122, 186, 160), QColor(96, 78, 150), 6.0, false, true,
     {222, 21}, {52, 13}, {52, 13}, {1, 10}, {72, 17}, {18, 17}, {10, 5}, {342, 19}, {96, 16}, {21, 16}, 23, QColor(150, 128, 204)},
    // BlueGlass: translucent blue glass with a white sheen, keyed round corners.
    {"BLUEGLASS", QColor(231, 231, 231), QColor(46, 92, 150), QColor(196, 226, 252), QColor(104, 164, 222),
     QColor(214, 240, 255), QColor(124, 192, 246), QColor(72, 130, 196), QColor(128, 182, 232), QColor(),
     QColor(86, 164, 236), QColor(30, 96, 170), QColor(255, 255, 255), 9.0, true, false,
     {231, 27}, {52, 13}, {52, 13}, {1, 10}, {72, 17}, {18, 17}, {10, 5}, {342, 19}, {102, 16}, {21, 16}, 31, QColor(58, 128, 208)},
};
// clang-format on

QImage canvas(QSize size) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

// Anti-aliased drawing to the 24-bit keyed form (see the file comment).
QImage flatten(const QImage &drawn, const QColor &matte) {
  QImage out(drawn.size(), QImage::Format_RGB32);
  for (int y = 0; y < drawn.height(); ++y)
    for (int x = 0; x < drawn.width(); ++x) {
      QRgb p = drawn.pixel(x, y);
      int a = qAlpha(p);
      if (a < 128) {
        out.setPixel(x, y, key.rgb());
        continue;
      }
      auto mix = [a](int c, int m) { return (c * a + m * (255 - a)) / 255; };
      QRgb c = qRgb(mix(qRed(p), matte.red()), mix(qGreen(p), matte.green()), mix(qBlue(p), matte.blue()));
      // A blend that lands on the key itself would turn see-through: nudge it.
      if (c == key.rgb())
        c = qRgb(254, 0, 255);
      out.setPixel(x, y, c);
    }
  return out;
}

QLinearGradient vertical(qreal top, qreal bottom, const QColor &a, const QColor &b) {
  QLinearGradient g(0, top, 0, bottom);
  g.setColorAt(0, a);
  g.setColorAt(1, b);
  return g;
}

// A rounded surface with border, face gradient and optional gloss and inner ring.
void surface(QPainter &p, const QRectF &r, qreal radius, const QColor &border, const QColor &top,
             const QColor &bottom, bool gloss, const QColor &ring = QColor()) {
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath outer;
  outer.addRoundedRect(r, radius, radius);
  p.setPen(Qt::NoPen);
  p.setBrush(border);
  p.drawPath(outer);
  QRectF inner = r.adjusted(1, 1, -1, -1);
  QPainterPath face;
  face.addRoundedRect(inner, std::max<qreal>(0, radius - 1), std::max<qreal>(0, radius - 1));
  p.setBrush(vertical(inner.top(), inner.bottom(), top, bottom));
  p.drawPath(face);
  if (ring.isValid()) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ring, 1.6));
    p.drawRoundedRect(inner.adjusted(0.8, 0.8, -0.8, -0.8), std::max<qreal>(0, radius - 1.5),
                      std::max<qreal>(0, radius - 1.5));
    p.setPen(Qt::NoPen);
  }
  if (gloss) {
    QRectF sheen(inner.left() + 1, inner.top() + 0.5, inner.width() - 2, inner.height() * 0.48);
    QColor hi(255, 255, 255, 170), lo(255, 255, 255, 40);
    p.setBrush(vertical(sheen.top(), sheen.bottom(), hi, lo));
    p.drawRoundedRect(sheen, std::max<qreal>(0, radius - 2), std::max<qreal>(0, radius - 3));
  }
}

using Painter = std::function<void(QPainter &, const QRectF &, int frame)>;

// A strip of `frames` equal frames, each drawn by `paint` into its own rectangle.
QImage strip(QSize size, int frames, const QColor &matte, const Painter &paint,
             const QColor &fill = QColor()) {
  QImage drawn = canvas(size);
  if (fill.isValid())
    drawn.fill(fill);
  QPainter p(&drawn);
  int w = size.width() / frames;
  for (int f = 0; f < frames; ++f) {
    p.save();
    p.setClipRect(QRect(f * w, 0, w, size.height()));
    paint(p, QRectF(f * w, 0, w, size.height()), f);
    p.restore();
  }
  p.end();
  return flatten(drawn, matte);
}

QColor disabled(const QColor &c) {
  return QColor::fromHsv(c.hsvHue(), c.hsvSaturation() / 4, 150 + c.value() / 5);
}

void arrow(QPainter &p, QPointF centre, qreal size, int direction, const QColor &color, qreal width = 1.6) {
  // direction: 0 right, 1 left, 2 up, 3 down; a chevron like the ones on real controls.
  QPainterPath path;
  qreal s = size;
  switch (direction) {
    case 0:
      path.moveTo(centre + QPointF(-s / 2, -s));
      path.lineTo(centre + QPointF(s / 2, 0));
      path.lineTo(centre + QPointF(-s / 2, s));
      break;
    case 1:
      path.moveTo(centre + QPointF(s / 2, -s));
      path.lineTo(centre + QPointF(-s / 2, 0));
      path.lineTo(centre + QPointF(s / 2, s));
      break;
    case 2:
      path.moveTo(centre + QPointF(-s, s / 2));
      path.lineTo(centre + QPointF(0, -s / 2));
      path.lineTo(centre + QPointF(s, s / 2));
      break;
    default:
      path.moveTo(centre + QPointF(-s, -s / 2));
      path.lineTo(centre + QPointF(0, s / 2));
      path.lineTo(centre + QPointF(s, -s / 2));
      break;
  }
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(path);
}

void check_mark(QPainter &p, const QRectF &box, const QColor &color) {
  QPainterPath tick;
  tick.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
  tick.lineTo(box.left() + box.width() * 0.43, box.top() + box.height() * 0.74);
  tick.lineTo(box.left() + box.width() * 0.80, box.top() + box.height() * 0.28);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(color, std::max<qreal>(1.6, box.width() / 6.5), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(tick);
}

// --- the elements -------------------------------------------------------------------

QImage button(const Look &l) {
  // The button frames are laid out by nine-slice: the middle row and column stretch, so the
  // gradients live in the top and bottom halves and the very centre is one flat colour.
  QImage frames = strip(
      l.button, 3, l.backdrop,
      [&](QPainter &p, const QRectF &r, int f) {
        QColor top = f == 0 ? l.face_top : f == 1 ? l.hot_top : l.down_top;
        QColor bottom = f == 0 ? l.face_bottom : f == 1 ? l.hot_bottom : l.down_bottom;
        surface(p, r.adjusted(0, 0, 0, 0), l.radius, l.border, top, bottom, l.gloss && f != 2,
                f == 1 ? l.hot_ring : QColor());
      },
      l.opaque_buttons ? l.backdrop : QColor());
  if (l.opaque_buttons) {
    // Opaque frames show the face colour in their very corners, which the anti-aliased
    // rounding would otherwise tint.
    const int w = l.button.width() / 3, h = l.button.height();
    for (int f = 0; f < 3; ++f)
      for (QPoint corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
        frames.setPixel(corner + QPoint(f * w, 0), l.backdrop.rgb());
  }
  return frames;
}

QImage check_box(const Look &l, QSize size, bool radio) {
  return strip(size, 4, l.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    bool checked = f == 0 || f == 2, off = f >= 2;
    qreal side = std::min(r.width(), r.height()) - 1;
    QRectF box(r.left() + (r.width() - side) / 2, r.top() + (r.height() - side) / 2, side, side);
    QColor border = off ? disabled(l.border) : l.border;
    QColor top = off ? QColor(244, 244, 244) : l.face_top,
           bottom = off ? QColor(226, 226, 226) : l.face_bottom;
    surface(p, box, radio ? side / 2 : std::min<qreal>(l.radius, 3), border, top, bottom, l.gloss && !off);
    if (!checked)
      return;
    QColor mark = off ? QColor(160, 160, 160) : (l.mark == Qt::white ? l.accent_dark : l.mark);
    if (radio) {
      p.setPen(Qt::NoPen);
      p.setBrush(mark);
      p.drawEllipse(box.center(), side / 5, side / 5);
    } else {
      check_mark(p, box, mark);
    }
  });
}

QImage progress(const Look &l) {
  QImage drawn = canvas(l.progress);
  QPainter p(&drawn);
  QRectF r(0, 0, l.progress.width(), l.progress.height());
  if (QLatin1String(l.word) == QLatin1String("WINXP")) {
    // The classic green gauge: a bright middle fading to darker rows, grey at the edges.
    QLinearGradient g = vertical(1, 9, QColor(170, 236, 170), l.accent_dark);
    g.setColorAt(0.45, l.accent);
    p.fillRect(QRectF(0, 1, r.width(), 8), g);
    p.fillRect(QRectF(0, 0, r.width(), 1), QColor(190, 190, 190));
    p.fillRect(QRectF(0, 9, r.width(), 1), QColor(190, 190, 190));
  } else {
    QLinearGradient g = vertical(0, r.height(), l.accent.lighter(135), l.accent_dark);
    g.setColorAt(0.5, l.accent);
    p.fillRect(r, g);
    // No stripes or other marks along the bar: the gauge stretches its picture over the
    // whole filled part, so anything that changes from column to column becomes one long
    // slope across the bar. Every column is the same.
    if (l.gloss)
      p.fillRect(QRectF(0, 0, r.width(), r.height() * 0.45), QColor(255, 255, 255, 90));
  }
  p.end();
  return flatten(drawn, l.backdrop);
}

QImage scroll_button(const Look &l, QSize size) {
  // Right arrow, right arrow hot, left arrow, left arrow hot; corners keyed (the strip
  // reads the key from the bottom-left pixel).
  return strip(size, 4, l.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    bool hot = f % 2 == 1;
    QRectF box = r.adjusted(1, 1, -1, -1);
    surface(p, box, std::min<qreal>(l.radius, 4), l.border, hot ? l.hot_top : l.face_top,
            hot ? l.hot_bottom : l.face_bottom, l.gloss);
    QColor ink = QColor(l.face_bottom).lightness() < 128 ? Qt::white : l.border;
    arrow(p, box.center(), 3, f < 2 ? 0 : 1, ink);
  });
}

QImage more_scroll_button() {
  const Look neutral = {"MORE",
                        QColor(232, 232, 232),
                        QColor(96, 100, 112),
                        QColor(252, 252, 252),
                        QColor(214, 216, 222),
                        QColor(255, 255, 255),
                        QColor(196, 214, 236),
                        QColor(),
                        QColor(),
                        QColor(),
                        QColor(),
                        QColor(),
                        QColor(),
                        3,
                        false,
                        false,
                        {},
                        {},
                        {},
                        {},
                        {},
                        {},
                        {},
                        {},
                        {},
                        {},
                        0,
                        QColor()};
  return scroll_button(neutral, QSize(72, 17));
}

QImage tab(const Look &l) {
  // Frame 1 active, frame 2 inactive; each is three slices (caps and a stretched middle).
  // The tabs are drawn for a strip above the pages; the controls turn them for other sides.
  return strip(l.tab, 2, l.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    bool active = f == 0;
    QRectF shape = active ? r.adjusted(0, 0, 0, 2) : r.adjusted(0, 2, 0, 2);
    qreal radius = std::min<qreal>(std::max<qreal>(l.radius, 2), r.width() / 3);
    QColor top = active ? l.face_top : l.face_bottom.darker(104);
    QColor bottom = active ? l.face_top : l.face_bottom.darker(112);
    surface(p, shape, radius, l.border, top, bottom, l.gloss && active);
    if (active && l.hot_ring.isValid()) {  // WinXP's orange lip on the selected tab
      p.setPen(Qt::NoPen);
      p.setBrush(l.hot_ring);
      p.drawRoundedRect(QRectF(r.left() + 1, r.top(), r.width() - 2, 3), 1.5, 1.5);
    }
  });
}

QImage tab_line(const Look &l) {
  QImage drawn = canvas(l.tab_line);
  QPainter p(&drawn);
  QRectF r(0, 0, l.tab_line.width(), l.tab_line.height());
  if (l.tab_line.height() == 1) {
    p.fillRect(r, QColor(145, 155, 156));
  } else {
    p.fillRect(r, vertical(0, r.height(), l.face_top, l.face_bottom));
    p.fillRect(QRectF(0, 0, r.width(), 1), l.border);
    if (l.gloss)
      p.fillRect(QRectF(0, 1, r.width(), r.height() / 2), QColor(255, 255, 255, 90));
  }
  p.end();
  return flatten(drawn, l.backdrop);
}

// The caption bar's face, of which `r` shows the rows from `top` down.
void title_face(QPainter &p, const Look &l, const QRectF &r, qreal top) {
  p.save();
  p.translate(0, -top);
  const QRectF bar(r.left(), 0, r.width(), l.title_height);
  p.setClipRect(r.translated(0, top));
  p.fillRect(bar, vertical(0, bar.height(), l.title.lighter(125), l.title.darker(115)));
  if (l.gloss)
    p.fillRect(QRectF(r.left(), 1, r.width(), bar.height() * 0.45), QColor(255, 255, 255, 70));
  p.restore();
}

// The 18 title-bar button frames: six glyphs (control box, help, maximise, restore,
// minimise, close), each normal, hot and pressed. The looks that draw them opaque get the
// caption bar's face around each button instead of the key, so no fuchsia corner shows.
QImage title_buttons(const Look &l, int look) {
  const bool opaque = theme_elements[5].looks[look].number == 0;
  const qreal button_top = qreal(theme_elements[8].looks[look].number);
  return strip(l.title_button, 18, l.title.darker(120), [&](QPainter &p, const QRectF &r, int f) {
    if (opaque)
      title_face(p, l, r, button_top);
    int glyph = f / 3, state = f % 3;
    QRectF box = r.adjusted(0.5, 0.5, -0.5, -0.5);
    bool close = glyph == 5;
    QColor top = close ? QColor(232, 112, 80) : l.title.lighter(130),
           bottom = close ? QColor(190, 50, 30) : l.title;
    if (state == 1) {
      top = top.lighter(115);
      bottom = bottom.lighter(115);
    } else if (state == 2) {
      std::swap(top, bottom);
      top = top.darker(115);
    }
    surface(p, box, std::min<qreal>(l.radius, 4), QColor(255, 255, 255, 220), top, bottom, l.gloss);
    p.setRenderHint(QPainter::Antialiasing);
    // Light caption bars (MacOS) take dark glyphs; the close button is always red and white.
    const QColor ink = !close && l.title.lightness() > 160 ? QColor(64, 64, 72) : QColor(Qt::white);
    p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPointF c = box.center();
    qreal s = std::min(box.width(), box.height()) * 0.22;
    switch (glyph) {
      case 0:
        p.setBrush(ink);
        p.drawEllipse(c, s, s);
        break;
      case 1: {
        // A question mark: the hook over the top, a stem down to the middle, the dot below.
        const qreal radius = s * 0.75;
        const QRectF hook(c.x() - radius, c.y() - s * 0.55 - radius, 2 * radius, 2 * radius);
        QPainterPath mark;
        mark.arcMoveTo(hook, 160);
        mark.arcTo(hook, 160, -230);
        mark.lineTo(c.x(), c.y() + s * 0.45);
        p.drawPath(mark);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawEllipse(c + QPointF(0, s * 1.15), 1.1, 1.1);
        break;
      }
      case 2:
        p.drawRect(QRectF(c.x() - s, c.y() - s, 2 * s, 2 * s));
        break;
      case 3:
        p.drawRect(QRectF(c.x() - s, c.y() - s * 0.4, s * 1.4, s * 1.4));
        p.drawLine(QPointF(c.x() - s * 0.4, c.y() - s), QPointF(c.x() + s, c.y() - s));
        break;
      case 4:
        p.drawLine(QPointF(c.x() - s, c.y() + s * 0.8), QPointF(c.x() + s, c.y() + s * 0.8));
        break;
      default:
        p.drawLine(c + QPointF(-s, -s), c + QPointF(s, s));
        p.drawLine(c + QPointF(s, -s), c + QPointF(-s, s));
        break;
    }
  });
}

QImage title_piece(const Look &l, int width, int which) {
  // which: 0 the left end (round upper-left corner), 1 the stretched middle, 2 the right end.
  QImage drawn = canvas(QSize(width, l.title_height));
  QPainter p(&drawn);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF r(0, 0, width, l.title_height);
  QPainterPath shape;
  qreal radius = std::max<qreal>(l.radius, 3);
  if (which == 0)
    shape.addRoundedRect(r.adjusted(0, 0, radius * 2, 0), radius, radius);
  else if (which == 2)
    shape.addRoundedRect(r.adjusted(-radius * 2, 0, 0, 0), radius, radius);
  else
    shape.addRect(r);
  QPainterPath clip;
  clip.addRect(r);
  p.setPen(Qt::NoPen);
  p.setBrush(vertical(0, r.height(), l.title.lighter(125), l.title.darker(115)));
  p.drawPath(shape.intersected(clip));
  if (l.gloss) {
    p.setBrush(QColor(255, 255, 255, 70));
    p.drawRect(QRectF(0, 1, width, r.height() * 0.45));
  }
  p.end();
  return flatten(drawn, l.backdrop);
}

QImage scrollbar_buttons(const Look &l) {
  // Up, up hot, up pressed, down, down hot, down pressed.
  return strip(l.scrollbar_button, 6, l.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    int state = f % 3;
    QColor top = state == 0 ? l.face_top : state == 1 ? l.hot_top : l.down_top;
    QColor bottom = state == 0 ? l.face_bottom : state == 1 ? l.hot_bottom : l.down_bottom;
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), std::min<qreal>(l.radius, 3), l.border, top, bottom,
            l.gloss);
    QColor ink = bottom.lightness() < 128 ? Qt::white : l.border;
    arrow(p, r.center(), 3, f < 3 ? 2 : 3, ink);
  });
}

QImage scrollbar_track(const Look &l) {
  // The slider: normal, hot, pressed.
  return strip(l.scrollbar_track, 3, l.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    QColor top = f == 0 ? l.face_top : f == 1 ? l.hot_top : l.down_top;
    QColor bottom = f == 0 ? l.face_bottom : f == 1 ? l.hot_bottom : l.down_bottom;
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), std::min<qreal>(l.radius, 3), l.border, top, bottom,
            l.gloss);
  });
}

QImage check_list(const Look &l) {
  return strip(QSize(26, 13), 2, l.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), 2, l.border, l.face_top, l.face_bottom, false);
    if (f == 0)
      check_mark(p, r, l.mark == Qt::white ? l.accent_dark : l.mark);
  });
}

QImage simple(QSize size, const QColor &matte, const std::function<void(QPainter &, const QRectF &)> &paint) {
  QImage drawn = canvas(size);
  QPainter p(&drawn);
  paint(p, QRectF(QPointF(0, 0), QSizeF(size)));
  p.end();
  return flatten(drawn, matte);
}

QImage combo_button(const Look &l, QSize size) {
  // A light button face with a dark downward chevron: the arrow is part of the picture. It
  // sits inside the white edit field, which fills its corners.
  return simple(size, Qt::white, [&](QPainter &p, const QRectF &r) {
    p.fillRect(r, Qt::white);
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), std::min<qreal>(l.radius, 3), l.border.lighter(170),
            l.hot_top.isValid() ? QColor(250, 252, 255) : l.face_top, QColor(196, 212, 246), l.gloss);
    arrow(p, r.center() + QPointF(0, 0.5), 3.2, 3, QColor(77, 97, 133), 2.0);
  });
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: artgen OUTPUT_DIR\n");
    return 2;
  }
  const QString out_dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out_dir);
  std::map<std::string, QImage> art;

  for (int look = 0; look < 5; ++look) {
    const Look &l = looks[look];
    const std::string w = l.word;
    art[w + "_BUTTON"] = button(l);
    art[w + "_CHECKBOX"] = check_box(l, l.check, false);
    art[w + "_RADIOBUTTON"] = check_box(l, l.radio, true);
    art[w + "_PROGRESSBAR"] = progress(l);
    if (w == "MACOS" || w == "WINXP")
      art[w + "_SCROLLBUTTON"] = scroll_button(l, l.scroll_button);
    art[w + "_TAB"] = tab(l);
    art[w + "_TAB_LINE"] = tab_line(l);
    art[w + "_TITLEBTN"] = title_buttons(l, look);
    art[w + "_TITLE_LEFT"] = title_piece(l, 30, 0);
    art[w + "_TITLE_CLIENT"] = title_piece(l, 10, 1);
    art[w + "_TITLE_RIGHT"] = title_piece(l, 30, 2);
    art[w + "_SCROLLBAR_BUTTON"] = scrollbar_buttons(l);
    art[w + "_SCROLLBAR_TRACK"] = scrollbar_track(l);
    art[w + "_TRACKBAR_BAR"] = simple(QSize(21, 5), l.backdrop, [&](QPainter &p, const QRectF &r) {
      surface(p, r.adjusted(0, 0.5, 0, -0.5), 2, l.border, l.face_bottom.darker(110), l.face_top, false);
    });
    art[w + "_TRACKBAR_SLIDER"] = simple(QSize(11, 21), l.backdrop, [&](QPainter &p, const QRectF &r) {
      surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), std::min<qreal>(l.radius, 4), l.border, l.face_top,
              l.face_bottom, l.gloss);
    });
    art[w + "_TRACKBAR_SLIDER_V"] = simple(QSize(21, 11), l.backdrop, [&](QPainter &p, const QRectF &r) {
      surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), std::min<qreal>(l.radius, 4), l.border, l.face_top,
              l.face_bottom, l.gloss);
    });
    // The check list's marks: checked, unchecked.
    art[w + "_CHECKLIST"] = check_list(l);
    art[w + "_SIDECHENNEL_HANDLE"] = simple(QSize(7, 40), l.backdrop, [&](QPainter &p, const QRectF &r) {
      surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), 3, l.border, l.face_top, l.face_bottom, l.gloss);
      p.setPen(QPen(l.border, 1));
      for (int y = 14; y <= 26; y += 3)
        p.drawPoint(QPointF(3.5, y));
    });
    art[w + "_SIDECHENNEL_BAR"] = simple(QSize(7, 10), l.backdrop, [&](QPainter &p, const QRectF &r) {
      p.fillRect(r, QLinearGradient(vertical(0, 0, l.face_top, l.face_bottom)));
      p.fillRect(QRectF(0, 0, 1, r.height()), l.border);
      p.fillRect(QRectF(r.width() - 1, 0, 1, r.height()), l.border);
    });
  }
  art["MORE_SCROLLBUTTON"] = more_scroll_button();

  // Bitmaps that single controls load by name.
  const Look &mac = looks[0], &xp = looks[1], &protein = looks[3];
  art["WINXP_COMBOBOX_BUTTON"] = combo_button(xp, QSize(16, 18));
  art["MACOS_COMBOBOX_BUTTON"] = simple(QSize(16, 17), Qt::white, [&](QPainter &p, const QRectF &r) {
    p.fillRect(r, Qt::white);
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), 5, mac.accent_dark, mac.accent.lighter(120), mac.accent,
            true);
    arrow(p, r.center() + QPointF(0, -2.5), 2.4, 2, Qt::white, 1.4);
    arrow(p, r.center() + QPointF(0, 2.5), 2.4, 3, Qt::white, 1.4);
  });
  art["MACOS_FORM_BACKGROUND"] = simple(QSize(8, 8), mac.backdrop, [&](QPainter &p, const QRectF &r) {
    p.fillRect(r, QColor(236, 236, 236));  // pinstripes: every other pair of rows a shade lighter
    p.fillRect(QRectF(0, 0, 8, 2), QColor(246, 246, 246));
    p.fillRect(QRectF(0, 4, 8, 2), QColor(246, 246, 246));
  });
  art["PROTEIN_FORM_BACKGROUND"] = simple(QSize(8, 8), protein.backdrop, [&](QPainter &p, const QRectF &r) {
    p.fillRect(r, QColor(251, 250, 254));
    p.fillRect(QRectF(1, 1, 1, 1), QColor(232, 226, 246));
    p.fillRect(QRectF(5, 5, 1, 1), QColor(226, 242, 236));
  });
  art["MACOS_MENU_BAR"] = simple(QSize(10, 22), mac.backdrop, [&](QPainter &p, const QRectF &r) {
    p.fillRect(r, vertical(0, r.height(), QColor(252, 252, 252), QColor(218, 218, 218)));
    p.fillRect(QRectF(0, r.height() - 1, r.width(), 1), QColor(150, 150, 150));
  });
  art["MACOS_MENU_SELECT"] = simple(QSize(10, 18), mac.backdrop, [&](QPainter &p, const QRectF &r) {
    p.fillRect(r, vertical(0, r.height(), mac.accent.lighter(115), mac.accent_dark));
  });
  art["MENU_CHECKED"] = simple(QSize(16, 16), QColor(255, 255, 255), [&](QPainter &p, const QRectF &r) {
    check_mark(p, r.adjusted(2, 2, -2, -2), QColor(20, 20, 20));
  });
  art["MDI_CONTROL_BUTTON"] = title_buttons(xp, 1);
  art["PANEL_BUTTON"] = strip(QSize(39, 13), 3, xp.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), 2, xp.border, f == 2 ? xp.down_top : xp.face_top,
            f == 2 ? xp.down_bottom : xp.face_bottom, false, f == 1 ? xp.hot_ring : QColor());
    arrow(p, r.center(), 2.5, 2, xp.border);
  });
  art["SIDECHANNEL_BTN"] = strip(QSize(48, 16), 3, xp.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), 3, xp.border, f == 2 ? xp.down_top : xp.face_top,
            f == 2 ? xp.down_bottom : xp.face_bottom, false, f == 1 ? xp.hot_ring : QColor());
    arrow(p, r.center(), 3, 1, xp.border);
  });
  art["STATUSBAR_HANDLE"] = simple(QSize(12, 12), xp.backdrop, [&](QPainter &p, const QRectF &) {
    p.fillRect(QRectF(0, 0, 12, 12), xp.backdrop);
    for (int row = 0; row < 3; ++row)
      for (int col = 2 - row; col < 3; ++col) {
        p.fillRect(QRectF(3 + col * 3, 3 + row * 3, 2, 2), QColor(255, 255, 255));
        p.fillRect(QRectF(3 + col * 3, 3 + row * 3, 1, 1), QColor(160, 156, 140));
      }
  });
  art["DBNAV_BUTTON"] = strip(QSize(69, 22), 3, xp.backdrop, [&](QPainter &p, const QRectF &r, int f) {
    surface(p, r.adjusted(0.5, 0.5, -0.5, -0.5), 3, xp.border, f == 2 ? xp.down_top : xp.face_top,
            f == 2 ? xp.down_bottom : xp.face_bottom, false, f == 1 ? xp.hot_ring : QColor());
  });

  // Every bitmap the element table names must be drawn: the table is the generator's input.
  std::set<std::string> wanted;
  for (const ThemeElement &element : theme_elements)
    if (element.kind == ElementKind::Bitmap)
      for (const ElementValue &value : element.looks)
        if (value.bitmap)
          wanted.insert(value.bitmap);
  for (const std::string &name : wanted)
    if (!art.count(name)) {
      std::fprintf(stderr, "artgen: no drawing for %s\n", name.c_str());
      return 1;
    }

  QFile qrc(out_dir + "/skinart.qrc");
  if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::fprintf(stderr, "artgen: cannot write %s\n", qPrintable(qrc.fileName()));
    return 1;
  }
  QTextStream list(&qrc);
  list << "<RCC>\n  <qresource prefix=\"/skin\">\n";
  for (const auto &[name, image] : art) {
    QString file = QString::fromStdString(name) + ".bmp";
    if (!image.convertToFormat(QImage::Format_RGB888).save(out_dir + "/" + file, "BMP")) {
      std::fprintf(stderr, "artgen: cannot write %s\n", qPrintable(file));
      return 1;
    }
    list << "    <file>" << file << "</file>\n";
  }
  list << "  </qresource>\n</RCC>\n";
  return 0;
}
