#include "widgets/skin/skinform.h"

#include "widgets/skin/skindraw.h"

#include <QEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

constexpr int FormMinWidthInt = 13, FormRoundCornerInt = 14, FormBackgroundColor = 15, FormBorderColor = 16,
              FormBorderWidthInt = 17, MenuSelectedBorderColor = 18, MenuSelectedBackgroundColor = 19,
              MenuSelectedFontColor = 20, MenuBackgroundColor = 21, MenuFontColor = 22, MenuBarColor = 23,
              FormLeftBorderImage = 45, FormBottomBorderImage = 46, FormBottomRoundCornerInt = 47,
              MenuMenuBarColor = 48;

constexpr int menu_bar_height = 22;
// The frame is never thinner than this, whatever the border line's width: the rest of it is
// drawn in the panel's colour.
constexpr int frame_min = 3;
// How far from a corner along an edge a drag still takes both edges.
constexpr int corner_grip = 12;

int int_of(const TskFileTheme *theme, int style, int index) {
  int resolved = style;
  if (UsingFileTheme(theme, style, resolved))
    return theme->GetInt(index);
  return GetInsideThemeInt(resolved, index);
}

// First column of row `d` (counted from the rounded edge) whose pixel centre lies inside
// a rounding of radius `r`.
int row_inset(double r, int d) {
  const double dy = r - (d + 0.5);
  if (r <= 0 || dy <= 0)
    return 0;
  const double dx = std::sqrt(std::max(0.0, r * r - dy * dy));
  return std::max(0, int(std::ceil(r - dx - 0.5)));
}

}  // namespace

TskForm::TskForm(QWidget *form) : QWidget(form), form_(form) {
  if (!form || !form->isWindow())
    throw std::invalid_argument("a skinned form must be placed on a top-level window");
  for (QObject *child : form->children())
    if (child != this && qobject_cast<TskForm *>(child))
      throw std::logic_error("Sorry, You can create only one TskForm component in one form!");

  const bool shown = form->isVisible();
  form->setWindowFlags(form->windowFlags() | Qt::FramelessWindowHint);
  form->setMinimumSize(125, 50);
  setMinimumSize(125, 50);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);

  title_bar_ = new TskTitleBar(this);
  title_bar_->SetFrame(this);
  client_ = new QWidget(this);
  connect(title_bar_, &TskTitleBar::CustomBtnsClick, this, &TskForm::BtnClick);
  connect(title_bar_, &TskTitleBar::HelpBtnClick, this, &TskForm::HelpBtnClick);
  form->installEventFilter(this);
  lower();

  style_ = DeepBlue;
  load_style();
  if (shown)
    form->show();
}

// The bar, a child, outlives this part of the form by a moment: it must not ask a frame
// that is gone.
TskForm::~TskForm() { title_bar_->SetFrame(nullptr); }

void TskForm::SetUIStyle(int style) {
  style_ = style;
  load_style();
}

void TskForm::SetFileTheme(TskFileTheme *theme) {
  file_theme_ = theme;
  FollowFileTheme(this, theme_gone_, theme, [this] {
    file_theme_ = nullptr;
    SetUIStyle(DeepBlue);
  });
  load_style();
}

void TskForm::load_style() {
  border_color_ = skin_color_of(file_theme_, style_, FormBorderColor);
  border_width_ = std::max(0, int_of(file_theme_, style_, FormBorderWidthInt));
  panel_color_ = skin_color_of(file_theme_, style_, FormBackgroundColor);
  round_corner_ = std::max(0, int_of(file_theme_, style_, FormRoundCornerInt));
  round_corner_bottom_ = int_of(file_theme_, style_, FormBottomRoundCornerInt);

  int resolved = style_;
  const bool from_file = UsingFileTheme(file_theme_, style_, resolved);
  background_tile_ = QImage();
  if (!from_file && resolved == MacOS)
    load_skin_resource("MACOS_FORM_BACKGROUND", background_tile_);
  else if (!from_file && resolved == Protein)
    load_skin_resource("PROTEIN_FORM_BACKGROUND", background_tile_);
  // Only a theme file has border pictures; the built-in looks draw their frame from colours.
  left_border_ = bottom_border_ = QImage();
  skin_bitmap(file_theme_, style_, FormLeftBorderImage, left_border_);
  skin_bitmap(file_theme_, style_, FormBottomBorderImage, bottom_border_);

  form_->setMinimumWidth(std::max(125, int_of(file_theme_, style_, FormMinWidthInt)));
  title_bar_->SetFileTheme(file_theme_);
  title_bar_->SetUIStyle(style_);
  apply_menu_colours();
  if (auto_update_sub_)
    ContainerApplyUIStyle(client_, style_, file_theme_);
  relayout();
  update_mask();
  update();
}

QColor TskForm::menu_bar_colour() const {
  int resolved = style_;
  // The MacOS look's colour entries for its menu bar and pop-up menus are black
  // placeholders: its bar takes the colour of the form's menu area, its menus are white.
  if (!UsingFileTheme(file_theme_, style_, resolved) && resolved == MacOS)
    return skin_color(skin_color_of(file_theme_, style_, MenuMenuBarColor));
  return skin_color(skin_color_of(file_theme_, style_, MenuBarColor));
}

void TskForm::apply_menu_colours() {
  if (!menu_)
    return;
  auto colour = [this](int index) { return skin_color(skin_color_of(file_theme_, style_, index)).name(); };
  const QString selected = QStringLiteral("background: %1;").arg(colour(MenuSelectedBackgroundColor));
  const QString bar = QStringLiteral("background: %1;").arg(menu_bar_colour().name());
  int resolved = style_;
  const QString popup = !UsingFileTheme(file_theme_, style_, resolved) && resolved == MacOS
                            ? QStringLiteral("#ffffff")
                            : colour(MenuBackgroundColor);
  menu_->setStyleSheet(
      QStringLiteral("QMenuBar { %1 color: %2; border: none; }"
                     "QMenuBar::item { background: transparent; padding: 3px 8px; color: %2; }"
                     "QMenuBar::item:selected, QMenuBar::item:pressed { %3 color: %4; border: 1px solid %5; }"
                     "QMenu { background: %6; color: %2; border: 1px solid %5; }"
                     "QMenu::item { padding: 3px 20px; }"
                     "QMenu::item:selected { %3 color: %4; }"
                     "QMenu::separator { height: 1px; background: %5; margin: 2px 4px; }")
          .arg(bar, colour(MenuFontColor), selected, colour(MenuSelectedFontColor),
               colour(MenuSelectedBorderColor), popup));
}

void TskForm::SetColor(uint32_t color) {
  border_color_ = color;
  update();
}

void TskForm::SetBorderWidth(int width) {
  border_width_ = std::max(0, width);
  relayout();
  update();
}

void TskForm::SetPanelColor(uint32_t color) {
  panel_color_ = color;
  background_tile_ = QImage();
  update();
}

void TskForm::SetRoundCorner(int corner) {
  round_corner_ = std::max(0, corner);
  update_mask();
}

void TskForm::SetRoundCornerBottom(int corner) {
  round_corner_bottom_ = corner;
  update_mask();
}

QString TskForm::Caption() const { return form_->windowTitle(); }

void TskForm::SetCaption(const QString &caption) {
  form_->setWindowTitle(caption);
  title_bar_->SetCaption(caption);
}

void TskForm::SetTitleBarVisible(bool visible) {
  title_bar_visible_ = visible;
  relayout();
  update();
}

void TskForm::SetMenu(QMenuBar *menu) {
  if (menu_ && menu_ != menu)
    menu_->deleteLater();
  menu_ = menu;
  if (menu) {
    menu->setParent(this);
    menu->setNativeMenuBar(false);
    menu->setFixedHeight(menu_bar_height);
    menu->show();
    apply_menu_colours();
  }
  relayout();
  update();
}

int TskForm::LeftBorderWidth() const { return left_border_.isNull() ? 0 : left_border_.width(); }

int TskForm::FrameSide() const {
  if (!left_border_.isNull())
    return std::max(0, left_border_.width() - 2);
  return std::max(border_width_, frame_min);
}

int TskForm::FrameBottom() const {
  if (!bottom_border_.isNull())
    return std::max(0, bottom_border_.height() - 2);
  return std::max(border_width_, frame_min);
}

void TskForm::relayout() {
  setGeometry(form_->rect());
  const int side = FrameSide();
  int top = 0;
  title_bar_->setVisible(title_bar_visible_);
  if (title_bar_visible_) {
    title_bar_->SetFrameWidth(side);
    title_bar_->setGeometry(0, 0, width(), title_bar_->BarHeight());
    top = title_bar_->BarHeight();
  } else {
    top = side;
  }
  if (menu_) {
    menu_->setGeometry(side, top, width() - 2 * side, menu_bar_height);
    top += menu_bar_height;
  }
  client_->setGeometry(ltrb(side, top, width() - side, height() - FrameBottom()));
}

QRegion TskForm::WindowRegion(QSize size, int top, int bottom) {
  const int w = size.width(), h = size.height();
  if (w <= 0 || h <= 0)
    return QRegion();
  const int half = h / 2;
  const double r_top = std::min({top / 2.0, w / 2.0, double(half)});
  const double r_bottom = std::min({std::max(0, bottom) / 2.0, w / 2.0, double(h - half)});
  QRegion region;
  int band_start = 0, band_inset = -1;
  auto flush = [&](int end) {
    if (band_inset >= 0 && end > band_start && w - 2 * band_inset > 0)
      region += QRect(band_inset, band_start, w - 2 * band_inset, end - band_start);
  };
  for (int y = 0; y < h; ++y) {
    const int inset = y < half ? row_inset(r_top, y) : row_inset(r_bottom, h - 1 - y);
    if (inset != band_inset) {
      flush(y);
      band_start = y;
      band_inset = inset;
    }
  }
  flush(h);
  return region;
}

void TskForm::update_mask() {
  const int bottom = round_corner_bottom_ < 0 ? 0 : round_corner_bottom_;
  // A maximised window's corners lie at the screen's edges, where no rounding is wanted.
  if (maximized_ || (round_corner_ <= 0 && bottom <= 0))
    form_->clearMask();
  else
    form_->setMask(WindowRegion(form_->size(), round_corner_, bottom));
}

void TskForm::SetMaximized(bool maximized) {
  if (maximized == maximized_)
    return;
  changing_state_ = true;
  if (maximized) {
    normal_geometry_ = form_->geometry();
    maximized_ = true;
    form_->setWindowState(form_->windowState() | Qt::WindowMaximized);
    if (QScreen *screen = form_->screen())
      form_->setGeometry(screen->availableGeometry());
  } else {
    maximized_ = false;
    form_->setWindowState(form_->windowState() & ~Qt::WindowMaximized);
    if (normal_geometry_.isValid())
      form_->setGeometry(normal_geometry_);
  }
  changing_state_ = false;
  title_bar_->SetMaximized(maximized_);
  relayout();
  update_mask();
  update();
}

void TskForm::follow_window_state() {
  // The window manager (or a program) maximised or restored the window: take the same
  // geometry as our own buttons would.
  if (changing_state_)
    return;
  const bool maximized = form_->windowState() & Qt::WindowMaximized;
  if (maximized != maximized_)
    SetMaximized(maximized);
}

Qt::Edges TskForm::EdgesUnderBar(QPoint pos) const { return EdgesAt(title_bar_->mapTo(this, pos)); }

Qt::Edges TskForm::EdgesAt(QPoint pos) const {
  if (maximized_ || !resizable_ || !rect().contains(pos))
    return {};
  const int w = width(), h = height();
  const int side = std::max(FrameSide(), frame_min), bottom = std::max(FrameBottom(), frame_min);
  Qt::Edges edges;
  if (pos.x() < side)
    edges |= Qt::LeftEdge;
  if (pos.x() >= w - side)
    edges |= Qt::RightEdge;
  if (pos.y() < frame_min)
    edges |= Qt::TopEdge;
  if (pos.y() >= h - bottom)
    edges |= Qt::BottomEdge;
  if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
    if (pos.y() < corner_grip)
      edges |= Qt::TopEdge;
    if (pos.y() >= h - corner_grip)
      edges |= Qt::BottomEdge;
  }
  if (edges & (Qt::TopEdge | Qt::BottomEdge)) {
    if (pos.x() < corner_grip)
      edges |= Qt::LeftEdge;
    if (pos.x() >= w - corner_grip)
      edges |= Qt::RightEdge;
  }
  return edges;
}

bool TskForm::eventFilter(QObject *watched, QEvent *event) {
  if (watched == form_) {
    switch (event->type()) {
      case QEvent::Resize:
        relayout();
        update_mask();
        break;
      case QEvent::WindowStateChange:
        follow_window_state();
        break;
      case QEvent::ActivationChange:
        title_bar_->SetActive(form_->isActiveWindow());
        break;
      case QEvent::WindowTitleChange:
        title_bar_->SetCaption(form_->windowTitle());
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TskForm::paintEvent(QPaintEvent *) {
  QPainter p(this);
  if (!background_tile_.isNull())
    TileDraw(p, background_tile_, rect());
  else
    p.fillRect(rect(), skin_color(panel_color_));

  const int w = width(), h = height();
  const int top = title_bar_visible_ ? title_bar_->BarHeight() : 0;
  if (!left_border_.isNull() || !bottom_border_.isNull()) {
    const int side = FrameSide(), bottom = FrameBottom();
    if (!left_border_.isNull()) {
      p.drawImage(QRect(0, top, side, h - top), keyed(left_border_));
      p.drawImage(QRect(w - side, top, side, h - top), keyed(left_border_.mirrored(true, false)));
    }
    if (!bottom_border_.isNull())
      p.drawImage(QRect(0, h - bottom, w, bottom), keyed(bottom_border_));
    return;
  }
  const QColor frame = skin_color(border_color_);
  const int bw = border_width_;
  // Beside the menu bar the frame's inner ring takes the bar's colour, so the bar reaches
  // the border line.
  if (menu_ && bw < frame_min) {
    const QColor bar = menu_bar_colour();
    const QRect menu = menu_->geometry();
    p.fillRect(ltrb(bw, menu.top(), menu.left(), menu.bottom() + 1), bar);
    p.fillRect(ltrb(menu.right() + 1, menu.top(), w - bw, menu.bottom() + 1), bar);
  }
  p.fillRect(0, top, bw, h - top, frame);
  p.fillRect(w - bw, top, bw, h - top, frame);
  p.fillRect(0, h - bw, w, bw, frame);
  if (!title_bar_visible_)
    p.fillRect(0, 0, w, bw, frame);
}

void TskForm::mousePressEvent(QMouseEvent *event) {
  const Qt::Edges edges =
      event->button() == Qt::LeftButton ? EdgesAt(event->position().toPoint()) : Qt::Edges();
  if (edges == Qt::Edges()) {
    event->ignore();
    return;
  }
  if (form_->windowHandle() && form_->windowHandle()->startSystemResize(edges))
    return;
  resizing_ = edges;
  resize_origin_ = event->globalPosition().toPoint();
  resize_start_ = form_->geometry();
}

void TskForm::mouseMoveEvent(QMouseEvent *event) {
  if (resizing_ == Qt::Edges()) {
    const Qt::Edges edges = EdgesAt(event->position().toPoint());
    if (edges == Qt::Edges())
      unsetCursor();
    else
      setCursor(TskTitleBar::CursorFor(edges));
    return;
  }
  const QPoint d = event->globalPosition().toPoint() - resize_origin_;
  const QSize least = form_->minimumSize();
  QRect g = resize_start_;
  if (resizing_ & Qt::LeftEdge)
    g.setLeft(std::min(g.left() + d.x(), g.right() + 1 - least.width()));
  if (resizing_ & Qt::RightEdge)
    g.setRight(std::max(g.right() + d.x(), g.left() + least.width() - 1));
  if (resizing_ & Qt::TopEdge)
    g.setTop(std::min(g.top() + d.y(), g.bottom() + 1 - least.height()));
  if (resizing_ & Qt::BottomEdge)
    g.setBottom(std::max(g.bottom() + d.y(), g.top() + least.height() - 1));
  form_->setGeometry(g);
}

void TskForm::mouseReleaseEvent(QMouseEvent *event) {
  if (resizing_ == Qt::Edges())
    event->ignore();
  resizing_ = {};
}
