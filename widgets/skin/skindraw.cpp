#include "widgets/skin/skindraw.h"

#include <QPainter>
#include <QTransform>
#include <QWidget>

#include <algorithm>

QImage SpitBitmap(const QImage &source, int spit_count, int spit_index) {
  if (spit_count < 1)
    return QImage();
  int width = source.width() / spit_count;
  return source.copy(width * (spit_index - 1), 0, width, source.height());
}

QImage keyed(const QImage &image, QRgb key) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  key |= 0xFF000000;
  for (int y = 0; y < out.height(); ++y) {
    auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x)
      line[x] = (line[x] | 0xFF000000) == key ? 0 : line[x] | 0xFF000000;
  }
  return out;
}

std::vector<SlicePiece> SpitDrawLayout(QSize frame, const QRect &rect, bool transparent) {
  const int sw = frame.width(), sh = frame.height();
  const int W = rect.width(), H = rect.height();
  // The four corners are cut from the frame's quadrants; the right and bottom ones start one
  // pixel further in, and each keeps the part of its quadrant nearest its own corner.
  auto fit = [](int source, int target) { return std::max(0, std::min(source, target)); };
  const int tlw = fit(sw / 2, W / 2), tlh = fit(sh / 2, H / 2);
  const int blw = fit(sw / 2, W / 2), blh = fit(sh / 2 - 1, H / 2 - 1);
  const int trw = fit(sw / 2 - 1, W / 2 - 1), trh = fit(sh / 2, H / 2);
  const int brw = fit(sw / 2 - 1, W / 2 - 1), brh = fit(sh / 2 - 1, H / 2 - 1);
  const QRect TL = ltrb(0, 0, tlw, tlh), BL = ltrb(0, H - blh, blw, H);
  const QRect TR = ltrb(W - trw, 0, W, trh), BR = ltrb(W - brw, H - brh, W, H);

  std::vector<SlicePiece> pieces;
  auto add = [&](const char *name, QRect source, QRect target, bool key) {
    if (source.width() > 0 && source.height() > 0 && target.width() > 0 && target.height() > 0)
      pieces.push_back({name, source, target.translated(rect.topLeft()), key});
  };
  add("top-left", ltrb(0, 0, tlw, tlh), TL, transparent);
  add("bottom-left", ltrb(0, sh - blh, blw, sh), BL, transparent);
  add("top-right", ltrb(sw - trw, 0, sw, trh), TR, transparent);
  add("bottom-right", ltrb(sw - brw, sh - brh, sw, sh), BR, transparent);

  // Edges and centre stretch; a target thinner than its strip takes the strip's outer part.
  QRect left_src = ltrb(0, sh / 2, sw / 2, sh - sh / 2);
  QRect left_dst = ltrb(0, TL.bottom() + 1, TL.right() + 1, BL.top());
  if (left_dst.width() < left_src.width())
    left_src.setWidth(std::max(0, left_dst.width()));
  add("left", left_src, left_dst, true);

  QRect right_src = ltrb(sw - sw / 2 + 1, sh - sh / 2, sw, sh / 2 + 2);
  QRect right_dst = ltrb(TR.left(), TR.bottom() + 1, TR.right() + 1, BR.top());
  if (right_dst.width() < right_src.width())
    right_src.setLeft(right_src.right() + 1 - std::max(0, right_dst.width()));
  add("right", right_src, right_dst, true);

  QRect top_src = ltrb(sw / 2, 0, sw - sw / 2 + 1, sh / 2);
  QRect top_dst = ltrb(TL.right() + 1, 0, TR.left(), TL.bottom() + 1);
  if (top_dst.height() < top_src.height())
    top_src.setHeight(std::max(0, top_dst.height()));
  add("top", top_src, top_dst, true);

  add("centre", ltrb(sw / 2, sh / 2, sw - sw / 2 + 1, sh - sh / 2),
      ltrb(TL.right() + 1, TL.bottom() + 1, TR.left(), BR.top() - 1), true);

  QRect bottom_src = ltrb(sw / 2, sh - sh / 2, sw - sw / 2 + 1, sh);
  QRect bottom_dst = ltrb(TL.right(), BL.top() - 1, BR.left(), BR.bottom() + 1);
  if (bottom_dst.height() < bottom_src.height())
    bottom_src.setTop(bottom_src.bottom() + 1 - std::max(0, bottom_dst.height()));
  add("bottom", bottom_src, bottom_dst, true);
  return pieces;
}

void SpitDraw(const QImage &frame, QPainter &painter, const QRect &rect, bool transparent) {
  for (const SlicePiece &piece : SpitDrawLayout(frame.size(), rect, transparent)) {
    QImage part = frame.copy(piece.source);
    if (part.size() != piece.target.size())
      part = part.scaled(piece.target.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    painter.drawImage(piece.target.topLeft(), piece.keyed ? keyed(part) : part);
  }
}

void SpitDrawHorizontal(const QImage &frame, QPainter &painter, const QRect &rect, bool transparent,
                        bool key_from_top_row) {
  const int w = frame.width() / 3;
  if (w < 1 || frame.height() < 1)
    return;
  QRgb key = 0xFFFF00FF;
  if (transparent)
    key = frame.pixel(0, key_from_top_row ? 0 : frame.height() - 1);
  const QImage left = keyed(frame.copy(0, 0, w, frame.height()), key);
  const QImage middle = keyed(frame.copy(w, 0, w, frame.height()), key);
  const QImage right = keyed(frame.copy(2 * w, 0, w, frame.height()), key);
  painter.drawImage(rect.topLeft(), left);
  painter.drawImage(QPoint(rect.left() + rect.width() - w, rect.top()), right);
  QRect between =
      ltrb(rect.left() + w, rect.top(), rect.left() + rect.width() - w, rect.top() + rect.height());
  if (between.width() > 0 && between.height() > 0)
    painter.drawImage(between, middle);
}

namespace {

// Quarter turns are exact in Qt's rotation paths: every pixel moves, none is resampled.
void turn(QImage &bmp, qreal degrees) {
  if (!bmp.isNull())
    bmp = bmp.transformed(QTransform().rotate(degrees), Qt::FastTransformation);
}

}  // namespace

void RoundPicture(QImage &bmp) { turn(bmp, -90); }
void RoundPicture2(QImage &bmp) { turn(bmp, 180); }
void RoundPicture3(QImage &bmp) { turn(bmp, 90); }

void TileDraw(QPainter &painter, const QImage &picture, const QRect &rect) {
  const int w = picture.width(), h = picture.height();
  if (w < 1 || h < 1)
    return;
  for (int y = 0; y < h + rect.height(); y += h)
    for (int x = 0; x < w + rect.width(); x += w)
      painter.drawImage(x, y, picture);
}

void DrawControlBorder(QPainter &painter, QSize size, const QColor &color, const QColor &inner,
                       bool draw_inner) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(color, 0));
  painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
  if (draw_inner) {
    painter.setPen(QPen(inner, 0));
    painter.drawRect(1, 1, size.width() - 3, size.height() - 3);
  }
  painter.restore();
}

void DoTrans(QPainter &painter, const QWidget *control) {
  QWidget *parent = control->parentWidget();
  if (!parent)
    return;
  QImage under(control->size(), QImage::Format_ARGB32_Premultiplied);
  under.fill(Qt::transparent);
  const QRect area = control->geometry();
  // The parent's own background and painting, without its children: the copy must never
  // recurse into the control that asks for it.
  parent->render(&under, QPoint(), QRegion(area), QWidget::DrawWindowBackground);
  // Then the siblings stacked beneath the control, bottom first, as the screen shows them:
  // a control laid over a picture must show the picture, not the bare parent.
  for (QObject *child : parent->children()) {
    if (child == control)
      break;
    auto *sibling = qobject_cast<QWidget *>(child);
    if (!sibling || sibling->isHidden() || sibling->isWindow())
      continue;
    const QRect overlap = area & sibling->geometry();
    if (overlap.isEmpty())
      continue;
    sibling->render(&under, overlap.topLeft() - area.topLeft(), QRegion(overlap.translated(-sibling->pos())),
                    QWidget::DrawWindowBackground | QWidget::DrawChildren);
  }
  painter.drawImage(0, 0, under);
}
