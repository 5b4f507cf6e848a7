// The edit's relatives, framed as the edit is: a masked edit, a number edit, a spin edit
// with its spin buttons, and the combo box's drive and file-filter lists.
#pragma once

#include "widgets/skin/skinbuttonfamily.h"
#include "widgets/skin/skinedit.h"

#include <QStringList>

// An edit with an input mask in Qt's notation ("000.000.000.000;_", "HH:HH:HH;0"): the
// literals stand in place, each position takes only its kind of character.
class TskMaskEdit : public TskEdit {
  Q_OBJECT

 public:
  explicit TskMaskEdit(QWidget *parent = nullptr) : TskEdit(parent) {}

  QString EditMask() const { return inputMask(); }
  void SetEditMask(const QString &mask) { setInputMask(mask); }
  // Every position of the mask that must be filled is.
  bool IsComplete() const { return hasAcceptableInput(); }
};

// An edit that takes only a number: digits, a leading minus, and with Decimals above 0 a
// point followed by at most that many digits. Anything else typed or pasted is refused.
class TskNumberEdit : public TskEdit {
  Q_OBJECT

 public:
  explicit TskNumberEdit(QWidget *parent = nullptr);

  // The number shown; 0 while the text is empty or only a sign.
  double Value() const;
  void SetValue(double value);
  int Decimals() const { return decimals_; }
  void SetDecimals(int decimals);

 signals:
  void ValueChanged(double value);

 private:
  void set_validator();
  int decimals_ = 0;
};

// Two arrow buttons one above the other. A click steps once; held, a button repeats after
// a short wait.
class TskSpinButtons : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int UIStyle READ UIStyle WRITE SetUIStyle)
  Q_PROPERTY(TskFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)

 public:
  explicit TskSpinButtons(QWidget *parent = nullptr);

  int UIStyle() const { return up_->UIStyle(); }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return up_->FileTheme(); }
  void SetFileTheme(TskFileTheme *theme);
  TskArrowButton *UpButton() const { return up_; }
  TskArrowButton *DownButton() const { return down_; }

 signals:
  void UpClick(QObject *sender);
  void DownClick(QObject *sender);

 protected:
  void resizeEvent(QResizeEvent *event) override;
  void changeEvent(QEvent *event) override;

 private:
  TskArrowButton *up_;
  TskArrowButton *down_;
  int held_ticks_ = 0;
};

// A number edit of whole numbers kept within MinValue..MaxValue, with spin buttons at its
// right edge; Up and Down step by Increment as the buttons do. A typed value outside the
// bounds is pulled inside when editing ends; a text that is no number goes back to Value.
class TskSpinEdit : public TskEdit {
  Q_OBJECT

 public:
  explicit TskSpinEdit(QWidget *parent = nullptr);

  int Value() const { return value_; }
  void SetValue(int value);
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  // Both bounds at once; a pair given the wrong way round is refused (false).
  bool SetBounds(int min, int max);
  int Increment() const { return increment_; }
  void SetIncrement(int increment) { increment_ = increment; }
  TskSpinButtons *Button() const { return buttons_; }

  QSize sizeHint() const override;

 signals:
  void ValueChanged(int value);

 protected:
  void UIStyleChanged() override;
  void keyPressEvent(QKeyEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;

 private:
  void step(int delta);
  void commit_text();

  TskSpinButtons *buttons_;
  int value_ = 0, min_ = 0, max_ = 100, increment_ = 1;
};

// The volumes of this computer (Windows drives, or the mounted file systems elsewhere) by
// their root paths, the one holding the current folder chosen.
class TskDriveComboBox : public TskCustomComboBox {
  Q_OBJECT

 public:
  explicit TskDriveComboBox(QWidget *parent = nullptr);

  // Lists the volumes again, keeping the chosen one when it is still there.
  void Refresh();
  // The chosen volume's root path.
  QString Drive() const;
  // Chooses the volume that holds `path`; false (and nothing changes) when none does.
  bool SetDrive(const QString &path);

 signals:
  void DriveChanged(const QString &root);
};

// File filters in the form "Description|mask[;mask]|Description|mask...": the list shows the
// descriptions, Mask() is the chosen one's masks.
class TskFilterComboBox : public TskCustomComboBox {
  Q_OBJECT

 public:
  explicit TskFilterComboBox(QWidget *parent = nullptr);

  const QString &Filter() const { return filter_; }
  // false, with FilterError() saying what is wrong, for a filter without a description and
  // a mask in every pair; the old list stays.
  bool SetFilter(const QString &filter);
  const QString &FilterError() const { return error_; }
  // The chosen filter's masks, split at ';' ("*.txt;*.log" gives two).
  QStringList Mask() const;

 private:
  QString filter_;
  QString error_;
};
