// An indeterminate busy indicator: an N x N grid of square blocks in which one active block,
// drawn in its own colours, walks clockwise around the border at every timer tick.
#pragma once

#include "widgets/lists/listcolor.h"

#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

enum TGradientDirection { gdHorizontal, gdVertical };

// The indicator's colours; clNone leaves a part unpainted. Every setter that changes a
// value calls OnChange, through which the owner repaints.
class TBlockAppearance {
 public:
  TColor BlockColor() const { return block_color_; }
  void SetBlockColor(TColor c) { Set(block_color_, c); }
  TColor BlockColorTo() const { return block_color_to_; }
  void SetBlockColorTo(TColor c) { Set(block_color_to_, c); }
  TColor BlockBorderColor() const { return block_border_color_; }
  void SetBlockBorderColor(TColor c) { Set(block_border_color_, c); }
  TColor BlockColorActive() const { return block_color_active_; }
  void SetBlockColorActive(TColor c) { Set(block_color_active_, c); }
  TColor BlockColorActiveTo() const { return block_color_active_to_; }
  void SetBlockColorActiveTo(TColor c) { Set(block_color_active_to_, c); }
  TColor BlockBorderColorActive() const { return block_border_color_active_; }
  void SetBlockBorderColorActive(TColor c) { Set(block_border_color_active_, c); }
  TColor BorderColor() const { return border_color_; }
  void SetBorderColor(TColor c) { Set(border_color_, c); }
  TColor BackGroundColor() const { return background_color_; }
  void SetBackGroundColor(TColor c) { Set(background_color_, c); }
  TGradientDirection Direction() const { return direction_; }
  void SetDirection(TGradientDirection d) { Set(direction_, d); }
  int Steps() const { return steps_; }
  void SetSteps(int steps) { Set(steps_, steps); }

  // Copies every colour, the direction and the steps (not the change handler).
  void Assign(const TBlockAppearance &source);

  std::function<void()> OnChange;

 private:
  template <class T>
  void Set(T &field, T value) {
    if (field == value)
      return;
    field = value;
    if (OnChange)
      OnChange();
  }

  TColor block_color_ = 0xEECF00;
  TColor block_color_to_ = clNone;
  TColor block_border_color_ = clNone;
  TColor block_color_active_ = clNone;
  TColor block_color_active_to_ = clNone;
  TColor block_border_color_active_ = clNone;
  TColor border_color_ = clNone;
  TColor background_color_ = clNone;
  TGradientDirection direction_ = gdHorizontal;
  int steps_ = 64;
};

class TKyBlockIndicator : public QWidget {
  Q_OBJECT

 public:
  explicit TKyBlockIndicator(QWidget *parent = nullptr);

  int BlockCount() const { return block_count_; }
  void SetBlockCount(int n);  // below 2: refused
  int Padding() const { return padding_; }
  void SetPadding(int padding);  // below 1: refused
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned ms);
  TBlockAppearance &Appearance() { return appearance_; }
  void SetAppearance(const TBlockAppearance &appearance) { appearance_.Assign(appearance); }
  static QString Version() { return QStringLiteral("1.0.0.0"); }

  // The walk runs exactly while the control is enabled. Called once the control is set up
  // (the form's values applied): puts the active block back at the top-left and starts.
  void Loaded();

  // Block size from the client area; (column, row) counts columns from the right and rows
  // from the bottom, so (0, 0) is the bottom-right block. Outside the grid: an empty QRect.
  int BlockWidth() const;
  int BlockHeight() const;
  QRect BlockArea() const;
  QRect BlockRect(int column, int row) const;
  int ActiveColumn() const { return active_column_; }
  int ActiveRow() const { return active_row_; }
  bool Running() const { return timer_.isActive(); }

  // One step of the walk (what a timer tick does).
  void Step();

 protected:
  void paintEvent(QPaintEvent *event) override;
  void changeEvent(QEvent *event) override;
  void enterEvent(QEnterEvent *event) override;
  void leaveEvent(QEvent *event) override;

 public:
  std::function<void(TKyBlockIndicator *sender)> OnMouseEnter;
  std::function<void(TKyBlockIndicator *sender)> OnMouseLeave;

 private:
  void DrawBlock(class QPainter &painter, int column, int row);

  int block_count_ = 3;
  int padding_ = 4;
  unsigned interval_ = 120;
  TBlockAppearance appearance_;
  int active_column_ = 2;
  int active_row_ = 2;
  bool loaded_ = false;
  QTimer timer_;
};

// Fills `rect` with `steps` bands from `from` to `to`, along x (gdHorizontal) or y.
void draw_block_gradient(QPainter &painter, const QRect &rect, QColor from, QColor to, int steps,
                         TGradientDirection direction);
