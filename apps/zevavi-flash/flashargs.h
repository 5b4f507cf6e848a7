// The command line of zevavi-flash, read without touching the port, the network or the image.
#pragma once

#include <string>
#include <vector>

// Exit codes; --help lists them.
enum FlashExit {
  exit_finished = 0,      // the box took the reboot after every partition was flashed
  exit_usage = 2,         // a bad or missing argument, an address that cannot work
  exit_port = 3,          // the serial port cannot be opened or written, UDP port 69 cannot be used
  exit_box_failed = 4,    // the box reported a failure code
  exit_line_lost = 5,     // the serial line went away during the upgrade
  exit_timed_out = 6,     // --timeout ran out, or the box stopped answering
  exit_image = 7,         // the image cannot be read, extracted or lacks a partition
  exit_interrupted = 130  // SIGINT or SIGTERM
};

struct FlashOptions {
  std::string port;
  std::string model;
  int machine = -1;  // index of model in KESTA MORVA PELIN TORQA
  std::string box;
  std::string pc_address;  // empty: the PC's address facing the box
  std::string image;
  std::string log;      // empty: zevavi.log beside the program (or the state folder)
  std::string console;  // empty: the console is not kept
  int timeout_s = 0;    // 0: no limit for the whole run
  bool json = false;
  bool help = false;
};

// Fills `options` from argv[1..]; false with a sentence naming the bad argument in `error`.
// --help alone is enough; otherwise --port, --model, --box and the image are required.
bool parse_flash_args(const std::vector<std::string> &args, FlashOptions &options, std::string &error);

// The --help text.
std::string flash_usage();
