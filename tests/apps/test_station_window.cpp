// The station window over simulated boxes on ptys, each with an address of its own on the
// loopback of a private network namespace: eight fixtures in continuous mode, five boxes a
// fixture, one box failing. What the grid, the totals, the failure list and the records say
// must be what the boxes report; closing mid-run asks once and leaves no box half done.
#include "apps/station/csvrows.h"
#include "apps/zevavi-station/stationwindow.h"
#include "comport/serportctl.h"
#include "lib/records.h"
#include "tests/comport/serport_test_util.h"
#include "tests/src/fake_dialogs.h"
#include "tests/support/fs.h"
#include "tests/support/process.h"
#include "tests/support/station_image.h"
#include "tests/support/upgrade_expect.h"
#include "widgets/skin/skinbuttonfamily.h"
#include "widgets/skin/skinedit.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using upgrade_expect::read_file;
using upgrade_expect::sha256_of;

constexpr size_t fixtures = 8, boxes_each = 5;
constexpr size_t faulty_fixture = 3, faulty_box = 3;  // the third box on the fourth fixture
constexpr const char *failing_step = "Upgrade the boot image on the machine.";

class StationWindowRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::getenv("ZEVAVI_IN_NETNS")) << "not in a network namespace of our own";
    zv_test::use_own_user_folders(dir_.path());
    image_ = zv_test::station_partitions();
    ASSERT_TRUE(write_sample_container(image_path().string(), image_));
    window_ = std::make_unique<StationWindow>(dialogs_, records().string());
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    for (auto &box : boxes_)
      box->stop(SIGTERM, std::chrono::seconds(10));
  }

  fs::path image_path() const { return dir_.path() / "firmware.nfi"; }
  fs::path records() const { return dir_.path() / "records.sqlite"; }
  fs::path tty(size_t i) const { return dir_.path() / ("tty" + std::to_string(i)); }
  fs::path report_path(size_t i) const { return dir_.path() / ("box" + std::to_string(i) + ".json"); }
  static std::string address(size_t i) { return "127.0.0." + std::to_string(20 + i); }
  QJsonObject report(size_t i) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(read_file(report_path(i)))).object();
  }

  // Boxes that stay off until powered on, each fixture with its own run of addresses.
  bool start_boxes() {
    for (size_t i = 0; i < fixtures; ++i) {
      char mac[18];
      std::snprintf(mac, sizeof mac, "00-10-18-%02X-00-01", unsigned(i));
      std::vector<std::string> args = {std::string(ZEVAVI_BIN_DIR) + "/boxsim",
                                       "--pty-link",
                                       tty(i).string(),
                                       "--report",
                                       report_path(i).string(),
                                       "--speed",
                                       "20",
                                       "--mac",
                                       mac,
                                       "--boot-delay-ms",
                                       "3600000"};
      if (i == faulty_fixture)
        args.insert(args.end(), {"--fault-box", std::to_string(faulty_box), "--fail-at", "flash0.boot"});
      boxes_.push_back(std::make_unique<zv_test::Child>());
      zv_test::SpawnOptions options;
      options.err = dir_.path() / ("box" + std::to_string(i) + ".err");
      if (!boxes_.back()->start(args, options))
        return false;
    }
    return pump_until([&] {
      for (size_t i = 0; i < fixtures; ++i)
        if (!fs::exists(tty(i)))
          return false;
      return true;
    });
  }

  // The operator's way in: the units from a units file, the model, the image by its dialog.
  void fill_in() {
    std::ofstream units(dir_.path() / "line.units");
    units << "# the line\n";
    for (size_t i = 0; i < fixtures; ++i)
      units << tty(i).string() << " " << address(i) << "\n";
    units.close();
    dialogs_.chosen_file = (dir_.path() / "line.units").string();
    window_->btnLoadUnits->click();
    dialogs_.chosen_file = image_path().string();
    window_->btnImage->click();
    window_->cbMachine->setCurrentText("KESTA");
    window_->edtPcAddress->setText("127.0.0.1");
    window_->edtPage->setText("127.0.0.1:0");
  }

  void expect_flashed(size_t i) {
    const QJsonObject box = report(i);
    const std::pair<const char *, const std::string *> wanted[] = {
        {"flash0.kernel", &image_.kernel}, {"flash0.boot", &image_.boot}, {"flash0.avail0", &image_.root}};
    for (const auto &[target, bytes] : wanted) {
      const QJsonObject partition = box["partitions"].toObject()[target].toObject();
      EXPECT_EQ(partition["size"].toInteger(), qint64(bytes->size())) << target;
      EXPECT_EQ(partition["sha256"].toString().toStdString(), sha256_of(*bytes, dir_.path() / "expected"))
          << target;
    }
  }

  // The records, one map of column to value a row, oldest first.
  std::vector<std::map<std::string, std::string>> recorded() {
    RecordStore store;
    std::string error;
    std::ostringstream csv;
    EXPECT_TRUE(store.open_existing(records().string(), error) && store.export_csv(csv, {}, error)) << error;
    const auto lines = csv_rows(csv.str());
    std::vector<std::map<std::string, std::string>> rows;
    for (size_t l = 1; l < lines.size(); ++l) {
      std::map<std::string, std::string> row;
      for (size_t c = 0; c < lines[0].size() && c < lines[l].size(); ++c)
        row[lines[0][c]] = lines[l][c];
      rows.push_back(row);
    }
    return rows;
  }

  void screenshot(const char *name) {
    const fs::path dir = fs::path(ZEVAVI_BIN_DIR) / ".." / "artifacts";
    fs::create_directories(dir);
    EXPECT_TRUE(window_->grab().save(QString::fromStdString((dir / name).string())));
  }

  zv_test::TempDir dir_{"zevavi-station-window"};
  SamplePartitions image_;
  FakeDialogs dialogs_;
  std::unique_ptr<StationWindow> window_;
  std::vector<std::unique_ptr<zv_test::Child>> boxes_;
};

// Start refuses what the main window's Next refuses, with the same words, and starts nothing.
TEST_F(StationWindowRun, StartRefusesAnIncompleteStation) {
  struct Case {
    const char *name, *units, *model;
    bool image;
    std::string message;
    const char *page = "";
  } cases[] = {
      {"no units", "", "KESTA", true, "Give the station its units: Add unit, or Load units."},
      {"two units on one port", "/dev/ttyS7 10.0.0.1\n/dev/ttyS7 10.0.0.2\n", "KESTA", true,
       "The port \"/dev/ttyS7\" is given to more than one unit."},
      {"no model", "/dev/ttyS7 10.0.0.1\n", "", true, "Please, Select Machine!!"},
      {"no image", "/dev/ttyS7 10.0.0.1\n", "MORVA", false, "Please, Select Image!!"},
      {"a page address without its port", "/dev/ttyS7 10.0.0.1\n", "MORVA", true,
       "Web page: \"0.0.0.0\" is not ADDRESS:PORT, such as 0.0.0.0:8080 or 127.0.0.1:0.", "0.0.0.0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<StationUnit> units;
    std::string error;
    std::istringstream lines(c.units);
    for (std::string line; std::getline(lines, line);) {
      StationUnit unit;
      ASSERT_TRUE(parse_station_unit(line, unit, error)) << error;
      units.push_back(unit);
    }
    window_->set_units(units);
    window_->cbMachine->setCurrentIndex(window_->cbMachine->findText(c.model));
    window_->edtImage->setText(c.image ? QString::fromStdString(image_path().string()) : QString());
    window_->edtPage->setText(c.page);
    dialogs_.messages.clear();
    window_->btnStart->click();
    EXPECT_EQ(dialogs_.messages, std::vector<std::string>{c.message});
    EXPECT_FALSE(window_->running());
  }
}

TEST_F(StationWindowRun, EightFixturesBoxAfterBoxThenClosedMidRun) {
  ASSERT_TRUE(start_boxes());
  fill_in();
  ASSERT_EQ(window_->grid->rowCount(), int(fixtures));
  // What the window saves, the command line reads back as the same units.
  dialogs_.saved_file = (dir_.path() / "saved.units").string();
  window_->btnSaveUnits->click();
  std::vector<StationUnit> shown, saved;
  std::string error;
  ASSERT_TRUE(window_->units(shown, error)) << error;
  ASSERT_TRUE(read_units_file(dialogs_.saved_file, saved, error)) << error;
  ASSERT_EQ(saved.size(), shown.size());
  for (size_t i = 0; i < saved.size(); ++i)
    EXPECT_EQ(saved[i].port + " " + saved[i].box, shown[i].port + " " + shown[i].box);
  window_->btnStart->click();
  ASSERT_TRUE(window_->running()) << testing::PrintToString(dialogs_.messages);
  ASSERT_TRUE(pump_until([&] {
    for (size_t i = 0; i < fixtures; ++i)
      if (window_->unit_view(i).line != "waiting for a box")
        return false;
    return true;
  }));
  // A unit stopped and started again before its first box then takes its boxes as the rest.
  window_->grid->selectRow(fixtures - 1);
  window_->btnStopUnit->click();
  ASSERT_TRUE(pump_until([&] { return window_->unit_view(fixtures - 1).line == "stopped"; }));
  EXPECT_TRUE(window_->running());
  window_->btnStartUnit->click();
  ASSERT_TRUE(pump_until([&] { return window_->unit_view(fixtures - 1).line == "waiting for a box"; }));
  for (auto &box : boxes_)
    box->signal(SIGUSR1);

  // Each fixture: its latest box's outcome is in the grid and the box has settled (booted
  // its new system, or stays at the prompt after its failure); the grid's row is checked
  // against the box, and the next box goes on.
  std::vector<size_t> seen(fixtures, 0);
  std::vector<std::vector<std::string>> macs(fixtures);
  bool midway_shot = false;
  auto advance = [&] {
    bool all_done = true;
    for (size_t i = 0; i < fixtures; ++i) {
      if (seen[i] == boxes_each)
        continue;
      all_done = false;
      const StationWindow::UnitView view = window_->unit_view(i);
      if (size_t(view.passed + view.failed) <= seen[i])
        continue;
      const bool fails = i == faulty_fixture && seen[i] + 1 == faulty_box;
      const QJsonObject box = report(i);
      if (box["state"].toString() != (fails ? "cfe" : "linux"))
        continue;
      SCOPED_TRACE("fixture " + std::to_string(i) + ", box " + std::to_string(seen[i] + 1));
      EXPECT_EQ(view.mac, box["mac"].toString().toStdString());
      EXPECT_EQ(view.lamp, fails ? UnitLamp::failed : UnitLamp::passed);
      EXPECT_EQ(view.failed, fails || (i == faulty_fixture && seen[i] >= faulty_box) ? 1 : 0);
      if (fails)
        EXPECT_EQ(view.step, failing_step);
      else
        expect_flashed(i);
      macs[i].push_back(view.mac);
      if (++seen[i] < boxes_each)
        boxes_[i]->signal(SIGUSR2);
    }
    if (!midway_shot && window_->total_passed() + window_->total_failed() >= int(fixtures * boxes_each / 2)) {
      screenshot("station-midrun.png");
      midway_shot = true;
    }
    return all_done;
  };
  ASSERT_TRUE(pump_until(advance, 400000));

  EXPECT_EQ(window_->total_passed(), int(fixtures * boxes_each - 1));
  EXPECT_EQ(window_->total_failed(), 1);
  // The station's page, served beside the window, counts the same.
  ASSERT_GT(window_->page_port(), 0);
  {
    zv_test::Child curl;
    zv_test::SpawnOptions options;
    options.out = dir_.path() / "units.json";
    ASSERT_TRUE(curl.start(
        {"curl", "-s", "-m", "30", "http://127.0.0.1:" + std::to_string(window_->page_port()) + "/api/units"},
        options));
    ASSERT_EQ(curl.wait_exit(std::chrono::seconds(60)), 0);
    EXPECT_NE(
        read_file(dir_.path() / "units.json")
            .find("\"totals\":{\"passed\":" + std::to_string(fixtures * boxes_each - 1) + ",\"failed\":1"),
        std::string::npos)
        << read_file(dir_.path() / "units.json");
  }
  ASSERT_EQ(window_->failures().size(), 1u);
  const StationWindow::Failure failure = window_->failures().front();
  EXPECT_EQ(failure.unit, faulty_fixture);
  EXPECT_EQ(failure.port, tty(faulty_fixture).string());
  EXPECT_EQ(failure.mac, macs[faulty_fixture][faulty_box - 1]);
  EXPECT_EQ(failure.step, failing_step);
  EXPECT_EQ(failure.code, "-4");

  const auto rows = recorded();
  ASSERT_EQ(rows.size(), fixtures * boxes_each);
  std::map<std::string, size_t> counted;
  for (const auto &row : rows) {
    size_t i = 0;
    while (i < fixtures && row.at("port") != tty(i).string())
      ++i;
    ASSERT_LT(i, fixtures);
    const size_t k = counted[row.at("port")]++;
    SCOPED_TRACE(row.at("port") + " box " + std::to_string(k + 1));
    EXPECT_EQ(row.at("box"), address(i));
    EXPECT_EQ(row.at("mac"), macs[i][k]);
    const bool fails = i == faulty_fixture && k + 1 == faulty_box;
    EXPECT_EQ(row.at("result"), fails ? "fail" : "pass");
    EXPECT_EQ(row.at("failed_step"), fails ? failing_step : "");
    EXPECT_EQ(row.at("box_code"), fails ? "-4" : "");
  }
  screenshot("station-end.png");
  // The failing fixture's records as the window lists them: its five boxes, one failed.
  const QTableWidget *listed = window_->show_records(faulty_fixture);
  ASSERT_NE(listed, nullptr) << testing::PrintToString(dialogs_.messages);
  ASSERT_EQ(listed->rowCount(), int(boxes_each));
  int result_column = 0;
  while (result_column < listed->columnCount() &&
         listed->horizontalHeaderItem(result_column)->text() != "result")
    ++result_column;
  ASSERT_LT(result_column, listed->columnCount());
  for (int r = 0; r < listed->rowCount(); ++r)
    EXPECT_EQ(listed->item(r, result_column)->text(), r + 1 == int(faulty_box) ? "fail" : "pass") << r;

  // A unit's console shows what its box said, up to the new system's last words.
  TComTerminal *console = window_->show_console(0);
  ASSERT_NE(console, nullptr);
  EXPECT_TRUE(pump_until([&] {
    QBuffer screen;
    screen.open(QIODevice::WriteOnly);
    console->SaveToStream(screen);
    return screen.data().contains("Please press Enter to activate this console.");
  }));

  // Two more boxes go on and are being flashed when the operator closes the window.
  for (size_t i : {0, 1})
    boxes_[i]->signal(SIGUSR2);
  ASSERT_TRUE(pump_until([&] {
    for (size_t i : {0, 1})
      if (window_->unit_view(i).lamp != UnitLamp::flashing || window_->unit_view(i).step.empty())
        return false;
    return true;
  }));
  dialogs_.answers = {true};
  window_->close();
  window_->close();
  EXPECT_EQ(dialogs_.questions.size(), 1u);
  ASSERT_TRUE(pump_until([&] { return !window_->running() && !window_->isVisible(); }, 120000));
  const auto after = recorded();
  ASSERT_EQ(after.size(), fixtures * boxes_each + 2);
  for (size_t r = rows.size(); r < after.size(); ++r) {
    EXPECT_EQ(after[r].at("result"), "pass");
    EXPECT_FALSE(after[r].at("ended").empty());
  }
  // Each was flashed whole and boots the system it was given.
  for (size_t i : {0, 1}) {
    EXPECT_TRUE(pump_until([&] { return report(i)["state"].toString() == "linux"; }, 60000))
        << report(i)["state"].toString().toStdString();
    expect_flashed(i);
  }
}

}  // namespace
