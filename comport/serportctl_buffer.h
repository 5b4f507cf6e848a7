// The screen buffer of the console terminal: a fixed grid of character cells and the tab
// stops. There is no scroll-back; a line scrolled off the top is gone.
//
// The buffer asks its owner (the terminal control) to repaint what it changed; it knows
// nothing of pixels or windows. Not thread-safe: used on the terminal's thread only.
#pragma once

#include <cstdint>
#include <memory>

// 0x00BBGGRR (red in the low byte), as the colours of the whole program.
using TColor = std::uint32_t;

struct TComTermChar {
  char Ch = 0;  // #0: an empty cell, never drawn
  TColor TextColor = 0;
  TColor FillColor = 0;
  bool Underscore = false;
};

// A rectangle of cells, 1-based and inclusive on all sides.
struct TCellRect {
  int Left = 1, Top = 1, Right = 1, Bottom = 1;
};

// What the buffer needs from the control that shows it.
class TComTermBufferOwner {
 public:
  virtual ~TComTermBufferOwner() = default;
  virtual int GetColumns() const = 0;
  virtual int GetRows() const = 0;
  // When true the whole control is repainted after every change instead of moving pixels.
  virtual bool GetDoubleBuffered() const = 0;
  virtual void InvalidateAll() = 0;
  // Cells that must be drawn again from the buffer.
  virtual void InvalidatePortion(const TCellRect &Cells) = 0;
  // The shown text moved by Rows text rows (negative: up); the control moves its pixels
  // and repaints the uncovered strip.
  virtual void ScrollContents(int Rows) = 0;
};

class TComTermBuffer {
 public:
  explicit TComTermBuffer(TComTermBufferOwner &Owner) : owner_(Owner) {}

  // Takes Columns and Rows from the owner, empties every cell, and sets the tab stops at
  // columns 1, 9, 17, ...
  void Init();

  // Coordinates are 1-based. The terminal keeps its caret inside the grid; a cell outside
  // the grid the buffer was last initialised with is ignored (SetChar) or reads as empty
  // (GetChar), so a caret left behind by a size change cannot write past the cells.
  void SetChar(int X, int Y, const TComTermChar &Cell) {
    SetChar(X, Y, Cell.Ch, Cell.TextColor, Cell.FillColor, Cell.Underscore);
  }
  // The same from the fields. Inline, once per received character: each field goes to the
  // cell with a store of its own. A cell built on the stack and copied in whole has its copy
  // read the bytes the building stores just wrote, in pieces that do not line up with them,
  // and the read waits for those stores to retire every time.
  void SetChar(int X, int Y, char Ch, TColor TextColor, TColor FillColor, bool Underscore) {
    if (!Inside(X, Y))
      return;
    TComTermChar &cell = Row(Y)[X - 1];
    cell.Ch = Ch;
    cell.TextColor = TextColor;
    cell.FillColor = FillColor;
    cell.Underscore = Underscore;
  }
  TComTermChar GetChar(int X, int Y) const { return Inside(X, Y) ? Row(Y)[X - 1] : TComTermChar{}; }

  // Line feed on the last row: rows 2.. move up, the last row becomes empty.
  void ScrollDown();
  // Reverse line feed on the first row: rows ..Rows-1 move down, row 1 becomes empty.
  void ScrollUp();
  // Empties (X, Y) to the end of row Y.
  void EraseLine(int X, int Y);
  // Empties (X, Y) to the end of the screen.
  void EraseScreen(int X, int Y);

  bool GetTab(int X) const;
  void SetTab(int X, bool Value);
  // The first column >= X with a tab stop, 0 when there is none.
  int NextTab(int X) const;
  void ClearAllTabs();

  // The highest column of row Y that is not empty; 0 for an empty row.
  int GetLineLength(int Y) const;
  // The highest row with a non-empty cell; 0 for an empty screen.
  int GetLastLine() const;

  int Columns() const { return columns_; }
  int Rows() const { return rows_; }

 private:
  bool Inside(int X, int Y) const { return X >= 1 && X <= columns_ && Y >= 1 && Y <= rows_; }
  // Screen row Y lives at storage row (first_ + Y - 1) mod Rows: a scroll turns the ring by
  // one row instead of moving every cell, so a line feed at the bottom costs one row.
  TComTermChar *Row(int Y) const {
    int r = first_ + Y - 1;
    if (r >= rows_)
      r -= rows_;
    return cells_.get() + static_cast<size_t>(r) * columns_;
  }
  void ClearCells(TComTermChar *From, size_t Count);

  TComTermBufferOwner &owner_;
  int columns_ = 0;
  int rows_ = 0;
  int first_ = 0;  // storage row of screen row 1
  std::unique_ptr<TComTermChar[]> cells_;
  std::unique_ptr<bool[]> tabs_;
};
