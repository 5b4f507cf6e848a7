#include "comport/serportctl_buffer.h"

#include <algorithm>

void TComTermBuffer::Init() {
  columns_ = std::max(owner_.GetColumns(), 0);
  rows_ = std::max(owner_.GetRows(), 0);
  first_ = 0;
  cells_ = std::make_unique<TComTermChar[]>(static_cast<size_t>(columns_) * rows_);
  tabs_ = std::make_unique<bool[]>(columns_ + 1);
  for (int x = 1; x <= columns_; x += 8)
    tabs_[x] = true;
}

void TComTermBuffer::ClearCells(TComTermChar *From, size_t Count) {
  std::fill(From, From + Count, TComTermChar{});
}

void TComTermBuffer::ScrollDown() {
  if (rows_ < 1)
    return;
  // The old first row becomes the new last one, emptied; the window system moves the
  // pixels, so only that row has to be painted again.
  ClearCells(Row(1), columns_);
  first_ = first_ + 1 == rows_ ? 0 : first_ + 1;
  if (owner_.GetDoubleBuffered())
    owner_.InvalidateAll();
  else
    owner_.ScrollContents(-1);
}

void TComTermBuffer::ScrollUp() {
  if (rows_ < 1)
    return;
  first_ = first_ == 0 ? rows_ - 1 : first_ - 1;
  ClearCells(Row(1), columns_);
  if (owner_.GetDoubleBuffered())
    owner_.InvalidateAll();
  else
    owner_.ScrollContents(1);
}

void TComTermBuffer::EraseLine(int X, int Y) {
  if (!Inside(X, Y))
    return;
  ClearCells(Row(Y) + (X - 1), columns_ - X + 1);
  if (owner_.GetDoubleBuffered())
    owner_.InvalidateAll();
  else
    owner_.InvalidatePortion({X, Y, columns_, Y});
}

void TComTermBuffer::EraseScreen(int X, int Y) {
  if (!Inside(X, Y))
    return;
  ClearCells(Row(Y) + (X - 1), columns_ - X + 1);
  for (int y = Y + 1; y <= rows_; ++y)
    ClearCells(Row(y), columns_);
  if (owner_.GetDoubleBuffered()) {
    owner_.InvalidateAll();
  } else {
    owner_.InvalidatePortion({X, Y, columns_, Y});
    if (Y < rows_)
      owner_.InvalidatePortion({1, Y + 1, columns_, rows_});
  }
}

bool TComTermBuffer::GetTab(int X) const { return X >= 1 && X <= columns_ && tabs_[X]; }

void TComTermBuffer::SetTab(int X, bool Value) {
  if (X >= 1 && X <= columns_)
    tabs_[X] = Value;
}

int TComTermBuffer::NextTab(int X) const {
  for (int x = std::max(X, 1); x <= columns_; ++x)
    if (tabs_[x])
      return x;
  return 0;
}

void TComTermBuffer::ClearAllTabs() {
  if (tabs_)
    std::fill(tabs_.get(), tabs_.get() + columns_ + 1, false);
}

int TComTermBuffer::GetLineLength(int Y) const {
  if (Y < 1 || Y > rows_)
    return 0;
  const TComTermChar *row = Row(Y);
  for (int x = columns_; x >= 1; --x)
    if (row[x - 1].Ch != 0)
      return x;
  return 0;
}

int TComTermBuffer::GetLastLine() const {
  for (int y = rows_; y >= 1; --y)
    if (GetLineLength(y) > 0)
      return y;
  return 0;
}
