#include "widgets/skin/skinbuttonfamily.h"

#include "widgets/skin/skindraw.h"

#include <QPainter>
#include <QPolygon>

#include <algorithm>

TskImageButton::TskImageButton(QWidget *parent) : TskCustomButton(parent) {
  // The pictures' own key colour lets the parent show.
  SetTransparent(true);
}

void TskImageButton::SetPicture(PictureState state, const QImage &picture) {
  pictures_[state] = picture;
  AutoSizeChanged();
  update();
}

void TskImageButton::SetStretch(bool stretch) {
  stretch_ = stretch;
  update();
}

void TskImageButton::SetDrawFocused(bool draw) {
  draw_focused_ = draw;
  update();
}

bool TskImageButton::picture(PictureState state, QImage &frame) const {
  frame = pictures_[state].isNull() ? pictures_[Normal] : pictures_[state];
  return !frame.isNull();
}

void TskImageButton::AutoSizeChanged() {
  if (AutoSize() && !pictures_[Normal].isNull())
    resize(pictures_[Normal].size());
}

void TskImageButton::PaintPic(QPainter &painter, const QImage &frame) {
  const QImage shown = pic_transparent_ ? keyed(frame) : frame;
  if (stretch_)
    painter.drawImage(rect(), shown);
  else
    painter.drawImage((width() - frame.width()) / 2, (height() - frame.height()) / 2, shown);
}

void TskImageButton::PaintFocus(QPainter &painter) {
  if (draw_focused_)
    TskCustomButton::PaintFocus(painter);
}

TskControlButton::TskControlButton(QWidget *parent) : TskCustomButton(parent) {
  // Window buttons are clicked, never tabbed to.
  setFocusPolicy(Qt::NoFocus);
}

void TskControlButton::SetThemeID(int element) {
  theme_id_ = element;
  AutoSizeChanged();
  update();
}

void TskControlButton::SetPics(int count, int index) {
  pic_count_ = std::max(1, count);
  pic_index_ = std::clamp(index, 1, pic_count_);
  AutoSizeChanged();
  update();
}

void TskControlButton::SetPicTransparent(bool transparent) {
  pic_transparent_ = transparent;
  update();
}

bool TskControlButton::StateFrame(const TskFileTheme *theme, int style, int element, int count, int index,
                                  int state, QImage &frame) {
  const int shown = index + 2 <= count ? index + state : index;
  return skin_bitmap(theme, style, element, frame, count, shown) && !frame.isNull();
}

bool TskControlButton::state_frame(int state, QImage &frame) const {
  return StateFrame(FileTheme(), UIStyle(), theme_id_, pic_count_, pic_index_, state, frame);
}

void TskControlButton::AutoSizeChanged() {
  QImage frame;
  if (AutoSize() && state_frame(0, frame))
    resize(frame.size());
}

void TskControlButton::PaintPic(QPainter &painter, const QImage &frame) {
  // A window button's frame holds a glyph in its middle: the whole frame is scaled, not
  // laid out by nine-slice, which would drop the middle of a frame larger than the button.
  painter.drawImage(rect(), pic_transparent_ ? keyed(frame) : frame);
}

TskArrowButton::TskArrowButton(QWidget *parent) : TskCustomButton(parent) {
  resize(17, 17);
  UIStyleChanged();
}

void TskArrowButton::UIStyleChanged() {
  // The push button's rule: the looks with rounded, keyed frames let the parent show.
  SetTransparent(skin_bool_of(FileTheme(), UIStyle(), skin_element::ButtonTransparentBool));
}

void TskArrowButton::SetArrowType(TskArrowButtonType type) {
  arrow_ = type;
  update();
}

QPolygon TskArrowButton::ArrowShape(QSize size, TskArrowButtonType type, bool held) {
  // Half as long as it is wide, its point towards its direction, centred; as big as the
  // button allows along both axes (a spin edit's halves are twice as wide as high).
  const bool upright = type == atUp || type == atDown;
  const int room =
      upright ? std::min(size.width(), 2 * size.height()) : std::min(2 * size.width(), size.height());
  const int half = std::max(2, room / 5);
  const int cx = size.width() / 2 + (held ? 1 : 0), cy = size.height() / 2 + (held ? 1 : 0);
  const int tip = half / 2, back = half - tip;
  switch (type) {
    case atUp:
      return QPolygon({QPoint(cx - half, cy + back), QPoint(cx + half, cy + back), QPoint(cx, cy - tip)});
    case atDown:
      return QPolygon({QPoint(cx - half, cy - back), QPoint(cx + half, cy - back), QPoint(cx, cy + tip)});
    case atLeft:
      return QPolygon({QPoint(cx + back, cy - half), QPoint(cx + back, cy + half), QPoint(cx - tip, cy)});
    case atRight:
      break;
  }
  return QPolygon({QPoint(cx - back, cy - half), QPoint(cx - back, cy + half), QPoint(cx + tip, cy)});
}

void TskArrowButton::PaintPic(QPainter &painter, const QImage &frame) {
  TskCustomButton::PaintPic(painter, frame);
  const QPolygon arrow = ArrowShape(size(), arrow_, held());
  painter.save();
  auto fill = [&](const QPolygon &shape, const QColor &color) {
    painter.setPen(QPen(color, 0));
    painter.setBrush(color);
    painter.drawPolygon(shape);
  };
  if (isEnabled()) {
    fill(arrow, palette().color(QPalette::ButtonText));
  } else {
    fill(arrow.translated(1, 1), Qt::white);
    fill(arrow, QColor(0x80, 0x80, 0x80));
  }
  painter.restore();
}

TskToolBarSpeedButton::TskToolBarSpeedButton(const QString &caption, QWidget *parent)
    : TskCustomButton(parent) {
  setText(caption);
  setFocusPolicy(Qt::NoFocus);
  SetTransparent(true);
  UIStyleChanged();
}

void TskToolBarSpeedButton::UIStyleChanged() {
  border_ = skin_color_of(FileTheme(), UIStyle(), skin_element::ToolBarButtonBorderColor);
  face_ = skin_color_of(FileTheme(), UIStyle(), skin_element::ToolBarButtonBackgroundColor);
  down_face_ = skin_color_of(FileTheme(), UIStyle(), skin_element::ToolBarButtonDownBackgroundColor);
}

QSize TskToolBarSpeedButton::sizeHint() const {
  const QFontMetrics metrics(font());
  return QSize(metrics.horizontalAdvance(QString(text()).remove('&')) + 16,
               std::max(22, metrics.height() + 8));
}

void TskToolBarSpeedButton::PaintPic(QPainter &painter, const QImage &) {
  const bool sunk = isEnabled() && (held() || isChecked());
  if (!sunk && !(isEnabled() && hot()))
    return;  // flat: the bar shows through
  painter.fillRect(rect(), skin_color(sunk ? down_face_ : face_));
  painter.setPen(QPen(skin_color(border_), 0));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
