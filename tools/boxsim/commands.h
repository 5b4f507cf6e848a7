// The boot loader's command interpreter: one typed line in, its output on the console, one
// status out. Knows ifconfig, flash, erase_flash0, erase_flash2, reboot and help, and plays
// the fault switches that apply to single commands.
#pragma once

#include "tools/boxsim/console.h"
#include "tools/boxsim/options.h"
#include "tools/boxsim/report.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace boxsim {

// How a command of a line is joined to the one before it.
enum class Joiner { First, Always, IfOk, IfFailed };  // start, ";", "&&", "||"

struct CommandPart {
  Joiner joiner = Joiner::First;
  std::string text;  // trimmed
};

// Splits a line at ";", "&&" and "||" as the boot loader does; empty parts are dropped.
std::vector<CommandPart> split_command_line(std::string_view line);

// The partitions this box's flash has; a flash command naming another fails with -6.
bool is_flash_partition(std::string_view name);

class Commands {
 public:
  Commands(Console &console, Report &report, const Options &options);

  struct LineResult {
    std::optional<int> status;  // none for a blank line, or when the line rebooted
    bool reboot = false;
  };
  // Runs a typed line (without its line end) as command line number `line_number`.
  // Throws LineVanished after closing the line when the vanish fault selects it.
  LineResult run_line(std::string_view line, int line_number);

 private:
  int run_one(const std::string &command, int line_number, bool &reboot);
  int ifconfig(const std::vector<std::string> &args, std::optional<int> forced);
  int flash(const std::vector<std::string> &args, std::optional<int> forced, bool no_request);
  int erase(const std::string &device, std::optional<int> forced);
  int help();
  std::string burst_text() const;

  Console &console_;
  Report &report_;
  const Options &options_;
};

}  // namespace boxsim
