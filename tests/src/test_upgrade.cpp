// The upgrade worker against a recording window: what it types, when, and what it shows.
// Flash steps need the TFTP server on port 69 and are covered by the end-to-end upgrades.
#include "src/upgrade.h"

#include "src/consolewatch.h"
#include "src/upgradeengine.h"

#include "lib/log.h"
#include "platform/paths.h"
#include "src/wizardstate.h"
#include "tests/support/fs.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class RecordingWindow final : public UpgradeHost {
 public:
  bool port_write(const char *data, int count, std::string &error) override {
    std::lock_guard lock(mutex);
    if (fail_writes) {
      error = "device vanished";
      return false;
    }
    writes.emplace_back(data, size_t(count));
    changed.notify_all();
    if (on_write)
      on_write(std::string(data, size_t(count)));
    return true;
  }
  void show_status(int percent, const char *text) override {
    std::lock_guard lock(mutex);
    statuses.push_back(std::to_string(percent) + (text ? std::string(" ") + text : std::string()));
    if (text)
      last_line = int(statuses.size());
  }
  int last_line_number() const override { return last_line; }
  void set_exit_enabled(bool enabled) override { exit_enabled = enabled; }
  void set_prompt_label_visible(bool visible) override { label_visible = visible; }
  void worker_finished() override { finished = true; }
  std::string port_name() const override { return "COM7"; }

  // Waits until `count` writes have been made, or a generous limit passes.
  bool wait_writes(size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 30s, [&] { return writes.size() >= count; });
  }
  std::vector<std::string> copy_writes() {
    std::lock_guard lock(mutex);
    return writes;
  }
  std::vector<std::string> copy_statuses() {
    std::lock_guard lock(mutex);
    return statuses;
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> writes, statuses;
  bool fail_writes = false;
  // A box that answers inside the write, before the worker's pass goes on (set before start).
  std::function<void(const std::string &)> on_write;
  std::atomic<int> last_line{0};
  std::atomic<bool> exit_enabled{false}, label_visible{false}, finished{false};
};

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CACHE_HOME", base_.string().c_str(), 1);
    std::snprintf(machine_ip, sizeof machine_ip, "192.168.102.45");
    std::snprintf(local_ip, sizeof local_ip, "192.168.102.10");
    log_open((base_ / "zevavi.log").string().c_str(), LOG_HEX);
  }
  void TearDown() override {
    stop_worker();
    if (thread_.joinable())
      thread_.join();
    log_close();
  }
  void start() {
    thread_ = std::thread([this] { threadCommandMain(&window_); });
  }
  void finish() {
    if (thread_.joinable())
      thread_.join();
  }
  std::string log() { return zv_test::read_text_file(base_ / "zevavi.log"); }
  static int count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  }

  zv_test::TempDir tmp_{"zevavi-worker"};
  fs::path base_ = tmp_.path();
  RecordingWindow window_;
  std::thread thread_;
};

TEST_F(Worker, WithNoBoxItKeepsSendingTheBreakKey) {
  start();
  ASSERT_TRUE(window_.wait_writes(3));
  stop_worker();
  finish();
  auto writes = window_.copy_writes();
  for (const std::string &w : writes)
    EXPECT_EQ(w, "\x03");
  EXPECT_EQ(window_.copy_statuses(), std::vector<std::string>{"20 Enter into the CFE mode."});
  EXPECT_TRUE(window_.exit_enabled);
  EXPECT_TRUE(window_.label_visible);
  EXPECT_TRUE(window_.finished);
  std::string text = log();
  EXPECT_EQ(count(text, "\tSTEP > 0\n================== BINARY HEX"), int(writes.size()));
  EXPECT_EQ(count(text, "\n03 "), int(writes.size()));
  EXPECT_NE(text.find("stop write-thread!!"), std::string::npos);
  EXPECT_NE(text.find("Closed COM7"), std::string::npos);
}

// The watcher's side is played by the test: it moves the step and marks the prompt.
TEST_F(Worker, TypesOneCommandPerPromptAndSkipsAMissingSplash) {
  start();
  ASSERT_TRUE(window_.wait_writes(1));
  upgrade_step = 1;
  prompt_ready = 0;
  // A pass at step 1 hides the prompt label.
  zv_test::wait_until([&] { return !window_.label_visible; }, 30s);
  EXPECT_FALSE(window_.label_visible);

  size_t before = window_.copy_writes().size();
  upgrade_step = 2;
  prompt_ready = 1;
  ASSERT_TRUE(window_.wait_writes(before + 1));
  EXPECT_EQ(window_.copy_writes().back(), "ifconfig eth0 -addr=192.168.102.45 -mask=255.255.255.0\n");

  // Step 4 with no splash file goes on to the erase at once, then the break key 10 s later.
  upgrade_step = 4;
  prompt_ready = 1;
  ASSERT_TRUE(window_.wait_writes(before + 3));
  auto writes = window_.copy_writes();
  EXPECT_EQ(writes[before + 1], "erase_flash2; erase_flash0\n");
  EXPECT_EQ(writes[before + 2], "\x03");
  EXPECT_EQ(upgrade_step.load(), 5);

  // A pass with no fresh prompt sends nothing: once the log shows the start of the pass after
  // it, that whole pass has run.
  const int passes = count(log(), "STEP : [5]");
  ASSERT_TRUE(zv_test::wait_until([&] { return count(log(), "STEP : [5]") >= passes + 2; }, 30s));
  EXPECT_EQ(window_.copy_writes().size(), before + 3);

  upgrade_step = 8;
  prompt_ready = 1;
  finish();  // the reboot step ends the loop by itself
  EXPECT_EQ(window_.copy_writes().back(), "reboot\n");
  EXPECT_EQ(worker_running.load(), 0);
  EXPECT_TRUE(window_.finished);
  auto statuses = window_.copy_statuses();
  std::vector<std::string> want = {"20 Enter into the CFE mode.", "30 IP is set in the machine.",
                                   "60 Erase memory area about FLASH2 and FLASH0.",
                                   "100 Finished, Reboot now!!"};
  EXPECT_EQ(statuses, want);
  std::string text = log();
  EXPECT_NE(text.find("\tSTEP > 2\n"), std::string::npos);
  EXPECT_NE(text.find("65 72 61 73 65 5f 66 6c 61 73 68 32 3b 20 65 72 erase_flash2; er"), std::string::npos);
}

// A box whose answers come back while the worker's pass is still running: the first break
// meets the end of its boot output and the prompt, the repeated break a second prompt, the
// ifconfig command the next prompt. Each prompt is taken once: the address is set before
// anything is flashed, and the upgrade goes on past it.
TEST_F(Worker, PromptsArrivingDuringAPassAreNeitherLostNorTakenTwice) {
  struct Host final : WatcherHost {
    int machine() const override { return 2; }
    int status_count() const override { return 0; }
    int last_line_number() const override { return 0; }
    void show_status(int, const char *) override {}
    void release_upgrade() override {}
  } host;
  ConsoleWatcher watcher;
  bool booted = false;
  std::mutex box_mutex;
  std::vector<int> steps_after_ifconfig;
  window_.on_write = [&](const std::string &w) {
    std::lock_guard lock(box_mutex);
    std::string answer;
    if (w == "\x03") {
      answer = booted ? "^C\r\nCFE> "
                      : "**********\r\nAutomatic startup canceled via Ctrl-C\r\n**********\r\n\r\nCFE> ";
      booted = true;
    } else if (w.rfind("ifconfig", 0) == 0) {
      answer = "Device eth0:  ipaddr 192.168.102.45, mask 255.255.255.0\r\n*** command status = 0\r\nCFE> ";
    }
    for (char ch : answer)
      watcher.on_char(ch, host);
    if (w.rfind("ifconfig", 0) == 0)
      steps_after_ifconfig.push_back(upgrade_step.load());
  };
  start();
  // Without partition files the kernel step cannot serve, which ends the upgrade there.
  ASSERT_TRUE(zv_test::wait_until([&] { return window_.finished.load(); }, 30s));
  finish();
  auto writes = window_.copy_writes();
  auto ifconfig = std::find_if(writes.begin(), writes.end(),
                               [](const std::string &w) { return w.rfind("ifconfig", 0) == 0; });
  ASSERT_NE(ifconfig, writes.end());
  EXPECT_EQ(std::count_if(writes.begin(), writes.end(),
                          [](const std::string &w) { return w.rfind("ifconfig", 0) == 0; }),
            1);
  for (auto w = writes.begin(); w != ifconfig; ++w)
    EXPECT_EQ(*w, "\x03");
  EXPECT_EQ(steps_after_ifconfig, std::vector<int>{3});
  EXPECT_EQ(window_.copy_statuses().back(), "0 Fail to serve kernel_cfe_auto.bin over TFTP.");
}

TEST_F(Worker, FailedWriteEndsTheUpgradeWithALine) {
  window_.fail_writes = true;
  start();
  finish();
  EXPECT_EQ(worker_running.load(), 0);
  EXPECT_TRUE(window_.finished);
  auto statuses = window_.copy_statuses();
  ASSERT_EQ(statuses.size(), 2u);
  EXPECT_EQ(statuses[1], "0 Fail to write to COM7.");
  EXPECT_NE(log().find("Fail to write to COM7 : device vanished"), std::string::npos);
}

// Faults of the bench: each ends the upgrade by itself with one line that says why, and
// nothing that could harm the box is typed after it.
struct FaultRow {
  const char *name;
  int step;  // where the watcher's side puts the worker
  int ready;
  bool fail_writes;   // the port fails from then on
  const char *last;   // the last status line
  const char *never;  // no write may contain this
  int silence_ms;     // how long the box may stay quiet
  friend void PrintTo(const FaultRow &r, std::ostream *os) { *os << r.name; }
};

class WorkerFault : public Worker, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(WorkerFault, EndsTheUpgradeWithALine) {
  const FaultRow &row = GetParam();
  box_silence_limit_ms = row.silence_ms;
  start();
  ASSERT_TRUE(window_.wait_writes(1));
  {
    std::lock_guard lock(window_.mutex);
    window_.fail_writes = row.fail_writes;
  }
  // The watcher's side: the step, and the prompt, which stays until the worker acts on it.
  upgrade_step = row.step;
  if (row.ready)
    prompt_ready = 1;
  ASSERT_TRUE(zv_test::wait_until([&] { return window_.finished.load(); }, 30s));
  finish();
  box_silence_limit_ms = box_silence_limit_default_ms;
  EXPECT_EQ(worker_running.load(), 0);
  EXPECT_TRUE(window_.finished);
  auto statuses = window_.copy_statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), row.last);
  for (const std::string &w : window_.copy_writes())
    EXPECT_EQ(w.find(row.never), std::string::npos) << w;
  EXPECT_NE(log().find("[ERROR]"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Bench, WorkerFault,
    ::testing::Values(
        // The box answered, then said nothing more: no prompt, no transfer.
        FaultRow{"silent_box", 2, 0, false, "0 The machine stopped answering at step 1.", "ifconfig", 300},
        // No partition file to serve: the flash command would leave the box waiting.
        FaultRow{"kernel_not_servable", 3, 1, false, "0 Fail to serve kernel_cfe_auto.bin over TFTP.",
                 "flash", 60000},
        FaultRow{"root_not_servable", 7, 1, false, "0 Fail to serve root_cfe_auto.jffs2 over TFTP.", "flash",
                 60000},
        // A reboot that never reached the box is no finished upgrade.
        FaultRow{"reboot_unwritten", 8, 1, true, "0 Fail to write to COM7.", "reboot", 60000}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

// The base silence from the window's settings: only a whole number of seconds up to a day
// changes it; anything else keeps the default and the log line names the file.
TEST(SilenceSetting, OnlyAWholeNumberOfSecondsUpToADayIsTaken) {
  struct Row {
    const char *file;  // null: no settings file
    int limit_ms;
    const char *said;
  };
  const Row rows[] = {
      {nullptr, box_silence_limit_default_ms, "(the default)"},
      {"[Upgrade]\nSilenceSeconds=600\n", 600000, "600 s, from "},
      {"[upgrade]\nsilenceseconds = 86400\n", 86400000, "86400 s"},
      {"[Upgrade]\nSilenceSeconds=0\n", box_silence_limit_default_ms, "\"0\" in "},
      {"[Upgrade]\nSilenceSeconds=86401\n", box_silence_limit_default_ms, "\"86401\" in "},
      {"[Upgrade]\nSilenceSeconds=5m\n", box_silence_limit_default_ms, "\"5m\" in "},
      {"[Upgrade]\nSilenceSeconds=-30\n", box_silence_limit_default_ms, "\"-30\" in "},
      {"[Other]\nSilenceSeconds=600\n", box_silence_limit_default_ms, "(the default)"},
  };
  zv_test::TempDir dir;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.file ? row.file : "no file");
    const fs::path ini = dir.path() / "zevavi.ini";
    fs::remove(ini);
    if (row.file)
      std::ofstream(ini) << row.file;
    box_silence_limit_ms = 1;
    const std::string said = apply_silence_setting(ini.string());
    EXPECT_EQ(box_silence_limit_ms.load(), row.limit_ms);
    EXPECT_NE(said.find(row.said), std::string::npos) << said;
    if (std::string(row.said).find(" in ") != std::string::npos) {
      EXPECT_NE(said.find(ini.string()), std::string::npos) << said;
    }
  }
  box_silence_limit_ms = box_silence_limit_default_ms;
}

}  // namespace
