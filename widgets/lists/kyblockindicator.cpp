#include "widgets/lists/kyblockindicator.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

void TBlockAppearance::Assign(const TBlockAppearance &source) {
  auto handler = std::move(OnChange);
  OnChange = nullptr;
  block_color_ = source.block_color_;
  block_color_to_ = source.block_color_to_;
  block_border_color_ = source.block_border_color_;
  block_color_active_ = source.block_color_active_;
  block_color_active_to_ = source.block_color_active_to_;
  block_border_color_active_ = source.block_border_color_active_;
  border_color_ = source.border_color_;
  background_color_ = source.background_color_;
  direction_ = source.direction_;
  steps_ = source.steps_;
  OnChange = std::move(handler);
  if (OnChange)
    OnChange();
}

TKyBlockIndicator::TKyBlockIndicator(QWidget *parent) : QWidget(parent) {
  resize(50, 50);
  appearance_.OnChange = [this] { update(); };
  timer_.setInterval(static_cast<int>(interval_));
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
}

void TKyBlockIndicator::SetBlockCount(int n) {
  if (n < 2 || n == block_count_)
    return;
  // The active block stays where it is, even outside a smaller grid, where it stops.
  block_count_ = n;
  update();
}

void TKyBlockIndicator::SetPadding(int padding) {
  if (padding < 1 || padding == padding_)
    return;
  padding_ = padding;
  update();
}

void TKyBlockIndicator::SetInterval(unsigned ms) {
  if (ms == interval_)
    return;
  interval_ = ms;
  timer_.setInterval(static_cast<int>(std::min<unsigned>(ms, INT32_MAX)));
}

void TKyBlockIndicator::Loaded() {
  loaded_ = true;
  active_column_ = block_count_ - 1;
  active_row_ = block_count_ - 1;
  if (isEnabled())
    timer_.start();
  else
    timer_.stop();
  update();
}

QRect TKyBlockIndicator::BlockArea() const {
  int inset = appearance_.BorderColor() != clNone ? 3 : 2;
  return QRect(QPoint(inset, inset), QPoint(width() - inset - 1, height() - inset - 1));
}

// The block size follows the size, the count, the padding and the border at every use, so
// no change of any of them can leave a stale one behind.
int TKyBlockIndicator::BlockWidth() const {
  return (BlockArea().width() - (block_count_ - 1) * padding_) / block_count_;
}

int TKyBlockIndicator::BlockHeight() const {
  return (BlockArea().height() - (block_count_ - 1) * padding_) / block_count_;
}

QRect TKyBlockIndicator::BlockRect(int column, int row) const {
  if (column < 0 || row < 0 || column >= block_count_ || row >= block_count_)
    return {};
  QRect area = BlockArea();
  int area_right = area.right() + 1;  // one past the last pixel, as the rule counts
  int area_bottom = area.bottom() + 1;
  const int w = BlockWidth();
  const int h = BlockHeight();
  int left = area_right - column * padding_ - (column + 1) * w;
  int top = area_bottom - row * padding_ - (row + 1) * h;
  return QRect(left, top, w, h);
}

void TKyBlockIndicator::Step() {
  const int last = block_count_ - 1;
  int &c = active_column_;
  int &r = active_row_;
  QRect old_rect = BlockRect(c, r);
  if (r == last) {  // top row, moving right
    if (c > 0)
      --c;
    else
      --r;
  } else if (c == 0) {  // right column, moving down
    if (r > 0)
      --r;
    else
      ++c;
  } else if (r == 0) {  // bottom row, moving left
    if (c < last)
      ++c;
    else
      ++r;
  } else if (c == last) {  // left column, moving up
    if (r < last)
      ++r;
    else
      --c;
  }
  // Inside the border (possible after BlockCount grew) the block stays.
  update(old_rect);
  update(BlockRect(c, r));
}

void TKyBlockIndicator::changeEvent(QEvent *event) {
  if (event->type() == QEvent::EnabledChange && loaded_) {
    if (isEnabled())
      timer_.start();
    else
      timer_.stop();
  }
  QWidget::changeEvent(event);
}

void TKyBlockIndicator::enterEvent(QEnterEvent *event) {
  if (OnMouseEnter)
    OnMouseEnter(this);
  QWidget::enterEvent(event);
}

void TKyBlockIndicator::leaveEvent(QEvent *event) {
  if (OnMouseLeave)
    OnMouseLeave(this);
  QWidget::leaveEvent(event);
}

void draw_block_gradient(QPainter &painter, const QRect &rect, QColor from, QColor to, int steps,
                         TGradientDirection direction) {
  steps = std::max(steps, 1);
  const int extent = direction == gdHorizontal ? rect.width() : rect.height();
  const double s = double(extent - 1) / steps;
  const int band = static_cast<int>(std::lround(s)) + 1;
  for (int i = 0; i < steps; ++i) {
    auto blend = [&](int a, int b) { return a + static_cast<int>(std::lround(double(i) * (b - a) / steps)); };
    QColor color(blend(from.red(), to.red()), blend(from.green(), to.green()), blend(from.blue(), to.blue()));
    int start = static_cast<int>(std::lround(i * s));
    QRect part = direction == gdHorizontal ? QRect(rect.left() + start, rect.top(), band, rect.height())
                                           : QRect(rect.left(), rect.top() + start, rect.width(), band);
    painter.fillRect(part.intersected(rect), color);
  }
}

void TKyBlockIndicator::DrawBlock(QPainter &painter, int column, int row) {
  const bool active = column == active_column_ && row == active_row_;
  const TColor fill = active ? appearance_.BlockColorActive() : appearance_.BlockColor();
  const TColor fill_to = active ? appearance_.BlockColorActiveTo() : appearance_.BlockColorTo();
  const TColor border = active ? appearance_.BlockBorderColorActive() : appearance_.BlockBorderColor();
  QRect block = BlockRect(column, row);
  if (fill_to != clNone && fill != clNone)
    draw_block_gradient(painter, block, list_color(fill), list_color(fill_to), appearance_.Steps(),
                        appearance_.Direction());
  else if (fill != clNone)
    painter.fillRect(block, list_color(fill));
  if (border != clNone) {
    painter.setPen(list_color(border));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(block.adjusted(0, 0, -1, -1));
  }
}

void TKyBlockIndicator::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  const QRect client = rect();
  if (appearance_.BackGroundColor() != clNone) {
    painter.fillRect(client, list_color(appearance_.BackGroundColor()));
  }
  if (appearance_.BorderColor() != clNone) {
    painter.setPen(list_color(appearance_.BorderColor()));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(client.adjusted(0, 0, -1, -1));
  }
  for (int column = 0; column < block_count_; ++column)
    for (int row = 0; row < block_count_; ++row)
      DrawBlock(painter, column, row);
}
