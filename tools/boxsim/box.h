// The box's life: power on, boot output, the autostart wait that a 0x03 cancels, then
// either the boot loader's prompt or Linux; "reboot", a panic or a power cycle start over.
#pragma once

#include "tools/boxsim/commands.h"
#include "tools/boxsim/console.h"
#include "tools/boxsim/options.h"
#include "tools/boxsim/report.h"

#include <optional>
#include <string>

namespace boxsim {

class Box {
 public:
  Box(Console &console, Report &report, const Options &options);

  // Runs until a stop request or the vanished-line fault; the report is saved on the way
  // out. Returns the program's exit code.
  int run();

 private:
  // One power-on until the box resets itself; PowerCycle ends it early.
  void power_on();
  // Boot output and autostart wait; true when a 0x03 stopped the autostart.
  bool boot();
  // The prompt loop; returns when a line rebooted the box.
  void command_loop();
  // Linux boot output; true when the kernel panicked and the box restarts.
  bool boot_linux();
  // The line editor: echo, backspace, CR or LF ends the line. Empty when 0x03 dropped it.
  std::optional<std::string> read_line();
  void set_state(const char *state);

  // The box on the fixture is taken off and the next one (the following address, its flash
  // untouched, the faults only if it is the faulty one) is put on.
  void next_box();

  Console &console_;
  Report &report_;
  const Options &given_;
  Options options_;  // what this box plays: given_, less the faults unless it is the faulty box
  Commands commands_;
  int command_count_ = 0;
  int panics_ = 0;
};

}  // namespace boxsim
