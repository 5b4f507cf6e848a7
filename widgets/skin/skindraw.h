// The drawing helpers every skinned control lays its artwork out with: frame cutting,
// nine-slice and three-slice layout, rotations, tiling, the two-line border and the copy of
// the parent's background. Rectangles follow the artwork's rules: right and bottom exclusive.
#pragma once

#include <QImage>
#include <QRect>

#include <vector>

class QPainter;
class QWidget;

// QRect from exclusive left, top, right, bottom.
inline QRect ltrb(int left, int top, int right, int bottom) {
  return QRect(left, top, right - left, bottom - top);
}

// Frame `spit_index` (1-based) of a strip of `spit_count` equal frames; a remainder of the
// strip width is never used.
QImage SpitBitmap(const QImage &source, int spit_count, int spit_index);

// `image` with every pixel of `key` made see-through (others opaque).
QImage keyed(const QImage &image, QRgb key = 0xFFFF00FF);

// One piece of a nine-slice layout: the part of the frame, where it lands (stretched to that
// size), and whether fuchsia shows through.
struct SlicePiece {
  const char *name;
  QRect source;
  QRect target;
  bool keyed;
};

// The pieces SpitDraw lays, in drawing order, leaving out the empty ones. The corners keep
// their size (cropped to the half of the target nearest them); edges and centre stretch.
std::vector<SlicePiece> SpitDrawLayout(QSize frame, const QRect &rect, bool transparent);
void SpitDraw(const QImage &frame, QPainter &painter, const QRect &rect, bool transparent);

// Three equal slices: caps at the ends, the middle stretched between them. The key is the
// frame's top-left (or bottom-left) pixel when `transparent`, else fuchsia.
void SpitDrawHorizontal(const QImage &frame, QPainter &painter, const QRect &rect, bool transparent,
                        bool key_from_top_row);

// Quarter turn counter-clockwise, half turn, quarter turn clockwise.
void RoundPicture(QImage &bmp);
void RoundPicture2(QImage &bmp);
void RoundPicture3(QImage &bmp);

// Covers `rect` with copies of `picture` from the origin, one spare tile each way.
void TileDraw(QPainter &painter, const QImage &picture, const QRect &rect);

// Frames a control of `size` one pixel wide in `color`, and the ring inside it in `inner`.
void DrawControlBorder(QPainter &painter, QSize size, const QColor &color, const QColor &inner,
                       bool draw_inner);

// Paints what shows under `control` (its parent's background and the siblings stacked beneath
// it, not those above) into `painter` at the control's origin. Nothing without a parent.
void DoTrans(QPainter &painter, const QWidget *control);
