// zevavi-term's window against the simulated box on a pty: typed text reaches the box, its
// answer shows, the capture holds whole time-stamped lines, the lamps follow the traffic,
// and the port's settings come back at the next start.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDialog>
#include <QPainter>
#include <QTest>
#include <chrono>
#include <regex>

#include "apps/zevavi-term/termwindow.h"
#include "comport/serportctl.h"
#include "comport/serportctl_led.h"
#include "comport/serportsetup.h"
#include "comport/serporttrmset.h"
#include "widgets/skin/skinbuttonfamily.h"
#include "platform/settingsstore.h"
#include "tests/tools/boxsim_harness.h"

namespace {

using namespace boxsim_test;

std::string screen_text(TComTerminal &terminal) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  terminal.SaveToStream(buffer);
  return buffer.data().toStdString();
}

// Runs the window's events until done() holds, doing `poke` every 200 ms meanwhile.
bool run_until(const std::function<bool()> &done, const std::function<void()> &poke = {}) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(kHangGuardMs);
  auto next_poke = clock::now();
  while (!done()) {
    if (clock::now() > deadline)
      return false;
    if (poke && clock::now() >= next_poke) {
      poke();
      next_poke = clock::now() + std::chrono::milliseconds(200);
    }
    QTest::qWait(10);
  }
  return true;
}

void save_shot(QWidget &widget, const char *name) {
  const char *dir = std::getenv("ZEVAVI_SCREENSHOT_DIR");
  if (!dir)
    return;
  fs::create_directories(dir);
  widget.grab().save(QString::fromStdString((fs::path(dir) / name).string()));
}

TEST(TermWindow, TalksToTheSimulatedBoxCapturesLinesAndKeepsThePortsSettings) {
  TempDir dir;
  setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
  Child box;
  zv_test::SpawnOptions captured;
  captured.capture_out = true;
  ASSERT_TRUE(box.start({bin_dir() + "/boxsim", "--report", (dir.path() / "box.json").string(),
                         "--autostart-ms", "0", "--fast"},
                        captured));
  const std::string tty = box.read_line();
  ASSERT_FALSE(tty.empty());
  const fs::path capture = dir.path() / "capture.log";
  const std::string settings = TermSettingsPath();

  {
    TermWindow window(settings, tty);
    bool rx_lit = false, tx_lit = false;
    window.Led(TermWindow::RxLed)->OnChange = [&](TComLed *, TLedState s) { rx_lit = rx_lit || s == lsOn; };
    window.Led(TermWindow::TxLed)->OnChange = [&](TComLed *, TLedState s) { tx_lit = tx_lit || s == lsOn; };
    window.resize(900, 560);
    window.show();
    ASSERT_TRUE(window.StartCapture(QString::fromStdString(capture.string())));
    ASSERT_TRUE(window.OpenPort()) << window.StatusText().toStdString();
    EXPECT_EQ(window.Led(TermWindow::ConnLed)->State(), lsOn);
    EXPECT_EQ(window.Port().BaudRate(), br115200);

    TComTerminal &terminal = *window.Terminal();
    // Break into the loader as the PC does, until its prompt shows.
    ASSERT_TRUE(run_until([&] { return screen_text(terminal).find("CFE> ") != std::string::npos; },
                          [&] { terminal.SendChar('\x03'); }))
        << screen_text(terminal);
    QTest::keyClicks(&terminal, "help");
    QTest::keyClick(&terminal, Qt::Key_Return);
    ASSERT_TRUE(run_until([&] {
      return screen_text(terminal).find("For more information about a command") != std::string::npos;
    })) << screen_text(terminal);
    EXPECT_TRUE(rx_lit);
    EXPECT_TRUE(tx_lit);
    ASSERT_TRUE(run_until([&] { return read_file(capture).find("command-name") != std::string::npos; }));
    // Once the line is quiet both traffic lamps go out.
    EXPECT_TRUE(run_until([&] {
      return window.Led(TermWindow::RxLed)->State() == lsOff &&
             window.Led(TermWindow::TxLed)->State() == lsOff;
    })) << "Rx "
        << window.Led(TermWindow::RxLed)->State() << " Tx " << window.Led(TermWindow::TxLed)->State();
    save_shot(window, "zevavi-term.png");
    if (std::getenv("ZEVAVI_SCREENSHOT_DIR")) {
      TComSetupFrm port_setup;
      port_setup.Bind(&window.Port());
      port_setup.show();
      save_shot(port_setup, "zevavi-term-port-setup.png");
      TComTrmSetForm terminal_setup;
      terminal_setup.Load(terminal);
      terminal_setup.show();
      save_shot(terminal_setup, "zevavi-term-terminal-setup.png");
      // Every built-in lamp, unlit and lit, three times its size.
      QPixmap sheet(6 * 75, 2 * 75);
      sheet.fill(Qt::lightGray);
      {
        QPainter p(&sheet);
        for (int k = lkRedLight; k <= lkBulb; ++k)
          for (int on = 0; on < 2; ++on)
            p.drawPixmap(QRect(k * 75, on * 75, 75, 75),
                         LedGlyph(static_cast<TLedKind>(k), on ? lsOn : lsOff));
      }
      sheet.save(
          QString::fromStdString((fs::path(std::getenv("ZEVAVI_SCREENSHOT_DIR")) / "leds.png").string()));
    }
    // The tool bar's first skinned button closes the open port and then offers to open it.
    TskToolBarSpeedButton *open_close = nullptr;
    for (auto *button : window.findChildren<TskToolBarSpeedButton *>())
      if (button->text() == "Close")
        open_close = button;
    ASSERT_NE(open_close, nullptr);
    QTest::mouseClick(open_close, Qt::LeftButton);
    EXPECT_FALSE(window.Port().Connected());
    EXPECT_EQ(open_close->text(), "Open");
    window.close();  // saves the settings
  }

  // Whole lines, each with the time it completed, the typed command among them.
  const std::string text = read_file(capture);
  const std::regex stamped(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] (.*)$)");
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, stamped)) << l;
    lines.push_back(m[1]);
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(), "CFE> help"), lines.end()) << text;
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "For more information about a command, enter 'help command-name'"),
            lines.end())
      << text;
  for (const auto &l : lines)
    EXPECT_EQ(l.find('\r'), std::string::npos);

  // The next start finds the port and its settings again.
  const IniFile ini(settings);
  EXPECT_EQ(ini.ReadString("zevavi-term", "Port", ""), tty);
  EXPECT_EQ(ini.ReadString(tty, "BaudRate", ""), "115200");
  TermWindow again(settings, "");
  EXPECT_EQ(again.Port().Port(), tty);
  EXPECT_EQ(again.Port().BaudRate(), br115200);
  box.stop();
}

// A bench adapter pulled and pushed back: the box's end of the line goes, and a new one comes
// at the same path. The window closes the port and says so, then opens it again by itself;
// with that turned off a loss leaves the port closed.
TEST(TermWindow, ALineThatGoesIsClosedAndReopenedWhenItComesBack) {
  TempDir dir;
  setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
  const fs::path link = dir.path() / "adapter";
  auto plug_in = [&](Child &box) {
    zv_test::SpawnOptions captured;
    captured.capture_out = true;
    ASSERT_TRUE(box.start(
        {bin_dir() + "/boxsim", "--pty-link", link.string(), "--autostart-ms", "0", "--fast"}, captured));
    ASSERT_FALSE(box.read_line().empty());
  };
  Child first;
  plug_in(first);
  TermWindow window(TermSettingsPath(), link.string());
  window.show();
  ASSERT_TRUE(window.OpenPort()) << window.StatusText().toStdString();

  first.stop();  // the box's end closes and its path goes
  ASSERT_TRUE(run_until([&] { return !window.Port().Connected(); })) << "the port stays open";
  EXPECT_TRUE(run_until([&] { return window.Led(TermWindow::ConnLed)->State() == lsOff; }));
  EXPECT_TRUE(window.StatusText().contains("went away")) << window.StatusText().toStdString();
  EXPECT_TRUE(window.AwaitingDevice());

  Child second;
  plug_in(second);
  ASSERT_TRUE(run_until([&] { return window.Port().Connected(); })) << window.StatusText().toStdString();
  EXPECT_TRUE(run_until([&] { return window.Led(TermWindow::ConnLed)->State() == lsOn; }));
  TComTerminal &terminal = *window.Terminal();
  EXPECT_TRUE(run_until([&] { return screen_text(terminal).find("CFE> ") != std::string::npos; },
                        [&] { terminal.SendChar('\x03'); }))
      << "the reopened line does not reach the new box";

  window.SetAutoReopen(false);
  second.stop();
  ASSERT_TRUE(run_until([&] { return !window.Port().Connected(); }));
  EXPECT_FALSE(window.AwaitingDevice());
  EXPECT_TRUE(window.StatusText().contains("went away"));
}

TEST(TermWindow, APortOrCaptureFileThatCannotBeOpenedIsReportedAndNothingStarts) {
  TempDir dir;
  setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
  const std::string missing = (dir.path() / "no-such-tty").string();
  TermWindow window(TermSettingsPath(), missing);
  EXPECT_FALSE(window.OpenPort());
  EXPECT_FALSE(window.Port().Connected());
  EXPECT_NE(window.StatusText().toStdString().find(missing), std::string::npos)
      << window.StatusText().toStdString();
  const QString capture = QString::fromStdString((dir.path() / "no-folder" / "capture.log").string());
  EXPECT_FALSE(window.StartCapture(capture));
  EXPECT_FALSE(window.Capture().Active());
  EXPECT_TRUE(window.StatusText().contains(capture)) << window.StatusText().toStdString();
  EXPECT_TRUE(window.SaveSettings());
  EXPECT_EQ(IniFile(TermSettingsPath()).ReadString("zevavi-term", "Port", ""), missing);
}

}  // namespace
