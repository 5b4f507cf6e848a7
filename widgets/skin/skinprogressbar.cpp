#include "widgets/skin/skinprogressbar.h"

#include "widgets/skin/skindraw.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

namespace {

// What a screen reader learns of the gauge: a progress bar whose value is its caption.
class AccessibleGauge final : public QAccessibleWidget {
 public:
  explicit AccessibleGauge(QWidget *widget) : QAccessibleWidget(widget, QAccessible::ProgressBar) {}
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value)
      return static_cast<TskProgressBar *>(widget())->Caption();
    return QAccessibleWidget::text(t);
  }
};

QAccessibleInterface *gauge_accessible(const QString &class_name, QObject *object) {
  if (class_name == QLatin1String("TskProgressBar") && object && object->isWidgetType())
    return new AccessibleGauge(static_cast<QWidget *>(object));
  return nullptr;
}

}  // namespace

TskProgressBar::TskProgressBar(QWidget *parent) : QWidget(parent) {
  static const bool accessible = (QAccessible::installFactory(gauge_accessible), true);
  (void)accessible;
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(150, 12);
  style_ = GetSkinFormStyle(parent ? parent->window() : nullptr);
  reload_style();
  update_caption();
}

int TskProgressBar::fill_length(int length, int min, int max, int position) {
  if (max <= min || position <= min)
    return 0;
  if (position > max)
    return length;
  return int(int64_t(length) * (int64_t(position) - min) / (int64_t(max) - min));
}

int TskProgressBar::percent(int min, int max, int position) {
  if (max == min)
    return 0;
  // C++ division truncates toward zero, as the caption wants for positions below Min.
  return int((int64_t(position) - min) * 100 / (int64_t(max) - min));
}

void TskProgressBar::update_caption() {
  caption_ = QStringLiteral("%1%").arg(percent(min_, max_, position_));
  if (QAccessible::isActive()) {
    QAccessibleValueChangeEvent changed(this, caption_);
    QAccessible::updateAccessibility(&changed);
  }
  update();
}

void TskProgressBar::SetMin(int value) {
  min_ = value;
  update_caption();
}

void TskProgressBar::SetMax(int value) {
  max_ = value;
  update_caption();
}

void TskProgressBar::SetPosition(int value) {
  position_ = value;
  update_caption();
}

void TskProgressBar::SetOrientation(TskOrientation orientation) {
  orientation_ = orientation;
  reload_style();
}

void TskProgressBar::SetShowCaption(bool show) {
  show_caption_ = show;
  update();
}

void TskProgressBar::SetSmartShowCaption(bool smart) {
  smart_caption_ = smart;
  update();
}

void TskProgressBar::SetCaptionColor(uint32_t color) {
  caption_color_ = color;
  update();
}

void TskProgressBar::SetColor(uint32_t color) {
  color_ = color;
  update();
}

void TskProgressBar::SetBorderColor(uint32_t color) {
  border_color_ = color;
  update();
}

void TskProgressBar::SetPicture(const QImage &picture) {
  picture_ = picture;
  update();
}

void TskProgressBar::SetUIStyle(int style) {
  style_ = style;
  reload_style();
}

void TskProgressBar::SetFileTheme(TskFileTheme *theme) {
  file_theme_ = theme;
  FollowFileTheme(this, theme_gone_, theme, [this] {
    file_theme_ = nullptr;
    SetUIStyle(DeepBlue);
  });
  reload_style();
}

void TskProgressBar::reload_style() {
  QImage picture;
  skin_bitmap(file_theme_, style_, skin_element::ProgressBarImage, picture);
  if (orientation_ == skVertical)
    RoundPicture(picture);
  picture_ = picture;
  color_ = skin_color_of(file_theme_, style_, skin_element::ControlBackgroundColor);
  border_color_ = skin_color_of(file_theme_, style_, skin_element::ControlBorderColor);
  update();
}

void TskProgressBar::paintEvent(QPaintEvent *) {
  QImage buffer(size(), QImage::Format_RGB32);
  // A theme without a bar picture leaves the filled part unpainted below; it must show the
  // bar's colour there, never whatever the fresh buffer held.
  buffer.fill(skin_color(color_));
  QPainter p(&buffer);
  const int W = width(), H = height();
  if (orientation_ == skHorizontal) {
    int x = fill_length(W - 1, min_, max_, position_);
    if (x == 0)
      x = 1;
    if (!picture_.isNull() && x > 1)
      p.drawImage(ltrb(1, 1, x, H - 1), picture_);
    p.fillRect(ltrb(x, 1, W - 1, H - 1), skin_color(color_));
  } else {
    const int len = H - 1;
    int y = len - fill_length(len, min_, max_, position_);
    if (y == 0)
      y = 1;
    // The picture runs from the bottom edge up to the fill's top, upside down.
    if (!picture_.isNull() && y - 1 < H - 2)
      p.drawImage(ltrb(1, y - 1, W - 1, H - 2), picture_.mirrored(false, true));
    p.fillRect(ltrb(1, 1, W - 1, y), skin_color(color_));
    // A vertical bar has no room for its caption, for good.
    show_caption_ = false;
  }
  if (show_caption_ && !(smart_caption_ && position_ == min_)) {
    p.setFont(QFont());
    p.setPen(skin_color(caption_color_));
    QFontMetrics metrics(p.font());
    const int tw = metrics.horizontalAdvance(caption_), th = metrics.height();
    p.drawText(QRect((W - tw) / 2, (H - th) / 2, tw, th), Qt::AlignLeft | Qt::AlignTop, caption_);
  }
  p.setPen(QPen(skin_color(border_color_), 0));
  p.setBrush(Qt::NoBrush);
  p.drawRect(0, 0, W - 1, H - 1);
  p.end();
  QPainter(this).drawImage(0, 0, buffer);
}
