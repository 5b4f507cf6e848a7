// Many simulated boxes upgraded at once by zevavi-flash --station, each on a pty of its own
// and with an address of its own on the loopback of a private network namespace: every box
// must flash every byte of the image, and a box that fails or loses its line must leave the
// others to finish.
#include "tests/support/fs.h"
#include "tests/support/process.h"
#include "tests/support/upgrade_expect.h"
#include "tests/support/wait.h"
#include "tools/demo/sampleimage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

namespace {

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
    ::setenv("XDG_CACHE_HOME", (dir_.path() / "cache").c_str(), 1);
    // Small partitions keep sixteen boxes quick; the sizes still end inside a block, on a
    // block's end and after a hundred blocks.
    SamplePartitions full = make_sample_partitions(7);
    image_.kernel = full.kernel.substr(0, 30000);
    image_.boot = full.boot.substr(0, 512 * 20);
    image_.root = full.root.substr(0, 60001);
    image_path_ = dir_.path() / "firmware.nfi";
    ASSERT_TRUE(write_sample_container(image_path_.string(), image_));
  }

  fs::path tty(size_t i) const { return dir_.path() / ("tty" + std::to_string(i)); }
  fs::path report_path(size_t i) const { return dir_.path() / ("box" + std::to_string(i) + ".json"); }
  static std::string address(size_t i) { return "127.0.0." + std::to_string(20 + i); }

  // Starts the boxes, runs the station over them and returns its exit code.
  int run(const std::vector<BoxPlan> &plans) {
    boxes_.clear();
    for (size_t i = 0; i < plans.size(); ++i) {
      std::vector<std::string> args = {std::string(ZEVAVI_BIN_DIR) + "/boxsim",
                                       "--pty-link",
                                       tty(i).string(),
                                       "--report",
                                       report_path(i).string(),
                                       "--speed",
                                       "20"};
      args.insert(args.end(), plans[i].faults.begin(), plans[i].faults.end());
      boxes_.push_back(std::make_unique<zv_test::Child>());
      zv_test::SpawnOptions options;
      options.err = dir_.path() / ("box" + std::to_string(i) + ".err");
      if (!boxes_.back()->start(args, options))
        return -2;
    }
    for (size_t i = 0; i < plans.size(); ++i)
      if (!zv_test::wait_until([&] { return fs::exists(tty(i)); }, std::chrono::seconds(10)))
        return -3;
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
    for (size_t i = 0; i < plans.size(); ++i) {
      args.push_back("--unit");
      args.push_back(tty(i).string() + "=" + address(i));
    }
    args.push_back(image_path_.string());
    zv_test::SpawnOptions options;
    options.out = dir_.path() / "out";
    options.err = dir_.path() / "err";
    zv_test::Child flash;
    if (!flash.start(args, options))
      return -2;
    const int code = flash.wait_exit(std::chrono::seconds(500));
    for (auto &box : boxes_)
      box->stop(SIGTERM, std::chrono::seconds(10));
    return code;
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
    SCOPED_TRACE("box " + address(i));
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
  fs::path image_path_;
  SamplePartitions image_;
  std::map<std::string, std::string> digests_;
  std::vector<std::unique_ptr<zv_test::Child>> boxes_;
};

class AllBoxes : public StationRun, public ::testing::WithParamInterface<size_t> {};

TEST_P(AllBoxes, EveryBoxFlashesEveryByteOfTheImage) {
  const size_t n = GetParam();
  compute_digests();
  ASSERT_EQ(run(std::vector<BoxPlan>(n)), 0) << output();
  std::map<std::string, int> exits = unit_exits();
  EXPECT_EQ(exits.size(), n);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(exits[address(i)], 0) << address(i);
    expect_flashed(i);
  }
}

INSTANTIATE_TEST_SUITE_P(Station, AllBoxes, ::testing::Values(1, 4, 8, 16),
                         [](const auto &test_case) { return std::to_string(test_case.param) + "_boxes"; });

struct Trouble {
  const char *name;
  BoxPlan plan;
  friend void PrintTo(const Trouble &t, std::ostream *os) { *os << t.name; }
};

class OneBoxInTrouble : public StationRun, public ::testing::WithParamInterface<Trouble> {};

// The troubled box sits in the middle of eight; the seven others must finish regardless.
TEST_P(OneBoxInTrouble, TheOtherSevenFinish) {
  constexpr size_t troubled = 3;
  std::vector<BoxPlan> plans(8);
  plans[troubled] = GetParam().plan;
  compute_digests();
  EXPECT_EQ(run(plans), 8) << output();
  std::map<std::string, int> exits = unit_exits();
  EXPECT_EQ(exits[address(troubled)], GetParam().plan.exit) << output();
  for (size_t i = 0; i < plans.size(); ++i) {
    if (i == troubled)
      continue;
    EXPECT_EQ(exits[address(i)], 0) << address(i);
    expect_flashed(i);
  }
}

INSTANTIATE_TEST_SUITE_P(Station, OneBoxInTrouble,
                         ::testing::Values(Trouble{"box_failure", {{"--fail-at", "flash0.boot"}, 4}},
                                           Trouble{"line_lost", {{"--vanish-at", "flash0.kernel"}, 5}}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

}  // namespace
