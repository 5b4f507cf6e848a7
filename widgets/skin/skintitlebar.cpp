#include "widgets/skin/skintitlebar.h"

#include "widgets/skin/skinbuttonfamily.h"
#include "widgets/skin/skindraw.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QWindow>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr int ButtonImage = 5, ButtonTransparentBool = 6, ButtonLeftOffsetInt = 7, ButtonRightOffsetInt = 8,
              ButtonTopInt = 9, LeftImage = 10, ClientImage = 11, RightImage = 12, TitleBarFontColor = 44;

// The six glyph triples of the title button strip, in strip order.
enum Triple { ControlBoxPics, HelpPics, MaxPics, RestorePics, MinPics, ClosePics };

// Room kept between the caption and what stands beside it.
constexpr int caption_gap = 4;
// Caption text of an inactive window, where the system offers no colour of its own.
const QColor inactive_caption(216, 220, 228);

int int_of(const TskFileTheme *theme, int style, int index) {
  int resolved = style;
  if (UsingFileTheme(theme, style, resolved))
    return theme->GetInt(index);
  return GetInsideThemeInt(resolved, index);
}

int triple_of(TskTitleBarBtnType type) {
  switch (type) {
    case skControlBox:
      return ControlBoxPics;
    case skHelp:
      return HelpPics;
    case skMax:
      return MaxPics;
    case skMin:
      return MinPics;
    case skClose:
      return ClosePics;
    case skCustom:
      break;
  }
  return -1;
}

TskTitleBarButton make_button(TskTitleBarBtnType type) {
  TskTitleBarButton button;
  button.ButtonType = type;
  return button;
}

}  // namespace

TskTitleBar::TskTitleBar(QWidget *parent) : QWidget(parent) {
  setMouseTracking(true);
  font_ = QFont(QStringLiteral("Tahoma"));
  font_.setBold(true);
  buttons_ = {make_button(skControlBox), make_button(skClose), make_button(skMax), make_button(skMin)};
  if (parent)
    caption_ = parent->window()->windowTitle();

  system_menu_ = std::make_unique<QMenu>();
  system_menu_->addAction(tr("Mi&nimize"), this, [this] { window()->showMinimized(); });
  system_menu_->addAction(tr("Ma&ximize/Restore"), this, [this] { toggle_maximized(); });
  system_menu_->addSeparator();
  system_menu_->addAction(tr("&Close"), this, [this] { window()->close(); });

  style_ = GetSkinFormStyle(parent ? parent->window() : nullptr);
  load_style();
}

TskTitleBar::~TskTitleBar() = default;

void TskTitleBar::SetUIStyle(int style) {
  style_ = style;
  load_style();
}

void TskTitleBar::SetFileTheme(TskFileTheme *theme) {
  file_theme_ = theme;
  FollowFileTheme(this, theme_gone_, theme, [this] {
    file_theme_ = nullptr;
    SetUIStyle(DeepBlue);
  });
  load_style();
}

void TskTitleBar::load_style() {
  auto section = [this](int index, TskTitleBarAlign align) {
    TskTitleBarSection s;
    skin_bitmap(file_theme_, style_, index, s.Picture);
    s.AutoSize = align != skClient;
    s.Stretch = align == skClient;
    s.Align = align;
    return s;
  };
  sections_ = {section(LeftImage, skLeft), section(RightImage, skRight), section(ClientImage, skClient)};
  left_offset_ = int_of(file_theme_, style_, ButtonLeftOffsetInt);
  right_offset_ = int_of(file_theme_, style_, ButtonRightOffsetInt);
  font_color_ = skin_color(skin_color_of(file_theme_, style_, TitleBarFontColor));
  for (TskTitleBarButton &button : buttons_)
    load_button_pictures(button);
  setFixedHeight(BarHeight());
  update();
}

void TskTitleBar::load_button_pictures(TskTitleBarButton &button) const {
  int triple = triple_of(button.ButtonType);
  if (triple < 0)
    return;
  // The maximise button shows the restore glyph while the window is maximised.
  if (triple == MaxPics && maximized_)
    triple = RestorePics;
  // The bar draws its buttons itself (it has no child windows, so the caption's drag and
  // the buttons' hover share one mouse path), with the pictures a control button shows.
  for (int state = 0; state < 3; ++state)
    TskControlButton::StateFrame(file_theme_, style_, ButtonImage, 18, triple * 3 + 1, state,
                                 button.Pictures[state]);
  button.Transparent = skin_bool_of(file_theme_, style_, ButtonTransparentBool);
  button.Top = int_of(file_theme_, style_, ButtonTopInt);
}

void TskTitleBar::SetCaption(const QString &caption) {
  caption_ = caption;
  update();
}

void TskTitleBar::SetFont(const QFont &font) {
  font_ = font;
  update();
}

void TskTitleBar::SetFontColor(const QColor &color) {
  font_color_ = color;
  update();
}

void TskTitleBar::SetSections(std::vector<TskTitleBarSection> sections) {
  if (std::count_if(sections.begin(), sections.end(),
                    [](const TskTitleBarSection &s) { return s.Align == skClient; }) > 1)
    throw std::invalid_argument("Sorry, only one section's Align property can be \"skClient\"");
  sections_ = std::move(sections);
  setFixedHeight(BarHeight());
  update();
}

void TskTitleBar::SetButtons(std::vector<TskTitleBarButton> buttons) {
  if (std::count_if(buttons.begin(), buttons.end(),
                    [](const TskTitleBarButton &b) { return b.ButtonType == skControlBox; }) > 1)
    throw std::invalid_argument("Sorry, only one button's ButtonType property can be \"skControlBox\"");
  buttons_ = std::move(buttons);
  for (TskTitleBarButton &button : buttons_)
    load_button_pictures(button);
  hot_ = pressed_ = -1;
  update();
}

void TskTitleBar::SetButtonVisible(int index, bool visible) {
  if (index < 0 || index >= int(buttons_.size()))
    return;
  buttons_[index].Visible = visible;
  update();
}

void TskTitleBar::SetButtonInterval(int interval) {
  interval_ = interval;
  update();
}

void TskTitleBar::SetOffsets(int left, int right) {
  left_offset_ = left;
  right_offset_ = right;
  update();
}

void TskTitleBar::SetFrameWidth(int width) {
  frame_width_ = width;
  update();
}

void TskTitleBar::SetDrawAppIcon(bool draw) {
  draw_app_icon_ = draw;
  update();
}

void TskTitleBar::SetActive(bool active) {
  active_ = active;
  update();
}

void TskTitleBar::SetMaximized(bool maximized) {
  if (maximized == maximized_)
    return;
  maximized_ = maximized;
  for (TskTitleBarButton &button : buttons_)
    if (button.ButtonType == skMax)
      load_button_pictures(button);
  update();
}

int TskTitleBar::BarHeight() const {
  int height = 0;
  for (const TskTitleBarSection &section : sections_)
    height = std::max(height, section.Picture.height());
  return height > 0 ? height : 24;
}

QRect TskTitleBar::ButtonRect(int index) const {
  if (index < 0 || index >= int(buttons_.size()) || !buttons_[index].Visible)
    return QRect();
  if (buttons_[index].ButtonType == skControlBox)
    return IconRect();
  // From the right edge leftwards, in list order, each the next one's width plus the
  // interval and one pixel further on.
  int right = width() - right_offset_ - frame_width_;
  for (int i = 0; i < int(buttons_.size()); ++i) {
    const TskTitleBarButton &button = buttons_[i];
    if (!button.Visible || button.ButtonType == skControlBox)
      continue;
    const QSize size = button.Pictures[0].size();
    const QRect rect(right - size.width(), button.Top, size.width(), size.height());
    if (i == index)
      return rect;
    right = rect.left() - interval_ - 1;
  }
  return QRect();
}

QRect TskTitleBar::IconRect() const {
  for (const TskTitleBarButton &button : buttons_) {
    if (button.ButtonType != skControlBox || !button.Visible)
      continue;
    const int left = left_offset_ + frame_width_;
    if (draw_app_icon_)
      return QRect(left, (BarHeight() - 16) / 2, 16, 16);
    return QRect(QPoint(left, button.Top), button.Pictures[0].size());
  }
  return QRect();
}

QRect TskTitleBar::CaptionRoom() const {
  const QRect icon = IconRect();
  int left = icon.isEmpty() ? left_offset_ + frame_width_ + caption_gap : icon.right() + 1 + caption_gap;
  int right = width() - right_offset_ - frame_width_;
  for (int i = 0; i < int(buttons_.size()); ++i) {
    if (buttons_[i].ButtonType == skControlBox)
      continue;
    const QRect rect = ButtonRect(i);
    if (!rect.isEmpty())
      right = std::min(right, rect.left());
  }
  right -= caption_gap;
  return QRect(left, 0, std::max(0, right - left), height());
}

TskTitleBar::Hit TskTitleBar::HitTest(QPoint pos) const {
  for (int i = 0; i < int(buttons_.size()); ++i)
    if (ButtonRect(i).contains(pos))
      return {Hit::Button, i};
  return {};
}

QString TskTitleBar::ElideCaption(const QString &caption, const QFontMetrics &metrics, int room) {
  if (metrics.horizontalAdvance(caption) <= room)
    return caption;
  const QString dots = QStringLiteral("...");
  // Whole letters leave, one at a time from the end (a letter being what a reader sees as
  // one, so no accent or surrogate half is left behind).
  QTextBoundaryFinder letters(QTextBoundaryFinder::Grapheme, caption);
  letters.toEnd();
  for (qsizetype end = letters.toPreviousBoundary(); end > 0; end = letters.toPreviousBoundary()) {
    const QString shown = caption.left(end) + dots;
    if (metrics.horizontalAdvance(shown) <= room)
      return shown;
  }
  return metrics.horizontalAdvance(dots) <= room ? dots : QString();
}

QString TskTitleBar::ShownCaption() const {
  return ElideCaption(caption_, QFontMetrics(font_), CaptionRoom().width());
}

int TskTitleBar::picture_index(int index) const {
  if (pressed_ == index && hot_ == index)
    return 2;
  if (hot_ == index && pressed_ < 0)
    return 1;
  return 0;
}

void TskTitleBar::paintEvent(QPaintEvent *) {
  QImage canvas(size(), QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter p(&canvas);

  // Sections: left ones from the left edge, right ones from the right edge, the client one
  // over what lies between.
  int left = 0, right = width();
  std::vector<std::pair<const TskTitleBarSection *, QRect>> placed;
  const TskTitleBarSection *client = nullptr;
  for (const TskTitleBarSection &section : sections_) {
    const int w = section.AutoSize ? section.Picture.width() : section.Width;
    if (section.Align == skLeft) {
      placed.emplace_back(&section, QRect(left, 0, w, height()));
      left += w;
    } else if (section.Align == skRight) {
      right -= w;
      placed.emplace_back(&section, QRect(right, 0, w, height()));
    } else {
      client = &section;
    }
  }
  if (client)
    placed.emplace_back(client, ltrb(left, 0, right, height()));
  for (const auto &[section, rect] : placed) {
    if (section->Picture.isNull() || rect.width() <= 0)
      continue;
    const QImage picture = keyed(section->Picture);
    const QSize natural(rect.width(), section->Picture.height());
    p.save();
    p.setClipRect(rect);
    if (section->Stretch || section->AutoSize)
      p.drawImage(QRect(rect.topLeft(), natural), picture);
    else
      for (int x = rect.left(); x <= rect.right(); x += picture.width())
        p.drawImage(x, rect.top(), picture);
    p.restore();
  }

  for (int i = 0; i < int(buttons_.size()); ++i) {
    const TskTitleBarButton &button = buttons_[i];
    const QRect rect = ButtonRect(i);
    if (rect.isEmpty())
      continue;
    if (button.ButtonType == skControlBox && draw_app_icon_) {
      QIcon icon = window()->windowIcon();
      if (icon.isNull())
        icon = QApplication::windowIcon();
      icon.paint(&p, rect);
      continue;
    }
    const QImage &picture = button.Pictures[picture_index(i)];
    p.drawImage(rect.topLeft(), button.Transparent ? keyed(picture) : picture);
  }

  const QString shown = ShownCaption();
  if (!shown.isEmpty()) {
    p.setFont(font_);
    p.setPen(active_ ? font_color_ : inactive_caption);
    const Qt::Alignment side = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    p.drawText(CaptionRoom(), int(side | Qt::AlignVCenter | Qt::TextSingleLine), shown);
  }
  p.end();
  QPainter(this).drawImage(0, 0, canvas);
}

void TskTitleBar::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  const Hit hit = HitTest(event->position().toPoint());
  if (hit.kind == Hit::Button) {
    pressed_ = hot_ = hit.button;
    update();
    return;
  }
  // The frame's edges reach into the bar: a press there resizes, which the frame does.
  if (frame_ && frame_->EdgesUnderBar(event->position().toPoint()) != Qt::Edges()) {
    event->ignore();
    return;
  }
  if (window()->isMaximized() || (frame_ && frame_->Maximized()))
    return;
  // The move starts once the pointer has travelled, so that a double click still arrives.
  move_pending_ = true;
  press_global_ = event->globalPosition().toPoint();
  drag_offset_ = press_global_ - window()->pos();
}

void TskTitleBar::mouseMoveEvent(QMouseEvent *event) {
  const QPoint global = event->globalPosition().toPoint();
  if (move_pending_ && (event->buttons() & Qt::LeftButton) &&
      (global - press_global_).manhattanLength() >= QApplication::startDragDistance()) {
    move_pending_ = false;
    QWindow *handle = window()->windowHandle();
    // Without a window manager to hand the move to (or with one that refuses) the window
    // follows the pointer itself.
    dragging_ = !(handle && handle->startSystemMove());
  }
  if (dragging_) {
    window()->move(global - drag_offset_);
    return;
  }
  const Hit hit = HitTest(event->position().toPoint());
  const int hot = hit.kind == Hit::Button ? hit.button : -1;
  if (hot != hot_) {
    hot_ = hot;
    update();
  }
  const Qt::Edges edges =
      frame_ && hot < 0 && pressed_ < 0 ? frame_->EdgesUnderBar(event->position().toPoint()) : Qt::Edges();
  if (edges == Qt::Edges())
    unsetCursor();
  else
    setCursor(CursorFor(edges));
}

void TskTitleBar::mouseReleaseEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  dragging_ = move_pending_ = false;
  const int pressed = pressed_;
  pressed_ = -1;
  update();
  const Hit hit = HitTest(event->position().toPoint());
  if (pressed >= 0 && hit.kind == Hit::Button && hit.button == pressed)
    ClickButton(pressed);
}

void TskTitleBar::mouseDoubleClickEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  const Hit hit = HitTest(event->position().toPoint());
  if (hit.kind == Hit::Caption) {
    for (int i = 0; i < int(buttons_.size()); ++i)
      if (buttons_[i].ButtonType == skMax && buttons_[i].Visible) {
        ClickButton(i);
        break;
      }
  } else if (buttons_[hit.button].ButtonType == skControlBox) {
    window()->close();
  }
}

void TskTitleBar::leaveEvent(QEvent *) {
  hot_ = -1;
  update();
}

void TskTitleBar::toggle_maximized() {
  if (frame_) {
    frame_->SetMaximized(!frame_->Maximized());
    return;
  }
  QWidget *w = window();
  if (w->isMaximized())
    w->showNormal();
  else
    w->showMaximized();
}

Qt::CursorShape TskTitleBar::CursorFor(Qt::Edges edges) {
  const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
  const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
  if (horizontal && vertical) {
    const bool falling = (edges & Qt::LeftEdge) == bool(edges & Qt::TopEdge);
    return falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
  }
  if (horizontal)
    return Qt::SizeHorCursor;
  if (vertical)
    return Qt::SizeVerCursor;
  return Qt::ArrowCursor;
}

void TskTitleBar::ClickButton(int index) {
  if (index < 0 || index >= int(buttons_.size()))
    return;
  switch (buttons_[index].ButtonType) {
    case skMax:
      toggle_maximized();
      break;
    case skMin:
      window()->showMinimized();
      break;
    case skClose:
      window()->close();
      break;
    case skHelp:
      emit HelpBtnClick(this, index);
      break;
    case skCustom:
      emit CustomBtnsClick(this, index);
      break;
    case skControlBox: {
      QMenu *menu =
          buttons_[index].ControlBoxMenu ? buttons_[index].ControlBoxMenu.data() : system_menu_.get();
      menu->popup(mapToGlobal(QPoint(IconRect().left(), height())));
      break;
    }
  }
}
