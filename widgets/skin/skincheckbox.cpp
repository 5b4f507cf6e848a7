#include "widgets/skin/skincheckbox.h"

#include "widgets/skin/skindraw.h"

#include <QPainter>

namespace {

// Between the mark and the caption.
constexpr int caption_gap = 4;

}  // namespace

SkinMark::SkinMark(QAbstractButton *button, int element) : button_(button), element_(element) {
  button_->setAttribute(Qt::WA_Hover);
  style_ = GetSkinFormStyle(button_->parentWidget() ? button_->parentWidget()->window() : nullptr);
  set_style(style_);
}

void SkinMark::set_style(int style) {
  style_ = style;
  button_->updateGeometry();
  button_->update();
}

void SkinMark::set_theme(TskFileTheme *theme) {
  theme_ = theme;
  FollowFileTheme(button_, theme_gone_, theme, [this] {
    theme_ = nullptr;
    set_style(DeepBlue);
  });
  set_style(style_);
}

QImage SkinMark::frame() const {
  const bool checked = button_->isChecked();
  const int index = (button_->isEnabled() ? 1 : 3) + (checked ? 0 : 1);
  QImage mark;
  if (!skin_bitmap(theme_, style_, element_, mark, 4, index))
    return QImage();
  return mark;
}

QSize SkinMark::size_hint() const {
  const QSize mark = frame().size();
  const QFontMetrics metrics(button_->font());
  const QString text = button_->text();
  const int text_w =
      text.isEmpty() ? 0 : caption_gap + metrics.horizontalAdvance(QString(text).remove('&')) + 2;
  return QSize(mark.width() + text_w, std::max(mark.height(), metrics.height()) + 2);
}

void SkinMark::paint() {
  QPainter p(button_);
  const QImage mark = frame();
  // The mark sits at the left, centred on the caption's line; its key shows the parent.
  const int mark_y = (button_->height() - mark.height()) / 2;
  if (!mark.isNull())
    p.drawImage(0, mark_y, keyed(mark));
  const QString text = button_->text();
  if (text.isEmpty())
    return;
  const QRect area = ltrb(mark.width() + caption_gap, 0, button_->width(), button_->height());
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  p.setFont(button_->font());
  if (!button_->isEnabled()) {
    p.setPen(Qt::white);
    p.drawText(area.translated(1, 1), flags, text);
    p.setPen(QColor(0x80, 0x80, 0x80));
  } else {
    p.setPen(button_->palette().color(QPalette::ButtonText));
  }
  QRect drawn;
  p.drawText(area, flags, text, &drawn);
  if (button_->hasFocus()) {
    QPen dots(Qt::black, 0, Qt::CustomDashLine);
    dots.setDashPattern({1, 1});
    p.setPen(dots);
    p.drawRect(drawn.adjusted(-1, 0, 0, -1).intersected(button_->rect().adjusted(0, 0, -1, -1)));
  }
}

TskCheckBox::TskCheckBox(const QString &caption, QWidget *parent)
    : QCheckBox(caption, parent), mark_(this, skin_element::CheckBoxImage) {}

TskRadioButton::TskRadioButton(const QString &caption, QWidget *parent)
    : QRadioButton(caption, parent), mark_(this, skin_element::RadioButtonImage) {}
