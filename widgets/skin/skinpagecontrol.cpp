#include "widgets/skin/skinpagecontrol.h"

#include "widgets/skin/skindraw.h"

#include <QChildEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr QRgb fuchsia = 0xFFFF00FF;

// A tab frame is see-through where it shows fuchsia at its top-left corner, or else at its
// bottom-left corner (turned frames); the key row is reported through `top_row`.
bool frame_transparency(const QImage &frame, bool &top_row) {
  top_row = true;
  if (frame.isNull())
    return false;
  if ((frame.pixel(0, 0) | 0xFF000000) == fuchsia)
    return true;
  top_row = false;
  return (frame.pixel(0, frame.height() - 1) | 0xFF000000) == fuchsia;
}

}  // namespace

// --- the strip ----------------------------------------------------------------------

TskTabControlTopPanel::TskTabControlTopPanel(TskTab *owner) : QWidget(owner), owner_(owner) {
  widths_.fill(-1);
  visible_.fill(true);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TskTabControlTopPanel::SetTabs(const QStringList &tabs) {
  tabs_ = tabs;
  update();
}

void TskTabControlTopPanel::SetTabIndex(int index, bool from_click) {
  if (index == tab_index_)
    return;
  if (tabs_.isEmpty()) {
    tab_index_ = -1;
    update();
    return;
  }
  if (index < -1 || index >= tabs_.size()) {
    update();
    return;
  }
  if (from_click) {
    bool allow = true;
    emit owner_->Changing(owner_, allow);
    if (!allow)
      return;
  }
  tab_index_ = index;
  bring_into_view_ = true;
  update();
  owner_->TabActive(index);
}

void TskTabControlTopPanel::SetLeftMargin(int margin) {
  left_margin_ = margin;
  update();
}

void TskTabControlTopPanel::SetTabVisible(int index, bool visible) {
  if (index >= 0 && index < max_tabs)
    visible_[index] = visible;
  update();
}

void TskTabControlTopPanel::LoadStyle(int style, TskFileTheme *file_theme, TskTabPosition position) {
  position_ = position;
  QImage active, inactive, line, arrows;
  skin_bitmap(file_theme, style, skin_element::TabControlTabImage, active, 2, 1);
  skin_bitmap(file_theme, style, skin_element::TabControlTabImage, inactive, 2, 2);
  skin_bitmap(file_theme, style, skin_element::TabControlBarImage, line);
  skin_bitmap(file_theme, style, skin_element::ScrollButtonImage, arrows);
  if (position == skBottom) {
    RoundPicture2(active);
    RoundPicture2(inactive);
    RoundPicture2(line);
  }
  active_ = active;
  inactive_ = inactive;
  line_ = line;
  arrows_ = arrows;
  arrow_size_ = QSize(arrows.width() / 4, arrows.height());
  update();
}

int TskTabControlTopPanel::draw_tabs(QPainter &p) {
  const int W = width(), H = height();
  const int bw = arrow_size_.width();
  bool active_top_row = true, inactive_top_row = true;
  const bool active_keyed = frame_transparency(active_, active_top_row);
  const bool inactive_keyed = frame_transparency(inactive_, inactive_top_row);
  hit_height_ = active_.height();

  // The line along the pages, closed at both ends in the control's border colour.
  p.setPen(QPen(skin_color(owner_->BorderColor()), 0));
  int inactive_top, active_top;
  if (position_ == skTop) {
    if (!line_.isNull())
      p.drawImage(ltrb(1, inactive_.height(), W - 1, inactive_.height() + line_.height()), line_);
    p.drawLine(0, inactive_.height(), 0, inactive_.height() + line_.height() - 1);
    p.drawLine(W - 1, inactive_.height(), W - 1, inactive_.height() + line_.height() - 1);
    inactive_top = 0;
    active_top = 1;
  } else {
    if (!line_.isNull())
      p.drawImage(ltrb(1, 0, W - 1, line_.height()), line_);
    p.drawLine(0, 0, 0, line_.height() - 1);
    p.drawLine(W - 1, 0, W - 1, line_.height() - 1);
    inactive_top = H - inactive_.height();
    active_top = inactive_top - 1;
  }

  int x = left_margin_;
  p.setFont(owner_->TabFont());
  const QFontMetrics metrics(owner_->TabFont());
  int shown = 0, last_whole = int(tabs_.size()) - 1;
  bool cut = false;
  const int last_limit = W - 10;
  for (int i = 0; i < tabs_.size(); ++i) {
    const int limit = i == tabs_.size() - 1 ? last_limit : W - 2 * bw - 2;
    if (!TabVisible(i) && i < max_tabs) {
      widths_[i] = 0;
      continue;
    }
    if (cut)
      break;
    int tab_width = tabs_[i].isEmpty() ? 80 : metrics.horizontalAdvance(tabs_[i]) + 20;
    tab_width = std::max(tab_width, 15);
    if (i < max_tabs - 1)
      widths_[i] = tab_width;
    ++shown;
    if (shown <= scroll_offset_)
      continue;
    const bool is_active = i == tab_index_;
    const QImage &frame = is_active ? active_ : inactive_;
    const int top = is_active ? active_top : inactive_top;
    int right = x + tab_width;
    if (right > limit) {
      right = W - 2 * bw - 2;
      cut = true;
      if (!is_active && i < max_tabs - 1)
        widths_[i] = right - x;
      last_whole = i - 1;
    }
    const QRect tab_rect = ltrb(x, top, right, top + frame.height());
    if (!frame.isNull() && tab_rect.width() > 0)
      SpitDrawHorizontal(frame, p, tab_rect, is_active ? active_keyed : inactive_keyed,
                         is_active ? active_top_row : inactive_top_row);
    x += tab_width;
    p.setPen(palette().color(QPalette::WindowText));
    if (cut)
      p.drawText(tab_rect.adjusted(10, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                 tabs_[i]);
    else
      p.drawText(tab_rect, Qt::AlignCenter | Qt::TextSingleLine, tabs_[i]);
  }
  needs_arrows_ = !tabs_.isEmpty() && (x > last_limit || cut);
  return last_whole;
}

QRect TskTabControlTopPanel::arrow_rect(bool right) const {
  const int bw = arrow_size_.width(), ah = arrow_size_.height(), H = height();
  int y;
  if (position_ == skTop)
    y = ah + 4 < H ? (H - ah) / 2 - 2 : 0;
  else
    y = ah + 4 < H ? (H - ah) / 2 + 2 : H - ah;
  return QRect(right ? width() - bw - 2 : width() - 2 * bw - 2, y, bw, ah);
}

void TskTabControlTopPanel::draw_arrows(QPainter &p) {
  arrows_shown_ = needs_arrows_ || scroll_offset_ > 0;
  if (!arrows_shown_ || arrows_.isNull())
    return;
  const QRect right = arrow_rect(true), left = arrow_rect(false);
  if (right.contains(pointer_))
    arrow_hot_ = 1;
  else if (left.contains(pointer_))
    arrow_hot_ = -1;
  auto draw = [&](const QRect &at, int frame_number) {
    QImage frame = SpitBitmap(arrows_, 4, frame_number);
    p.drawImage(at.topLeft(), keyed(frame, frame.pixel(0, frame.height() - 1)));
  };
  draw(right, arrow_hot_ == 1 ? 2 : 1);
  draw(left, arrow_hot_ == -1 ? 4 : 3);
}

void TskTabControlTopPanel::paintEvent(QPaintEvent *) {
  QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
  buffer.fill(skin_color(owner_->Color()));
  QPainter p(&buffer);
  p.save();
  p.translate(-pos());
  DoTrans(p, owner_);
  p.restore();
  arrow_hot_ = 0;
  int last_whole = draw_tabs(p);
  if (bring_into_view_) {
    bring_into_view_ = false;
    while (last_whole < tab_index_ && scroll_offset_ < tabs_.size()) {
      ++scroll_offset_;
      last_whole = draw_tabs(p);
    }
  }
  draw_arrows(p);
  p.end();
  QPainter(this).drawImage(0, 0, buffer);
}

void TskTabControlTopPanel::mouseMoveEvent(QMouseEvent *event) {
  pointer_ = event->position().toPoint();
  if (arrows_shown_)
    update();
}

void TskTabControlTopPanel::leaveEvent(QEvent *) {
  pointer_ = QPoint(-1, -1);
  if (arrows_shown_)
    update();
}

void TskTabControlTopPanel::mousePressEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  press_at(event->position().toPoint());
  emit owner_->Click(owner_);
}

void TskTabControlTopPanel::mouseDoubleClickEvent(QMouseEvent *event) {
  if (event->button() != Qt::LeftButton)
    return;
  // The second press of a double click selects as any press does; it is the double click
  // that is told, not a second click.
  press_at(event->position().toPoint());
  emit owner_->DblClick(owner_);
}

void TskTabControlTopPanel::press_at(QPoint at) {
  pointer_ = at;
  if (arrows_shown_ && arrow_rect(false).contains(at)) {
    scroll_offset_ = std::clamp(scroll_offset_ - 1, 0, int(tabs_.size()));
    update();
    return;
  }
  if (arrows_shown_ && arrow_rect(true).contains(at)) {
    scroll_offset_ = std::clamp(scroll_offset_ + 1, 0, int(tabs_.size()));
    update();
    return;
  }
  int x = left_margin_;
  for (int i = scroll_offset_; i < tabs_.size() && i < max_tabs; ++i) {
    if (widths_[i] < 0)
      break;
    const int left = x, right = x + widths_[i];
    x = right;
    if (left < at.x() && at.x() < right && 0 < at.y() && at.y() < hit_height_) {
      SetTabIndex(i, true);
      bring_into_view_ = true;
      update();
      return;
    }
  }
}

// --- the common control -------------------------------------------------------------

TskTab::TskTab(QWidget *parent) : QWidget(parent), strip_(new TskTabControlTopPanel(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(width(), 80);
  style_ = GetSkinFormStyle(parent ? parent->window() : nullptr);
}

void TskTab::SetUIStyle(int style) {
  style_ = style;
  strip_->LoadStyle(style_, file_theme_, position_);
  place_strip();
  UpdateUIStyle(style_, file_theme_);
}

void TskTab::SetFileTheme(TskFileTheme *theme) {
  file_theme_ = theme;
  FollowFileTheme(this, theme_gone_, theme, [this] {
    file_theme_ = nullptr;
    SetUIStyle(DeepBlue);
  });
  SetUIStyle(style_);
}

void TskTab::UpdateUIStyle(int style, TskFileTheme *file_theme) {
  int resolved = style;
  const bool from_file = UsingFileTheme(file_theme, style, resolved);
  strip_->setPalette(palette());
  border_color_ = skin_color_of(file_theme, style, skin_element::ControlBorderColor);
  // The WinXP body is white; every other look uses its control colour.
  color_ = !from_file && resolved == WinXP
               ? 0xFFFFFF
               : skin_color_of(file_theme, style, skin_element::ControlBackgroundColor);
  BorderColorChanged();
  update();
  strip_->update();
}

void TskTab::SetBorderColor(uint32_t color) {
  border_color_ = color;
  BorderColorChanged();
  update();
  strip_->update();
}

void TskTab::BorderColorChanged() {}

void TskTab::SetColor(uint32_t color) {
  color_ = color;
  ColorChanged();
  update();
}

void TskTab::SetTabFont(const QFont &font) {
  tab_font_ = font;
  strip_->update();
}

void TskTab::SetTabPosition(TskTabPosition position) {
  position_ = position;
  strip_->LoadStyle(style_, file_theme_, position_);
  place_strip();
}

QRect TskTab::PageArea() const {
  const int sh = strip_->StripHeight();
  if (position_ == skTop)
    return ltrb(3, sh + 3, width() - 3, height() - 3);
  return ltrb(3, 3, width() - 3, height() - sh - 3);
}

void TskTab::place_strip() {
  const int sh = strip_->StripHeight();
  strip_->setGeometry(0, position_ == skTop ? 0 : height() - sh, width(), sh);
  layout_pages();
  update();
}

void TskTab::resizeEvent(QResizeEvent *) { place_strip(); }

void TskTab::TabActive(int) {}

void TskTab::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const int sh = strip_->StripHeight();
  const int W = width(), H = height();
  QRect body = position_ == skTop ? ltrb(0, sh, W, H) : ltrb(0, 0, W, H - sh);
  p.fillRect(body, skin_color(color_));
  // Three sides: the side along the strip stays open.
  p.setPen(QPen(skin_color(border_color_), 0));
  const int top = body.top(), bottom = body.bottom() + 1;
  if (position_ == skTop) {
    p.drawLine(0, top - 1, 0, bottom - 1);
    p.drawLine(0, bottom - 1, W - 1, bottom - 1);
    p.drawLine(W - 1, bottom - 1, W - 1, top - 1);
  } else {
    p.drawLine(W - 1, bottom - 1, W - 1, top);
    p.drawLine(W - 1, top, 0, top);
    p.drawLine(0, top, 0, bottom - 1);
  }
}

TskTabControl::TskTabControl(QWidget *parent) : TskTab(parent) { SetUIStyle(UIStyle()); }

void TskTabControl::TabActive(int index) {
  emit TabActivated(this, index);
  emit Changed(this);
}

// --- pages --------------------------------------------------------------------------

TskTabSheet::TskTabSheet(TskPageControl *page_control) : QWidget(nullptr) { SetPageControl(page_control); }

TskTabSheet::~TskTabSheet() {
  if (page_control_)
    page_control_->RemovePage(this);
}

void TskTabSheet::SetPageControl(TskPageControl *page_control) {
  if (page_control == page_control_)
    return;
  if (page_control_)
    page_control_->RemovePage(this);
  setParent(page_control);
  if (page_control)
    page_control->InsertPage(this);
}

void TskTabSheet::SetPageIndex(int index) {
  if (!page_control_)
    return;
  QList<TskTabSheet *> &pages = page_control_->pages_;
  if (index >= 0 && index < pages.size()) {
    pages.move(page_index_, index);
    page_control_->renumber();
  }
  page_control_->SetActivePage(this);
}

void TskTabSheet::SetCaption(const QString &caption) {
  caption_ = caption;
  if (page_control_)
    page_control_->renumber();
}

void TskTabSheet::SetTabVisible(bool visible) {
  tab_visible_ = visible;
  if (!page_control_)
    return;
  page_control_->Strip()->SetTabVisible(page_index_, visible);
  if (visible || page_control_->ActivePage() != this)
    return;
  // The nearest page before this one with a visible tab, else the nearest after it.
  const QList<TskTabSheet *> &pages = page_control_->pages_;
  for (int i = page_index_ - 1; i >= 0; --i)
    if (pages[i]->TabVisible()) {
      page_control_->SetActivePageIndex(i);
      return;
    }
  for (int i = page_index_ + 1; i < pages.size(); ++i)
    if (pages[i]->TabVisible()) {
      page_control_->SetActivePageIndex(i);
      return;
    }
}

void TskTabSheet::SetColor(uint32_t color) {
  color_ = color;
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, skin_color(color));
  setPalette(palette);
  setAutoFillBackground(true);
}

// --- the page control ---------------------------------------------------------------

TskPageControl::TskPageControl(QWidget *parent) : TskTab(parent) {
  strip_->SetTabs({});
  SetUIStyle(UIStyle());
}

TskPageControl::~TskPageControl() {
  // The pages go with the control; they must not call back into a half-destroyed one.
  for (TskTabSheet *page : pages_)
    page->page_control_ = nullptr;
}

TskTabSheet *TskPageControl::Pages(int index) const {
  return index >= 0 && index < pages_.size() ? pages_[index] : nullptr;
}

int TskPageControl::ActivePageIndex() const { return active_ ? active_->page_index_ : 0; }

void TskPageControl::renumber() {
  QStringList texts;
  for (int i = 0; i < pages_.size(); ++i) {
    pages_[i]->page_index_ = i;
    texts << pages_[i]->caption_;
    strip_->SetTabVisible(i, pages_[i]->tab_visible_);
  }
  strip_->SetTabs(texts);
}

void TskPageControl::InsertPage(TskTabSheet *page) {
  page->page_control_ = this;
  pages_.append(page);
  page->SetColor(Color());
  page->SetBorderColor(BorderColor());
  renumber();
  layout_pages();
  SetActivePage(page);
}

void TskPageControl::RemovePage(TskTabSheet *page) {
  const int index = int(pages_.indexOf(page));
  if (index < 0)
    return;
  pages_.removeAt(index);
  page->page_control_ = nullptr;
  page->page_index_ = -1;
  if (active_ == page)
    active_ = nullptr;
  renumber();
  ActivatePage(index - 1);
}

void TskPageControl::childEvent(QChildEvent *event) {
  // A page re-parented away by other means leaves the page list.
  if (event->removed())
    for (TskTabSheet *page : pages_)
      if (page == event->child()) {
        RemovePage(page);
        break;
      }
  TskTab::childEvent(event);
}

void TskPageControl::layout_pages() {
  const QRect area = PageArea();
  for (TskTabSheet *page : pages_)
    page->setGeometry(area);
}

void TskPageControl::hide_old(int new_index) {
  if (active_ && active_->page_index_ != new_index) {
    active_->setEnabled(false);
    emit active_->Hidden(active_);
  }
}

void TskPageControl::show_page(TskTabSheet *page) {
  active_ = page;
  page->setVisible(true);
  page->setEnabled(true);
  page->raise();
  page->update();
  emit page->Shown(page);
}

void TskPageControl::ActivatePage(int index) {
  hide_old(index);
  if (index < 0 || index >= strip_->Tabs().size() || index >= pages_.size()) {
    active_ = nullptr;
    return;
  }
  SetTabIndex(index);
  strip_->SetTabIndex(index);
  show_page(pages_[index]);
}

void TskPageControl::SetActivePageIndex(int index) {
  if (index >= 0 && index < pages_.size())
    ActivatePage(index);
}

void TskPageControl::SetActivePage(TskTabSheet *page) {
  if (active_ && active_ != page) {
    active_->setEnabled(false);
    emit active_->Hidden(active_);
  }
  active_ = page;
  if (!page)
    return;
  SetTabIndex(page->page_index_);
  strip_->SetTabIndex(page->page_index_);
  show_page(page);
}

void TskPageControl::TabActive(int index) {
  if (index < 0 || index >= pages_.size())
    return;
  hide_old(index);
  TskTabSheet *page = pages_[index];
  show_page(page);
  // The page's first control takes the focus when it can (labels never do); only once the
  // page is enabled, since a disabled control cannot take it.
  const QList<QWidget *> children = page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
  if (!children.isEmpty()) {
    QWidget *first = children.first();
    if (!qobject_cast<QLabel *>(first) && first->isVisibleTo(page) && (first->focusPolicy() & Qt::TabFocus))
      first->setFocus(Qt::OtherFocusReason);
  }
  emit TabActivated(this, index);
  emit Changed(this);
}

void TskPageControl::SelectNextPage(bool forward) {
  if (TskTabSheet *next = FindNextPage(active_, forward))
    SetActivePage(next);
}

TskTabSheet *TskPageControl::FindNextPage(TskTabSheet *page, bool forward) const {
  if (!page || pages_.isEmpty())
    return nullptr;
  const int count = int(pages_.size());
  int at = page->page_index_;
  for (int step = 0; step < count; ++step) {
    at = (at + (forward ? 1 : -1) + count) % count;
    if (pages_[at]->TabVisible())
      return pages_[at];
  }
  return nullptr;
}

TskTabSheet *TskPageControl::NewPage() {
  // Named after the first number no object of the form carries yet, so a page made after
  // another was removed never takes a name that is still in use (names find controls).
  QObject *owner = window();
  QString name;
  for (int n = 1;; ++n) {
    name = QStringLiteral("skTabSheet%1").arg(n);
    if (owner->objectName() != name && !owner->findChild<QObject *>(name))
      break;
  }
  auto *page = new TskTabSheet(this);
  page->setObjectName(name);
  page->SetCaption(name);
  return page;
}

void TskPageControl::BorderColorChanged() {
  for (TskTabSheet *page : pages_)
    page->SetBorderColor(BorderColor());
  if (active_)
    active_->update();
}

void TskPageControl::ColorChanged() {
  for (TskTabSheet *page : pages_)
    page->SetColor(Color());
}

void TskPageControl::UpdateUIStyle(int style, TskFileTheme *file_theme) {
  for (TskTabSheet *page : pages_)
    ContainerApplyUIStyle(page, style, file_theme);
  TskTab::UpdateUIStyle(style, file_theme);
  for (TskTabSheet *page : pages_) {
    page->SetColor(Color());
    page->SetBorderColor(BorderColor());
  }
  layout_pages();
}
