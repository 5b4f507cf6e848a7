#include "widgets/skin/skinedit.h"

#include "widgets/skin/skindraw.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QFrame>
#include <QPainter>
#include <QPolygon>
#include <QProxyStyle>
#include <QStyleOptionComboBox>

namespace {

void set_base(QWidget *widget, const QColor &color) {
  QPalette palette = widget->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Base, color);
    palette.setColor(group, QPalette::Window, color);
  }
  widget->setPalette(palette);
}

// Places the combo box's edit field and drop-down button where the skinned frame leaves
// room for them, so that the system's own hit tests and line edit agree with the drawing.
class ComboLayout final : public QProxyStyle {
 public:
  QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                       const QWidget *widget) const override {
    if (control == CC_ComboBox) {
      QRect button = TskCustomComboBox::button_rect(option->rect.size());
      if (sub == SC_ComboBoxArrow)
        return button;
      if (sub == SC_ComboBoxEditField)
        return ltrb(4, 2, button.left() - 1, option->rect.height() - 2);
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
  }
};

}  // namespace

TskEdit::TskEdit(QWidget *parent) : QLineEdit(parent) {
  setFrame(false);
  // The two-pixel room for the two-line border.
  setTextMargins(2, 0, 2, 0);
  style_ = GetSkinFormStyle(parent ? parent->window() : nullptr);
  SetColor(0xFFFFFF);
  SetUIStyle(style_);
}

void TskEdit::SetUIStyle(int style) {
  style_ = style;
  border_color_ = skin_color_of(file_theme_, style_, skin_element::ControlBorderColor);
  UIStyleChanged();
  update();
}

void TskEdit::SetFileTheme(TskFileTheme *theme) {
  file_theme_ = theme;
  FollowFileTheme(this, theme_gone_, theme, [this] {
    file_theme_ = nullptr;
    SetUIStyle(DeepBlue);
  });
  SetUIStyle(style_);
}

void TskEdit::SetBorderColor(uint32_t color) {
  border_color_ = color;
  update();
}

uint32_t TskEdit::Color() const { return skin_color_value(palette().color(QPalette::Base)); }

void TskEdit::SetColor(uint32_t color) { set_base(this, skin_color(color)); }

void TskEdit::paintEvent(QPaintEvent *event) {
  QLineEdit::paintEvent(event);
  QPainter painter(this);
  DrawControlBorder(painter, size(), skin_color(border_color_), palette().color(QPalette::Base), true);
}

TskCustomComboBox::TskCustomComboBox(QWidget *parent)
    : QComboBox(parent), layout_(std::make_unique<ComboLayout>()) {
  setStyle(layout_.get());
  style_ = GetSkinFormStyle(parent ? parent->window() : nullptr);
  SetColor(0xFFFFFF);
  SetUIStyle(style_);
}

TskCustomComboBox::~TskCustomComboBox() {
  // The widget must not outlive its style object with a pointer to it.
  setStyle(nullptr);
}

QRect TskCustomComboBox::button_rect(QSize size) {
  // The system's drop-down button: a scroll bar's width, inside the two-pixel frame.
  return ltrb(size.width() - 19, 2, size.width() - 2, size.height() - 2);
}

void TskCustomComboBox::SetUIStyle(int style) {
  style_ = style;
  arrow_color_ = 0;
  border_color_ = skin_color_of(file_theme_, style_, skin_element::ControlBorderColor);
  button_color_ = skin_color_of(file_theme_, style_, skin_element::FormBackgroundColor);
  update();
}

void TskCustomComboBox::SetFileTheme(TskFileTheme *theme) {
  file_theme_ = theme;
  FollowFileTheme(this, theme_gone_, theme, [this] {
    file_theme_ = nullptr;
    SetUIStyle(DeepBlue);
  });
  SetUIStyle(style_);
}

void TskCustomComboBox::SetBorderColor(uint32_t color) {
  border_color_ = color;
  update();
}

void TskCustomComboBox::SetArrowColor(uint32_t color) {
  arrow_color_ = color;
  update();
}

void TskCustomComboBox::SetButtonColor(uint32_t color) {
  button_color_ = color;
  update();
}

uint32_t TskCustomComboBox::Color() const { return skin_color_value(palette().color(QPalette::Base)); }

void TskCustomComboBox::SetColor(uint32_t color) {
  set_base(this, skin_color(color));
  if (lineEdit())
    set_base(lineEdit(), skin_color(color));
}

void TskCustomComboBox::showPopup() {
  QComboBox::showPopup();
  // The open list is framed in the border colour too: a plain box takes its colour from the
  // frame's foreground.
  if (auto *list_frame = qobject_cast<QFrame *>(view()->parentWidget())) {
    QPalette palette = list_frame->palette();
    palette.setColor(QPalette::WindowText, skin_color(border_color_));
    list_frame->setPalette(palette);
    list_frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    list_frame->setLineWidth(1);
  }
}

void TskCustomComboBox::hidePopup() {
  QComboBox::hidePopup();
  // The frame drawn around the open list lies on the parent: wipe it.
  if (parentWidget())
    parentWidget()->update();
}

void TskCustomComboBox::changeEvent(QEvent *event) {
  QComboBox::changeEvent(event);
  if (event->type() == QEvent::EnabledChange)
    update();
}

void TskCustomComboBox::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const QColor base = palette().color(QPalette::Base);
  p.fillRect(rect(), base);
  const QRect R = button_rect(size());
  if (!isEditable()) {
    // A drop-down list shows the chosen item in the field, highlighted while focused.
    QRect field = ltrb(3, 3, R.left() - 1, height() - 3);
    QColor ink = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    if (hasFocus() && isEnabled()) {
      p.fillRect(field, palette().color(QPalette::Highlight));
      ink = palette().color(QPalette::HighlightedText);
    }
    p.setPen(ink);
    p.drawText(field.adjusted(2, 0, -1, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
               currentText());
  }
  DrawControlBorder(p, size(), skin_color(border_color_), base, true);

  if (style_ == MacOS || style_ == WinXP) {
    QImage face;
    if (load_skin_resource(style_ == MacOS ? "MACOS_COMBOBOX_BUTTON" : "WINXP_COMBOBOX_BUTTON", face))
      p.drawImage(R, keyed(face));
  } else {
    p.fillRect(R, skin_color(button_color_));
    p.setPen(QPen(skin_color(border_color_), 0));
    const int x = layoutDirection() == Qt::RightToLeft ? R.right() : R.left();
    p.drawLine(x, R.top() - 1, x, R.bottom() + 1);
  }
  if (style_ == WinXP)  // the arrow is part of that look's button picture
    return;
  const int x = R.left() + R.width() / 2 - 3, y = R.height() / 2;
  auto triangle = [&](int dx, int dy, const QColor &color) {
    p.setPen(QPen(color, 0));
    p.setBrush(color);
    p.drawPolygon(
        QPolygon({QPoint(x + dx, y + dy), QPoint(x + 6 + dx, y + dy), QPoint(x + 3 + dx, y + 3 + dy)}));
  };
  if (isEnabled()) {
    triangle(0, 0, skin_color(arrow_color_));
  } else {
    triangle(1, 1, Qt::white);
    triangle(0, 0, QColor(0x80, 0x80, 0x80));
  }
}
