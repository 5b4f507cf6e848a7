// zevavi-demo: the ZeVavi window against the simulated box, so that a whole upgrade can be
// watched with no hardware. It makes a sample image, starts boxsim on a pty, and opens the
// main window with that pty, the model TORQA, a box address beside the PC's own and the
// sample image already chosen, and the console panel open (Ctrl+Shift+F9 hides it); press
// Next and Start.
//
// Run it in a private network namespace (./run does, through scripts/netns-run), where UDP
// port 69 is free for the window's TFTP server and nothing reaches the real network.
//
//   zevavi-demo [--auto] [--screenshot FILE.png] [--container]
//     --auto        restart the box, press Next and Start by itself, answer Yes, and quit when done
//     --screenshot  save a picture of the window at the end (with --auto)
//     --container   use the container image instead of the zip image
#include "platform/dialogs.h"
#include "platform/gui.h"
#include "platform/paths.h"
#include "src/formkymain.h"
#include "tools/demo/sampleimage.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;

// The system's dialogs, except that in --auto mode questions are answered Yes and messages
// go to standard error, since nobody is there to click.
class DemoDialogs final : public Dialogs {
 public:
  explicit DemoDialogs(bool automatic) : automatic_(automatic) {}
  void message(QWidget *parent, const std::string &text) override {
    if (automatic_)
      std::fprintf(stderr, "zevavi-demo: message: %s\n", text.c_str());
    else
      system_dialogs().message(parent, text);
  }
  bool ask_yes_no(QWidget *parent, const std::string &text) override {
    return automatic_ || system_dialogs().ask_yes_no(parent, text);
  }
  bool open_file(QWidget *parent, const std::string &filter, const std::string &ext,
                 std::string &path) override {
    return system_dialogs().open_file(parent, filter, ext, path);
  }
  bool save_file(QWidget *parent, const std::string &filter, const std::string &ext,
                 std::string &path) override {
    return system_dialogs().save_file(parent, filter, ext, path);
  }

 private:
  bool automatic_;
};

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("zevavi-demo"));
  QStringList args = app.arguments();
  bool automatic = args.contains("--auto");
  bool container = args.contains("--container");
  int shot_at = int(args.indexOf("--screenshot"));
  QString screenshot = shot_at > 0 && shot_at + 1 < args.size() ? args[shot_at + 1] : QString();

  fs::path bin = fs::path(QCoreApplication::applicationDirPath().toStdString());
  fs::path work = fs::path(temp_dir_path()).parent_path() / "demo";
  std::error_code ignored;
  fs::create_directories(work, ignored);

  SamplePartitions parts = make_sample_partitions(2026);
  fs::path image = work / "sample.nfi";
  if (!container && write_sample_zip((work / "sample.zip").string(), work.string(), parts))
    image = work / "sample.zip";
  else if (!write_sample_container(image.string(), parts)) {
    std::fprintf(stderr, "zevavi-demo: cannot write the sample image in %s\n", work.c_str());
    return 1;
  }

  fs::path tty = work / "box-tty";
  fs::path report = work / "box.json";
  QProcess box;
  box.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  // The box ends with the demo, however the demo ends (a crash, kill -9, a closed terminal):
  // boxsim takes SIGTERM when its parent dies; here the same is asked before it even runs,
  // and a demo that died before that point is noticed by the changed parent.
  const pid_t demo_pid = ::getpid();
  box.setChildProcessModifier([demo_pid] {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != demo_pid)
      ::_exit(1);
  });
  box.setStandardOutputFile(QProcess::nullDevice());
  box.start(QString::fromStdString((bin / "boxsim").string()),
            {"--pty-link", QString::fromStdString(tty.string()), "--report",
             QString::fromStdString(report.string()), "--speed", "4"});
  if (!box.waitForStarted(10000)) {
    std::fprintf(stderr, "zevavi-demo: cannot start %s\n", (bin / "boxsim").c_str());
    return 1;
  }
  for (int i = 0; i < 200 && !fs::exists(tty); ++i)
    QThread::msleep(25);

  gui_install();
  DemoDialogs dialogs(automatic);
  int result = 0;
  {
    VAzOdor window(dialogs, nullptr, (bin / "zevavi.log").string());
    QString port = QString::fromStdString(tty.string());
    window.cbComPort->insertItem(0, port);
    window.cbComPort->setCurrentIndex(0);
    window.cbMachine->setCurrentText(QStringLiteral("TORQA"));
    window.edtMachineIp->setText(QString::fromStdString(box_address_beside(local_ip)));
    window.edtFilePath->setText(QString::fromStdString(image.string()));
    window.show();
    window.aeKyMainShortCut(0x78, true, true);  // the console panel, to watch the box
    std::printf("zevavi-demo: the simulated box is on %s; image %s\n", tty.c_str(), image.c_str());
    std::fflush(stdout);

    if (automatic) {
      auto *watch = new QTimer(&window);
      QTimer::singleShot(500, &window, [&window, watch, &box] {
        // Restart the box just before Start, as the window asks its user to: a slow start of
        // this program (a sanitizer build) may have let the box boot past its loader's wait.
        ::kill(pid_t(box.processId()), SIGUSR1);
        window.btnStatusClick();  // Next
        if (window.btnStatus->text() == QLatin1String("Start"))
          window.btnStatusClick();  // Start, answered Yes
        watch->start(500);
      });
      // watch is a local of this block, gone by the time the timer fires: copy the pointer.
      QObject::connect(watch, &QTimer::timeout, &window, [&window, watch, &screenshot, &result] {
        bool started = window.btnStatus->text() == QLatin1String("Previous");
        if (window.btnStatus->text() == QLatin1String("Next") || (started && window.btnStatus->isEnabled())) {
          watch->stop();
          if (!screenshot.isEmpty())
            window.grab().save(screenshot);
          for (int i = 0; i < window.lvStatusText->count(); ++i)
            std::printf("  %s\n", qPrintable(window.lvStatusText->item(i)->text()));
          result =
              window.lvStatusText->count() > 0 && window.lvStatusText->item(window.lvStatusText->count() - 1)
                                                      ->text()
                                                      .endsWith("Reboot now!!")
                  ? 0
                  : 1;
          window.close();
        }
      });
    }
    app.exec();
  }
  gui_uninstall();
  box.terminate();
  box.waitForFinished(10000);
  std::printf("zevavi-demo: what the box flashed: %s\n", report.c_str());
  return result;
}
