// The console watcher, driven by console text as the box prints it.
#include "src/consolewatch.h"

#include "src/upgrade.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingHost final : public WatcherHost {
 public:
  int machine() const override { return machine_index; }
  int status_count() const override { return count; }
  int last_line_number() const override { return last_line; }
  void show_status(int percent, const char *text) override {
    ++count;
    if (text) {
      last_line = count;
      lines.push_back(std::to_string(percent) + "% " + text);
    }
  }
  void release_upgrade() override { ++released; }

  int machine_index = 0;
  int count = 0;
  int last_line = 0;
  int released = 0;
  std::vector<std::string> lines;
};

struct Script {
  const char *name;
  int machine;
  int step, ready;   // step state before the text
  const char *text;  // console text, character by character
  int want_step, want_ready;
  int want_running;  // worker_running afterwards (it starts at 1)
  std::vector<std::string> want_lines;
  friend void PrintTo(const Script &s, std::ostream *os) { *os << s.name; }
};

class WatcherScript : public ::testing::TestWithParam<Script> {};

TEST_P(WatcherScript, StepsAndLines) {
  const Script &s = GetParam();
  RecordingHost host;
  host.machine_index = s.machine;
  // Seven lines and one progress-only update (the 90 % after the root image): the failure
  // line quotes the line of the step, not the count of updates.
  host.count = 8;
  host.last_line = 7;
  upgrade_step = s.step;
  prompt_ready = s.ready;
  worker_running = 1;
  ConsoleWatcher watcher;
  for (const char *p = s.text; *p; ++p)
    watcher.on_char(*p, host);
  EXPECT_EQ(upgrade_step.load(), s.want_step);
  EXPECT_EQ(prompt_ready.load(), s.want_ready);
  EXPECT_EQ(worker_running.load(), s.want_running);
  EXPECT_EQ(host.lines, s.want_lines);
  EXPECT_EQ(host.released, s.want_running ? 0 : 1);
}

const char *const fail_8 = "0% Fail to upgrade your machine.[step : 7, err-code : ";

INSTANTIATE_TEST_SUITE_P(
    Console, WatcherScript,
    ::testing::Values(
        Script{"prompt_at_step_0_is_ignored", 2, 0, 0, "CFE> ", 0, 0, 1, {}},
        Script{"asterisks_start_the_sequence", 2, 0, 1, "****", 1, 0, 1, {}},
        Script{"three_asterisks_do_nothing", 2, 0, 1, "***", 0, 1, 1, {}},
        Script{"five_asterisks_restart_from_any_step", 2, 6, 1, "*****", 1, 0, 1, {}},
        Script{"boot_bar_then_prompt",
               2,
               0,
               1,
               "*************\r\n** Automatic startup canceled via Ctrl-C **\r\n*************\r\nCFE> ",
               2,
               1,
               1,
               {}},
        Script{"second_prompt_before_the_command_is_ignored", 2, 1, 0, "CFE> CFE> ", 2, 1, 1, {}},
        Script{"pelin_goes_to_the_splash_step", 2, 3, 0, "CFE> ", 4, 1, 1, {}},
        Script{"torqa_goes_to_the_splash_step", 3, 3, 0, "CFE> ", 4, 1, 1, {}},
        Script{"kesta_skips_the_splash_step", 0, 3, 0, "CFE> ", 5, 1, 1, {}},
        Script{"morva_skips_the_splash_step", 1, 3, 0, "CFE> ", 5, 1, 1, {}},
        Script{"success_status_no_line", 2, 2, 0, "*** command status = 0\r\nCFE> ", 3, 1, 1, {}},
        Script{"failure_code_ends_at_the_blank_after_the_prompt",
               2,
               7,
               0,
               "*** command status = -5\r\nCFE> ",
               8,
               1,
               0,
               {std::string(fail_8) + "-5]"}},
        Script{"line_end_does_not_end_the_code", 2, 7, 1, "*** command status = -21\r\n", 7, 1, 0, {}},
        Script{"blanks_before_the_sign_are_skipped",
               2,
               7,
               1,
               "status =    -21 ",
               7,
               1,
               0,
               {std::string(fail_8) + "-21]"}},
        Script{"code_keeps_four_characters",
               2,
               7,
               1,
               "status = -12345 ",
               7,
               1,
               0,
               {std::string(fail_8) + "-123]"}},
        Script{"other_characters_neither_end_nor_extend",
               2,
               7,
               1,
               "status = -2x1\r\n\t ",
               7,
               1,
               0,
               {std::string(fail_8) + "-21]"}},
        Script{"letters_after_equals_keep_waiting", 2, 7, 1, "status = ok 3", 7, 1, 1, {}}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(Watcher, StateCarriesAcrossCalls) {
  // The pattern may arrive split over deliveries; the watcher sees characters, not blocks.
  RecordingHost host;
  upgrade_step = 1;
  prompt_ready = 0;
  ConsoleWatcher watcher;
  watcher.on_char('C', host);
  watcher.on_char('F', host);
  EXPECT_EQ(upgrade_step.load(), 1);
  watcher.on_char('E', host);
  watcher.on_char('>', host);
  EXPECT_EQ(upgrade_step.load(), 2);
}

}  // namespace
