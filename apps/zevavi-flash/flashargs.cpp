#include "apps/zevavi-flash/flashargs.h"

#include "lib/records.h"
#include "lib/stationweb.h"
#include "src/addresscheck.h"
#include "src/boxmodels.h"
#include "src/upgrade.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {
std::string trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Text as the user gave it, in quotes, cut short where a long one would flood the message.
std::string quote_cut(const std::string &text) {
  constexpr size_t shown = 60;
  return "\"" + (text.size() > shown
                     ? text.substr(0, shown) + "\"... (" + std::to_string(text.size()) + " characters)"
                     : text + "\"");
}

// A units file lists a station's boxes, a line each: a few thousand lines at the most.
constexpr std::uintmax_t units_file_limit = 1024 * 1024;

// The text of a regular file of at most `limit` bytes, for `option`'s error. Only a regular
// file of a bounded size is read: a device (/dev/zero) would be read until memory ran out, a
// FIFO with no writer would never end.
bool read_small_file(const std::string &option, const std::string &path, std::uintmax_t limit,
                     const char *what, std::string &text, std::string &error) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    error = option + ": can't read " + quote_cut(path) +
            (ec ? " (" + ec.message() + ")." : ": there is no such file.");
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    error = option + ": " + quote_cut(path) + " is not a regular file.";
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > limit) {
    error = option + ": " + quote_cut(path) + " is too large for " + what + " (" +
            (ec ? ec.message() : std::to_string(size) + " bytes; at most " + std::to_string(limit)) + ").";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  text.assign(limit + 1, '\0');
  file.read(text.data(), std::streamsize(text.size()));
  text.resize(size_t(file.gcount()));
  if (!file.eof() || file.bad()) {
    error = text.size() > limit ? option + ": " + quote_cut(path) + " grew past the size of " + what + "."
                                : option + ": can't read " + quote_cut(path) + ".";
    return false;
  }
  return true;
}

}  // namespace

// Every line of a units file that is not blank or a comment, with its line number in the
// error when it is not a unit.
bool read_units_file(const std::string &path, std::vector<StationUnit> &units, std::string &error) {
  std::string text;
  if (!read_small_file("--units", path, units_file_limit, "a units file", text, error))
    return false;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (size_t hash = line.find('#'); hash != std::string::npos)
      line.erase(hash);
    line = trimmed(line);
    if (line.empty())
      continue;
    StationUnit unit;
    if (!parse_station_unit(line, unit, error)) {
      error = path + ", line " + std::to_string(number) + ": " + error;
      return false;
    }
    units.push_back(unit);
  }
  return true;
}

// No two boxes on one console, and no two boxes with one address: the TFTP service tells
// the boxes apart by their address alone.
bool units_distinct(const std::vector<StationUnit> &units, std::string &error) {
  std::set<std::string> ports, boxes;
  for (const StationUnit &unit : units) {
    if (!ports.insert(unit.port).second) {
      error = "The port " + quote_cut(unit.port) + " is given to more than one unit.";
      return false;
    }
    if (!boxes.insert(unit.box).second) {
      error = "The address " + unit.box + " is given to more than one unit.";
      return false;
    }
  }
  return true;
}

std::string units_file_text(const std::vector<StationUnit> &units) {
  std::string text;
  for (const StationUnit &unit : units)
    text += unit.port + " " + unit.box + "\n";
  return text;
}

bool parse_http_address(const std::string &text, std::string &address, int &port, std::string &error) {
  const size_t colon = text.rfind(':');
  const std::string host = colon == std::string::npos ? text : text.substr(0, colon);
  const std::string digits = colon == std::string::npos ? "" : text.substr(colon + 1);
  char *end = nullptr;
  const long number = std::strtol(digits.c_str(), &end, 10);
  if (!is_dotted_ipv4(host) || host.size() > 15 || digits.empty() || digits.size() > 5 || *end != '\0' ||
      number < 0 || number > 65535) {
    error = "--http " + quote_cut(text) + " is not ADDRESS:PORT, such as 0.0.0.0:8080 or 127.0.0.1:0.";
    return false;
  }
  address = host;
  port = int(number);
  return true;
}

bool read_http_token(const std::string &path, std::string &token, std::string &error) {
  // The token comes from a file: on the command line any user of the PC would see it.
  if (!read_small_file("--http-control", path, 4096, "a token file", token, error))
    return false;
  token = trimmed(token.substr(0, token.find('\n')));
  const bool printable =
      std::all_of(token.begin(), token.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; });
  if (token.size() < 16 || !printable) {
    token.clear();
    error = "--http-control: the first line of " + quote_cut(path) +
            " is not a token of at least 16 printable characters without blanks.";
    return false;
  }
  return true;
}

bool parse_station_unit(const std::string &text, StationUnit &unit, std::string &error) {
  // A device path may hold "=" itself; the address never does.
  size_t cut = text.find_last_of("= \t");
  if (cut == std::string::npos || cut == 0) {
    error = quote_cut(text) + " is not PORT=ADDRESS, such as /dev/ttyUSB0=192.168.1.50.";
    return false;
  }
  unit.port = trimmed(text.substr(0, cut));
  unit.box = trimmed(text.substr(cut + 1));
  if (unit.port.empty()) {
    error = quote_cut(text) + " names no port.";
    return false;
  }
  if (unit.box.empty() || !is_dotted_ipv4(unit.box) || unit.box.size() > 31) {
    error =
        quote_cut(unit.box) + " in " + quote_cut(text) + " is not an IPv4 address such as 192.168.102.45.";
    return false;
  }
  if (std::string problem = host_address_problem(unit.box); !problem.empty()) {
    error = unit.box + " in " + quote_cut(text) + " is " + problem + " of its /24 network, not a box's.";
    return false;
  }
  return true;
}

int outcome_of_line(const std::string &line, std::string &code) {
  if (line == "Finished, Reboot now!!")
    return exit_finished;
  if (line.rfind("Fail to upgrade your machine.", 0) == 0) {
    size_t at = line.find("err-code : ");
    if (at != std::string::npos)
      code = line.substr(at + 11, line.find(']', at) - at - 11);
    return exit_box_failed;
  }
  if (line.rfind("The machine stopped answering", 0) == 0)
    return exit_timed_out;
  if (line.rfind("Fail to write to", 0) == 0 || line.rfind("Lost the connection", 0) == 0)
    return exit_line_lost;
  if (line.rfind("Fail to serve", 0) == 0)
    return exit_port;
  return -1;
}

bool parse_flash_args(const std::vector<std::string> &args, FlashOptions &options, std::string &error) {
  options = FlashOptions{};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    // "--name=value" and "--name value" both work.
    std::string name = arg, value;
    bool has_value = false;
    if (arg.rfind("--", 0) == 0) {
      if (size_t eq = arg.find('='); eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        has_value = true;
      }
    }
    auto take = [&](std::string &into) {
      if (!has_value) {
        if (i + 1 >= args.size()) {
          error = name + " needs a value.";
          return false;
        }
        value = args[++i];
      }
      if (value.empty()) {
        error = name + " needs a value.";
        return false;
      }
      into = value;
      return true;
    };
    if (name == "--help" || name == "-h") {
      options.help = true;
      return true;
    } else if (name == "--json") {
      if (has_value) {
        error = name + " takes no value.";
        return false;
      }
      options.json = true;
    } else if (name == "--station") {
      if (has_value) {
        error = name + " takes no value.";
        return false;
      }
      options.station = true;
    } else if (name == "--continuous") {
      if (has_value) {
        error = name + " takes no value.";
        return false;
      }
      options.continuous = true;
    } else if (name == "--records") {
      if (!take(options.records))
        return false;
    } else if (name == "--export") {
      if (!take(options.export_format))
        return false;
      if (options.export_format != "csv") {
        error = "--export \"" + options.export_format + "\" is not a format this program writes: csv.";
        return false;
      }
    } else if (name == "--since") {
      std::string text;
      if (!take(text))
        return false;
      options.since = records_since_text(text);
      if (options.since.empty()) {
        error =
            "--since \"" + text + "\" is not a UTC date and time such as 2026-12-10 or 2026-12-10T08:30:00.";
        return false;
      }
    } else if (name == "--http") {
      std::string text;
      if (!take(text) || !parse_http_address(text, options.http_address, options.http_port, error))
        return false;
    } else if (name == "--http-control") {
      std::string path;
      if (!take(path) || !read_http_token(path, options.http_token, error))
        return false;
    } else if (name == "--unit") {
      std::string text;
      StationUnit unit;
      if (!take(text))
        return false;
      if (!parse_station_unit(text, unit, error)) {
        error = "--unit " + error;
        return false;
      }
      options.units.push_back(unit);
    } else if (name == "--units") {
      std::string path;
      if (!take(path) || !read_units_file(path, options.units, error))
        return false;
    } else if (name == "--port") {
      if (!take(options.port))
        return false;
    } else if (name == "--model") {
      if (!take(options.model))
        return false;
      // A later --model replaces an earlier one, the check too.
      options.machine = box_model_index(options.model);
      if (options.machine < 0) {
        error = "--model " + quote_cut(options.model) + " is not one of " + box_model_names(" ", " ") + ".";
        return false;
      }
    } else if (name == "--box") {
      if (!take(options.box))
        return false;
      if (!is_dotted_ipv4(options.box) || options.box.size() > 31) {
        error = "--box " + quote_cut(options.box) + " is not an IPv4 address such as 192.168.102.45.";
        return false;
      }
      if (std::string problem = host_address_problem(options.box); !problem.empty()) {
        error = "--box " + options.box + " is " + problem + " of its /24 network, not a box's.";
        return false;
      }
    } else if (name == "--pc-address") {
      if (!take(options.pc_address))
        return false;
      if (!is_dotted_ipv4(options.pc_address) || options.pc_address.size() > 31) {
        error = "--pc-address " + quote_cut(options.pc_address) +
                " is not an IPv4 address such as 192.168.102.10.";
        return false;
      }
    } else if (name == "--log") {
      if (!take(options.log))
        return false;
    } else if (name == "--console") {
      if (!take(options.console))
        return false;
    } else if (name == "--timeout" || name == "--silence") {
      std::string text;
      if (!take(text))
        return false;
      int seconds = 0;
      if (!parse_seconds(text, seconds)) {
        error = name + " " + quote_cut(text) + " is not a number of seconds from 1 to 86400.";
        return false;
      }
      (name == "--timeout" ? options.timeout_s : options.silence_s) = seconds;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "Unknown option " + quote_cut(arg) + ".";
      return false;
    } else if (options.image.empty()) {
      options.image = arg;
    } else {
      error = "Only one image can be flashed: " + quote_cut(arg) + " is one too many.";
      return false;
    }
  }
  if (!options.export_format.empty()) {
    if (options.station || !options.units.empty() || !options.port.empty() || !options.box.empty() ||
        !options.image.empty() || !options.model.empty())
      error = "--export prints the records; it flashes nothing, so it takes no boxes, model or image.";
    return error.empty();
  }
  if (!options.since.empty()) {
    error = "--since goes with --export.";
    return false;
  }
  if (!options.http_address.empty() && !StationWeb::available()) {
    error =
        "--http: this build of zevavi-flash has no web server (the Windows programs are built without it).";
    return false;
  }
  if (!options.http_address.empty() && !options.station) {
    error = "--http serves a station's page: it needs --station.";
    return false;
  }
  if (!options.http_token.empty() && (options.http_address.empty() || !options.continuous)) {
    error =
        "--http-control starts and stops the units of a station's page: it needs --http and --continuous.";
    return false;
  }
  if (options.continuous && !options.station) {
    error = "--continuous needs --station.";
    return false;
  }
  if (!options.records.empty() && !options.station) {
    error = "--records goes with --station or --export.";
    return false;
  }
  if (options.station) {
    if (!options.port.empty() || !options.box.empty())
      error = "--station takes its boxes from --unit or --units, not from --port and --box.";
    else if (!options.console.empty())
      error = "--console keeps one box's console; --station does not take it.";
    else if (options.model.empty())
      error = "--model is missing: one of " + box_model_names(" ", " ") + ".";
    else if (options.units.empty())
      error = "--station needs its boxes: --unit PORT=ADDRESS (repeated) or --units FILE.";
    else if (options.image.empty())
      error = "The image is missing: name the .zip or .nfi file to flash.";
    else
      units_distinct(options.units, error);
    return error.empty();
  }
  if (!options.units.empty())
    error = "--unit and --units need --station.";
  else if (options.port.empty())
    error = "--port is missing: name the box's serial port, such as /dev/ttyUSB0.";
  else if (options.model.empty())
    error = "--model is missing: one of " + box_model_names(" ", " ") + ".";
  else if (options.box.empty())
    error = "--box is missing: the box's IPv4 address.";
  else if (options.image.empty())
    error = "The image is missing: name the .zip or .nfi file to flash.";
  return error.empty();
}

std::string flash_usage() {
  return "Usage: zevavi-flash --port DEVICE --model MODEL --box ADDRESS [options] IMAGE\n"
         "       zevavi-flash --station --model MODEL --unit DEVICE=ADDRESS... [options] IMAGE\n"
         "       zevavi-flash --station --model MODEL --units FILE [options] IMAGE\n"
         "       zevavi-flash [--records FILE] --export csv [--since TIME]\n"
         "\n"
         "Flashes IMAGE (a .zip image or an .nfi container) into a set-top box through its\n"
         "boot loader: the serial console at DEVICE and a TFTP server on UDP port 69.\n"
         "\n"
         "With --station it flashes many boxes of one model at once, all started together:\n"
         "each unit is a box's serial console and the address the box is to use. One TFTP\n"
         "service on port 69 serves each box the file of its own upgrade, told by the box's\n"
         "address, so no two units may share an address (or a port). A table shows every\n"
         "box's step, percent and state (plain lines when the output is not a terminal;\n"
         "with --json every event names its port and box), and a summary ends the run.\n"
         "A box that fails or loses its line does not disturb the others.\n"
         "\n"
         "With --continuous each unit flashes box after box on its own: it waits for a box\n"
         "to power on (a boot banner on its console), flashes it, shows pass or fail, and\n"
         "waits for the next box: a banner with another Ethernet address (hwaddr). The box\n"
         "just flashed reboots with the same address and is left to boot its new system.\n"
         "To flash the box just done again, put it back, type the unit's number (in the\n"
         "order the units were given, from 1) or its port and Enter, and power it on.\n"
         "Ctrl-C stops each unit once its box is done (units waiting stop at once); a second\n"
         "Ctrl-C interrupts the boxes still being flashed.\n"
         "\n"
         "Every box attempt of a station is recorded in an SQLite file: station, port,\n"
         "address, the box's MAC and boot loader lines, model, image and its SHA-256, each\n"
         "partition's size, SHA-256 and the bytes served, start and end (UTC), result,\n"
         "failing step and the box's code. --export csv prints them.\n"
         "\n"
         "  --station            many boxes at once (--port and --box are not used)\n"
         "  --unit DEVICE=ADDR   one box: its console and its address; repeat for each box\n"
         "  --units FILE         the boxes from FILE, one \"DEVICE ADDRESS\" a line (\"#\"\n"
         "                       starts a comment); may be mixed with --unit\n"
         "  --continuous         box after box on each unit until Ctrl-C\n"
         "  --records FILE       the records file (default: records.sqlite in\n"
         "                       ~/.local/share/zevavi on Linux, %LOCALAPPDATA%\\zevavi on\n"
         "                       Windows)\n"
         "  --records postgresql://USER@HOST/DATABASE\n"
         "                       the records in a PostgreSQL database shared by many\n"
         "                       stations; each attempt is kept in the default records\n"
         "                       file too, and waits there while the database is away\n"
         "  --http ADDRESS:PORT  serve the station's page on this address and port only (0:\n"
         "                       any free port, printed at the start): every unit and the\n"
         "                       totals, live, and the records searchable by MAC with CSV;\n"
         "                       JSON at /api/units, /api/records?since=TIME&mac=TEXT and\n"
         "                       the events at /api/events. Read-only. Not in the Windows\n"
         "                       programs, which are built without the web server\n"
         "  --http-control FILE  with --http and --continuous: the units may be started and\n"
         "                       stopped over HTTP with the token on FILE's first line\n"
         "                       (Authorization: Bearer TOKEN; at least 16 characters)\n"
         "  --export csv         print the records as CSV and end\n"
         "  --since TIME         with --export: only attempts started at or after TIME\n"
         "                       (UTC: 2026-12-10, 2026-12-10T08:30 or 2026-12-10T08:30:00)\n"
         "\n"
         "  --port DEVICE        the box's serial console, such as /dev/ttyUSB0\n"
         "  --model MODEL        " +
         box_model_names(", ", " or ") +
         "\n"
         "  --box ADDRESS        the IPv4 address the box is to use\n"
         "  --pc-address ADDR    this PC's address the box fetches from (default: the PC's\n"
         "                       address in the box's /24 network; outside it only when given)\n"
         "  --json               one JSON object per line per event instead of text\n"
         "  --console FILE       keep the box's raw console bytes in FILE\n"
         "  --log FILE           the log (default: zevavi.log beside the program, or, where\n"
         "                       that folder is read-only, in ~/.local/state/zevavi on Linux\n"
         "                       and %LOCALAPPDATA%\\zevavi on Windows); the last five\n"
         "                       runs' logs are kept as FILE.1 to FILE.5; FILE must be a\n"
         "                       regular file or nothing yet\n"
         "  --timeout SECONDS    give up when the whole run takes longer\n"
         "  --silence SECONDS    how long the box may say nothing before it counts as hung\n"
         "                       (default 180); a step that writes or erases flash gets\n"
         "                       more, by the size of its partition\n"
         "  --help               this text\n"
         "\n"
         "Exit codes:\n"
         "  0    finished: every partition flashed and the box told to reboot\n"
         "  2    bad or missing argument, or an address that cannot work\n"
         "  3    the serial port cannot be opened or written, or UDP port 69 cannot be used\n"
         "  4    the box reported a failure (its code is printed)\n"
         "  5    the serial line was lost during the upgrade\n"
         "  6    time-out (--timeout) or the box stopped answering\n"
         "  7    the image cannot be read or extracted, or lacks a partition the model needs\n"
         "  8    --station: not every box finished (the summary names each and why)\n"
         "  9    the records file cannot be opened, written or read\n"
         "  130  interrupted (Ctrl-C or SIGTERM); the upgrade was stopped and the temporary\n"
         "       partition files removed\n";
}
