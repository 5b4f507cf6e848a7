// Many simulated boxes upgraded at once by zevavi-flash --station, each on a pty of its own
// and with an address of its own on the loopback of a private network namespace: every box
// must flash every byte of the image, and a box that fails or loses its line must leave the
// others to finish. In continuous mode each fixture takes box after box (the simulated box
// replaced by the next, with the next Ethernet address), and every attempt is recorded.
#include "tests/e2e/station_run.h"
#include "tests/support/csv.h"
#include "tests/support/fs.h"
#include "tests/support/process.h"
#include "tests/support/upgrade_expect.h"
#include "tests/support/wait.h"
#include "tools/demo/sampleimage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

namespace {

using namespace e2e_station;

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

// The line: fixtures in continuous mode, each taking box after box. A box is replaced once
// its attempt is over and (when it passed) it has booted the system it was given, so the
// reboot banner of each flashed box passes the station by. One fixture gets a failing box
// in the middle; the others go on all the while, and every attempt is in the records.
// ZEVAVI_LINE_FIXTURES and ZEVAVI_LINE_BOXES run it larger by hand (8 and 5 for a line's
// shift in small).
TEST_F(ContinuousStation, EachFixtureTakesBoxAfterBoxAndEveryAttemptIsRecorded) {
  const size_t fixtures = from_env("ZEVAVI_LINE_FIXTURES", 3);
  const size_t per_fixture = from_env("ZEVAVI_LINE_BOXES", 3);
  const size_t faulty_fixture = 1, faulty_box = 2;
  compute_digests();
  ASSERT_TRUE(start_boxes(plans(fixtures, faulty_fixture, faulty_box)));
  // The operator's console: fixture 0's first box is asked for again, on purpose.
  const fs::path operator_input = dir_.path() / "operator";
  ASSERT_EQ(::mkfifo(operator_input.c_str(), 0600), 0);
  // Opened for both directions, so that neither side's open waits for the other (the
  // station's standard input is opened before it starts, while its start is waited for).
  const int typing = ::open(operator_input.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(typing, 0);
  zv_test::Child flash;
  ASSERT_TRUE(start_station(flash, fixtures, {"--continuous"}, operator_input));
  ASSERT_TRUE(power_on_when_waiting(fixtures)) << output();

  // Each fixture: the outcome of its latest box is out, the box has settled (booted its new
  // system, or stays at the prompt after its failure), its flash is checked, and the next
  // box goes on; on fixture 0 the first box goes through twice.
  std::vector<size_t> outcomes_seen(fixtures, 0), box_on(fixtures, 1), flashes(fixtures, 0);
  std::vector<std::vector<std::string>> macs(fixtures);  // of each attempt, in order
  bool asked_again = false;
  auto advance = [&] {
    const auto all = events();
    bool all_done = true;
    for (size_t i = 0; i < fixtures; ++i) {
      if (box_on[i] > per_fixture)
        continue;
      all_done = false;
      if (i == 0 && asked_again && outcomes_seen[0] == 1) {
        // The unit has taken the request: the same box is switched off and on again.
        for (const QJsonObject &event : events_of(all, "state", 0))
          if (event["text"].toString() == "waiting for the same box again") {
            boxes_[0]->signal(SIGUSR1);
            asked_again = false;
            break;
          }
        continue;
      }
      const auto outcomes = events_of(all, "unit", i);
      if (outcomes.size() <= outcomes_seen[i])
        continue;
      const bool fails = i == faulty_fixture && box_on[i] == faulty_box;
      const QJsonObject box = report(i);
      if (box["state"].toString() != (fails ? "cfe" : "linux"))
        continue;
      SCOPED_TRACE("fixture " + std::to_string(i) + ", box " + std::to_string(box_on[i]));
      EXPECT_EQ(outcomes[outcomes_seen[i]]["exit"].toInt(), fails ? 4 : 0) << output();
      EXPECT_EQ(outcomes[outcomes_seen[i]]["mac"].toString(), box["mac"].toString());
      ++flashes[i];
      if (!fails) {
        expect_flashed(i);
        // The reboots were left alone: one boot for each upgrade, one for each new system.
        EXPECT_EQ(box["boots"].toInt(), int(2 * flashes[i]));
      }
      macs[i].push_back(box["mac"].toString().toStdString());
      ++outcomes_seen[i];
      if (i == 0 && outcomes_seen[0] == 1) {
        EXPECT_EQ(::write(typing, "1\n", 2), 2);
        asked_again = true;
      } else if (++box_on[i] <= per_fixture) {
        flashes[i] = 0;
        boxes_[i]->signal(SIGUSR2);
      }
    }
    return all_done;
  };
  ASSERT_TRUE(zv_test::wait_until(advance, std::chrono::seconds(120 + 30 * per_fixture),
                                  std::chrono::milliseconds(50)))
      << output();
  ::close(typing);

  // Every unit waits for a next box that does not come: Ctrl-C ends them at once.
  flash.signal(SIGINT);
  EXPECT_EQ(flash.wait_exit(std::chrono::seconds(60)), 8) << output();

  const auto rows = exported();
  ASSERT_EQ(rows.size(), fixtures * per_fixture + 1);
  std::map<std::string, size_t> seen;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.at("port") + " " + row.at("mac"));
    size_t i = 0;
    while (i < fixtures && row.at("box") != address(i))
      ++i;
    ASSERT_LT(i, fixtures);
    EXPECT_EQ(row.at("port"), tty(i).string());
    const size_t k = seen[row.at("box")]++;
    ASSERT_LT(k, macs[i].size());
    EXPECT_EQ(row.at("mac"), macs[i][k]);
    EXPECT_EQ(row.at("board"), "BCM97405D0 CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little");
    EXPECT_EQ(row.at("build"), "Build Date: Tue Mar  2 10:14:33 CST 2010 (boxsim@zevavi)");
    EXPECT_LE(row.at("started"), row.at("ended"));
    if (i == faulty_fixture && k + 1 == faulty_box) {
      EXPECT_EQ(row.at("result"), "fail");
      EXPECT_EQ(row.at("failed_step"), "Upgrade the boot image on the machine.");
      EXPECT_EQ(row.at("box_code"), "-4");
    } else {
      EXPECT_EQ(row.at("result"), "pass");
      EXPECT_EQ(row.at("failed_step"), "");
      expect_served(row);
    }
  }
  EXPECT_EQ(macs[0][0], macs[0][1]);
}

// A station killed outright in the middle of a box (a crash, a power cut) leaves every
// attempt that ended whole in its records, and nothing of the one it was flashing.
TEST_F(ContinuousStation, AKilledStationLeavesNoHalfRow) {
  compute_digests();
  ASSERT_TRUE(start_boxes(plans(2, 99, 0)));
  zv_test::Child flash;
  ASSERT_TRUE(start_station(flash, 2, {"--continuous"}));
  ASSERT_TRUE(power_on_when_waiting(2)) << output();
  // Both first boxes pass and boot; the second box on fixture 0 is then taken half-way.
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        const auto all = events();
        return events_of(all, "unit", 0).size() == 1 && events_of(all, "unit", 1).size() == 1 &&
               report(0)["state"].toString() == "linux";
      },
      std::chrono::seconds(120), std::chrono::milliseconds(50)))
      << output();
  boxes_[0]->signal(SIGUSR2);
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        for (const QJsonObject &event : events_of(events(), "status", 0))
          if (event["text"].toString() == "Upgrade the boot image on the machine.")
            return true;
        return false;
      },
      std::chrono::seconds(120), std::chrono::milliseconds(20)))
      << output();
  flash.signal(SIGKILL);
  EXPECT_EQ(flash.wait_exit(std::chrono::seconds(30)), zv_test::kSignalled + SIGKILL);

  const auto rows = exported();
  ASSERT_EQ(rows.size(), 2u);
  for (const auto &row : rows) {
    SCOPED_TRACE(row.at("box"));
    EXPECT_EQ(row.at("result"), "pass");
    EXPECT_FALSE(row.at("mac").empty());
    EXPECT_FALSE(row.at("ended").empty());
    expect_served(row);
  }
  // The file is whole, as SQLite's own check finds it.
  zv_test::Child check;
  zv_test::SpawnOptions options;
  options.capture_out = true;
  ASSERT_TRUE(check.start({"sqlite3", records().string(), "PRAGMA integrity_check;"}, options));
  EXPECT_EQ(check.read_line(), "ok");
  EXPECT_EQ(check.wait_exit(std::chrono::seconds(30)), 0);
}

}  // namespace
