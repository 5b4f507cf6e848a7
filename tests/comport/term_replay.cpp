// Replays a recorded boot-loader session into the program's terminal (80 x 17, bound to a
// port on the fake line) inside a panel narrower than 80 cells, pans the view with the
// horizontal scroll bar, and keeps the window up until stdin closes, so that a screenshot
// of the display can be taken. Checks what it can itself and exits non-zero on a mismatch.
//   term_replay <session.log>      (prints READY once the window shows the session)
#include <QApplication>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comport/serport.h"
#include "comport/serportctl.h"
#include "platform/comm_fake.h"
#include "platform/gui.h"

namespace {

int failures = 0;
void Check(bool ok, const std::string &what) {
  if (!ok) {
    std::fprintf(stderr, "term_replay: %s\n", what.c_str());
    ++failures;
  }
}

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  gui_install();
  if (argc < 2) {
    std::fprintf(stderr, "usage: term_replay <session.log>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string session;
  for (char c : ss.str()) {  // the box ends every line with CR LF
    if (c == '\n')
      session += '\r';
    session += c;
  }

  if (session.empty()) {
    std::fprintf(stderr, "term_replay: no session in %s\n", argv[1]);
    return 2;
  }

  FakeCommBackend backend;
  auto line = backend.add("COM1");
  TComPort port;
  port.SetCommBackend(&backend);
  port.SetPort("COM1");
  port.SetBaudRate(br115200);

  // The program's panel: black terminal, white 12-pixel font, 17 rows, both bars.
  QWidget panel;
  panel.setWindowTitle(QStringLiteral("ZeVavi console"));
  auto *layout = new QHBoxLayout(&panel);
  layout->setContentsMargins(0, 0, 0, 0);
  auto *term = new TComTerminal(&panel);
  layout->addWidget(term);
  QFont font(QStringLiteral("Fixedsys"));
  font.setPixelSize(12);
  term->SetTermFont(font, 0xFFFFFF);
  term->SetColor(0x000000);
  term->SetRows(17);
  term->SetScrollBars(ssBoth);
  std::string chars;
  term->OnChar = [&](TCustomComTerminal *, char ch) { chars += ch; };
  term->SetComPort(&port);
  port.Open();

  const int extent = term->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, term);
  panel.resize(60 * term->CellWidth() + 2 * term->frameWidth(),
               17 * term->CellHeight() + 2 * term->frameWidth() + extent);
  panel.move(20, 20);
  panel.show();
  term->setFocus();
  Check(QTest::qWaitForWindowExposed(&panel, 10000), "the window never showed");

  // The session arrives in uneven pieces, as a busy line delivers it.
  const size_t sizes[] = {1, 7, 64, 300, 13, 1024, 2, 500};
  size_t pos = 0;
  for (int i = 0; pos < session.size(); ++i) {
    const size_t n = std::min(sizes[i % 8], session.size() - pos);
    line->push_input(session.substr(pos, n));
    pos += n;
    if (!QTest::qWaitFor([&] { return chars.size() >= pos; }, 10000))
      Check(false, "the terminal stopped receiving");
  }
  Check(chars == session, "OnChar did not see the session byte for byte");

  // The last 17 lines of the session are on the screen.
  std::vector<std::string> lines;
  std::string cur;
  for (char c : session) {
    if (c == '\r')
      continue;
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  lines.push_back(cur);
  // A session shorter than the screen has not scrolled: it starts on row 1.
  while (lines.size() < 17)
    lines.push_back(std::string());
  for (int y = 1; y <= 17; ++y) {
    const std::string &want = lines[lines.size() - 17 + y - 1];
    std::string got;
    for (int x = 1; x <= term->Buffer().GetLineLength(y); ++x)
      got += term->Buffer().GetChar(x, y).Ch;
    Check(got == want.substr(0, 80), "row " + std::to_string(y) + " shows \"" + got + "\"");
  }

  // Pan right: the long flash lines continue in view.
  QScrollBar *hb = term->horizontalScrollBar();
  Check(hb->maximum() == 80 - term->viewport()->width() / term->CellWidth(), "horizontal range");
  for (int i = 0; i < 3; ++i)
    term->ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::LineDown, 0);
  term->ModifyScrollBar(TScrollBarKind::Horizontal, TScrollCode::ThumbPosition, 12);
  Check(term->TopLeftColumn() == 13, "top-left column after panning");
  // Everything painted and taken in by the X server before the screenshot is taken (the
  // round trip of sync() returns once the server has handled every earlier request).
  panel.repaint();
  QGuiApplication::sync();

  std::printf("READY %dx%d cells %dx%d hbar %d..%d at %d\n", panel.width(), panel.height(), term->CellWidth(),
              term->CellHeight(), hb->minimum(), hb->maximum(), hb->value());
  std::fflush(stdout);

  // Stay up until the screenshot is taken (stdin closes), or give up after a while.
  QSocketNotifier eof(0, QSocketNotifier::Read);
  QObject::connect(&eof, &QSocketNotifier::activated, &app, [&] {
    char buf[64];
    if (std::fread(buf, 1, sizeof buf, stdin) == 0)
      app.quit();
  });
  QTimer::singleShot(60000, &app, &QApplication::quit);
  app.exec();

  term->SetComPort(nullptr);
  port.Close();
  gui_uninstall();
  return failures == 0 ? 0 : 1;
}
