// The terminal's display: font metrics and fallback, scroll-bar ranges and paging, the
// caret, and the pixels painted (through QWidget::grab and the window's backing store).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QFontInfo>
#include <QImage>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>
#include <string>
#include <utility>
#include <vector>

#include "comport/serportctl.h"

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i)
    QApplication::processEvents();
}

void Rx(TComTerminal &t, const std::string &s) { t.RxBuf(nullptr, s.data(), static_cast<int>(s.size())); }

// Resizes so that the client area without bars is exactly cols x rows cells plus `extra` pixels.
void SizeInCells(TComTerminal &t, int cols, int rows, int extra = 0) {
  const int frame = 2 * t.frameWidth();
  t.show();  // a hidden widget gets its resize event only when shown
  t.resize(cols * t.CellWidth() + frame + extra, rows * t.CellHeight() + frame + extra);
  Settle();
}

TEST(TermDisplay, ProportionalFontFallsBackToFixedKeepingSizeAndColour) {
  TComTerminal t;
  EXPECT_TRUE(t.CalculateMetrics()) << "the default font must be fixed-pitch";
  QFont proportional(QStringLiteral("DejaVu Sans"));
  proportional.setPixelSize(12);
  proportional.setUnderline(true);
  t.SetTermFont(proportional, 0x00FFFF);
  EXPECT_TRUE(t.CalculateMetrics());
  EXPECT_NE(QFontInfo(t.TermFont()).family(), QFontInfo(proportional).family());
  EXPECT_EQ(t.TermFont().pixelSize(), 12);
  EXPECT_FALSE(t.TermFont().underline());
  EXPECT_EQ(t.FontColor(), 0x00FFFFu);
  EXPECT_EQ(t.Attributes().TextColor, 0x00FFFFu);
  // Cells are as wide as the glyphs the terminal draws: a whole pixel at least as wide as the
  // (fractional) advance, so no glyph runs into the next cell.
  const QFontMetrics fm(t.TermFont());
  const qreal advance = QFontMetricsF(t.TermFont()).horizontalAdvance(QLatin1Char('W'));
  EXPECT_GE(t.CellWidth() + 0.01, advance);
  EXPECT_LT(t.CellWidth(), advance + 1);
  EXPECT_EQ(t.CellHeight(), fm.height());
}

TEST(TermDisplay, FixedFontIsKept) {
  TComTerminal t;
  QFont mono(QStringLiteral("DejaVu Sans Mono"));
  mono.setPixelSize(20);
  if (!QFontInfo(mono).fixedPitch())
    GTEST_SKIP() << "DejaVu Sans Mono is not installed";
  t.SetTermFont(mono, 0xFFFFFF);
  EXPECT_EQ(QFontInfo(t.TermFont()).family(), QFontInfo(mono).family());
  EXPECT_EQ(t.TermFont().pixelSize(), 20);
}

struct RangeCase {
  const char *name;
  TScrollStyle bars;
  int cols, rows;  // client area without bars, in cells
  int hMax, vMax;  // expected ranges (0 = no range)
};

TEST(TermDisplay, ScrollRanges) {
  const RangeCase cases[] = {
      {"wide_and_tall", ssBoth, 90, 20, 0, 0},
      {"43_columns", ssBoth, 43, 30, 37, 0},
      {"short", ssBoth, 90, 10, 0, 7},
      {"horizontal_only", ssHorizontal, 43, 5, 37, 0},
      {"vertical_only", ssVertical, 43, 5, 0, 12},
      {"none", ssNone, 43, 5, 0, 0},
  };
  for (const RangeCase &c : cases) {
    SCOPED_TRACE(c.name);
    TComTerminal t;
    t.SetRows(17);
    t.SetScrollBars(c.bars);
    SizeInCells(t, c.cols, c.rows);
    EXPECT_EQ(t.horizontalScrollBar()->maximum(), c.hMax);
    EXPECT_EQ(t.verticalScrollBar()->maximum(), c.vMax);
    EXPECT_EQ(t.horizontalScrollBar()->minimum(), 0);
  }
}

TEST(TermDisplay, BothBarsTakeTheirRoomFromEachOther) {
  // 43 x 30 cells without bars: the horizontal bar appears; the height left for rows is one
  // bar less. The vertical range follows that height, and the horizontal range the width
  // left beside a vertical bar.
  TComTerminal t;
  t.SetRows(17);
  const int extent = t.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &t);
  const int barRows = (extent + t.CellHeight() - 1) / t.CellHeight();
  SizeInCells(t, 43, 17);  // exactly 17 rows: the horizontal bar hides some
  EXPECT_EQ(t.horizontalScrollBar()->maximum() > 0, true);
  EXPECT_EQ(t.verticalScrollBar()->maximum(), barRows);
  const int widthBeside = 43 * t.CellWidth() - extent;
  EXPECT_EQ(t.horizontalScrollBar()->maximum(), 80 - widthBeside / t.CellWidth());
}

TEST(TermDisplay, HorizontalLineAndPage) {
  TComTerminal t;
  t.SetRows(17);
  SizeInCells(t, 43, 30);
  t.show();
  Settle();
  ASSERT_EQ(t.horizontalScrollBar()->maximum(), 37);
  EXPECT_EQ(t.TopLeftColumn(), 1);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::LineDown, 0);
  EXPECT_EQ(t.TopLeftColumn(), 2);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::PageDown, 0);
  EXPECT_EQ(t.TopLeftColumn(), 38);  // 1 + 43, clamped to the range end 37
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::PageUp, 0);
  EXPECT_EQ(t.TopLeftColumn(), 1);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::LineUp, 0);
  EXPECT_EQ(t.TopLeftColumn(), 1);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::ThumbPosition, 20);
  EXPECT_EQ(t.TopLeftColumn(), 21);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::ThumbTrack, 5);  // not smooth: ignored
  EXPECT_EQ(t.TopLeftColumn(), 21);
  t.SetSmoothScroll(true);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::ThumbTrack, 5);
  EXPECT_EQ(t.TopLeftColumn(), 6);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::Bottom, 0);
  t.ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::EndScroll, 0);
  EXPECT_EQ(t.TopLeftColumn(), 6);
  // Growing the window shrinks the range; the view follows the clamped position.
  SizeInCells(t, 80, 30);
  EXPECT_EQ(t.horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(t.TopLeftColumn(), 1);
}

TEST(TermDisplay, CaretShapes) {
  struct Case {
    TTermCaret caret;
    bool created;
    int height;  // in eighths of the cell height
  };
  const Case cases[] = {{tcBlock, true, 8}, {tcUnderline, true, 1}, {tcNone, false, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.caret));
    TComTerminal t;
    t.SetCaret(c.caret);
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(&t, &in);
    EXPECT_EQ(t.CaretCreated(), c.created);
    EXPECT_EQ(t.CaretHeight(), t.CellHeight() * c.height / 8);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&t, &out);
    EXPECT_FALSE(t.CaretCreated());
  }
}

TEST(TermDisplay, AutoSizeFitsTheScreen) {
  TComTerminal t;
  t.SetRows(17);
  t.SetAutoSize(true);
  const int frame = 2 * t.frameWidth();
  EXPECT_EQ(t.width(), 80 * t.CellWidth() + frame);
  EXPECT_EQ(t.height(), 17 * t.CellHeight() + frame);
  t.SetBorderStyle(bsNone);
  EXPECT_EQ(t.width(), 80 * t.CellWidth());
  Settle();
  EXPECT_EQ(t.horizontalScrollBar()->maximum(), 0);
}

QColor Pixel(const QImage &img, int x, int y) { return img.pixelColor(x, y); }

TEST(TermDisplay, PaintsCellsAndLeavesTheRestErased) {
  TComTerminal t;
  t.SetBorderStyle(bsNone);
  t.SetColumns(10);
  t.SetRows(2);
  t.SetColor(0x000080);  // dark red background
  t.SetCaret(tcNone);    // a shown window takes the focus; its caret would invert a cell
  t.resize(20 * t.CellWidth(), 6 * t.CellHeight());
  t.show();
  Settle();
  Rx(t, "\x1b[7m" + std::string(10, ' ') + "\r\n" + std::string(10, ' '));  // reverse blanks: white cells
  const QImage img = t.viewport()->grab().toImage();
  const int cw = t.CellWidth(), ch = t.CellHeight();
  EXPECT_EQ(Pixel(img, cw / 2, ch / 2), QColor(255, 255, 255));
  EXPECT_EQ(Pixel(img, 10 * cw - 1, 2 * ch - 1), QColor(255, 255, 255));
  EXPECT_EQ(Pixel(img, 10 * cw + 1, ch / 2), QColor(128, 0, 0));  // right of the last column
  EXPECT_EQ(Pixel(img, cw / 2, 2 * ch + 1), QColor(128, 0, 0));   // below the last row
}

// What the window shows after text scrolled by moving pixels must equal a fresh paint of
// the same screen: no stale rows, no caret left behind, also while the view is panned.
struct PixelCase {
  const char *name;
  TScrollStyle bars;
  int visibleCols, visibleRows;                              // client area in cells
  std::vector<std::pair<TScrollBarKind, TScrollCode>> pans;  // between two bursts of text
};

class ScrolledPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(ScrolledPixels, MatchAFreshPaint) {
  const PixelCase &c = GetParam();
  TComTerminal t;
  t.SetRows(17);
  t.SetBorderStyle(bsNone);
  t.SetScrollBars(c.bars);
  const int extent = t.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &t);
  t.resize(c.visibleCols * t.CellWidth() + (c.bars == ssNone ? 0 : extent),
           c.visibleRows * t.CellHeight() + (c.bars == ssNone ? 0 : extent));
  t.show();
  t.activateWindow();
  t.setFocus();
  QFocusEvent in(QEvent::FocusIn);
  QApplication::sendEvent(&t, &in);
  Settle();
  auto burst = [&](int from) {
    for (int i = from; i < from + 30; ++i) {
      Rx(t, "line " + std::to_string(i) + std::string(i % 50, '-') + " \x1b[7m" + std::to_string(i * 7) +
                "\x1b[m\r\n");
      if (i % 3 == 0)
        Settle();
    }
  };
  // The pixels the window shows, against a fresh paint of the text area (the scroll bars
  // are drawn by the style, not by the terminal): the number of differing pixels.
  auto stale = [&]() -> int {
    QScreen *screen = t.windowHandle() ? t.windowHandle()->screen() : nullptr;
    if (screen == nullptr)
      return -1;
    const QImage shown = screen->grabWindow(t.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    if (shown.isNull() || shown.size() != t.size())
      return -1;
    const QImage fresh = t.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect text = t.viewport()->geometry();
    int differing = 0;
    for (int y = text.top(); y <= text.bottom(); ++y)
      for (int x = text.left(); x <= text.right(); ++x)
        if (shown.pixel(x, y) != fresh.pixel(x, y))
          ++differing;
    return differing;
  };
  burst(0);
  Settle();
  if (stale() < 0)
    GTEST_SKIP() << "this platform cannot read back the window";
  for (const auto &[bar, code] : c.pans) {
    t.ModifyScrollBar(bar, code, 0);
    Settle();
  }
  EXPECT_EQ(stale(), 0) << "after panning";
  burst(100);
  Rx(t, "CFE> ");
  Settle();
  EXPECT_EQ(stale(), 0) << "after more text";
}

using K = TScrollBarKind;
using S = TScrollCode;
const PixelCase kPixelCases[] = {
    {"line_feeds", ssNone, 80, 17, {}},
    {"panned_right",
     ssBoth,
     43,
     17,
     {{K::Horizontal, S::LineDown}, {K::Horizontal, S::LineDown}, {K::Horizontal, S::PageDown}}},
    {"panned_back", ssBoth, 43, 17, {{K::Horizontal, S::PageDown}, {K::Horizontal, S::LineUp}}},
    {"panned_down", ssBoth, 90, 10, {{K::Vertical, S::LineDown}, {K::Vertical, S::PageDown}}},
};

void PrintTo(const PixelCase &c, std::ostream *os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Views, ScrolledPixels, ::testing::ValuesIn(kPixelCases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(TermDisplay, VerticalLineAndPage) {
  TComTerminal t;
  t.SetRows(17);
  SizeInCells(t, 90, 10);
  ASSERT_EQ(t.verticalScrollBar()->maximum(), 7);
  t.ModifyScrollBar(TScrollBarKind::Vertical, TScrollCode::LineDown, 0);
  EXPECT_EQ(t.TopLeftRow(), 2);
  t.ModifyScrollBar(TScrollBarKind::Vertical, TScrollCode::PageDown, 0);
  EXPECT_EQ(t.TopLeftRow(), 8);  // 2 + 10, clamped to the range end 7
  t.ModifyScrollBar(TScrollBarKind::Vertical, TScrollCode::Top, 0);
  EXPECT_EQ(t.TopLeftRow(), 8);  // Top keeps the position
}

}  // namespace
