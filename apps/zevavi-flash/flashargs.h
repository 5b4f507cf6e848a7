// The command line of zevavi-flash, read without touching the port, the network or the image.
#pragma once

#include "lib/jsontext.h"

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
  exit_some_failed = 8,   // --station: at least one box did not finish (the summary says why)
  exit_records = 9,       // the records file cannot be opened, written or read
  exit_interrupted = 130  // SIGINT or SIGTERM
};

// One box of a station: its serial console and the address it is to use.
struct StationUnit {
  std::string port;
  std::string box;
};

struct FlashOptions {
  std::string port;
  std::string model;
  int machine = -1;  // index of model in box_models
  std::string box;
  std::string pc_address;  // empty: the PC's address facing the box
  std::string image;
  std::string log;      // empty: zevavi.log beside the program (or the state folder)
  std::string console;  // empty: the console is not kept
  int timeout_s = 0;    // 0: no limit for the whole run
  int silence_s = 0;    // 0: the default base of the silence limit
  bool json = false;
  bool help = false;
  bool station = false;     // many boxes at once: `units` instead of port and box
  bool continuous = false;  // --station: each unit flashes box after box until stopped
  std::vector<StationUnit> units;
  std::string records;        // empty: the records file in the user's data folder
  std::string export_format;  // "csv": print the records instead of flashing
  std::string since;          // --export: only attempts started then or later (records' time text)
  std::string http_address;   // --http: the station's page on this address ("" : none)
  int http_port = 0;
  std::string http_token;  // --http-control: the token read from its file ("" : read-only)
};

// Fills `options` from argv[1..]; false with a sentence naming the bad argument in `error`.
// --help alone is enough; otherwise --port, --model, --box and the image are required, or
// with --station: --model, the image and at least one unit (--unit PORT=ADDRESS, repeated,
// or --units FILE with one "PORT ADDRESS" pair a line; "#" starts a comment). No two units
// share a port or an address. --continuous needs --station; --records FILE names the
// records file (with --station or --export); --export csv [--since TIME] prints the records
// and needs nothing else. --http ADDRESS:PORT serves the station's page (with --station);
// --http-control FILE (with --http and --continuous) reads the token that may start and stop
// units. The units file and the token file are the only things read.
bool parse_flash_args(const std::vector<std::string> &args, FlashOptions &options, std::string &error);

// One unit from "PORT=ADDRESS" (or "PORT ADDRESS" from a units file); false with a
// sentence in `error`.
bool parse_station_unit(const std::string &text, StationUnit &unit, std::string &error);

// The units of a units file, appended to `units`: every line that is not blank or a comment
// (from "#"). False with a sentence naming the file (and the line) in `error`.
bool read_units_file(const std::string &path, std::vector<StationUnit> &units, std::string &error);

// The units as a units file holds them, one "PORT ADDRESS" a line.
std::string units_file_text(const std::vector<StationUnit> &units);

// No two units share a port or an address; false with a sentence in `error`.
bool units_distinct(const std::vector<StationUnit> &units, std::string &error);

// --http's ADDRESS:PORT (an IPv4 address, a port from 0, which takes any free one). False with
// a sentence in `error`.
bool parse_http_address(const std::string &text, std::string &address, int &port, std::string &error);

// --http-control's token: the first line of the file at `path`, at least 16 printable
// characters without blanks. False with a sentence in `error`.
bool read_http_token(const std::string &path, std::string &token, std::string &error);

// What a status line means for the exit code: exit_finished, exit_box_failed (with the
// box's code in `code`), exit_timed_out, exit_line_lost or exit_port; -1 for a line that
// decides nothing.
int outcome_of_line(const std::string &line, std::string &code);

// The --help text.
std::string flash_usage();
