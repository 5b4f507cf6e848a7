// zevavi-flash --station over simulated boxes, each on a pty of its own and an address of its
// own on the loopback of a private network namespace: the fixture shared by the station
// tests and the soak.
#pragma once

#include "tests/support/csv.h"
#include "tests/support/fs.h"
#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/station_image.h"
#include "tests/support/upgrade_expect.h"
#include "tests/support/wait.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

namespace e2e_station {

namespace fs = std::filesystem;
using upgrade_expect::read_file;
using upgrade_expect::sha256_of;

// One box of the station and how it is to misbehave (nothing when empty).
struct BoxPlan {
  std::vector<std::string> faults;
  int exit = 0;  // the exit code its unit must end with
};

class StationRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::getenv("ZEVAVI_IN_NETNS")) << "not in a network namespace of our own";
    zv_test::use_own_user_folders(dir_.path());
    image_ = zv_test::station_partitions();
    image_path_ = dir_.path() / "firmware.nfi";
    ASSERT_TRUE(write_sample_container(image_path_.string(), image_));
  }

  fs::path records() const { return dir_.path() / "records.sqlite"; }
  fs::path tty(size_t i) const { return dir_.path() / ("tty" + std::to_string(i)); }
  fs::path report_path(size_t i) const { return dir_.path() / ("box" + std::to_string(i) + ".json"); }
  static std::string address(size_t i) { return "127.0.0." + std::to_string(20 + i); }

  // Starts the boxes, runs the station over them and returns its exit code.
  int run(const std::vector<BoxPlan> &plans) {
    if (!start_boxes(plans))
      return -3;
    zv_test::Child flash;
    if (!start_station(flash, plans.size(), {}))
      return -2;
    const int code = flash.wait_exit(std::chrono::seconds(500));
    for (auto &box : boxes_)
      box->stop(SIGTERM, std::chrono::seconds(10));
    return code;
  }

  // Starts the simulated box of fixture `i` with `faults`, in place of one there before.
  bool start_box(size_t i, const std::vector<std::string> &faults) {
    std::vector<std::string> args = {std::string(ZEVAVI_BIN_DIR) + "/boxsim",
                                     "--pty-link",
                                     tty(i).string(),
                                     "--report",
                                     report_path(i).string(),
                                     "--speed",
                                     "20"};
    args.insert(args.end(), faults.begin(), faults.end());
    auto box = std::make_unique<zv_test::Child>();
    zv_test::SpawnOptions options;
    options.err = dir_.path() / ("box" + std::to_string(i) + ".err");
    if (!box->start(args, options))
      return false;
    if (i < boxes_.size())
      boxes_[i] = std::move(box);
    else
      boxes_.push_back(std::move(box));
    return true;
  }

  bool start_boxes(const std::vector<BoxPlan> &plans) {
    boxes_.clear();
    for (size_t i = 0; i < plans.size(); ++i)
      if (!start_box(i, plans[i].faults))
        return false;
    for (size_t i = 0; i < plans.size(); ++i)
      if (!zv_test::wait_until([&] { return fs::exists(tty(i)); }, std::chrono::seconds(10)))
        return false;
    return true;
  }

  bool start_station(zv_test::Child &flash, size_t units, const std::vector<std::string> &extra,
                     const fs::path &input = {}) {
    std::vector<std::string> args = {std::string(ZEVAVI_BIN_DIR) + "/zevavi-flash",
                                     "--station",
                                     "--model",
                                     "KESTA",
                                     "--pc-address",
                                     "127.0.0.1",
                                     "--json",
                                     "--log",
                                     (dir_.path() / "zevavi.log").string(),
                                     "--timeout",
                                     "400"};
    for (size_t i = 0; i < units; ++i) {
      args.push_back("--unit");
      args.push_back(tty(i).string() + "=" + address(i));
    }
    args.push_back("--records");
    args.push_back(records_target_.empty() ? records().string() : records_target_);
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(image_path_.string());
    zv_test::SpawnOptions options;
    options.out = dir_.path() / "out";
    options.err = dir_.path() / "err";
    options.in = input;
    return flash.start(args, options);
  }

  // The station's JSON events so far, each line whole.
  std::vector<QJsonObject> events() {
    std::vector<QJsonObject> out;
    std::istringstream in(read_file(dir_.path() / "out"));
    for (std::string line; std::getline(in, line);)
      if (!in.eof())
        out.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return out;
  }
  // Events of `type` for the box at `address`.
  std::vector<QJsonObject> events_of(const std::vector<QJsonObject> &all, const char *type, size_t i) {
    std::vector<QJsonObject> out;
    for (const QJsonObject &event : all)
      if (event["type"].toString() == type && event["box"].toString().toStdString() == address(i))
        out.push_back(event);
    return out;
  }
  QJsonObject report(size_t i) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(read_file(report_path(i)))).object();
  }

  // The records as zevavi-flash --export csv prints them: one map of column to value a row.
  std::vector<std::map<std::string, std::string>> exported() {
    zv_test::Child exporter;
    zv_test::SpawnOptions options;
    options.out = dir_.path() / "records.csv";
    options.err = dir_.path() / "export.err";
    EXPECT_TRUE(
        exporter.start({std::string(ZEVAVI_BIN_DIR) + "/zevavi-flash", "--records",
                        records_target_.empty() ? records().string() : records_target_, "--export", "csv"},
                       options));
    EXPECT_EQ(exporter.wait_exit(std::chrono::seconds(60)), 0) << read_file(dir_.path() / "export.err");
    std::vector<std::map<std::string, std::string>> rows;
    const auto lines = zv_test::parse_csv(read_file(dir_.path() / "records.csv"));
    for (size_t l = 1; l < lines.size(); ++l) {
      EXPECT_EQ(lines[l].size(), lines[0].size()) << l;
      std::map<std::string, std::string> row;
      for (size_t c = 0; c < lines[0].size() && c < lines[l].size(); ++c)
        row[lines[0][c]] = lines[l][c];
      rows.push_back(row);
    }
    return rows;
  }
  // A passed attempt's row: the image's partitions, each served whole.
  void expect_served(const std::map<std::string, std::string> &row) {
    const std::pair<const char *, const std::string *> wanted[] = {
        {"kernel", &image_.kernel}, {"boot", &image_.boot}, {"root", &image_.root}};
    const char *targets[] = {"flash0.kernel", "flash0.boot", "flash0.avail0"};
    for (size_t p = 0; p < 3; ++p) {
      const std::string name = wanted[p].first;
      EXPECT_EQ(row.at(name + "_size"), std::to_string(wanted[p].second->size())) << name;
      EXPECT_EQ(row.at(name + "_served"), std::to_string(wanted[p].second->size())) << name;
      EXPECT_EQ(row.at(name + "_sha256"), digests_.at(targets[p])) << name;
    }
    EXPECT_EQ(row.at("splash_size"), "");
    EXPECT_EQ(row.at("image"), "firmware.nfi");
    EXPECT_EQ(row.at("image_sha256"), sha256_of(read_file(image_path_), dir_.path() / "expected"));
    EXPECT_EQ(row.at("model"), "KESTA");
  }

  // The exit code of each box's unit, by address, from the JSON events; every event of the
  // station names its box.
  std::map<std::string, int> unit_exits() {
    std::map<std::string, int> exits;
    std::istringstream in(read_file(dir_.path() / "out"));
    for (std::string line; std::getline(in, line);) {
      QJsonObject event = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
      const QString type = event["type"].toString();
      if (type == "status" || type == "progress" || type == "transfer") {
        EXPECT_TRUE(event.contains("box")) << line;
      }
      if (type == "unit")
        exits[event["box"].toString().toStdString()] = event["exit"].toInt();
    }
    return exits;
  }

  void expect_flashed(size_t i) {
    SCOPED_TRACE("box " + address(i) + " " + report(i)["mac"].toString().toStdString());
    QJsonObject report =
        QJsonDocument::fromJson(QByteArray::fromStdString(read_file(report_path(i)))).object();
    EXPECT_EQ(report["ip"].toString().toStdString(), address(i));
    const std::pair<const char *, const std::string *> wanted[] = {
        {"flash0.kernel", &image_.kernel}, {"flash0.boot", &image_.boot}, {"flash0.avail0", &image_.root}};
    for (const auto &[target, bytes] : wanted) {
      QJsonObject partition = report["partitions"].toObject()[target].toObject();
      ASSERT_FALSE(partition.isEmpty()) << "nothing flashed to " << target;
      EXPECT_EQ(partition["size"].toInteger(), qint64(bytes->size())) << target;
      EXPECT_EQ(partition["sha256"].toString().toStdString(), digests_.at(target)) << target;
    }
  }
  void compute_digests() {
    digests_["flash0.kernel"] = sha256_of(image_.kernel, dir_.path() / "expected");
    digests_["flash0.boot"] = sha256_of(image_.boot, dir_.path() / "expected");
    digests_["flash0.avail0"] = sha256_of(image_.root, dir_.path() / "expected");
  }
  std::string output() { return read_file(dir_.path() / "out") + read_file(dir_.path() / "err"); }

  zv_test::TempDir dir_{"zevavi-station-e2e"};
  std::string records_target_;  // --records: empty for records() itself
  fs::path image_path_;
  SamplePartitions image_;
  std::map<std::string, std::string> digests_;
  std::vector<std::unique_ptr<zv_test::Child>> boxes_;
};

// The line: fixtures in continuous mode, each taking box after box. A box is replaced once
// its attempt is over and (when it passed) it has booted the system it was given, so the
// reboot banner of each flashed box passes the station by. One fixture gets a failing box
// in the middle; the others go on all the while, and every attempt is in the records.
// ZEVAVI_LINE_FIXTURES and ZEVAVI_LINE_BOXES run it larger by hand (8 and 5 for a line's
// shift in small).
class ContinuousStation : public StationRun {
 protected:
  static size_t from_env(const char *name, size_t fallback) {
    const char *text = std::getenv(name);
    return text && std::atoi(text) > 0 ? size_t(std::atoi(text)) : fallback;
  }
  static std::string first_mac(size_t i) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "00-10-18-%02X-00-01", unsigned(i));
    return mac;
  }
  // Boxes that stay off until powered on, each fixture with its own run of addresses.
  std::vector<BoxPlan> plans(size_t fixtures, size_t faulty_fixture, size_t faulty_box) {
    std::vector<BoxPlan> out(fixtures);
    for (size_t i = 0; i < fixtures; ++i) {
      out[i].faults = {"--mac", first_mac(i), "--boot-delay-ms", "3600000"};
      if (i == faulty_fixture)
        out[i].faults.insert(out[i].faults.end(),
                             {"--fault-box", std::to_string(faulty_box), "--fail-at", "flash0.boot"});
    }
    return out;
  }
  // Waits until every unit waits for its first box, then switches the boxes on.
  bool power_on_when_waiting(size_t fixtures) {
    const bool waiting = zv_test::wait_until(
        [&] {
          const auto all = events();
          for (size_t i = 0; i < fixtures; ++i)
            if (events_of(all, "state", i).empty())
              return false;
          return true;
        },
        std::chrono::seconds(60));
    for (auto &box : boxes_)
      box->signal(SIGUSR1);
    return waiting;
  }

  // The line's run: `on_outcome` hears the number of attempts over so far, as they end.
  void run_line(size_t fixtures, size_t per_fixture, const std::function<void(size_t)> &on_outcome = {});
};

}  // namespace e2e_station
