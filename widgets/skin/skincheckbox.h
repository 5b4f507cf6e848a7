// The skinned check box and radio button: one of four frames of the style's mark strip
// (checked, unchecked, checked disabled, unchecked disabled) beside the caption. Checking,
// the click and toggle signals and the radio buttons' one-of-a-group rule are Qt's own.
#pragma once

#include "widgets/skin/skinstyle.h"

#include <QCheckBox>
#include <QPointer>
#include <QRadioButton>

// What the two controls share: their style, their file theme and the way they draw.
class SkinMark {
 public:
  SkinMark(QAbstractButton *button, int element);

  int style() const { return style_; }
  TskFileTheme *theme() const { return theme_; }
  void set_style(int style);
  void set_theme(TskFileTheme *theme);

  // The frame the button's state asks for, as found in the resolved style; null when the
  // style has no mark strip.
  QImage frame() const;
  QSize size_hint() const;
  void paint();

 private:
  QAbstractButton *button_;
  int element_;
  int style_ = DeepBlue;
  QPointer<TskFileTheme> theme_;
  QMetaObject::Connection theme_gone_;
};

class TskCheckBox : public QCheckBox {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  explicit TskCheckBox(const QString &caption = {}, QWidget *parent = nullptr);
  explicit TskCheckBox(QWidget *parent) : TskCheckBox(QString(), parent) {}

  int UIStyle() const { return mark_.style(); }
  void SetUIStyle(int style) { mark_.set_style(style); }
  TskFileTheme *FileTheme() const { return mark_.theme(); }
  void SetFileTheme(TskFileTheme *theme) { mark_.set_theme(theme); }

  QSize sizeHint() const override { return mark_.size_hint(); }
  QSize minimumSizeHint() const override { return mark_.size_hint(); }

 protected:
  void paintEvent(QPaintEvent *) override { mark_.paint(); }
  // The whole control answers the mouse, caption included.
  bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }

 private:
  SkinMark mark_;
};

class TskRadioButton : public QRadioButton {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  explicit TskRadioButton(const QString &caption = {}, QWidget *parent = nullptr);
  explicit TskRadioButton(QWidget *parent) : TskRadioButton(QString(), parent) {}

  int UIStyle() const { return mark_.style(); }
  void SetUIStyle(int style) { mark_.set_style(style); }
  TskFileTheme *FileTheme() const { return mark_.theme(); }
  void SetFileTheme(TskFileTheme *theme) { mark_.set_theme(theme); }

  QSize sizeHint() const override { return mark_.size_hint(); }
  QSize minimumSizeHint() const override { return mark_.size_hint(); }

 protected:
  void paintEvent(QPaintEvent *) override { mark_.paint(); }
  bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }

 private:
  SkinMark mark_;
};
