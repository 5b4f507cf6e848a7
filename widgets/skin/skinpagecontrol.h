// The skinned page control: pages stacked in a bordered body, with a strip of tabs (three-
// slice tab frames on a stretched line, scroll arrows when they do not fit) on one side.
// Tabs can be hidden one by one; the main window hides them all and switches by program.
#pragma once

#include "widgets/skin/skinstyle.h"

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <array>

class TskTab;
class TskPageControl;

enum TskTabPosition { skTop, skBottom };

// The tab strip: it owns the tab texts, the selected index and the scroll offset, and lays
// out and hit-tests the tabs. At most 64 tabs have a width and visibility slot.
class TskTabControlTopPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int max_tabs = 64;

  explicit TskTabControlTopPanel(TskTab *owner);

  const QStringList &Tabs() const { return tabs_; }
  void SetTabs(const QStringList &tabs);
  int TabIndex() const { return tab_index_; }
  // `from_click`: a change asks the owner's Changing first, which may refuse it.
  void SetTabIndex(int index, bool from_click = false);
  int LeftMargin() const { return left_margin_; }
  void SetLeftMargin(int margin);
  bool TabVisible(int index) const { return index >= 0 && index < max_tabs && visible_[index]; }
  void SetTabVisible(int index, bool visible);
  int ScrollOffset() const { return scroll_offset_; }
  bool ScrollArrowsShown() const { return arrows_shown_; }
  // The width the last paint gave tab `index`; -1 when it was never laid out.
  int TabWidth(int index) const { return index >= 0 && index < max_tabs ? widths_[index] : -1; }

  // Loads the tab frames, line and arrow size of the style; the strip's height follows.
  void LoadStyle(int style, TskFileTheme *file_theme, TskTabPosition position);
  int StripHeight() const { return active_.height() + line_.height(); }

 protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void leaveEvent(QEvent *event) override;

 private:
  // A left press at `at`: scrolls by an arrow or selects the tab hit.
  void press_at(QPoint at);
  // Draws the tabs; returns the index of the last tab shown whole.
  int draw_tabs(QPainter &painter);
  void draw_arrows(QPainter &painter);
  QRect arrow_rect(bool right) const;

  TskTab *owner_;
  QStringList tabs_{QStringLiteral("Tab1")};
  int tab_index_ = 0;
  int left_margin_ = 10;
  TskTabPosition position_ = skTop;
  QImage active_, inactive_, line_, arrows_;
  QSize arrow_size_;
  int scroll_offset_ = 0;
  std::array<int, max_tabs> widths_;
  std::array<bool, max_tabs> visible_;
  int hit_height_ = 0;
  bool arrows_shown_ = false;
  bool needs_arrows_ = false;
  int arrow_hot_ = 0;  // -1 left, 0 none, +1 right
  QPoint pointer_{-1, -1};
  bool bring_into_view_ = false;
};

class TskTab : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  explicit TskTab(QWidget *parent = nullptr);

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);
  int LeftMargin() const { return strip_->LeftMargin(); }
  void SetLeftMargin(int margin) { strip_->SetLeftMargin(margin); }
  uint32_t BorderColor() const { return border_color_; }
  void SetBorderColor(uint32_t color);
  uint32_t Color() const { return color_; }
  void SetColor(uint32_t color);
  // The tab captions' font, apart from the control's own.
  const QFont &TabFont() const { return tab_font_; }
  void SetTabFont(const QFont &font);
  TskTabPosition TabPosition() const { return position_; }
  void SetTabPosition(TskTabPosition position);

  TskTabControlTopPanel *Strip() const { return strip_; }
  // Where the pages lie: the client area less 3 pixels on each side and less the strip.
  QRect PageArea() const;

  // Called by the strip when its index changes.
  virtual void TabActive(int index);
  virtual void SetTabIndex(int index) { strip_->SetTabIndex(index); }

 signals:
  void TabActivated(QObject *sender, int index);
  void Changed(QObject *sender);
  void Changing(QObject *sender, bool &allow);
  // The strip was clicked or double-clicked with the left button, after the tab it hit
  // (if any) became the current one.
  void Click(QObject *sender);
  void DblClick(QObject *sender);

 protected:
  virtual void BorderColorChanged();
  virtual void ColorChanged() {}
  virtual void UpdateUIStyle(int style, TskFileTheme *file_theme);
  virtual void layout_pages() {}
  void paintEvent(QPaintEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
  void place_strip();

  TskTabControlTopPanel *strip_;

 private:
  int style_ = DeepBlue;
  QPointer<TskFileTheme> file_theme_;
  QMetaObject::Connection theme_gone_;
  uint32_t border_color_ = 0;
  uint32_t color_ = 0xFFFFFF;
  QFont tab_font_;
  TskTabPosition position_ = skTop;
};

// A strip of tabs over one body, without pages: the caller reacts to TabIndex.
class TskTabControl : public TskTab {
  Q_OBJECT

 public:
  explicit TskTabControl(QWidget *parent = nullptr);

  const QStringList &Tabs() const { return strip_->Tabs(); }
  void SetTabs(const QStringList &tabs) { strip_->SetTabs(tabs); }
  int TabIndex() const { return strip_->TabIndex(); }
  void SetTabIndex(int index) override { strip_->SetTabIndex(index); }

 protected:
  void TabActive(int index) override;
};

class TskTabSheet : public QWidget {
  Q_OBJECT

 public:
  // A sheet created on a page control joins it as its last page and becomes active.
  explicit TskTabSheet(TskPageControl *page_control = nullptr);
  ~TskTabSheet() override;

  TskPageControl *PageControl() const { return page_control_; }
  void SetPageControl(TskPageControl *page_control);
  int PageIndex() const { return page_index_; }
  // Moves the page (an index outside the pages keeps the old one) and activates it.
  void SetPageIndex(int index);
  const QString &Caption() const { return caption_; }
  void SetCaption(const QString &caption);
  bool TabVisible() const { return tab_visible_; }
  // Hiding the active page's tab moves to the nearest page with a visible tab, if any.
  void SetTabVisible(bool visible);
  uint32_t Color() const { return color_; }
  void SetColor(uint32_t color);
  uint32_t BorderColor() const { return border_color_; }
  void SetBorderColor(uint32_t color) { border_color_ = color; }

 signals:
  void Shown(QObject *sender);
  void Hidden(QObject *sender);

 private:
  friend class TskPageControl;
  TskPageControl *page_control_ = nullptr;
  int page_index_ = -1;
  QString caption_;
  bool tab_visible_ = true;
  uint32_t color_ = 0xFFFFFF;
  uint32_t border_color_ = 0;
};

class TskPageControl : public TskTab {
  Q_OBJECT

 public:
  explicit TskPageControl(QWidget *parent = nullptr);
  ~TskPageControl() override;

  int PageCount() const { return int(pages_.size()); }
  TskTabSheet *Pages(int index) const;
  TskTabSheet *ActivePage() const { return active_; }
  void SetActivePage(TskTabSheet *page);
  // The active page's index, 0 when there is none.
  int ActivePageIndex() const;
  // Shows page `index` in front, enabled, and disables the page shown before; an index out
  // of range is ignored.
  void SetActivePageIndex(int index);
  void SelectNextPage(bool forward);
  TskTabSheet *FindNextPage(TskTabSheet *page, bool forward) const;
  TskTabSheet *NewPage();

  void TabActive(int index) override;
  void SetTabIndex(int index) override { strip_->SetTabIndex(index); }

 protected:
  void BorderColorChanged() override;
  void ColorChanged() override;
  void UpdateUIStyle(int style, TskFileTheme *file_theme) override;
  void layout_pages() override;
  void childEvent(QChildEvent *event) override;

 private:
  friend class TskTabSheet;
  void InsertPage(TskTabSheet *page);
  void RemovePage(TskTabSheet *page);
  void ActivatePage(int index);
  void hide_old(int new_index);
  void show_page(TskTabSheet *page);
  void renumber();

  QList<TskTabSheet *> pages_;
  TskTabSheet *active_ = nullptr;
};
