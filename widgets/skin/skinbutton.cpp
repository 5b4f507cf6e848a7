#include "widgets/skin/skinbutton.h"

#include "widgets/skin/skindraw.h"

#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

namespace {

constexpr QRgb shadow_white = 0xFFFFFFFF;
constexpr QRgb disabled_grey = 0xFF808080;

bool is_press_key(int key) { return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter; }

// The keypad's Enter comes with the keypad modifier; it is still a plain Enter.
bool unmodified(const QKeyEvent *key) { return (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier; }

}  // namespace

TskCustomButton::TskCustomButton(QWidget *parent) : QPushButton(parent) {
  // The button paints every pixel itself from its off-screen picture.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::StrongFocus);
  setAutoDefault(false);
  resize(80, 27);
  style_ = GetSkinFormStyle(parent ? parent->window() : nullptr);
}

TskCustomButton::~TskCustomButton() = default;

void TskCustomButton::SetUIStyle(int style) {
  style_ = style;
  UIStyleChanged();
  update();
}

void TskCustomButton::SetFileTheme(TskFileTheme *theme) {
  file_theme_ = theme;
  FollowFileTheme(this, theme_gone_, theme, [this] {
    file_theme_ = nullptr;
    SetUIStyle(DeepBlue);
  });
  SetUIStyle(style_);
}

void TskCustomButton::SetTransparent(bool transparent) {
  transparent_ = transparent;
  pic_transparent_ = transparent;
  update();
}

void TskCustomButton::SetAutoSize(bool auto_size) {
  auto_size_ = auto_size;
  AutoSizeChanged();
  update();
}

void TskCustomButton::AutoSizeChanged() {
  if (!auto_size_)
    return;
  // The style named by the property itself: a file theme has no strip to size by here.
  QImage strip;
  GetInsideThemeBitmap(style_, skin_element::ButtonImage, strip);
  if (strip.isNull())
    resize(74, 21);
  else
    resize(strip.width() / 3, strip.height());
}

void TskCustomButton::SetFocusedRectMargin(int margin) {
  focus_margin_ = margin;
  update();
}

void TskCustomButton::SetCancel(bool cancel) {
  if (cancel == Cancel())
    return;
  if (!cancel) {
    delete cancel_;
    cancel_ = nullptr;
    return;
  }
  cancel_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  cancel_->setContext(Qt::WindowShortcut);
  connect(cancel_, &QShortcut::activated, this, [this] {
    if (isEnabled() && isVisible())
      do_click();
  });
}

void TskCustomButton::SetDefault(bool is_default) {
  if (is_default == Default())
    return;
  delete default_;
  default_ = nullptr;
  if (!is_default)
    return;
  // A focused button claims Enter through its shortcut override, so this fires only while
  // the focus is elsewhere (an edit, a list), as the active-default rule wants.
  default_ = new QShortcut(this);
  default_->setKeys({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter),
                     QKeySequence(Qt::KeypadModifier | Qt::Key_Enter)});
  default_->setContext(Qt::WindowShortcut);
  connect(default_, &QShortcut::activated, this, [this] {
    if (isEnabled() && isVisible())
      do_click();
  });
}

bool TskCustomButton::PaintButton(int image_index, int spit_count, int spit_index, QImage &frame) const {
  return skin_bitmap(file_theme_, style_, image_index, frame, spit_count, spit_index) && !frame.isNull();
}

void TskCustomButton::PaintPic(QPainter &painter, const QImage &frame) {
  SpitDraw(frame, painter, rect(), pic_transparent_);
}

void TskCustomButton::PaintText(QPainter &painter, const QString &text) {
  QFont caption_font = font();
  if (bold_caption_)
    caption_font.setBold(true);
  painter.setFont(caption_font);
  QRect area = rect();
  const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextExpandTabs | Qt::TextShowMnemonic;
  if (!isEnabled()) {
    painter.setPen(QColor::fromRgb(shadow_white));
    painter.drawText(area.translated(1, 1), flags, text);
    painter.setPen(QColor::fromRgb(disabled_grey));
  } else {
    painter.setPen(palette().color(QPalette::ButtonText));
    if (down_)
      area.translate(1, 1);
  }
  // Qt centres the wrapped block in the rectangle and each line within the block.
  painter.drawText(area, flags, text);
  bold_caption_ = false;
}

void TskCustomButton::PaintFocus(QPainter &painter) {
  const int m = focus_margin_;
  QRect mark = ltrb(m, m, width() - m, height() - m);
  if (mark.width() < 1 || mark.height() < 1)
    return;
  // Every other pixel, as the system's focus rectangle.
  painter.save();
  QPen dots(Qt::black, 0, Qt::CustomDashLine);
  dots.setDashPattern({1, 1});
  painter.setPen(dots);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(mark.adjusted(0, 0, -1, -1));
  painter.restore();
}

void TskCustomButton::paintEvent(QPaintEvent *) {
  QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
  buffer.fill(Qt::transparent);
  QPainter painter(&buffer);
  QImage frame;
  bool found = !isEnabled() ? PaintButtonDisabled(frame)
               : down_      ? PaintButtonMouseDown(frame)
               : hot_       ? PaintButtonMouseOn(frame)
                            : PaintButtonNormal(frame);
  if (!found) {  // no artwork: a blank frame, the caption still shows
    frame = QImage(74, 21, QImage::Format_RGB32);
    frame.fill(Qt::white);
  }
  if (transparent_)
    DoTrans(painter, this);
  else
    painter.fillRect(rect(), palette().color(QPalette::Window));
  PaintPic(painter, frame);
  if (hasFocus() && (focusPolicy() & Qt::TabFocus))
    PaintFocus(painter);
  painter.setFont(font());
  if (!text().trimmed().isEmpty())
    PaintText(painter, text());
  painter.end();
  QPainter(this).drawImage(0, 0, buffer);
}

bool TskCustomButton::event(QEvent *event) {
  // The focused button takes Enter and Space itself, before any shortcut of the window.
  if (event->type() == QEvent::ShortcutOverride) {
    auto *key = static_cast<QKeyEvent *>(event);
    if (is_press_key(key->key()) && unmodified(key)) {
      event->accept();
      return true;
    }
  }
  // The caption's "&" key: the same click as the mouse's, with the dialog's result and the
  // repeat timer handled, not the plain button's delayed click around them.
  if (event->type() == QEvent::Shortcut) {
    if (!isEnabled())
      return true;
    if ((focusPolicy() & Qt::TabFocus) && !hasFocus())
      setFocus(Qt::ShortcutFocusReason);
    if (!static_cast<QShortcutEvent *>(event)->isAmbiguous())
      do_click();
    return true;
  }
  return QPushButton::event(event);
}

void TskCustomButton::enterEvent(QEnterEvent *) {
  hot_ = true;
  update();
  emit MouseEnter(this);
}

void TskCustomButton::leaveEvent(QEvent *) {
  hot_ = false;
  down_ = false;
  stop_repeat();
  update();
  emit MouseExit(this);
}

void TskCustomButton::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  down_ = true;
  pressed_here_ = true;
  if (!repeat_) {
    repeat_ = std::make_unique<QTimer>();
    repeat_->setInterval(std::max(repeat_interval_, 0));
    connect(repeat_.get(), &QTimer::timeout, this, [this] { emit MouseContinuouslyDown(this); });
    repeat_->start();
  }
  if ((focusPolicy() & Qt::ClickFocus) && isEnabled() && isVisible())
    setFocus(Qt::MouseFocusReason);
  update();
}

void TskCustomButton::mouseMoveEvent(QMouseEvent *event) {
  if (!rect().contains(event->position().toPoint()) && (hot_ || down_)) {
    hot_ = false;
    down_ = false;
    update();
  }
}

void TskCustomButton::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  bool over = rect().contains(event->position().toPoint());
  bool pressed = pressed_here_;
  pressed_here_ = false;
  if (pressed && over) {
    do_click();
  } else {
    stop_repeat();
    down_ = false;
    update();
  }
}

void TskCustomButton::mouseDoubleClickEvent(QMouseEvent *event) {
  // A double click is two clicks: the second press is an ordinary press.
  mousePressEvent(event);
}

void TskCustomButton::keyPressEvent(QKeyEvent *event) {
  if (is_press_key(event->key()) && unmodified(event)) {
    if (!event->isAutoRepeat() && isEnabled()) {
      down_ = true;
      update();
    }
    return;
  }
  QPushButton::keyPressEvent(event);
}

void TskCustomButton::keyReleaseEvent(QKeyEvent *event) {
  if (is_press_key(event->key()) && !event->isAutoRepeat()) {
    if (down_ && isEnabled() && hasFocus())
      do_click();
    return;
  }
  QPushButton::keyReleaseEvent(event);
}

void TskCustomButton::focusInEvent(QFocusEvent *event) {
  QPushButton::focusInEvent(event);
  update();
}

void TskCustomButton::focusOutEvent(QFocusEvent *event) {
  QPushButton::focusOutEvent(event);
  down_ = false;
  update();
}

void TskCustomButton::stop_repeat() { repeat_.reset(); }

void TskCustomButton::do_click() {
  stop_repeat();
  if (down_) {
    down_ = false;
    update();
  }
  auto *dialog = qobject_cast<QDialog *>(window());
  if (dialog)
    dialog->setResult(modal_result_);
  // QAbstractButton's click: the clicked signal (the OnClick handlers), and the button's
  // own mnemonic and group handling.
  click();
  if (dialog && modal_result_ != 0)
    dialog->done(modal_result_);
}

TskButton::TskButton(QWidget *parent) : TskCustomButton(parent) { UIStyleChanged(); }

void TskButton::UIStyleChanged() {
  SetTransparent(skin_bool_of(FileTheme(), UIStyle(), skin_element::ButtonTransparentBool));
}

void TskButton::SetGlyph(const QImage &glyph) {
  glyph_ = glyph;
  update();
}

void TskButton::SetLayout(TskButtonLayout layout) {
  layout_ = layout;
  update();
}

void TskButton::SetSpacing(int spacing) {
  spacing_ = spacing;
  update();
}

void TskButton::PaintPic(QPainter &painter, const QImage &frame) {
  TskCustomButton::PaintPic(painter, frame);
  if (glyph_.isNull())
    return;
  QFontMetrics metrics(painter.font());
  const int tw = metrics.horizontalAdvance(text()), th = metrics.height();
  int gw = glyph_.width();
  const int gh = glyph_.height();
  const bool two_images = gw == 2 * gh;
  if (two_images)
    gw = gh;
  const int W = width(), H = height(), S = spacing_;
  QPoint glyph_at;
  switch (layout_) {
    case blGlyphLeft:
      glyph_at = {(W - (tw + gw + S)) / 2, (H - gh) / 2};
      text_at_ = {glyph_at.x() + gw + S, (H - th) / 2};
      break;
    case blGlyphRight:
      glyph_at = {(W + tw + S - gw) / 2, (H - gh) / 2};
      text_at_ = {glyph_at.x() - tw - S, (H - th) / 2};
      break;
    case blGlyphTop:
      glyph_at = {(W - gw) / 2, (H - (th + gh + S)) / 2};
      text_at_ = {(W - tw) / 2, glyph_at.y() + gh + S};
      break;
    case blGlyphBottom:
      glyph_at = {(W - gw) / 2, (H + th + S - gh) / 2};
      text_at_ = {(W - tw) / 2, glyph_at.y() - th - S};
      break;
  }
  if (held())
    glyph_at += QPoint(1, 1);
  QImage picture = glyph_.copy(two_images && !isEnabled() ? gw : 0, 0, gw, gh);
  picture = keyed(picture, glyph_.pixel(0, 0));
  if (!two_images && !isEnabled()) {  // the greyed look of a single-image glyph
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x) {
        QRgb p = picture.pixel(x, y);
        int g = 128 + qGray(p) / 2;
        picture.setPixel(x, y, qRgba(g, g, g, qAlpha(p)));
      }
  }
  painter.drawImage(glyph_at, picture);
}

void TskButton::PaintText(QPainter &painter, const QString &text) {
  if (glyph_.isNull()) {
    TskCustomButton::PaintText(painter, text);
    return;
  }
  QFont caption_font = font();
  if (bold_caption_)
    caption_font.setBold(true);
  painter.setFont(caption_font);
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic;
  QPoint at = text_at_;
  if (!isEnabled()) {
    painter.setPen(Qt::white);
    painter.drawText(ltrb(at.x() + 1, at.y() + 1, width(), height()), flags, text);
    painter.setPen(QColor(0x80, 0x80, 0x80));
  } else {
    painter.setPen(palette().color(QPalette::ButtonText));
    if (held())
      at += QPoint(1, 1);
  }
  painter.drawText(ltrb(at.x(), at.y(), width(), height()), flags, text);
  bold_caption_ = false;
}

void TskButton::PaintFocus(QPainter &painter) {
  // These looks show the focus as a bold caption instead of a dotted frame.
  if (UIStyle() == MacOS || UIStyle() == BlueGlass)
    bold_caption_ = true;
  else
    TskCustomButton::PaintFocus(painter);
}
