// The main window: its controls as the form lays them out, start-up, shortcuts, status
// lines from any thread, dragging, and closing.
#include "src/formkymain.h"

#include "lib/log.h"
#include "platform/paths.h"
#include "tests/support/fs.h"
#include "src/boxmodels.h"
#include "src/wizardstate.h"
#include "tests/src/fake_dialogs.h"
#include "tests/support/fifo_watchdog.h"
#include "tools/demo/sampleimage.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using zv_test::read_file;

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("zevavi-window-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_);
    ::setenv("XDG_CACHE_HOME", base_.c_str(), 1);
    temp_dir = temp_dir_path();
    log_ = base_ / "zevavi.log";
    window_ = std::make_unique<VAzOdor>(dialogs_, nullptr, log_.string());
  }
  void TearDown() override {
    window_.reset();
    fs::remove_all(base_);
  }
  QStringList status_lines() const {
    QStringList lines;
    for (int i = 0; i < window_->lvStatusText->count(); ++i)
      lines << window_->lvStatusText->item(i)->text();
    return lines;
  }

  fs::path base_, log_;
  FakeDialogs dialogs_;
  std::unique_ptr<VAzOdor> window_;
};

struct ControlRow {
  const char *name;
  const char *parent;
  QRect geometry;
  const char *caption;  // text or caption; null where the control has none to check
  friend void PrintTo(const ControlRow &r, std::ostream *os) { *os << r.name; }
};

class MainWindowControls : public MainWindow, public ::testing::WithParamInterface<ControlRow> {};

TEST_P(MainWindowControls, NamedPlacedAndCaptioned) {
  const ControlRow &row = GetParam();
  auto *widget = window_->findChild<QWidget *>(QString::fromLatin1(row.name));
  ASSERT_NE(widget, nullptr) << row.name;
  EXPECT_EQ(widget->geometry(), row.geometry) << row.name;
  QWidget *parent = widget->parentWidget();
  while (parent && parent->objectName().isEmpty())  // the tab widget's internal stack
    parent = parent->parentWidget();
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(parent->objectName().toStdString(), row.parent) << row.name;
  if (!row.caption)
    return;
  QString text;
  if (auto *label = qobject_cast<QLabel *>(widget))
    text = label->text();
  else if (auto *button = qobject_cast<QPushButton *>(widget))
    text = button->text();
  else if (auto *edit = qobject_cast<QLineEdit *>(widget))
    text = edit->text();
  EXPECT_EQ(text.toStdString(), row.caption) << row.name;
}

INSTANTIATE_TEST_SUITE_P(
    Form, MainWindowControls,
    ::testing::Values(ControlRow{"imgTop", "KyMain", {0, 0, 352, 66}, nullptr},
                      ControlRow{"imgBottom", "KyMain", {0, 209, 351, 45}, nullptr},
                      ControlRow{"RTFLabel", "KyMain", {34, 43, 289, 17}, nullptr},
                      ControlRow{"plComTerminal", "KyMain", {0, 255, 352, 296}, nullptr},
                      ControlRow{"ComTerminal", "plComTerminal", {0, 0, 352, 296}, nullptr},
                      ControlRow{"pcKyCtrl", "KyMain", {0, 66, 352, 161}, nullptr},
                      ControlRow{"KyBlockIndicator1", "pcKyCtrl", {24, 160, 50, 50}, nullptr},
                      ControlRow{"lbComPort", "tabInput", {3, 27, 50, 13}, "Port"},
                      ControlRow{"lbMachine", "tabInput", {4, 59, 49, 13}, "Machine"},
                      ControlRow{"lbFile", "tabInput", {3, 93, 50, 13}, "Image"},
                      ControlRow{"lbLocalIp", "tabInput", {167, 27, 59, 13}, "Local IP"},
                      ControlRow{"lbMachineIp", "tabInput", {167, 59, 59, 13}, "Machine IP"},
                      ControlRow{"cbComPort", "tabInput", {63, 23, 96, 21}, nullptr},
                      ControlRow{"cbMachine", "tabInput", {63, 55, 96, 21}, nullptr},
                      ControlRow{"edtLocalIp", "tabInput", {235, 23, 96, 21}, nullptr},
                      ControlRow{"edtMachineIp", "tabInput", {235, 55, 96, 21}, "192.168.102.45"},
                      ControlRow{"edtFilePath", "tabInput", {63, 89, 252, 21}, ""},
                      ControlRow{"btnOpenFileDialog", "tabInput", {315, 89, 16, 21}, ">"},
                      ControlRow{"lvStatusText", "tabStatus", {12, 11, 320, 103}, nullptr},
                      ControlRow{"pbStatusGage", "tabStatus", {12, 113, 320, 15}, nullptr},
                      ControlRow{"btnStatus", "KyMain", {176, 218, 80, 27}, "Next"},
                      ControlRow{"btnExit", "KyMain", {264, 218, 80, 27}, "Exit"}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

TEST_F(MainWindow, StartsOnTheCompactInputPage) {
  EXPECT_EQ(window_->windowTitle(), "Ky+ Util");
  EXPECT_EQ(window_->outer_height(), 281);
  EXPECT_EQ(window_->width(), 352);
  EXPECT_EQ(window_->pcKyCtrl->ActivePage(), window_->tabInput);
  EXPECT_FALSE(window_->tabInput->TabVisible());
  EXPECT_FALSE(window_->tabStatus->TabVisible());
  EXPECT_TRUE(window_->plComTerminal->isHidden());
  EXPECT_TRUE(window_->RTFLabel->isHidden());
  EXPECT_EQ(window_->pbStatusGage->Position(), 0);
  EXPECT_EQ(window_->pbStatusGage->Min(), 0);
  EXPECT_EQ(window_->pbStatusGage->Max(), 100);
  EXPECT_EQ(window_->status_count(), 0);
  EXPECT_FALSE(window_->edtLocalIp->isEnabled());
  EXPECT_FALSE(window_->edtFilePath->isEnabled());
  EXPECT_EQ(window_->edtLocalIp->text().toStdString(), std::string(local_ip));
  EXPECT_EQ(window_->RTFLabel->PlainText().toStdString(), "Please, start or restart your machine!");
}

// A log that is not beside the program is where nobody would look: the window names it,
// in full in the tooltip; beside the program it says nothing.
TEST_F(MainWindow, SaysWhereTheLogIsOnlyWhenNotBesideTheProgram) {
  EXPECT_FALSE(window_->lbLogPath->isHidden());
  EXPECT_EQ(window_->lbLogPath->toolTip().toStdString(), log_.string());
  EXPECT_TRUE(window_->lbLogPath->text().startsWith("Log: /")) << window_->lbLogPath->text().toStdString();

  window_.reset();
  const fs::path beside = fs::path(executable_path()).parent_path() / "zevavi-window-test.log";
  window_ = std::make_unique<VAzOdor>(dialogs_, nullptr, beside.string());
  EXPECT_TRUE(window_->lbLogPath->isHidden());
  window_.reset();
  fs::remove(beside);
  fs::remove(beside.string() + ".1");
}

TEST_F(MainWindow, ListsHoldTheirItemsWithNothingChosen) {
  QStringList ports, machines, models;
  for (int i = 0; i < 9 && i < window_->cbComPort->count(); ++i)
    ports << window_->cbComPort->itemText(i);
  for (int i = 0; i < window_->cbMachine->count(); ++i)
    machines << window_->cbMachine->itemText(i);
  // The list's order is the machine index the rest of the upgrade reads.
  for (const BoxModel &model : box_models)
    models << model.name;
  EXPECT_EQ(ports, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}));
  EXPECT_EQ(machines, models);
  EXPECT_EQ(window_->cbComPort->currentText(), "");
  EXPECT_EQ(window_->cbMachine->currentText(), "");
}

TEST_F(MainWindow, TabOrderFollowsTheForm) {
  QStringList wanted = {"btnStatus", "ComTerminal", "cbComPort",         "edtMachineIp", "edtFilePath",
                        "cbMachine", "edtLocalIp",  "btnOpenFileDialog", "btnExit"};
  QStringList seen;
  QWidget *at = window_->btnStatus;
  for (int guard = 0; guard < 200 && seen.size() < wanted.size(); ++guard) {
    if (wanted.contains(at->objectName()) && !seen.contains(at->objectName()))
      seen << at->objectName();
    at = at->nextInFocusChain();
  }
  EXPECT_EQ(seen, wanted);
}

TEST_F(MainWindow, ConstructorLogsToAFreshFile) {
  window_.reset();
  std::ofstream(log_) << "old run\n";
  window_ = std::make_unique<VAzOdor>(dialogs_, nullptr, log_.string());
  EXPECT_TRUE(log_enabled(LOG_HEX));
  EXPECT_EQ(read_file(log_), "");
}

struct ShortcutStep {
  int key;
  bool shift, ctrl;
  bool console_shown;
  int height;
  bool exit_enabled;
};

TEST_F(MainWindow, ShortcutsToggleConsoleAndExit) {
  const ShortcutStep steps[] = {
      {0x78, true, true, true, 578, true},      // Ctrl+Shift+F9: console shows
      {0x78, false, true, true, 578, true},     // F9 with Ctrl only: nothing
      {0x78, true, false, true, 578, true},     // F9 with Shift only: nothing
      {0x78, true, true, false, 281, true},     // again: hides
      {0x7B, true, true, false, 281, false},    // Ctrl+Shift+F12: Exit disabled
      {0x7B, false, false, false, 281, false},  // bare F12: nothing
      {0x7B, true, true, false, 281, true},     // again: enabled
      {0x41, true, true, false, 281, true},     // another key: nothing
  };
  int n = 0;
  for (const ShortcutStep &s : steps) {
    SCOPED_TRACE("step " + std::to_string(n++));
    window_->aeKyMainShortCut(s.key, s.shift, s.ctrl);
    EXPECT_EQ(!window_->plComTerminal->isHidden(), s.console_shown);
    EXPECT_EQ(window_->outer_height(), s.height);
    EXPECT_EQ(window_->btnExit->isEnabled(), s.exit_enabled);
  }
}

TEST_F(MainWindow, KeysReachTheShortcutOnceWhateverHasTheFocus) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  window_->edtMachineIp->setFocus();
  QTest::keyClick(window_->windowHandle(), Qt::Key_F9, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(window_->outer_height(), 578);
  QTest::keyClick(window_->windowHandle(), Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(window_->btnExit->isEnabled());
  QTest::keyClick(window_->windowHandle(), Qt::Key_F9, Qt::ControlModifier);
  EXPECT_EQ(window_->outer_height(), 578);
}

TEST_F(MainWindow, StatusLinesAreNumberedAndTheLastSelected) {
  window_->show_status(10, "Extract the image.");
  window_->show_status(20, "Enter into the CFE mode.");
  window_->show_status(30, "Set IP address.");
  EXPECT_EQ(status_lines(),
            QStringList({"1. Extract the image.", "2. Enter into the CFE mode.", "3. Set IP address."}));
  EXPECT_EQ(window_->lvStatusText->currentRow(), 2);
  EXPECT_EQ(window_->pbStatusGage->Position(), 30);
}

TEST_F(MainWindow, StatusWithoutTextCountsAndMovesTheBarOnly) {
  window_->show_status(10, "a");
  window_->show_status(90, nullptr);
  EXPECT_EQ(window_->pbStatusGage->Position(), 90);
  window_->show_status(100, "b");
  EXPECT_EQ(status_lines(), QStringList({"1. a", "3. b"}));
}

TEST_F(MainWindow, StatusFromAWorkerArrivesInOrderOnTheGuiThread) {
  constexpr int lines = 300;
  std::thread worker([&] {
    for (int i = 1; i <= lines; ++i)
      window_->show_status(i % 101, ("line " + std::to_string(i)).c_str());
  });
  worker.join();
  QTRY_COMPARE_WITH_TIMEOUT(window_->lvStatusText->count(), lines, 20000);
  for (int i = 1; i <= lines; ++i)
    ASSERT_EQ(window_->lvStatusText->item(i - 1)->text().toStdString(),
              std::to_string(i) + ". line " + std::to_string(i));
  EXPECT_EQ(window_->status_count(), lines);
}

TEST_F(MainWindow, BannerDragMovesTheWindow) {
  window_->move(100, 100);
  QPoint start = window_->pos();
  window_->imgTopMouseDown(start + QPoint(40, 20));
  window_->drag_to(start + QPoint(70, 10));
  window_->drag_end();
  window_->drag_to(start + QPoint(500, 500));  // released: no more moving
  EXPECT_EQ(window_->pos(), start + QPoint(30, -10));
}

TEST_F(MainWindow, CloseRemovesPartitionFilesAndClosesTheLog) {
  std::string error;
  ASSERT_TRUE(make_temp_dir(error)) << error;
  for (const char *name :
       {"kernel_cfe_auto.bin", "splash_cfe_auto.bin", "boot_cfe_auto.jffs2", "root_cfe_auto.jffs2"})
    std::ofstream(fs::path(temp_dir) / name) << "partition";
  window_->close();
  EXPECT_FALSE(fs::exists(temp_dir));
  EXPECT_FALSE(log_enabled(LOG_CRIT));
  std::string log = read_file(log_);
  EXPECT_NE(log.find("[VAzOdor::rm_dir:"), std::string::npos) << log;
  EXPECT_NE(log.find("removed directory [" + temp_dir + "]\n"), std::string::npos) << log;
}

// The window as a person sees it, at both heights, kept beside the build for a look.
TEST_F(MainWindow, ScreenshotsAtBothHeights) {
  fs::path dir = fs::path(ZEVAVI_BIN_DIR) / ".." / "artifacts";
  fs::create_directories(dir);
  window_->show();
  window_->show_status(10, "Extract the image.");
  QPixmap compact = window_->grab();
  EXPECT_EQ(compact.height(), 281 - VAzOdor::designed_caption_height);
  EXPECT_TRUE(compact.save(QString::fromStdString((dir / "window-281.png").string())));
  window_->aeKyMainShortCut(0x78, true, true);
  QPixmap full = window_->grab();
  EXPECT_EQ(full.height(), 578 - VAzOdor::designed_caption_height);
  EXPECT_TRUE(full.save(QString::fromStdString((dir / "window-578.png").string())));
}

// Where the page control's lower edge lies over the bottom artwork, both pages must show the
// artwork there, not a band of the bare form.
TEST_F(MainWindow, PagesShowTheBottomArtworkBeneathTheirLowerEdge) {
  window_->show();
  const QImage artwork = window_->imgBottom->pixmap().toImage();
  const QRect overlap = window_->pcKyCtrl->geometry() & window_->imgBottom->geometry();
  ASSERT_FALSE(overlap.isEmpty());
  // The log's path is written over the band's top rows; its letters are not the band.
  const QRect label = window_->lbLogPath->isHidden() ? QRect() : window_->lbLogPath->geometry();
  for (int page = 0; page < 2; ++page) {
    SCOPED_TRACE(page == 0 ? "input page" : "status page");
    window_->pcKyCtrl->SetActivePageIndex(page);
    const QImage shown = window_->grab().toImage();
    int wrong = 0;
    for (int y = overlap.top(); y <= overlap.bottom(); ++y)
      for (int x = overlap.left(); x < window_->btnStatus->x(); ++x) {
        if (label.contains(x, y))
          continue;
        QPoint in_art = QPoint(x, y) - window_->imgBottom->pos();
        wrong += shown.pixelColor(x, y) != artwork.pixelColor(in_art);
      }
    EXPECT_EQ(wrong, 0) << "of " << overlap.height() * window_->btnStatus->x() << " pixels";
  }
}

// ---- Start: the partition folder and the chosen image under hostile input ----

const char *const partition_names[] = {"kernel_cfe_auto.bin", "splash_cfe_auto.bin", "boot_cfe_auto.jffs2",
                                       "root_cfe_auto.jffs2"};

// Everything below `dir`, as relative paths, so a test can say "nothing was written there".
std::vector<std::string> listing(const fs::path &dir) {
  std::vector<std::string> names;
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(dir, ec)))
    for (const auto &entry : fs::recursive_directory_iterator(dir, ec))
      names.push_back(fs::relative(entry.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

class StartWindow : public MainWindow {
 protected:
  void SetUp() override {
    MainWindow::SetUp();
    // The archive component's own message boxes are modal; here they are recorded.
    window_->ZipArchiver.OnZipDialog() = [this](TCustomZipArchiver *, const std::string &, std::string &text,
                                                int &result, TMsgDlgButtons) {
      zip_boxes_.push_back(text);
      result = 1;
    };
  }
  // Start as the wizard button runs it, answered Yes; the port is not needed to prepare.
  void start_with(const fs::path &image) {
    image_path = image.string();
    window_->btnStatus->setText(QStringLiteral("Start"));
    dialogs_.answers = {true};
    window_->btnStatusClick();
  }
  // What a refused Start leaves: one line after the first, 0 %, both buttons back, no
  // worker, the refusal also told in a message, and no partition file anywhere.
  void expect_refused(const std::string &line) {
    EXPECT_EQ(status_lines().join("\n").toStdString(), "1. Extract the image.\n2. " + line);
    EXPECT_EQ(window_->pbStatusGage->Position(), 0);
    EXPECT_TRUE(window_->btnStatus->isEnabled());
    EXPECT_TRUE(window_->btnExit->isEnabled());
    EXPECT_FALSE(window_->worker_alive());
    EXPECT_EQ(dialogs_.messages, std::vector<std::string>({line}));
    EXPECT_EQ(zip_boxes_, std::vector<std::string>{}) << "the image reached the archive component";
    for (const char *name : partition_names)
      EXPECT_FALSE(fs::exists(fs::symlink_status(fs::path(temp_dir) / name))) << name;
    EXPECT_NE(read_file(log_).find(line), std::string::npos) << "the refusal is not in the log";
  }
  // Leaves a started upgrade (its worker finds no open port) the way the user would.
  void previous() {
    window_->btnStatusClick();
    EXPECT_FALSE(window_->worker_alive());
  }
  std::vector<std::string> zip_boxes_;
};

// What stands where the partition folder should be.
enum class Planted { link_to_folder, regular_file, foreign_folder, parent_link };

struct FolderRow {
  const char *name;
  Planted planted;
  bool zip_image;      // the image is a zip archive rather than a container
  const char *reason;  // the refusal's reason
  bool parent;         // the refused folder is the partition folder's parent
  friend void PrintTo(const FolderRow &r, std::ostream *os) { *os << r.name; }
};

class StartFolder : public StartWindow, public ::testing::WithParamInterface<FolderRow> {};

TEST_P(StartFolder, RefusedFolderStopsStartAndNothingIsWritten) {
  const FolderRow &row = GetParam();
  if (row.planted == Planted::foreign_folder && ::geteuid() != 0)
    GTEST_SKIP() << "only root can make a folder of another user here";
  SamplePartitions parts = make_sample_partitions(3);
  fs::path image = base_ / (row.zip_image ? "fw.zip" : "fw.nfi");
  if (row.zip_image)
    ASSERT_TRUE(write_sample_zip(image.string(), base_.string(), parts)) << "Info-ZIP zip is needed";
  else
    ASSERT_TRUE(write_sample_container(image.string(), parts));

  fs::path elsewhere = base_ / "elsewhere";
  fs::create_directories(elsewhere);
  fs::path parent = fs::path(temp_dir).parent_path();
  switch (row.planted) {
    case Planted::link_to_folder:
      fs::create_directories(parent);
      fs::create_directory_symlink(elsewhere, temp_dir);
      break;
    case Planted::regular_file:
      fs::create_directories(parent);
      std::ofstream(temp_dir) << "not a folder";
      break;
    case Planted::foreign_folder:
      // A stranger's file inside keeps the folder from being removed at Start.
      fs::create_directories(temp_dir);
      std::ofstream(fs::path(temp_dir) / "notes.txt") << "theirs";
      ASSERT_EQ(::chown(temp_dir.c_str(), 4242, 4242), 0);
      break;
    case Planted::parent_link:
      fs::create_directory_symlink(elsewhere, parent);
      break;
  }
  const std::vector<std::string> before =
      listing(row.planted == Planted::foreign_folder ? fs::path(temp_dir) : elsewhere);

  start_with(image);

  std::string folder = row.parent ? parent.string() : temp_dir;
  expect_refused("The temporary folder " + folder + " is not safe to use (" + row.reason + ").");
  EXPECT_EQ(listing(elsewhere), std::vector<std::string>{});
  switch (row.planted) {
    case Planted::link_to_folder:
      EXPECT_TRUE(fs::is_symlink(temp_dir));
      break;
    case Planted::regular_file:
      EXPECT_EQ(read_file(temp_dir), "not a folder");
      break;
    case Planted::foreign_folder:
      EXPECT_EQ(listing(temp_dir), before);
      break;
    case Planted::parent_link:
      EXPECT_TRUE(fs::is_symlink(parent));
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Start, StartFolder,
    ::testing::Values(
        FolderRow{"LinkContainer", Planted::link_to_folder, false, "it is a symbolic link", false},
        FolderRow{"LinkZip", Planted::link_to_folder, true, "it is a symbolic link", false},
        FolderRow{"FileContainer", Planted::regular_file, false, "it is not a directory", false},
        FolderRow{"ForeignFolderContainer", Planted::foreign_folder, false, "it belongs to another user",
                  false},
        FolderRow{"ForeignFolderZip", Planted::foreign_folder, true, "it belongs to another user", false},
        FolderRow{"ParentLinkContainer", Planted::parent_link, false, "it is a symbolic link", true}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

// The chosen image: only a regular file, its kind told by its own bytes.
enum class Chosen {
  fifo,
  folder,
  dev_null,
  zip_named_in_capitals,
  container_under_zips,
  link_to_container,
  unknown_bytes,
  empty_file,
  missing
};

struct ImageRow {
  const char *name;
  Chosen chosen;
  // The refusal, with "%p" for the image path; null when the image is prepared.
  const char *refusal;
  friend void PrintTo(const ImageRow &r, std::ostream *os) { *os << r.name; }
};

class StartImage : public StartWindow, public ::testing::WithParamInterface<ImageRow> {};

TEST_P(StartImage, OnlyARegularFileOfAKnownKindIsPrepared) {
  const ImageRow &row = GetParam();
  SamplePartitions parts = make_sample_partitions(11);
  fs::path image;
  switch (row.chosen) {
    case Chosen::fifo:
      image = base_ / "fw.nfi";
      ASSERT_EQ(::mkfifo(image.c_str(), 0600), 0);
      break;
    case Chosen::folder:
      image = base_ / "fw.nfi";
      fs::create_directories(image);
      break;
    case Chosen::dev_null:
      image = "/dev/null";
      break;
    case Chosen::zip_named_in_capitals:
      image = base_ / "FW.ZIP";
      ASSERT_TRUE(write_sample_zip(image.string(), base_.string(), parts)) << "Info-ZIP zip is needed";
      break;
    case Chosen::container_under_zips:
      image = base_ / "zips" / "fw.nfi";
      fs::create_directories(image.parent_path());
      ASSERT_TRUE(write_sample_container(image.string(), parts));
      break;
    case Chosen::link_to_container:
      ASSERT_TRUE(write_sample_container((base_ / "real.nfi").string(), parts));
      image = base_ / "chosen.nfi";
      fs::create_symlink(base_ / "real.nfi", image);
      break;
    case Chosen::unknown_bytes:
      image = base_ / "fw.nfi";
      std::ofstream(image, std::ios::binary) << "MZ" << parts.kernel.substr(0, 5000);
      break;
    case Chosen::empty_file:
      image = base_ / "fw.zip";
      std::ofstream(image, std::ios::binary).flush();
      break;
    case Chosen::missing:
      image = base_ / "gone.zip";
      break;
  }

  FifoWatchdog watchdog(image, std::chrono::seconds(10));
  start_with(image);
  ASSERT_FALSE(watchdog.finish()) << "Start waited on the FIFO until the watchdog wrote to it";

  if (row.refusal) {
    std::string line = row.refusal;
    line.replace(line.find("%p"), 2, image.string());
    expect_refused(line);
    return;
  }
  EXPECT_TRUE(dialogs_.messages.empty()) << dialogs_.messages.front();
  EXPECT_EQ(zip_boxes_, std::vector<std::string>{});
  ASSERT_FALSE(status_lines().isEmpty());
  EXPECT_EQ(status_lines().front().toStdString(), "1. Extract the image.");
  const bool zip = row.chosen == Chosen::zip_named_in_capitals;
  const std::string *want[] = {&parts.kernel, zip ? &parts.splash : nullptr, &parts.boot, &parts.root};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(partition_names[i]);
    fs::path file = fs::path(temp_dir) / partition_names[i];
    if (!want[i]) {
      EXPECT_FALSE(fs::exists(file));
      continue;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
    EXPECT_TRUE(read_file(file) == *want[i]);
  }
  previous();
}

INSTANTIATE_TEST_SUITE_P(
    Start, StartImage,
    ::testing::Values(ImageRow{"Fifo", Chosen::fifo, "The image %p is not a regular file."},
                      ImageRow{"Folder", Chosen::folder, "The image %p is not a regular file."},
                      ImageRow{"DevNull", Chosen::dev_null, "The image %p is not a regular file."},
                      ImageRow{"ZipNamedInCapitals", Chosen::zip_named_in_capitals, nullptr},
                      ImageRow{"ContainerUnderZips", Chosen::container_under_zips, nullptr},
                      ImageRow{"LinkToContainer", Chosen::link_to_container, nullptr},
                      ImageRow{"UnknownBytes", Chosen::unknown_bytes,
                               "The image %p is neither a zip archive nor an image container."},
                      ImageRow{"EmptyFile", Chosen::empty_file,
                               "The image %p is neither a zip archive nor an image container."},
                      ImageRow{"Missing", Chosen::missing,
                               "The image %p cannot be opened (No such file or directory)."}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

struct LogPathRow {
  const char *exe, *name, *log;
  friend void PrintTo(const LogPathRow &r, std::ostream *os) { *os << r.exe; }
};

class LogPathRule : public ::testing::TestWithParam<LogPathRow> {};

TEST_P(LogPathRule, BesideTheExecutableOnlyWhenNamedSo) {
  EXPECT_EQ(log_path_for(GetParam().exe, GetParam().name), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LogPathRule,
    ::testing::Values(LogPathRow{"C:\\tools\\ZeVavi.exe", "ZeVavi.exe", "C:\\tools\\zevavi.log"},
                      LogPathRow{"C:\\tools\\zevavi.exe", "ZeVavi.exe", "zevavi.log"},
                      LogPathRow{"/opt/zv/bin/ZeVavi", "ZeVavi", "/opt/zv/bin/zevavi.log"},
                      LogPathRow{"/home/me/ZeVavi/build/ZeVavi", "ZeVavi",
                                 "/home/me/ZeVavi/build/zevavi.log"},
                      LogPathRow{"/home/me/ZeVavi/build/zevavi-demo", "ZeVavi", "zevavi.log"},
                      LogPathRow{"/opt/ZeVavi2", "ZeVavi", "zevavi.log"},
                      LogPathRow{"ZeVavi", "ZeVavi", "zevavi.log"}, LogPathRow{"", "ZeVavi", "zevavi.log"}));

// The real program: an old zevavi.log beside it is replaced by a fresh one at start, and
// kept as the evidence of the run before, the older ones shifting one back.
TEST(Program, FreshStartReplacesTheOldLogBesideTheExecutable) {
  fs::path exe = fs::path(ZEVAVI_BIN_DIR) / "ZeVavi";
  fs::path log = fs::path(ZEVAVI_BIN_DIR) / "zevavi.log";
  fs::path previous = fs::path(ZEVAVI_BIN_DIR) / "zevavi.log.1";
  std::ofstream(previous) << "the run before that\n";
  std::ofstream(log) << "an old run\n";
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  program.setProcessEnvironment(env);
  program.start(QString::fromStdString(exe.string()), {});
  ASSERT_TRUE(program.waitForStarted(10000));
  bool fresh = false;
  for (int i = 0; i < 200 && !fresh; ++i) {
    QTest::qWait(50);
    fresh = fs::exists(log) && read_file(log).find("an old run") == std::string::npos;
  }
  program.kill();
  program.waitForFinished(10000);
  EXPECT_TRUE(fresh);
  EXPECT_EQ(read_file(previous), "an old run\n");
  EXPECT_EQ(read_file(fs::path(ZEVAVI_BIN_DIR) / "zevavi.log.2"), "the run before that\n");
}

}  // namespace
