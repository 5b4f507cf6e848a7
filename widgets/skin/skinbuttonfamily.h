// The push button's relatives: a button of user pictures, a button that shows one frame of
// any strip of the style (the title bar's buttons), an arrow button and the flat tool-bar
// button. All keep TskCustomButton's mouse, key, repeat and click rules.
#pragma once

#include "widgets/skin/skinbutton.h"

// Four pictures instead of the style's strip: normal, mouse over, mouse down, disabled. A
// state without a picture shows the normal one. Fuchsia in a picture shows the parent.
class TskImageButton : public TskCustomButton {
  Q_OBJECT

 public:
  enum PictureState { Normal, MouseOn, MouseDown, Disabled };

  explicit TskImageButton(QWidget *parent = nullptr);

  const QImage &Picture(PictureState state) const { return pictures_[state]; }
  void SetPicture(PictureState state, const QImage &picture);
  // Stretch the picture over the button, else centre it at its own size.
  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch);
  // Mark the focus with a dotted rectangle.
  bool DrawFocused() const { return draw_focused_; }
  void SetDrawFocused(bool draw);

 protected:
  void AutoSizeChanged() override;
  bool PaintButtonNormal(QImage &frame) const override { return picture(Normal, frame); }
  bool PaintButtonMouseOn(QImage &frame) const override { return picture(MouseOn, frame); }
  bool PaintButtonMouseDown(QImage &frame) const override { return picture(MouseDown, frame); }
  bool PaintButtonDisabled(QImage &frame) const override { return picture(Disabled, frame); }
  void PaintPic(QPainter &painter, const QImage &frame) override;
  void PaintFocus(QPainter &painter) override;

 private:
  bool picture(PictureState state, QImage &frame) const;

  QImage pictures_[4];
  bool stretch_ = false;
  bool draw_focused_ = false;
};

// Frame PicIndex of PicCount of the style element ThemeID, drawn over the whole button.
// PicIndex starts a triple when the strip has room for one: PicIndex itself normal (and
// disabled), the next frame under the pointer, the one after that held down; else every
// state shows PicIndex. The title bar's strip is six such triples.
class TskControlButton : public TskCustomButton {
  Q_OBJECT
  Q_PROPERTY(bool PicTransparent READ PicTransparent WRITE SetPicTransparent)

 public:
  explicit TskControlButton(QWidget *parent = nullptr);

  int ThemeID() const { return theme_id_; }
  void SetThemeID(int element);
  int PicCount() const { return pic_count_; }
  int PicIndex() const { return pic_index_; }
  // Both at once, so that no step in between names a frame the strip lacks.
  void SetPics(int count, int index);
  bool PicTransparent() const { return pic_transparent_; }
  void SetPicTransparent(bool transparent);

  // Frame `state` (0 normal, 1 mouse on, 2 mouse down) of the triple at `index`, as above.
  static bool StateFrame(const TskFileTheme *theme, int style, int element, int count, int index, int state,
                         QImage &frame);

 protected:
  void AutoSizeChanged() override;
  bool PaintButtonNormal(QImage &frame) const override { return state_frame(0, frame); }
  bool PaintButtonMouseOn(QImage &frame) const override { return state_frame(1, frame); }
  bool PaintButtonMouseDown(QImage &frame) const override { return state_frame(2, frame); }
  bool PaintButtonDisabled(QImage &frame) const override { return state_frame(0, frame); }
  void PaintPic(QPainter &painter, const QImage &frame) override;

 private:
  bool state_frame(int state, QImage &frame) const;

  int theme_id_ = skin_element::TitleBarButtonImage;
  int pic_count_ = 18;
  int pic_index_ = 1;
};

enum TskArrowButtonType { atUp, atDown, atLeft, atRight };

// The style's button frame with a filled arrow on it.
class TskArrowButton : public TskCustomButton {
  Q_OBJECT

 public:
  explicit TskArrowButton(QWidget *parent = nullptr);

  TskArrowButtonType ArrowType() const { return arrow_; }
  void SetArrowType(TskArrowButtonType type);
  // The arrow's three corners in a button of `size`; `held` moves it one pixel right and
  // down, as a held button's caption moves.
  static QPolygon ArrowShape(QSize size, TskArrowButtonType type, bool held);

 protected:
  void UIStyleChanged() override;
  void PaintPic(QPainter &painter, const QImage &frame) override;

 private:
  TskArrowButtonType arrow_ = atDown;
};

// A flat tool-bar button: only its caption on the bar until the pointer comes over it
// (a frame in ToolBarButtonBorderColor on ToolBarButtonBackgroundColor); held or checked
// it shows ToolBarButtonDownBackgroundColor. It does not take the focus.
class TskToolBarSpeedButton : public TskCustomButton {
  Q_OBJECT

 public:
  explicit TskToolBarSpeedButton(const QString &caption = {}, QWidget *parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void UIStyleChanged() override;
  void PaintPic(QPainter &painter, const QImage &frame) override;

 private:
  uint32_t border_ = 0, face_ = 0, down_face_ = 0;
};
