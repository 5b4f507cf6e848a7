// The screen buffer: cells, scrolling, erasing, tab stops, and what it asks its owner to
// repaint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comport/serportctl_buffer.h"

namespace {

// Records every repaint request, as text, so tests can compare them as a list.
class RecordingOwner : public TComTermBufferOwner {
 public:
  int columns = 80, rows = 17;
  bool doubleBuffered = false;
  std::vector<std::string> calls;

  int GetColumns() const override { return columns; }
  int GetRows() const override { return rows; }
  bool GetDoubleBuffered() const override { return doubleBuffered; }
  void InvalidateAll() override { calls.push_back("all"); }
  void InvalidatePortion(const TCellRect &r) override {
    calls.push_back("cells " + std::to_string(r.Left) + "," + std::to_string(r.Top) + "-" +
                    std::to_string(r.Right) + "," + std::to_string(r.Bottom));
  }
  void ScrollContents(int n) override { calls.push_back("scroll " + std::to_string(n)); }
};

TComTermChar Cell(char ch) {
  TComTermChar c;
  c.Ch = ch;
  c.TextColor = 0xFFFFFF;
  return c;
}

// Row y as text, '.' for an empty cell.
std::string RowText(const TComTermBuffer &b, int y) {
  std::string s;
  for (int x = 1; x <= b.Columns(); ++x) {
    char c = b.GetChar(x, y).Ch;
    s += c ? c : '.';
  }
  return s;
}

void PutText(TComTermBuffer &b, int x, int y, const std::string &text) {
  for (char c : text)
    b.SetChar(x++, y, Cell(c));
}

TEST(TermBuffer, TabStopsAfterInit) {
  RecordingOwner owner;
  TComTermBuffer b(owner);
  b.Init();
  std::vector<int> stops;
  for (int x = 1; x <= 80; ++x)
    if (b.GetTab(x))
      stops.push_back(x);
  EXPECT_EQ(stops, (std::vector<int>{1, 9, 17, 25, 33, 41, 49, 57, 65, 73}));
  EXPECT_EQ(b.NextTab(74), 0);
  EXPECT_EQ(b.NextTab(9), 9);
  EXPECT_EQ(b.NextTab(10), 17);
  b.SetTab(75, true);
  EXPECT_EQ(b.NextTab(74), 75);
  b.ClearAllTabs();
  EXPECT_EQ(b.NextTab(1), 0);
  b.Init();
  EXPECT_EQ(b.NextTab(2), 9);  // Init restores the default stops
}

TEST(TermBuffer, CellsKeepEveryField) {
  RecordingOwner owner;
  TComTermBuffer b(owner);
  b.Init();
  TComTermChar c{'Q', 0x123456, 0xABCDEF, true};
  b.SetChar(80, 17, c);
  TComTermChar got = b.GetChar(80, 17);
  EXPECT_EQ(got.Ch, 'Q');
  EXPECT_EQ(got.TextColor, 0x123456u);
  EXPECT_EQ(got.FillColor, 0xABCDEFu);
  EXPECT_TRUE(got.Underscore);
  EXPECT_EQ(b.GetChar(79, 17).Ch, 0);
  EXPECT_EQ(b.GetChar(1, 1).Ch, 0);
}

TEST(TermBuffer, OutsideTheGridIsIgnored) {
  RecordingOwner owner;
  owner.columns = 132;
  TComTermBuffer b(owner);
  b.Init();
  owner.columns = 80;
  b.Init();
  // A caret still at column 100 after the screen shrank must not write past the cells.
  b.SetChar(100, 1, Cell('x'));
  b.SetChar(81, 17, Cell('x'));
  b.SetChar(1, 18, Cell('x'));
  b.SetChar(0, 1, Cell('x'));
  EXPECT_EQ(b.GetLastLine(), 0);
  EXPECT_EQ(b.GetChar(100, 1).Ch, 0);
}

TEST(TermBuffer, ScrollDownMovesTextUp) {
  RecordingOwner owner;
  TComTermBuffer b(owner);
  b.Init();
  for (int y = 1; y <= 17; ++y)
    PutText(b, 1, y, std::string(1, static_cast<char>('a' + y - 1)) + "x");
  b.ScrollDown();
  EXPECT_EQ(RowText(b, 1).substr(0, 2), "bx");   // old row 1 is gone
  EXPECT_EQ(RowText(b, 16).substr(0, 2), "qx");  // row 17 moved to 16
  EXPECT_EQ(b.GetLineLength(17), 0);
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"scroll -1"}));
}

TEST(TermBuffer, ScrollUpMovesTextDown) {
  RecordingOwner owner;
  TComTermBuffer b(owner);
  b.Init();
  for (int y = 1; y <= 17; ++y)
    PutText(b, 80, y, std::string(1, static_cast<char>('a' + y - 1)));
  b.ScrollUp();
  EXPECT_EQ(b.GetLineLength(1), 0);
  EXPECT_EQ(b.GetChar(80, 2).Ch, 'a');
  EXPECT_EQ(b.GetChar(80, 17).Ch, 'p');  // old row 17 is gone
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"scroll 1"}));
}

TEST(TermBuffer, DoubleBufferedRepaintsWhole) {
  RecordingOwner owner;
  owner.doubleBuffered = true;
  TComTermBuffer b(owner);
  b.Init();
  b.ScrollDown();
  b.ScrollUp();
  b.EraseLine(3, 3);
  b.EraseScreen(3, 3);
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"all", "all", "all", "all"}));
}

TEST(TermBuffer, EraseLineFromColumn) {
  RecordingOwner owner;
  owner.columns = 10;
  owner.rows = 3;
  TComTermBuffer b(owner);
  b.Init();
  for (int y = 1; y <= 3; ++y)
    PutText(b, 1, y, "0123456789");
  b.EraseLine(4, 2);
  EXPECT_EQ(RowText(b, 1), "0123456789");
  EXPECT_EQ(RowText(b, 2), "012.......");
  EXPECT_EQ(RowText(b, 3), "0123456789");
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"cells 4,2-10,2"}));
}

TEST(TermBuffer, EraseScreenFromCell) {
  RecordingOwner owner;
  TComTermBuffer b(owner);
  b.Init();
  for (int y = 1; y <= 17; ++y)
    PutText(b, 1, y, std::string(80, '#'));
  b.EraseScreen(40, 5);
  EXPECT_EQ(RowText(b, 4), std::string(80, '#'));
  EXPECT_EQ(RowText(b, 5), std::string(39, '#') + std::string(41, '.'));
  for (int y = 6; y <= 17; ++y)
    EXPECT_EQ(b.GetLineLength(y), 0) << y;
  EXPECT_EQ(b.GetLastLine(), 5);
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"cells 40,5-80,5", "cells 1,6-80,17"}));
  owner.calls.clear();
  b.EraseScreen(1, 17);  // last row: nothing below to repaint
  EXPECT_EQ(owner.calls, (std::vector<std::string>{"cells 1,17-80,17"}));
}

TEST(TermBuffer, LineLengthCountsBlanks) {
  RecordingOwner owner;
  TComTermBuffer b(owner);
  b.Init();
  EXPECT_EQ(b.GetLastLine(), 0);
  PutText(b, 1, 3, "AB");
  b.SetChar(5, 3, Cell(' '));
  EXPECT_EQ(b.GetLineLength(3), 5);
  EXPECT_EQ(b.GetLineLength(2), 0);
  EXPECT_EQ(b.GetLastLine(), 3);
}

// Scrolling turns a ring of rows; whatever sequence of writes, scrolls and erases comes in,
// the screen must read as a plain grid that was moved row by row.
TEST(TermBuffer, MatchesAPlainGridUnderAnyOperations) {
  RecordingOwner owner;
  owner.columns = 7;
  owner.rows = 5;
  TComTermBuffer b(owner);
  b.Init();
  std::vector<std::string> model(5, std::string(7, '.'));
  unsigned seed = 12345;
  auto next = [&](int n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 16) % static_cast<unsigned>(n));
  };
  for (int step = 0; step < 4000; ++step) {
    const int op = next(10), x = next(7) + 1, y = next(5) + 1;
    switch (op) {
      case 0:
        b.ScrollDown();
        model.erase(model.begin());
        model.push_back(std::string(7, '.'));
        break;
      case 1:
        b.ScrollUp();
        model.pop_back();
        model.insert(model.begin(), std::string(7, '.'));
        break;
      case 2:
        b.EraseLine(x, y);
        for (int i = x; i <= 7; ++i)
          model[y - 1][i - 1] = '.';
        break;
      case 3:
        if (next(4) != 0)
          break;  // keep the screen mostly full
        b.EraseScreen(x, y);
        for (int i = x; i <= 7; ++i)
          model[y - 1][i - 1] = '.';
        for (int r = y + 1; r <= 5; ++r)
          model[r - 1] = std::string(7, '.');
        break;
      default: {
        const char c = static_cast<char>('a' + next(26));
        b.SetChar(x, y, Cell(c));
        model[y - 1][x - 1] = c;
      }
    }
    for (int r = 1; r <= 5; ++r)
      ASSERT_EQ(RowText(b, r), model[r - 1]) << "step " << step << " row " << r;
    int last = 0;
    for (int r = 1; r <= 5; ++r)
      if (model[r - 1] != std::string(7, '.'))
        last = r;
    ASSERT_EQ(b.GetLastLine(), last) << "step " << step;
  }
}

}  // namespace
