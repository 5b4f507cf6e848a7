// The terminal's display side: cell metrics, painting, the caret, scroll bars, border and
// auto-size, mapped onto Qt.
//
// Mapping: a cell "drawn as it arrives" becomes an invalidation of that cell's pixels, and
// the next paint draws exactly the invalidated cells; Qt collects the invalidations of one
// received block into a single paint. Moving text a row up moves the pixels
// (QWidget::scroll), so only the uncovered row is painted again. The caret is an inverted
// rectangle painted over its cell while the control has the focus.
#include <QApplication>
#include <QFontMetricsF>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyle>

#include "comport/serportctl.h"

#include <cmath>

const TTermFont &ComTerminalFont() {
  static const TTermFont font = [] {
    TTermFont f;
    f.Font = QFont(QStringLiteral("Fixedsys"));
    f.Font.setPointSize(9);
    f.Color = 0xFFFFFF;
    return f;
  }();
  return font;
}

QColor TColorToQColor(TColor Color) {
  if (Color & 0x80000000u) {
    // System colours: the few a terminal is given, taken from the application palette.
    const QPalette pal = QApplication::palette();
    switch (Color & 0xFF) {
      case 5:
        return pal.color(QPalette::Base);  // window
      case 8:
        return pal.color(QPalette::Text);  // window text
      case 13:
        return pal.color(QPalette::Highlight);
      case 14:
        return pal.color(QPalette::HighlightedText);
      case 15:
        return pal.color(QPalette::Button);  // button face
      case 18:
        return pal.color(QPalette::ButtonText);
      default:
        return pal.color(QPalette::Window);
    }
  }
  return QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}

// ----------------------------------------------------------------------------- metrics

bool TCustomComTerminal::CalculateMetrics() {
  const QFontMetrics fm(font_);
  cell_height_ = std::max(fm.height(), 1);
  ascent_ = fm.ascent();
  // The cell is as wide as the widest glyph the terminal can draw (the 8-bit set). The
  // font's own maximum width is no use here: fixed fonts such as Noto Sans Mono carry a few
  // double-width symbols far outside that set, and fontconfig then calls them
  // proportional. What matters is that every printable ASCII glyph has one advance.
  int narrowest = fm.horizontalAdvance(QLatin1Char(' '));
  int widest = narrowest;
  for (int c = 33; c < 127; ++c) {
    const int w = fm.horizontalAdvance(QLatin1Char(static_cast<char>(c)));
    narrowest = std::min(narrowest, w);
    widest = std::max(widest, w);
  }
  const bool fixed = narrowest == widest;
  for (int c = 160; c < 256; ++c)
    widest = std::max(widest, fm.horizontalAdvance(QChar(c)));
  // Advances are fractional in scalable fonts (7.2 px at 12 px): a cell rounded down would
  // let each glyph run into its neighbour.
  const QFontMetricsF fmf(font_);
  qreal widestF = fmf.horizontalAdvance(QLatin1Char('M'));
  for (int c = 33; c < 127; ++c)
    widestF = std::max(widestF, fmf.horizontalAdvance(QLatin1Char(static_cast<char>(c))));
  widest = std::max(widest, int(std::ceil(widestF - 0.01)));
  cell_width_ = std::max(widest, 1);
  return fixed;
}

void TCustomComTerminal::ApplyFont(const QFont &Font) {
  font_ = Font;
  if (!CalculateMetrics()) {
    // The terminal's own font by name first; where no such font exists, the system's fixed
    // font, keeping the size that was asked for.
    font_.setFamily(ComTerminalFont().Font.family());
    if (!CalculateMetrics()) {
      QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
      if (Font.pixelSize() > 0)
        fixed.setPixelSize(Font.pixelSize());
      else if (Font.pointSizeF() > 0)
        fixed.setPointSizeF(Font.pointSizeF());
      fixed.setUnderline(Font.underline());
      font_ = fixed;
    }
  }
  // Underline is a cell attribute; the font itself never carries it.
  font_.setUnderline(false);
  CalculateMetrics();
}

void TCustomComTerminal::SetTermFont(const QFont &Font, TColor Color) {
  font_color_ = Color;
  attrs_.TextColor = Color;
  const bool hadCaret = caret_created_;
  if (hadCaret)
    DestroyCaret();
  ApplyFont(Font);
  if (hadCaret)
    CreateCaret();
  AdjustSize();
  UpdateScrollRange();
  InvalidateAll();
}

void TCustomComTerminal::SetColor(TColor Value) {
  color_ = Value;
  attrs_.FillColor = Value;
  InvalidateAll();
}

void TCustomComTerminal::SetAltColor(TColor Value) {
  alt_color_ = Value;
  InvalidateAll();
}

// ---------------------------------------------------------------------------- painting

QRect TCustomComTerminal::CellPixels(int X, int Y) const {
  return QRect((X - top_left_x_) * cell_width_, (Y - top_left_y_) * cell_height_, cell_width_, cell_height_);
}

void TCustomComTerminal::DrawChar(int X, int Y) {
  // X, Y are screen cells; the paint draws the buffer cell shown there. A hidden terminal
  // (the program's panel until the user opens it) has nothing to invalidate.
  if (!isVisible())
    return;
  const QRect r((X - 1) * cell_width_, (Y - 1) * cell_height_, cell_width_, cell_height_);
  if (r.intersects(viewport()->rect()))
    viewport()->update(r);
}

void TCustomComTerminal::InvalidatePortion(const TCellRect &Cells) {
  const int left = std::max((Cells.Left - top_left_x_) * cell_width_, 0);
  const int right = std::max((Cells.Right - top_left_x_ + 1) * cell_width_, 0);
  const int top = std::max((Cells.Top - top_left_y_) * cell_height_, 0);
  const int bottom = std::max((Cells.Bottom - top_left_y_ + 1) * cell_height_, 0);
  if (right > left && bottom > top)
    viewport()->update(QRect(left, top, right - left, bottom - top));
}

void TCustomComTerminal::InvalidateAll() { viewport()->update(); }

void TCustomComTerminal::ScrollContents(int Rows) {
  if (!viewport()->isVisible())
    return;
  const QRect area(0, 0, std::min(viewport()->width(), columns_ * cell_width_),
                   std::min(viewport()->height(), rows_ * cell_height_));
  viewport()->scroll(0, Rows * cell_height_, area);
  // The caret is painted into the pixels: where they moved to, it must not stay behind.
  if (caret_created_)
    viewport()->update(CaretPixels().translated(0, Rows * cell_height_));
}

void TCustomComTerminal::paintEvent(QPaintEvent *Event) {
  QPainter p(viewport());
  const QRect clip = Event->rect();
  p.fillRect(clip, TColorToQColor(color_));

  const int firstCol = clip.left() / cell_width_ + 1;
  const int lastCol = std::min(clip.right() / cell_width_ + 1, columns_);
  const int firstRow = clip.top() / cell_height_ + 1;
  const int lastRow = std::min(clip.bottom() / cell_height_ + 1, rows_);

  QFont plain = font_;
  QFont underlined = font_;
  underlined.setUnderline(true);
  bool isUnderlined = false;
  p.setFont(plain);
  TColor pen = 0xFFFFFFFFu;
  for (int y = firstRow; y <= lastRow; ++y) {
    const int by = y + top_left_y_ - 1;
    if (by < 1 || by > rows_)
      continue;
    // Backgrounds first, then glyphs: a glyph may reach a pixel past its advance (fonts
    // with fractional advances), and the next cell's background must not cut it off.
    for (int x = firstCol; x <= lastCol; ++x) {
      const int bx = x + top_left_x_ - 1;
      if (bx < 1 || bx > columns_)
        continue;
      const TComTermChar cell = buffer_.GetChar(bx, by);
      if (cell.Ch == 0)
        continue;
      p.fillRect(QRect((x - 1) * cell_width_, (y - 1) * cell_height_, cell_width_, cell_height_),
                 TColorToQColor(cell.FillColor));
    }
    for (int x = firstCol; x <= lastCol; ++x) {
      const int bx = x + top_left_x_ - 1;
      if (bx < 1 || bx > columns_)
        continue;
      const TComTermChar cell = buffer_.GetChar(bx, by);
      if (cell.Ch == 0)
        continue;
      const QRect r((x - 1) * cell_width_, (y - 1) * cell_height_, cell_width_, cell_height_);
      if (cell.Underscore != isUnderlined) {
        isUnderlined = cell.Underscore;
        p.setFont(isUnderlined ? underlined : plain);
      }
      if (cell.TextColor != pen) {
        pen = cell.TextColor;
        p.setPen(TColorToQColor(pen));
      }
      // Bytes are shown as Latin-1, the 8-bit set the box's console speaks.
      p.drawText(r.left(), r.top() + ascent_, QString(QChar(static_cast<unsigned char>(cell.Ch))));
    }
  }

  if (caret_created_ && caret_hidden_ == 0 && caret_height_ > 0) {
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.fillRect(CaretPixels(), Qt::white);
  }
}

// ------------------------------------------------------------------------------- caret

QRect TCustomComTerminal::CaretPixels() const {
  const int x = std::clamp(caret_x_, 1, columns_);
  const int y = std::clamp(caret_y_, 1, rows_);
  return QRect((x - top_left_x_) * cell_width_, (y - top_left_y_ + 1) * cell_height_ - caret_height_,
               cell_width_, caret_height_);
}

void TCustomComTerminal::InvalidateCaret() {
  if (caret_created_ && caret_height_ > 0)
    viewport()->update(CaretPixels());
}

void TCustomComTerminal::MoveCaret(int X, int Y) {
  X = std::clamp(X, 1, columns_);
  Y = std::clamp(Y, 1, rows_);
  if (!caret_created_) {  // nothing painted for it: the common case while text pours in
    caret_x_ = X;
    caret_y_ = Y;
    return;
  }
  if (X == caret_x_ && Y == caret_y_)
    return;
  InvalidateCaret();
  caret_x_ = X;
  caret_y_ = Y;
  InvalidateCaret();
}

void TCustomComTerminal::CreateCaret() {
  switch (caret_) {
    case tcBlock:
      caret_height_ = cell_height_;
      break;
    case tcUnderline:
      caret_height_ = std::max(cell_height_ / 8, 1);
      break;
    case tcNone:
      caret_height_ = 0;
      break;
  }
  caret_created_ = caret_height_ > 0;
  InvalidateCaret();
}

void TCustomComTerminal::DestroyCaret() {
  InvalidateCaret();
  caret_created_ = false;
  caret_height_ = 0;
}

void TCustomComTerminal::HideCaret() { ++caret_hidden_; }

void TCustomComTerminal::ShowCaret() {
  if (caret_hidden_ > 0 && --caret_hidden_ == 0)
    InvalidateCaret();
}

void TCustomComTerminal::SetCaret(TTermCaret Value) {
  if (Value == caret_)
    return;
  caret_ = Value;
  if (hasFocus()) {
    DestroyCaret();
    CreateCaret();
  }
}

void TCustomComTerminal::focusInEvent(QFocusEvent *Event) {
  QAbstractScrollArea::focusInEvent(Event);
  CreateCaret();
}

void TCustomComTerminal::focusOutEvent(QFocusEvent *Event) {
  QAbstractScrollArea::focusOutEvent(Event);
  DestroyCaret();
}

void TCustomComTerminal::mousePressEvent(QMouseEvent *Event) {
  if (Event->button() == Qt::LeftButton && (focusPolicy() & Qt::TabFocus) && isEnabled())
    setFocus(Qt::MouseFocusReason);
  Event->accept();
}

// ------------------------------------------------------------------------- scroll bars

void TCustomComTerminal::ApplyScrollBarPolicy() {
  const bool h = scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth;
  const bool v = scroll_bars_ == ssVertical || scroll_bars_ == ssBoth;
  setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(v ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
  if (!h)
    horizontalScrollBar()->setRange(0, 0);
  if (!v)
    verticalScrollBar()->setRange(0, 0);
}

void TCustomComTerminal::SetScrollBars(TScrollStyle Value) {
  if (Value == scroll_bars_)
    return;
  scroll_bars_ = Value;
  ApplyScrollBarPolicy();
  UpdateScrollRange();
  UpdateScrollPos();
  InvalidateAll();
}

void TCustomComTerminal::SetSmoothScroll(bool Value) {
  smooth_scroll_ = Value;
  // Without smooth scrolling a dragged thumb moves the text only when it is let go.
  horizontalScrollBar()->setTracking(Value);
  verticalScrollBar()->setTracking(Value);
}

void TCustomComTerminal::UpdateScrollRange() {
  if (ScrollBars() == ssNone)
    return;
  const bool hOn = scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth;
  const bool vOn = scroll_bars_ == ssVertical || scroll_bars_ == ssBoth;
  // The client size without bars. Showing or hiding a bar resizes the viewport, which
  // comes back here through resizeEvent; while the ranges are set the control reads its
  // ScrollBars as none, so that round trip does nothing.
  const QSize bare = contentsRect().size();
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  updating_range_ = true;
  struct Restore {
    bool &flag;
    ~Restore() { flag = false; }
  } restore{updating_range_};

  QScrollBar *hb = horizontalScrollBar();
  QScrollBar *vb = verticalScrollBar();
  auto horizontalFor = [&](int width) {
    const int visible = width / cell_width_;
    hb->setRange(0, visible < columns_ ? columns_ - visible : 0);
    hb->setPageStep(std::max(visible, 1));
  };
  int width = bare.width();
  if (hOn)
    horizontalFor(width);
  // The height left once the horizontal bar is (or is not) shown.
  const int height = bare.height() - (hOn && hb->maximum() > 0 ? extent : 0);
  if (vOn) {
    const int visible = height / cell_height_;
    vb->setRange(0, visible < rows_ ? rows_ - visible : 0);
    vb->setPageStep(std::max(visible, 1));
  }
  // A vertical bar takes width: the horizontal range follows the narrower client.
  const int newWidth = bare.width() - (vOn && vb->maximum() > 0 ? extent : 0);
  if (hOn && newWidth != width)
    horizontalFor(newWidth);
  UpdateScrollPos();
}

void TCustomComTerminal::UpdateScrollPos() {
  const int oldX = top_left_x_, oldY = top_left_y_;
  if (scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth)
    top_left_x_ = horizontalScrollBar()->value() + 1;
  else
    top_left_x_ = 1;
  if (scroll_bars_ == ssVertical || scroll_bars_ == ssBoth)
    top_left_y_ = verticalScrollBar()->value() + 1;
  else
    top_left_y_ = 1;
  if (oldX != top_left_x_ || oldY != top_left_y_)
    InvalidateAll();
}

void TCustomComTerminal::ModifyScrollBar(TScrollBarKind Bar, TScrollCode Code, int Pos) {
  if (Code == TScrollCode::EndScroll)
    return;
  if (Code == TScrollCode::ThumbTrack && !smooth_scroll_)
    return;
  QScrollBar *bar = Bar == TScrollBarKind::Horizontal ? horizontalScrollBar() : verticalScrollBar();
  const int old = bar->value();
  const int page = Bar == TScrollBarKind::Horizontal ? viewport()->width() / cell_width_
                                                     : viewport()->height() / cell_height_;
  int pos = old;
  switch (Code) {
    case TScrollCode::LineUp:
      pos = old - 1;
      break;
    case TScrollCode::LineDown:
      pos = old + 1;
      break;
    case TScrollCode::PageUp:
      pos = old - page;
      break;
    case TScrollCode::PageDown:
      pos = old + page;
      break;
    case TScrollCode::ThumbPosition:
    case TScrollCode::ThumbTrack:
      pos = Pos;
      break;
    default:
      break;  // Top and Bottom keep the position
  }
  // The bar clamps to its range; the text follows in OnScrollValue.
  bar->setValue(pos);
}

void TCustomComTerminal::OnScrollValue(TScrollBarKind Bar, int Value) {
  if (updating_range_)
    return;  // UpdateScrollPos takes the clamped positions afterwards
  int &topLeft = Bar == TScrollBarKind::Horizontal ? top_left_x_ : top_left_y_;
  const int old = topLeft - 1;
  topLeft = Value + 1;
  if (old == Value)
    return;
  if (double_buffered_ || !viewport()->isVisible()) {
    InvalidateAll();
    return;
  }
  const int dx = Bar == TScrollBarKind::Horizontal ? (old - Value) * cell_width_ : 0;
  const int dy = Bar == TScrollBarKind::Vertical ? (old - Value) * cell_height_ : 0;
  viewport()->scroll(dx, dy);
  if (caret_created_) {
    viewport()->update(CaretPixels());
    viewport()->update(CaretPixels().translated(dx, dy));
  }
}

void TCustomComTerminal::resizeEvent(QResizeEvent *Event) {
  QAbstractScrollArea::resizeEvent(Event);
  UpdateScrollRange();
}

// --------------------------------------------------------------------- border and size

void TCustomComTerminal::ApplyBorder() {
  if (border_style_ == bsSingle)
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  else
    setFrameStyle(QFrame::NoFrame);
}

void TCustomComTerminal::SetBorderStyle(TBorderStyle Value) {
  if (Value == border_style_)
    return;
  border_style_ = Value;
  ApplyBorder();
  AdjustSize();
  UpdateScrollRange();
}

bool TCustomComTerminal::CanAutoSize(int &NewWidth, int &NewHeight) const {
  const int border = border_style_ == bsSingle ? 2 * frameWidth() : 0;
  NewWidth = cell_width_ * columns_ + border;
  NewHeight = cell_height_ * rows_ + border;
  return true;
}

QSize TCustomComTerminal::sizeHint() const {
  int w = 0, h = 0;
  CanAutoSize(w, h);
  return QSize(w, h);
}

void TCustomComTerminal::SetAutoSize(bool Value) {
  auto_size_ = Value;
  AdjustSize();
}

void TCustomComTerminal::AdjustSize() {
  updateGeometry();
  if (!auto_size_)
    return;
  int w = 0, h = 0;
  if (CanAutoSize(w, h))
    resize(w, h);
}
