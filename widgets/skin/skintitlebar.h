// The skinned title bar: picture sections, the caption and the window buttons (control box,
// help, minimise, maximise/restore, close and custom ones) drawn from a style, and the mouse
// rules that move the window and click the buttons.
#pragma once

#include "widgets/skin/skinstyle.h"

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

class QMenu;

enum TskTitleBarAlign { skLeft, skRight, skClient };

struct TskTitleBarSection {
  QImage Picture;
  int Width = 0;
  bool AutoSize = true;  // as wide as the picture
  bool Stretch = false;  // stretched to the width, else repeated
  TskTitleBarAlign Align = skLeft;
};

enum TskTitleBarBtnType { skMax, skMin, skClose, skHelp, skControlBox, skCustom };

struct TskTitleBarButton {
  TskTitleBarBtnType ButtonType = skCustom;
  // Normal, mouse on, mouse down. The built-in types take theirs from the style; a custom
  // button keeps the ones it is given.
  QImage Pictures[3];
  bool Visible = true;
  bool Transparent = false;  // fuchsia shows the title behind
  int Top = 0;
  QPointer<QMenu> ControlBoxMenu;  // not owned
};

// What a title bar asks of the frame around it, which hands itself to the bar (SetFrame);
// the skinned form is one. A bar without a frame has no frame edges and maximises its
// window through the window system.
class TskTitleBarFrame {
 public:
  // The frame edges under `pos` (the bar's coordinates) that a press there would drag: the
  // frame's edges reach into the bar, and a press on them resizes, which the frame does.
  virtual Qt::Edges EdgesUnderBar(QPoint pos) const = 0;
  virtual bool Maximized() const = 0;
  virtual void SetMaximized(bool maximized) = 0;

 protected:
  ~TskTitleBarFrame() = default;
};

class TskTitleBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  // What lies under a point of the bar.
  struct Hit {
    enum Kind { Caption, Button } kind = Caption;
    int button = -1;  // index into Buttons() for a button
  };

  explicit TskTitleBar(QWidget *parent = nullptr);
  ~TskTitleBar() override;

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);

  const QString &Caption() const { return caption_; }
  void SetCaption(const QString &caption);
  const QFont &Font() const { return font_; }
  void SetFont(const QFont &font);
  const QColor &FontColor() const { return font_color_; }
  void SetFontColor(const QColor &color);

  const std::vector<TskTitleBarSection> &Sections() const { return sections_; }
  // Throws std::invalid_argument (and keeps the old sections) when more than one section is
  // aligned skClient.
  void SetSections(std::vector<TskTitleBarSection> sections);
  const std::vector<TskTitleBarButton> &Buttons() const { return buttons_; }
  // Throws std::invalid_argument (and keeps the old buttons) for a second skControlBox.
  void SetButtons(std::vector<TskTitleBarButton> buttons);
  void SetButtonVisible(int index, bool visible);

  int ButtonInterval() const { return interval_; }
  void SetButtonInterval(int interval);
  int LeftOffset() const { return left_offset_; }
  int RightOffset() const { return right_offset_; }
  void SetOffsets(int left, int right);
  // Pixels of window frame beside the bar at each end: the buttons keep clear of them.
  int FrameWidth() const { return frame_width_; }
  void SetFrameWidth(int width);
  bool DrawAppIcon() const { return draw_app_icon_; }
  void SetDrawAppIcon(bool draw);
  bool Active() const { return active_; }
  void SetActive(bool active);
  // The maximise button shows the restore pictures while this is set.
  bool Maximized() const { return maximized_; }
  void SetMaximized(bool maximized);

  // The bar's height: that of its tallest section picture.
  int BarHeight() const;

  // Layout, in the bar's coordinates.
  QRect ButtonRect(int index) const;  // empty for a hidden button
  QRect IconRect() const;             // the control box or application icon; empty if none
  QRect CaptionRoom() const;          // where the caption may go
  Hit HitTest(QPoint pos) const;
  // The caption as drawn: whole, or cut letter by letter with "..." until it fits `room`
  // pixels; empty when not even "..." fits.
  static QString ElideCaption(const QString &caption, const QFontMetrics &metrics, int room);
  QString ShownCaption() const;

  // The frame the bar sits in, or null; not owned: the frame takes itself back before it goes.
  void SetFrame(TskTitleBarFrame *frame) { frame_ = frame; }
  // The pointer over frame edges that a press would drag (an arrow over none).
  static Qt::CursorShape CursorFor(Qt::Edges edges);

  // Does what a click on button `index` does.
  void ClickButton(int index);
  // The menu the control box opens when its button has none of its own.
  QMenu *SystemMenu() const { return system_menu_.get(); }

 signals:
  void CustomBtnsClick(QObject *sender, int index);
  void HelpBtnClick(QObject *sender, int index);
  // A maximise or restore asked for by a button; a skinned form acts on it itself.
  void MaximizeRequested();

 protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  void leaveEvent(QEvent *event) override;

 private:
  void load_style();
  void load_button_pictures(TskTitleBarButton &button) const;
  int picture_index(int index) const;  // 0 normal, 1 mouse on, 2 mouse down
  void toggle_maximized();

  int style_ = DeepBlue;
  TskTitleBarFrame *frame_ = nullptr;
  QPointer<TskFileTheme> file_theme_;
  QMetaObject::Connection theme_gone_;
  QString caption_;
  QFont font_;
  QColor font_color_ = Qt::white;
  std::vector<TskTitleBarSection> sections_;
  std::vector<TskTitleBarButton> buttons_;
  int interval_ = 0;
  int left_offset_ = 0;
  int right_offset_ = 0;
  int frame_width_ = 0;
  bool draw_app_icon_ = false;
  bool active_ = true;
  bool maximized_ = false;
  int hot_ = -1;               // the button under the pointer
  int pressed_ = -1;           // the button the left press began on
  bool move_pending_ = false;  // pressed on the caption, not yet moved far enough
  bool dragging_ = false;      // moving the window without the system's help
  QPoint press_global_;
  QPoint drag_offset_;  // pointer less window position at the press
  std::unique_ptr<QMenu> system_menu_;
};
