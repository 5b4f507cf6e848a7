// The terminal control's character handling: what received bytes do to the screen, the
// caret and the OnChar stream. Script style: blocks in, screen rows, caret and the
// characters OnChar saw out.
#include <gtest/gtest.h>

#include <QBuffer>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "comport/serportctl.h"

namespace {

// A terminal of the program's shape (80 x 17) that records what OnChar reports.
struct Term {
  TComTerminal t;
  std::string chars;  // every OnChar, in order
  std::vector<std::string> unhandled;

  explicit Term(int rows = 17) {
    t.SetRows(rows);
    t.OnChar = [this](TCustomComTerminal *, char ch) { chars += ch; };
    t.OnUnhandledCode = [this](TCustomComTerminal *, TEscapeCode code, const std::string &data) {
      unhandled.push_back(std::string(EscapeCodeName(code)) + ":" + data);
    };
  }
  void Rx(const std::string &block) { t.RxBuf(nullptr, block.data(), static_cast<int>(block.size())); }
  // Row y up to its last character, '.' for an empty cell inside it.
  std::string Row(int y) const {
    std::string s;
    for (int x = 1; x <= t.Buffer().GetLineLength(y); ++x) {
      const char c = t.Buffer().GetChar(x, y).Ch;
      s += c ? c : '.';
    }
    return s;
  }
};

struct ScreenCase {
  const char *name;
  std::vector<std::string> blocks;
  bool wrap;
  std::vector<std::string> rows;  // rows 1.. as Row() shows them; later rows must be empty
  int caretX, caretY;
  std::string onChar;
};

std::string Lines(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i)
    s += "line" + std::to_string(i) + "\r\n";
  return s;
}

const ScreenCase kScreens[] = {
    {"prompt", {"CFE>"}, false, {"CFE>"}, 5, 1, "CFE>"},
    {"prompt_split", {"CF", "E", "> "}, false, {"CFE> "}, 6, 1, "CFE> "},
    {"crlf", {"ab\r\ncd"}, false, {"ab", "cd"}, 3, 2, "ab\r\ncd"},
    {"erase_screen_no_onchar", {"xyz", "\x1b[2J"}, false, {}, 1, 1, "xyz"},
    {"erase_split_across_blocks", {"xyz\x1b", "[2", "J", "q"}, false, {"q"}, 2, 1, "xyzq"},
    {"home_split",
     {"\x1b[1", "0;2", "0H", "x"},
     false,
     {"", "", "", "", "", "", "", "", "", std::string(19, '.') + "x"},
     21,
     10,
     "x"},
    // The C ends the sequence as a cursor move whose parameter is no number (so 1).
    {"unterminated_swallows", {"ab\x1b[12", "\r\n34", ";", "CFE> "}, false, {"ab.FE> "}, 8, 1, "abFE> "},
    {"bel_changes_nothing",
     {"a\x07"
      "b"},
     false,
     {"ab"},
     3,
     1,
     "a\x07"
     "b"},
    {"nul_and_controls_invisible",
     {std::string("a\0\x01\x1f"
                  "b",
                  5)},
     false,
     {"ab"},
     3,
     1,
     std::string("a\0\x01\x1f"
                 "b",
                 5)},
    {"backspace_keeps_char", {"abc\b\b"}, false, {"abc"}, 2, 1, "abc\b\b"},
    {"backspace_stops_at_1", {"\b\bx"}, false, {"x"}, 2, 1, "\b\bx"},
    {"tab_stops", {"a\tb\tc"}, false, {"a.......b.......c"}, 18, 1, "a\tb\tc"},
    {"tab_at_last_stop_stays", {"\x1b[1;75H\tx"}, false, {std::string(74, '.') + "x"}, 76, 1, "\tx"},
    {"no_wrap_overwrites_col_80",
     {std::string(79, '-') + "ABCDEF"},
     false,
     {std::string(79, '-') + "F"},
     80,
     1,
     std::string(79, '-') + "ABCDEF"},
    {"wrap_at_80",
     {std::string(80, '-') + "AB"},
     true,
     {std::string(80, '-'), "AB"},
     3,
     2,
     std::string(80, '-') + "AB"},
    {"scroll_at_row_17",
     {Lines(17) + "last"},
     false,
     {"line2", "line3", "line4", "line5", "line6", "line7", "line8", "line9", "line10", "line11", "line12",
      "line13", "line14", "line15", "line16", "line17", "last"},
     5,
     17,
     Lines(17) + "last"},
    {"wrap_scrolls_on_last_row",
     {"\x1b[17;80H"
      "XY"},
     true,
     {"", "", "", "", "", "", "", "", "", "", "", "", "", "", "", std::string(79, '.') + "X", "Y"},
     2,
     17,
     "XY"},
    {"form_feed_is_line_feed", {"a\fb"}, false, {"a", ".b"}, 3, 2, "a\fb"},
    {"erase_line_from_caret", {"abcdef\x1b[1;3H\x1b[K"}, false, {"ab"}, 3, 1, "abcdef"},
    {"erase_whole_line",
     {"abcdef\x1b[2K"
      "x"},
     false,
     {"x"},
     2,
     1,
     "abcdefx"},
    {"erase_screen_from",
     {"aaa\r\nbbb\r\nccc\x1b[2;2H\x1b[J"},
     false,
     {"aaa", "b"},
     2,
     2,
     "aaa\r\nbbb\r\nccc"},
    {"cursor_moves_clamp",
     {"\x1b[5;5H\x1b[10A\x1b[99D"
      "a\x1b[200C"
      "b"},
     false,
     {"a" + std::string(78, '.') + "b"},
     80,
     1,
     "ab"},
    {"reverse_line_feed_vt52_only", {"\x1bIx"}, false, {"x"}, 2, 1, "x"},
    {"save_restore_caret",
     {"\x1b[3;4H\x1b[s\x1b[H\x1b[u"
      "z"},
     false,
     {"", "", "...z"},
     5,
     3,
     "z"},
    {"test_pattern",
     {"\x1b#8"},
     false,
     {std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'),
      std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'),
      std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'),
      std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'), std::string(80, 'E'),
      std::string(80, 'E')},
     1,
     1,
     ""},
    {"wrap_mode_by_sequence",
     {"\x1b[7h" + std::string(81, '-')},
     false,
     {std::string(80, '-'), "-"},
     2,
     2,
     std::string(81, '-')},
};

void PrintTo(const ScreenCase &c, std::ostream *os) { *os << c.name; }

class TerminalScreen : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(TerminalScreen, BlocksInScreenOut) {
  const ScreenCase &c = GetParam();
  Term term;
  term.t.SetWrapLines(c.wrap);
  for (const std::string &b : c.blocks)
    term.Rx(b);
  for (int y = 1; y <= 17; ++y) {
    const std::string want = y <= static_cast<int>(c.rows.size()) ? c.rows[y - 1] : "";
    EXPECT_EQ(term.Row(y), want) << "row " << y;
  }
  EXPECT_EQ(term.t.CaretX(), c.caretX);
  EXPECT_EQ(term.t.CaretY(), c.caretY);
  EXPECT_EQ(term.chars, c.onChar);
}

INSTANTIATE_TEST_SUITE_P(Scripts, TerminalScreen, ::testing::ValuesIn(kScreens),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(Terminal, OnCharSeesEachCharacterAfterItIsShown) {
  // The console watcher reads the screen position of what it is told about.
  Term term;
  std::vector<std::string> seen;
  term.t.OnChar = [&](TCustomComTerminal *sender, char ch) {
    auto *t = static_cast<TComTerminal *>(sender);
    seen.push_back(std::string(1, ch) + "@" + std::to_string(t->CaretX()) + "," +
                   std::to_string(t->CaretY()) +
                   (ch >= 32 ? std::string("=") + t->Buffer().GetChar(t->CaretX() - 1, t->CaretY()).Ch : ""));
  };
  term.Rx("CFE>\r\n");
  EXPECT_EQ(seen, (std::vector<std::string>{"C@2,1=C", "F@3,1=F", "E@4,1=E", ">@5,1=>", "\r@1,1", "\n@1,2"}));
}

TEST(Terminal, BlockSizeRule) {
  Term term;
  term.Rx(std::string(1025, 'x'));
  EXPECT_EQ(term.chars.size(), 0u);
  EXPECT_EQ(term.t.Buffer().GetLastLine(), 0);
  term.Rx(std::string(1024, 'y'));
  EXPECT_EQ(term.chars, std::string(1024, 'y'));
  EXPECT_EQ(term.Row(1), std::string(80, 'y'));
  // A block the parser hands to OnStrRecieved is the block as received.
  int calls = 0;
  term.t.OnStrRecieved = [&](TCustomComTerminal *, std::string &) { ++calls; };
  term.Rx(std::string(1025, 'z'));
  EXPECT_EQ(calls, 0);
}

TEST(Terminal, ReceiveOptions) {
  struct Case {
    const char *name;
    bool appendLF, force7Bit;
    std::string in, onChar;
  };
  const Case cases[] = {
      {"plain", false, false, "a\rb\xc1", "a\rb\xc1"},
      {"append_lf", true, false, "a\rb\r", "a\r\nb\r\n"},
      {"force_7bit", false, true,
       "\xc1\xe2"
       "c",
       "Abc"},
      // LF goes in before bit 7 is cleared: 0x8D is no CR yet.
      {"both", true, true, "\x8d", "\r"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Term term;
    term.t.SetAppendLF(c.appendLF);
    term.t.SetForce7Bit(c.force7Bit);
    term.Rx(c.in);
    EXPECT_EQ(term.chars, c.onChar);
  }
}

TEST(Terminal, StrRecievedMayChangeTheBlock) {
  Term term;
  term.t.OnStrRecieved = [](TCustomComTerminal *, std::string &s) { s = "<" + s + ">"; };
  term.Rx("ok");
  EXPECT_EQ(term.Row(1), "<ok>");
}

TEST(Terminal, UnhandledCodesReportTheirData) {
  Term term;
  term.Rx(
      "\x1b[1J\x1b"
      "D\x1b[3;5R\x1b[5ma");
  EXPECT_EQ(term.unhandled,
            (std::vector<std::string>{"ecUnknown:[1J", "ecUnknown:D", "ecReportCursorPos:[3;5R"}));
  EXPECT_EQ(term.chars, "a");
  // Params are cleared after every code, so a following code sees only its own.
  term.Rx("\x1b[5;6H\x1b[H");
  EXPECT_EQ(term.t.CaretX(), 1);
  EXPECT_EQ(term.t.CaretY(), 1);
}

TEST(Terminal, Attributes) {
  Term term;
  term.t.SetColor(0x000080);
  term.t.SetTermFont(term.t.TermFont(), 0x00FF00);
  term.Rx("n\x1b[1;31mi\x1b[0;7mr\x1b[27;4mu\x1b[24mn\x1b[21m\x1b[mp");
  struct Want {
    int x;
    TColor text, fill;
    bool underscore;
  };
  const TColor grey = 0xA6A6A6;
  const Want wants[] = {
      {1, 0x00FF00, 0x000080, false},  // plain
      {2, grey, 0x000080, false},      // intense: AltColor, colour 31 ignored
      {3, 0x000080, 0x00FF00, false},  // reverse
      {4, 0x00FF00, 0x000080, true},   // underline
      {5, 0x00FF00, 0x000080, false}, {6, 0x00FF00, 0x000080, false},
  };
  for (const Want &w : wants) {
    SCOPED_TRACE(w.x);
    const TComTermChar c = term.t.Buffer().GetChar(w.x, 1);
    EXPECT_EQ(c.TextColor, w.text);
    EXPECT_EQ(c.FillColor, w.fill);
    EXPECT_EQ(c.Underscore, w.underscore);
  }
  term.Rx(
      "\x1b[1m\x1b"
      "7\x1b[0m\x1b"
      "8I");
  EXPECT_EQ(term.t.Buffer().GetChar(7, 1).TextColor, grey);  // restored with the caret
  term.Rx(
      "\x1b"
      "cJ");
  EXPECT_EQ(term.t.Buffer().GetChar(8, 1).TextColor, 0x00FF00u);  // reset clears attributes
}

TEST(Terminal, ModesAndColumns) {
  Term term;
  term.Rx("\x1b[?1h");
  EXPECT_TRUE(term.t.AppCursorMode());
  term.Rx("\x1b[?1l");
  EXPECT_FALSE(term.t.AppCursorMode());
  term.Rx("abc\x1b[?3h");
  EXPECT_EQ(term.t.Columns(), 132);
  EXPECT_EQ(term.t.Buffer().GetLastLine(), 0);  // the screen was cleared
  term.Rx("\x1b[1;130H");
  // Back to 80 columns: the caret must not stay beyond the new edge.
  term.Rx(
      "\x1b[?3l"
      "Z");
  EXPECT_EQ(term.t.Columns(), 80);
  EXPECT_EQ(term.Row(1), std::string(79, '.') + "Z");
  EXPECT_EQ(term.t.CaretX(), 80);
}

TEST(Terminal, SizeLimits) {
  TComTerminal t;
  t.SetColumns(1);
  EXPECT_EQ(t.Columns(), 2);
  t.SetColumns(1000);
  EXPECT_EQ(t.Columns(), 256);
  t.SetRows(0);
  EXPECT_EQ(t.Rows(), 2);
  t.SetRows(101);
  EXPECT_EQ(t.Rows(), 100);
  EXPECT_EQ(t.Buffer().Rows(), 100);
}

TEST(Terminal, HandlerExceptionStopsTheBlock) {
  Term term;
  term.t.OnChar = [&](TCustomComTerminal *, char ch) {
    term.chars += ch;
    if (ch == '!')
      throw std::runtime_error("stop");
  };
  EXPECT_THROW(term.Rx("ab!cd"), std::runtime_error);
  EXPECT_EQ(term.chars, "ab!");
  EXPECT_EQ(term.Row(1), "ab!");
  term.Rx("\x1b[2;2Hx");  // the parser is idle and takes the next block normally
  EXPECT_EQ(term.Row(2), ".x");
}

TEST(Terminal, EmulationVT52) {
  Term term;
  term.t.SetEmulation(teVT52);
  term.Rx("\x1bY$)x\x1b[2J");
  EXPECT_EQ(term.t.Buffer().GetChar(10, 5).Ch, 'x');
  EXPECT_EQ(term.t.Buffer().GetChar(11, 5).Ch, '2');  // no VT100 sequences here
  term.Rx("\x1bH\x1bI");  // home, then reverse line feed on row 1 scrolls the text down
  EXPECT_EQ(term.t.Buffer().GetChar(10, 6).Ch, 'x');
}

TEST(Terminal, EmulationNoneUsesSuppliedParser) {
  Term term;
  int asked = 0;
  term.t.OnGetEscapeCodes = [&](TCustomComTerminal *, std::unique_ptr<TEscapeCodes> &p) {
    ++asked;
    p = std::make_unique<TEscapeCodesVT52>();
  };
  term.t.SetEmulation(teNone);
  EXPECT_EQ(asked, 1);
  term.Rx("\x1bY!!q");
  EXPECT_EQ(term.t.Buffer().GetChar(2, 2).Ch, 'q');
  term.t.OnGetEscapeCodes = nullptr;
  term.t.SetEmulation(teVT100orANSI);
  term.t.SetEmulation(teNone);
  EXPECT_EQ(term.t.EscapeCodes(), nullptr);
  term.chars.clear();
  term.Rx("\x1b[2J");  // without a parser every byte is a character
  EXPECT_EQ(term.chars, "\x1b[2J");
}

TEST(Terminal, HandlerMaySwitchEmulationMidBlock) {
  // The parser that reported the code is still being read when the handler replaces it.
  Term term;
  term.t.OnUnhandledCode = [&](TCustomComTerminal *, TEscapeCode, const std::string &data) {
    term.unhandled.push_back(data);
    term.t.SetEmulation(teVT52);
    term.unhandled.push_back(data);
  };
  term.Rx("\x1b[1Jx\x1bY$)y");
  EXPECT_EQ(term.unhandled, (std::vector<std::string>{"[1J", "[1J"}));
  EXPECT_EQ(term.t.Buffer().GetChar(10, 5).Ch, 'y');  // the rest of the block went through VT52
}

TEST(Terminal, StreamsRoundTrip) {
  Term term;
  term.Rx("CFE> \r\n\r\n  x\x1b[4;10Hy");
  QBuffer out;
  out.open(QIODevice::WriteOnly);
  term.t.SaveToStream(out);
  EXPECT_EQ(out.data().toStdString(), "CFE> \r\n\r\n  x\r\n         y");

  Term again;
  QBuffer in;
  in.setData(out.data());
  in.open(QIODevice::ReadOnly);
  again.t.LoadFromStream(in);
  EXPECT_EQ(again.chars, out.data().toStdString());  // OnChar for every byte
  EXPECT_EQ(again.Row(4), "         y");             // saved blanks come back as blanks

  Term esc;  // loading does no escape processing
  QBuffer raw;
  raw.setData(QByteArray("\x1b[2Jz"));
  raw.open(QIODevice::ReadOnly);
  esc.t.LoadFromStream(raw);
  EXPECT_EQ(esc.Row(1), "[2Jz");
}

TEST(Terminal, ClearScreenKeepsAttributes) {
  Term term;
  term.Rx("\x1b[7mab\x1b[3g");
  term.t.ClearScreen();
  EXPECT_EQ(term.t.Buffer().GetLastLine(), 0);
  EXPECT_EQ(term.t.CaretX(), 1);
  EXPECT_TRUE(term.t.Attributes().Reverse);
  EXPECT_EQ(term.t.Buffer().NextTab(2), 9);  // default tab stops are back
}

}  // namespace
