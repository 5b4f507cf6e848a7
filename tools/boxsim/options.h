// The box's command line: where it talks, how fast it is, and which faults it plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace boxsim {

// Picks the commands a fault applies to: "all", a command line number (1 = the first line
// typed since the box started), "boot" (the boot output), or a word the command contains:
// a command name ("ifconfig", "erase_flash0") or a flash target ("flash0.avail0").
struct Selector {
  bool all = false;
  bool boot = false;
  int line = 0;
  std::string word;

  bool empty() const { return !all && !boot && line == 0 && word.empty(); }
  // `command` is one command of a line (lines split at ";", "&&", "||").
  bool matches(int line_number, std::string_view command) const;
  static bool parse(std::string_view text, Selector &out);
};

struct Options {
  std::string device;    // a serial device to talk on; empty: create a pty
  std::string pty_link;  // symlink to the pty's slave, removed at exit
  std::string report_path;

  int baud = 115200;               // output pacing; 0 leaves the output unpaced
  double speed = 1.0;              // box time (pacing, boot, erase, programming) runs this much faster
  bool fast = false;               // no pacing and no box time at all
  int autostart_ms = 2000;         // real time the loader waits for 0x03; 0 waits for ever
  int boot_delay_ms = 0;           // real time before the first power-on
  bool break_window_only = false;  // 0x03 from before the autostart wait is dropped

  std::uint16_t tftp_port = 69;
  int tftp_timeout_ms = 1000;
  int tftp_retries = 8;
  int block_delay_us = 0;  // real time before each block's ACK
  int program_kib_s = 0;   // flash programming rate in KiB per box second; 0: the NAND default
  std::size_t max_file = std::size_t(128) << 20;

  Selector fail_at;  // report fail_status instead of the command's own
  int fail_status = -4;
  Selector no_tftp;  // flash commands that send no read request
  std::set<std::uint64_t> lose_ack;
  std::set<std::uint64_t> dup_ack;
  std::uint64_t give_up_at = 0;  // take this block, then fail the transfer with -21
  std::uint64_t stall_at = 0;    // take this block, then answer nothing more
  std::size_t burst_bytes = 0;   // one unpaced block of console text before the status line
  Selector burst_at;
  int reboot_loop = 0;    // Linux boots that panic and restart; -1 for ever
  Selector vanish_at;     // close the line there and stop
  Selector vanish_after;  // close the line after the command's status and prompt
  Selector hang_at;       // take the line, then answer nothing more
  bool deaf = false;      // a broken receive line: the box hears nothing, and boots its system
  std::string ask_for;    // the file every read request names instead of the command's

  // The Ethernet address the box prints in its boot output and to ifconfig. The next box
  // put on the fixture (SIGUSR2) has this address plus one, and so on.
  std::string mac = "00-10-18-4A-2C-7E";
  // The fault switches apply to this box only (1 = the first on the fixture); 0: to all.
  int fault_box = 0;
  // Each box on the fixture with faults of its own (--box-faults): entry N-1 holds the fault
  // switches of the Nth box; boxes past the end play none. Overrides the switches above.
  std::vector<Options> box_faults;

  bool verbose = false;
};

// The faults of `options` cleared: what a box that is not the faulty one plays.
Options without_faults(const Options &options);

// What the `box`th box on the fixture (from 1) plays: `given` with the faults meant for it.
Options options_for_box(const Options &given, int box);

// "00-10-18-4A-2C-7E" plus `n` (the last three bytes carry); false when `mac` is not six
// hex pairs joined by "-".
bool next_mac(const std::string &mac, unsigned n, std::string &out);

// Returns false with a message for the user on a bad command line; `help` is set for --help.
bool parse_options(int argc, char **argv, Options &options, bool &help, std::string &error);
std::string usage_text();

}  // namespace boxsim
