// The skinned edit and combo box: the system's own editing and list behaviour with a
// two-line border in the style's colours, and for the combo box a drawn drop-down button.
#pragma once

#include "widgets/skin/skinstyle.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

#include <memory>

class QProxyStyle;

class TskEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  explicit TskEdit(QWidget *parent = nullptr);

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);
  // The outer ring; the inner ring is the edit's own colour.
  uint32_t BorderColor() const { return border_color_; }
  void SetBorderColor(uint32_t color);
  uint32_t Color() const;
  void SetColor(uint32_t color);

 protected:
  virtual void UIStyleChanged() {}
  void paintEvent(QPaintEvent *event) override;

 private:
  int style_ = DeepBlue;
  QPointer<TskFileTheme> file_theme_;
  QMetaObject::Connection theme_gone_;
  uint32_t border_color_ = 0;
};

class TskCustomComboBox : public QComboBox {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  explicit TskCustomComboBox(QWidget *parent = nullptr);
  ~TskCustomComboBox() override;

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);
  uint32_t BorderColor() const { return border_color_; }
  void SetBorderColor(uint32_t color);
  // The drawn arrow and button face; the MacOS and WinXP looks use their button bitmaps.
  uint32_t ArrowColor() const { return arrow_color_; }
  void SetArrowColor(uint32_t color);
  uint32_t ButtonColor() const { return button_color_; }
  void SetButtonColor(uint32_t color);
  uint32_t Color() const;
  void SetColor(uint32_t color);

  // The drop-down button's rectangle inside a combo box of `size`.
  static QRect button_rect(QSize size);

  void showPopup() override;
  void hidePopup() override;

 protected:
  void paintEvent(QPaintEvent *event) override;
  void changeEvent(QEvent *event) override;

 private:
  int style_ = DeepBlue;
  QPointer<TskFileTheme> file_theme_;
  QMetaObject::Connection theme_gone_;
  uint32_t border_color_ = 0, arrow_color_ = 0, button_color_ = 0;
  std::unique_ptr<QProxyStyle> layout_;
};

class TskComboBox : public TskCustomComboBox {
  Q_OBJECT

 public:
  using TskCustomComboBox::TskCustomComboBox;
};
