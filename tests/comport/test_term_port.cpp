// The terminal bound to a real port component over the fake serial line: bytes pushed by
// the far end travel through the port's event thread and link onto the GUI thread, and
// what the terminal answers or the user types comes out of the line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <string>
#include <vector>

#include "comport/serport.h"
#include "comport/serportctl.h"
#include "platform/comm_fake.h"

namespace {

// Waits, serving the GUI thread, until cond holds. The limit only keeps a broken build
// from hanging the suite; no test depends on how long anything takes.
bool WaitFor(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 20000); }

class TermOnPort : public ::testing::Test {
 protected:
  void SetUp() override {
    line = backend.add("COM7");
    port.SetCommBackend(&backend);
    port.SetPort("COM7");
    port.SetBaudRate(br115200);
    term.SetRows(17);
    term.OnChar = [this](TCustomComTerminal *, char ch) { chars += ch; };
    term.OnStrRecieved = [this](TCustomComTerminal *, std::string &s) {
      blocks.push_back(static_cast<int>(s.size()));
    };
    term.SetComPort(&port);
    port.Open();
  }
  void TearDown() override {
    term.SetComPort(nullptr);
    port.Close();
  }

  // The far end sends bytes; returns once OnChar has seen `expect` more characters.
  void Arrive(const std::string &bytes, size_t expect) {
    const size_t want = chars.size() + expect;
    line->push_input(bytes);
    ASSERT_TRUE(WaitFor([&] { return chars.size() >= want; })) << "got " << chars.size() << " of " << want;
  }
  std::string Output(size_t atLeast) {
    WaitFor([&] { return line->output().size() >= atLeast; });
    return line->take_output();
  }
  std::string Row(int y) const {
    std::string s;
    for (int x = 1; x <= term.Buffer().GetLineLength(y); ++x) {
      const char c = term.Buffer().GetChar(x, y).Ch;
      s += c ? c : '.';
    }
    return s;
  }

  FakeCommBackend backend;
  std::shared_ptr<FakeCommLine> line;
  TComPort port;
  TComTerminal term;
  std::string chars;
  std::vector<int> blocks;
};

TEST_F(TermOnPort, PromptReachesOnCharInOrder) {
  EXPECT_TRUE(term.Connected());
  EXPECT_TRUE(port.HasLink());
  Arrive("CFE>", 4);
  EXPECT_EQ(chars, "CFE>");
  EXPECT_EQ(Row(1), "CFE>");
}

TEST_F(TermOnPort, EraseScreenFiresNoOnChar) {
  Arrive("boot\r\n", 6);
  Arrive("\x1b[2J!", 1);
  EXPECT_EQ(chars, "boot\r\n!");
  EXPECT_EQ(Row(1), "!");
  EXPECT_EQ(term.Buffer().GetLastLine(), 1);
}

TEST_F(TermOnPort, CursorPositionQueryIsAnswered) {
  Arrive("\r\n\r\n1234", 8);
  ASSERT_EQ(term.CaretX(), 5);
  ASSERT_EQ(term.CaretY(), 3);
  Arrive("\x1b[6n.", 1);
  EXPECT_EQ(Output(6), "\x1b[3;5R");
}

TEST_F(TermOnPort, IdentifyAndStatusQueriesAreAnswered) {
  Arrive("\x1b[c.", 1);
  EXPECT_EQ(Output(7), "\x1b[?1;2c");
  Arrive("\x1b[5n.", 1);
  EXPECT_EQ(Output(4), "\x1b[0n");
}

TEST_F(TermOnPort, NoWrapAndWrapAtColumn80) {
  Arrive(std::string(100, 'a'), 100);
  EXPECT_EQ(term.CaretX(), 80);
  EXPECT_EQ(term.CaretY(), 1);
  EXPECT_EQ(term.Buffer().GetLineLength(2), 0);
  term.SetWrapLines(true);
  Arrive("\r\n" + std::string(100, 'b'), 102);
  EXPECT_EQ(Row(2), std::string(80, 'b'));
  EXPECT_EQ(Row(3), std::string(20, 'b'));
  EXPECT_EQ(term.CaretX(), 21);
}

TEST_F(TermOnPort, ScrollsAtRow17) {
  std::string text;
  for (int i = 1; i <= 20; ++i)
    text += "CFE> line " + std::to_string(i) + "\r\n";
  Arrive(text, text.size());
  EXPECT_EQ(Row(1), "CFE> line 5");
  EXPECT_EQ(Row(16), "CFE> line 20");
  EXPECT_EQ(Row(17), "");
  EXPECT_EQ(term.CaretY(), 17);
}

TEST_F(TermOnPort, BlockOf1024IsShownAndOf1025Dropped) {
  // The port hands over whatever waits in its 1024-byte input queue as one block.
  Arrive(std::string(1024, 'k'), 1024);
  EXPECT_EQ(blocks, std::vector<int>{1024});
  EXPECT_EQ(Row(1), std::string(80, 'k'));
  // A larger block can only come from elsewhere; it is not shown and fires nothing.
  const std::string big(1025, 'z');
  term.RxBuf(&port, big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(chars, std::string(1024, 'k'));
  EXPECT_EQ(blocks, std::vector<int>{1024});
}

TEST_F(TermOnPort, EnterWithSendLFWritesCRThenLF) {
  term.SetSendLF(true);
  line->clear_calls();
  QTest::keyClick(&term, Qt::Key_Return);
  EXPECT_EQ(Output(2), "\r\n");
  EXPECT_EQ(line->count("WriteFile"), 2);
  EXPECT_EQ(chars, "");  // no local echo
}

TEST_F(TermOnPort, TabIsSentOnlyWithWantTab) {
  QWidget other;
  term.setParent(&other);
  QLineEdit *next = new QLineEdit(&other);
  other.show();
  term.setFocus();
  QApplication::processEvents();
  QTest::keyClick(&term, Qt::Key_Tab);  // moves the focus on, sends nothing
  EXPECT_EQ(line->output(), "");
  term.SetWantTab(true);
  term.setFocus();
  QTest::keyClick(&term, Qt::Key_Tab);
  EXPECT_EQ(Output(1), "\t");
  term.setParent(nullptr);
  delete next;
}

TEST_F(TermOnPort, TypedCharactersWithLocalEcho) {
  term.SetLocalEcho(true);
  QTest::keyClicks(&term, "ls");
  EXPECT_EQ(Output(2), "ls");
  EXPECT_EQ(chars, "ls");
  EXPECT_EQ(Row(1), "ls");
}

TEST_F(TermOnPort, CursorKeys) {
  struct Case {
    const char *name;
    std::string setup;  // received first
    TArrowKeys arrows;
    Qt::Key key;
    std::string sent;
    int caretX, caretY;
  };
  const Case cases[] = {
      {"up", "\x1b[5;5H", akTerminal, Qt::Key_Up, "\x1b[A", 5, 5},
      {"home", "\x1b[5;5H", akTerminal, Qt::Key_Home, "\x1b[H", 5, 5},
      {"app_up", "\x1b[5;5H\x1b[?1h", akTerminal, Qt::Key_Up, "\x1bOA", 5, 5},
      {"app_right", "\x1b[5;5H\x1b[?1h", akTerminal, Qt::Key_Right, "\x1bOC", 5, 5},
      {"app_home_sends_nothing", "\x1b[5;5H\x1b[?1h", akTerminal, Qt::Key_Home, "", 5, 5},
      {"windows_left_moves_locally", "\x1b[5;5H\x1b[?1l", akWindows, Qt::Key_Left, "", 4, 5},
      {"windows_down_moves_locally", "\x1b[5;5H", akWindows, Qt::Key_Down, "", 5, 6},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // The dot marks the block as shown; the caret goes back onto it.
    Arrive(c.setup + "\x1b[5;5H.\x1b[D", 1);
    ASSERT_EQ(term.CaretX(), 5);
    line->take_output();
    term.SetArrowKeys(c.arrows);
    QTest::keyClick(&term, c.key);
    if (!c.sent.empty()) {
      EXPECT_EQ(Output(c.sent.size()), c.sent);
    }
    EXPECT_EQ(line->output(), "");
    EXPECT_EQ(term.CaretX(), c.caretX);
    EXPECT_EQ(term.CaretY(), c.caretY);
  }
}

TEST_F(TermOnPort, UnbindingStopsDelivery) {
  term.SetComPort(nullptr);
  EXPECT_FALSE(port.HasLink());
  EXPECT_FALSE(term.Connected());
  // Sending without a port writes nothing and raises nothing.
  term.SendChar('x');
  term.SendCode(ecCursorUp, nullptr);
  EXPECT_EQ(line->output(), "");
  term.SetComPort(&port);
  Arrive("ok", 2);
  EXPECT_EQ(chars, "ok");
}

TEST_F(TermOnPort, ConnectedOpensAndClosesThePort) {
  term.SetConnected(false);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(term.Connected());
  term.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  Arrive("again", 5);
}

// A terminal that records what it would show the user instead of opening a message box.
class RecordingTerminal : public TComTerminal {
 public:
  std::vector<std::string> shown;

 protected:
  void ShowException(const std::exception &e) override { shown.push_back(e.what()); }
};

TEST(TermWriteFailure, IsShownNotThrownIntoTheEventLoop) {
  FakeCommBackend backend;
  auto line = backend.add("COM3");
  TComPort port;
  port.SetCommBackend(&backend);
  port.SetPort("COM3");
  RecordingTerminal term;
  term.SetComPort(&port);
  port.Open();
  line->vanish();  // unplugged: the write fails
  QTest::keyClick(&term, Qt::Key_A);
  QTest::keyClick(&term, Qt::Key_Up);
  ASSERT_EQ(term.shown.size(), 2u);
  EXPECT_NE(term.shown[0].find("COM3"), std::string::npos) << term.shown[0];
  term.SetComPort(nullptr);
}

TEST(TermNoPort, LocalEchoOfCRAddsLFOnlyWithoutPort) {
  TComTerminal term;
  std::string chars;
  term.OnChar = [&](TCustomComTerminal *, char ch) { chars += ch; };
  term.SetLocalEcho(true);
  term.SetSendLF(true);
  term.SendChar('a');
  term.SendChar('\r');
  EXPECT_EQ(chars, "a\r\n");
  EXPECT_EQ(term.CaretY(), 2);
}

}  // namespace
