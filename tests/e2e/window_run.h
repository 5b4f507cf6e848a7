// The main window driven through its own buttons against the simulated box on a pty: the
// fixture and helpers shared by the end-to-end upgrade tests and the soak.
#pragma once

#include "lib/log.h"
#include "lib/tftpthread.h"
#include "platform/comm_fake.h"
#include "platform/paths.h"
#include "src/formkymain.h"
#include "tests/src/fake_dialogs.h"
#include "tests/support/process.h"
#include "tests/support/upgrade_expect.h"
#include "tools/demo/sampleimage.h"
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QJsonArray>
#include <QLabel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace e2e_window {

namespace fs = std::filesystem;

using upgrade_expect::read_file;
using upgrade_expect::sha256_of;

inline void write_file_bytes(const fs::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline QStringList to_list(const std::vector<std::string> &lines) {
  QStringList out;
  for (const std::string &line : lines)
    out << QString::fromStdString(line);
  return out;
}

// Runs the event loop until `done` holds or `limit_ms` passes.
template <class Done>
inline bool pump_until(Done done, int limit_ms) {
  for (int waited = 0; waited < limit_ms && !done(); waited += 50)
    QTest::qWait(50);
  return done();
}

// The simulated box on a pty of its own, reporting what it flashed.
//
// Started with posix_spawn, never QProcess: Qt starts its children with a clone() whose child
// shares our memory until it execs (CLONE_VM | CLONE_VFORK), and ThreadSanitizer's clone
// hook then does a forked child's bookkeeping on the parent's own thread state. The GUI
// thread is left with its interceptors switched off and its reports muted, so every mutex it
// takes afterwards is invisible and each hand-off to the port's event thread reads as a race.
// glibc's posix_spawn clones inside libc, where that hook is not in the way.
class Box {
 public:
  explicit Box(const fs::path &dir) : tty_(dir / "box-tty"), report_(dir / "box.json") {}
  ~Box() { stop(); }

  void start(const QStringList &extra = {}) {
    std::vector<std::string> argv = {(fs::path(ZEVAVI_BIN_DIR) / "boxsim").string(),
                                     "--pty-link",
                                     tty_.string(),
                                     "--report",
                                     report_.string(),
                                     "--speed",
                                     "20"};
    for (const QString &arg : extra)
      argv.push_back(arg.toStdString());
    ASSERT_TRUE(process_.start(argv)) << "cannot start " << argv[0];
    for (int i = 0; i < 200 && !fs::exists(tty_); ++i)
      QTest::qWait(25);
    ASSERT_TRUE(fs::exists(tty_)) << "the box made no pty";
  }
  void power_cycle() { process_.signal(SIGUSR1); }
  // The box is taken off the fixture and the next one (the address plus one) powers on.
  void next_box() { process_.signal(SIGUSR2); }
  void stop() {
    if (process_.pid() > 0)
      process_.stop(SIGTERM, std::chrono::seconds(10));  // killed when it does not go in time
  }
  QJsonObject report() {
    return QJsonDocument::fromJson(QByteArray::fromStdString(read_file(report_))).object();
  }
  std::string tty() const { return tty_.string(); }
  // The box has taken `line` as a command (its report lists each one as it comes).
  bool took(const std::string &line) const {
    return read_file(report_).find("\"line\": \"" + line + "\"") != std::string::npos;
  }

 private:
  fs::path tty_, report_;
  zv_test::Child process_;
};

class Upgrade : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zevavi-e2e-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
    temp_dir = temp_dir_path();
    log_ = dir_ / "zevavi.log";
    box_ = std::make_unique<Box>(dir_);
    window_ = std::make_unique<VAzOdor>(dialogs_, nullptr, log_.string());
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    box_.reset();
    tftp_stop(0);
    if (!HasFailure())
      fs::remove_all(dir_);
    else
      std::fprintf(stderr, "kept for a look: %s\n", dir_.c_str());
  }

  void fill_inputs(const char *model, const fs::path &image) {
    window_->cbComPort->setEditText(QString::fromStdString(box_->tty()));
    window_->cbMachine->setCurrentText(QString::fromLatin1(model));
    ASSERT_NE(local_ip[0], '\0') << "the namespace gives the PC no address";
    window_->edtMachineIp->setText(QString::fromStdString(box_address_beside(local_ip)));
    window_->edtFilePath->setText(QString::fromStdString(image.string()));
  }
  void click(QPushButton *button) {
    ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString() << " is disabled";
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // Next, then Start answered Yes.
  void next_and_start() {
    click(window_->btnStatus);
    ASSERT_EQ(window_->btnStatus->text(), "Start")
        << (dialogs_.messages.empty() ? "" : dialogs_.messages.back());
    EXPECT_EQ(window_->pcKyCtrl->ActivePage(), window_->tabStatus);
    dialogs_.answers.push_back(true);
    click(window_->btnStatus);
  }
  // Runs the event loop until the worker has ended and handed the buttons back.
  bool wait_for_the_worker(int limit_ms = 240000) {
    pump_until([&] { return !window_->worker_alive() && window_->btnStatus->isEnabled(); }, limit_ms);
    deliver_posted();  // the worker's last posts
    return !window_->worker_alive() && window_->btnStatus->isEnabled();
  }
  // Whatever other threads posted to the window so far has landed once this returns.
  static void deliver_posted() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  QStringList lines() const {
    QStringList out;
    for (int i = 0; i < window_->lvStatusText->count(); ++i)
      out << window_->lvStatusText->item(i)->text();
    return out;
  }
  void expect_flashed(const QJsonObject &report, const char *target, const std::string &bytes) {
    SCOPED_TRACE(target);
    fs::path copy = dir_ / (std::string("expected-") + target);
    QJsonObject partition = report["partitions"].toObject()[target].toObject();
    ASSERT_FALSE(partition.isEmpty()) << "the box flashed nothing to " << target;
    EXPECT_EQ(partition["size"].toInteger(), qint64(bytes.size()));
    EXPECT_EQ(partition["sha256"].toString().toStdString(), sha256_of(bytes, copy));
  }

  fs::path dir_, log_;
  FakeDialogs dialogs_;
  std::unique_ptr<Box> box_;
  std::unique_ptr<VAzOdor> window_;
};

inline const QStringList lines_without_splash = to_list(upgrade_expect::lines_without_splash);

using upgrade_expect::ModelRun;

}  // namespace e2e_window
