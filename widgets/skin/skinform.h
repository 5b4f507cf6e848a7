// The skinned form: placed on a top-level window, it takes the system's frame away and draws
// its own: the frame strips, the rounded window shape, a skinned title bar and an optional
// menu bar, with moving, resizing by the edges and a maximise that fills the screen's
// available area. It also gives the skinned controls of that window their starting style.
#pragma once

#include "widgets/skin/skinstyle.h"
#include "widgets/skin/skintitlebar.h"

#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include <QMenuBar>

class TskForm : public QWidget, private TskTitleBarFrame {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  // `form` must be a top-level window without a skinned form of its own: otherwise
  // std::invalid_argument (not a window) or std::logic_error (a second one) is thrown and
  // the window is left as it was. The form owns the panel, which covers the whole window.
  explicit TskForm(QWidget *form);
  ~TskForm() override;

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);

  // Frame colour, frame strip width and the panel's colour (colour values 0x00BBGGRR).
  uint32_t Color() const { return border_color_; }
  void SetColor(uint32_t color);
  int BorderWidth() const { return border_width_; }
  void SetBorderWidth(int width);
  uint32_t PanelColor() const { return panel_color_; }
  void SetPanelColor(uint32_t color);
  // Corner sizes (the diameter of the rounding) of the window's upper and lower halves;
  // a lower corner of -1 means square.
  int RoundCorner() const { return round_corner_; }
  void SetRoundCorner(int corner);
  int RoundCornerBottom() const { return round_corner_bottom_; }
  void SetRoundCornerBottom(int corner);

  QString Caption() const;
  void SetCaption(const QString &caption);
  bool TitleBarVisible() const { return title_bar_visible_; }
  void SetTitleBarVisible(bool visible);
  bool DrawAppIcon() const { return title_bar_->DrawAppIcon(); }
  void SetDrawAppIcon(bool draw) { title_bar_->SetDrawAppIcon(draw); }
  // Hand a new style on to the client area's direct children as well.
  bool UIStyleAutoUpdateSub() const { return auto_update_sub_; }
  void SetUIStyleAutoUpdateSub(bool on) { auto_update_sub_ = on; }
  // Dragging the frame's edges resizes the window.
  bool Resizable() const { return resizable_; }
  void SetResizable(bool resizable) { resizable_ = resizable; }

  // The main menu, drawn in the style's colours in a bar of height 22 under the title; the
  // form takes the bar over as its child. Null removes it.
  QMenuBar *Menu() const { return menu_; }
  void SetMenu(QMenuBar *menu);

  TskTitleBar *TitleBar() const { return title_bar_; }
  // Where the window's own controls go: inside the frame, under the title and menu.
  QWidget *Client() const { return client_; }

  // Maximised, the window covers its screen's available area and loses its rounding;
  // restored, it returns to where it was.
  bool Maximized() const override { return maximized_; }
  void SetMaximized(bool maximized) override;

  // Width of the left, right and bottom frame (at least 3 pixels, or the room a file
  // theme's border pictures ask for).
  int FrameSide() const;
  int FrameBottom() const;
  // Width of the file theme's left border picture, 0 without one.
  int LeftBorderWidth() const;
  // The frame edges under `pos` (form coordinates) that a press there would drag; none
  // while maximised or not resizable.
  Qt::Edges EdgesAt(QPoint pos) const;

  // The window's shape: the upper half rounded with `top` (corner diameter), the lower
  // half with `bottom`; a pixel belongs to it when its centre lies inside the rounding.
  static QRegion WindowRegion(QSize size, int top, int bottom);

 signals:
  void BtnClick(QObject *sender, int index);
  void HelpBtnClick(QObject *sender, int index);

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;

 private:
  Qt::Edges EdgesUnderBar(QPoint pos) const override;
  void load_style();
  QColor menu_bar_colour() const;
  void apply_menu_colours();
  void relayout();
  void update_mask();
  void follow_window_state();

  QWidget *form_;
  int style_ = DeepBlue;
  QPointer<TskFileTheme> file_theme_;
  QMetaObject::Connection theme_gone_;
  uint32_t border_color_ = 0;
  int border_width_ = 1;
  uint32_t panel_color_ = 0xFFFFFF;
  int round_corner_ = 0;
  int round_corner_bottom_ = 0;
  QImage background_tile_;  // the looks with a patterned form
  QImage left_border_, bottom_border_;
  bool title_bar_visible_ = true;
  bool auto_update_sub_ = false;
  bool resizable_ = true;
  bool maximized_ = false;
  bool changing_state_ = false;  // our own window state change, not one to follow
  QRect normal_geometry_;
  TskTitleBar *title_bar_;
  QPointer<QMenuBar> menu_;
  QWidget *client_;
  // A resize by the frame that the window system did not take over.
  Qt::Edges resizing_;
  QPoint resize_origin_;
  QRect resize_start_;
};
