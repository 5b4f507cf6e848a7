// zevavi-windrive: the ZeVavi window used as a technician uses it, for the tests that run the
// Windows programs under Wine. It opens the real main window, fills in Port, Machine, Machine
// IP and Image, takes a picture of the input page, presses Next and then Start (answering the
// window's question Yes), waits for the upgrade to end, takes a picture of the status page and
// prints the numbered status lines.
//
//   zevavi-windrive PORT MODEL BOX_ADDRESS IMAGE PICTURE_PREFIX [SECONDS]
//
// Exit code 0 when the last status line says the box is finished, 1 when the upgrade ended
// otherwise, 2 when it did not end within SECONDS (default 300), 3 on bad arguments.
#include "platform/dialogs.h"
#include "platform/gui.h"
#include "src/formkymain.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <string>

namespace {

// Questions are answered Yes and messages printed, since nobody is there to click; the open
// dialog is never needed, the image being typed in.
class DriveDialogs final : public Dialogs {
 public:
  void message(QWidget *, const std::string &text) override {
    std::printf("message: %s\n", text.c_str());
    std::fflush(stdout);
  }
  bool ask_yes_no(QWidget *, const std::string &text) override {
    std::printf("question (Yes): %s\n", text.c_str());
    std::fflush(stdout);
    return true;
  }
  bool open_file(QWidget *, const std::string &, const std::string &, std::string &) override {
    return false;
  }
  bool save_file(QWidget *, const std::string &, const std::string &, std::string &) override {
    return false;
  }
};

// What the screen shows of the window, frame and all; the window's own rendering where the
// screen cannot be read.
void save_picture(QWidget &window, const QString &path) {
  QPixmap picture;
  if (QScreen *screen = window.screen()) {
    const QRect frame = window.frameGeometry();
    picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
  }
  if (picture.isNull())
    picture = window.grab();
  std::printf("picture: %s %s\n", qPrintable(path), picture.save(path) ? "saved" : "NOT saved");
  std::fflush(stdout);
}

void print_status_lines(const VAzOdor &window) {
  for (int i = 0; i < window.lvStatusText->count(); ++i)
    std::printf("status: %s\n", qPrintable(window.lvStatusText->item(i)->text()));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("ZeVavi"));
  const QStringList args = app.arguments();
  if (args.size() < 6) {
    std::fprintf(stderr, "usage: zevavi-windrive PORT MODEL BOX_ADDRESS IMAGE PICTURE_PREFIX [SECONDS]\n");
    return 3;
  }
  const QString port = args[1], model = args[2], box = args[3], image = args[4], pictures = args[5];
  const int seconds = args.size() > 6 ? args[6].toInt() : 300;

  gui_install();
  DriveDialogs dialogs;
  int result = 2;
  {
    VAzOdor window(dialogs);
    std::printf("log: %s\n", window.log_path().c_str());
    window.cbComPort->setEditText(port);
    window.cbMachine->setCurrentText(model);
    window.edtMachineIp->setText(box);
    window.edtFilePath->setText(image);
    window.show();

    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    enum class Stage { shown, running } stage = Stage::shown;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
      if (stage == Stage::shown) {
        // The picture once the window is on the screen and has painted.
        if (!window.windowHandle() || !window.windowHandle()->isExposed())
          return;
        QApplication::processEvents();
        save_picture(window, pictures + QStringLiteral("-input.png"));
        window.btnStatusClick();  // Next
        if (window.btnStatus->text() != QLatin1String("Start")) {
          std::printf("Next refused the inputs\n");
          print_status_lines(window);
          result = 1;
          window.close();
          return;
        }
        window.aeKyMainShortCut(0x78, true, true);  // the console panel, to see the box
        window.btnStatusClick();                    // Start, answered Yes
        stage = Stage::running;
        return;
      }
      // The upgrade has ended when the button may be pressed again (Previous) or the wizard
      // went back to its inputs after a refusal.
      const bool back = window.btnStatus->text() == QLatin1String("Next");
      const bool ended = back || (window.btnStatus->text() == QLatin1String("Previous") &&
                                  window.btnStatus->isEnabled() && !window.worker_alive());
      if (!ended && clock.elapsed() < seconds * 1000LL)
        return;
      poll.stop();
      save_picture(window, pictures + QStringLiteral("-status.png"));
      print_status_lines(window);
      const int count = window.lvStatusText->count();
      if (!ended)
        std::printf("the upgrade did not end within %d s\n", seconds);
      else
        result = count > 0 && window.lvStatusText->item(count - 1)->text().endsWith("Reboot now!!") ? 0 : 1;
      window.close();
    });
    poll.start(200);
    app.exec();
  }
  gui_uninstall();
  return result;
}
