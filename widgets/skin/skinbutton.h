// The skinned push button: one of three state frames of its style's button strip laid over
// the button by nine-slice, an optional glyph, the caption and the focus mark.
#pragma once

#include "widgets/skin/skinstyle.h"

#include <QImage>
#include <QPointer>
#include <QPushButton>

#include <memory>

class QShortcut;
class QTimer;

class TskCustomButton : public QPushButton {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  // Starts 80 x 27 in the style its owner's form gives (GetSkinFormStyle).
  explicit TskCustomButton(QWidget *parent = nullptr);
  ~TskCustomButton() override;

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);
  // Paint the parent's background behind the frame and let the frame's key colour show it.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent);
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool auto_size);
  // Written into the dialog's result on every click; a non-zero result also closes it.
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  int FocusedRectMargin() const { return focus_margin_; }
  void SetFocusedRectMargin(int margin);
  // Period (ms) of MouseContinuouslyDown while the left button is held.
  int MouseContinuouslyDownInterval() const { return repeat_interval_; }
  void SetMouseContinuouslyDownInterval(int ms) { repeat_interval_ = ms; }
  // Escape clicks the button.
  bool Cancel() const { return cancel_ != nullptr; }
  void SetCancel(bool cancel);
  // Enter clicks the button unless the focus is on another button, which takes it itself.
  bool Default() const { return default_ != nullptr; }
  void SetDefault(bool is_default);

  bool hot() const { return hot_; }
  bool held() const { return down_; }

 signals:
  void MouseContinuouslyDown(QObject *sender);
  void MouseEnter(QObject *sender);
  void MouseExit(QObject *sender);

 protected:
  virtual void AutoSizeChanged();
  virtual void UIStyleChanged() {}
  virtual void PaintPic(QPainter &painter, const QImage &frame);
  virtual void PaintText(QPainter &painter, const QString &text);
  virtual void PaintFocus(QPainter &painter);
  // Frame `spit_index` of `spit_count` of element `image_index` in the resolved style.
  bool PaintButton(int image_index, int spit_count, int spit_index, QImage &frame) const;
  virtual bool PaintButtonNormal(QImage &frame) const {
    return PaintButton(skin_element::ButtonImage, 3, 1, frame);
  }
  virtual bool PaintButtonMouseOn(QImage &frame) const {
    return PaintButton(skin_element::ButtonImage, 3, 2, frame);
  }
  virtual bool PaintButtonMouseDown(QImage &frame) const {
    return PaintButton(skin_element::ButtonImage, 3, 3, frame);
  }
  virtual bool PaintButtonDisabled(QImage &frame) const {
    return PaintButton(skin_element::ButtonImage, 3, 1, frame);
  }

  bool event(QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;
  void enterEvent(QEnterEvent *event) override;
  void leaveEvent(QEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void keyReleaseEvent(QKeyEvent *event) override;
  void focusInEvent(QFocusEvent *event) override;
  void focusOutEvent(QFocusEvent *event) override;

  // Set by PaintFocus in the styles that show focus as a bold caption, for one paint.
  bool bold_caption_ = false;
  bool pic_transparent_ = false;

 private:
  void do_click();
  void stop_repeat();

  int style_ = DeepBlue;
  QPointer<TskFileTheme> file_theme_;
  QMetaObject::Connection theme_gone_;
  bool transparent_ = false;
  bool auto_size_ = false;
  int modal_result_ = 0;
  int focus_margin_ = 2;
  int repeat_interval_ = 100;
  bool hot_ = false;
  bool down_ = false;
  bool pressed_here_ = false;
  std::unique_ptr<QTimer> repeat_;
  QShortcut *cancel_ = nullptr;
  QShortcut *default_ = nullptr;
};

enum TskButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

class TskButton : public TskCustomButton {
  Q_OBJECT

 public:
  explicit TskButton(QWidget *parent = nullptr);

  // An optional picture beside the caption; twice as wide as high means two images side by
  // side, the second for the disabled button. Its top-left pixel is its see-through colour.
  const QImage &Glyph() const { return glyph_; }
  void SetGlyph(const QImage &glyph);
  TskButtonLayout Layout() const { return layout_; }
  void SetLayout(TskButtonLayout layout);
  int Spacing() const { return spacing_; }
  void SetSpacing(int spacing);

 protected:
  void UIStyleChanged() override;
  void PaintPic(QPainter &painter, const QImage &frame) override;
  void PaintText(QPainter &painter, const QString &text) override;
  void PaintFocus(QPainter &painter) override;

 private:
  QImage glyph_;
  TskButtonLayout layout_ = blGlyphLeft;
  int spacing_ = 4;
  QPoint text_at_;
};
