#include "apps/zevavi-flash/flashargs.h"

#include "src/addresscheck.h"

#include <cerrno>
#include <cstdlib>

namespace {
const char *const models[] = {"KESTA", "MORVA", "PELIN", "TORQA"};
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
    } else if (name == "--port") {
      if (!take(options.port))
        return false;
    } else if (name == "--model") {
      if (!take(options.model))
        return false;
      // A later --model replaces an earlier one, the check too.
      options.machine = -1;
      for (int m = 0; m < 4; ++m)
        if (options.model == models[m])
          options.machine = m;
      if (options.machine < 0) {
        error = "--model \"" + options.model + "\" is not one of KESTA MORVA PELIN TORQA.";
        return false;
      }
    } else if (name == "--box") {
      if (!take(options.box))
        return false;
      if (!is_dotted_ipv4(options.box) || options.box.size() > 31) {
        error = "--box \"" + options.box + "\" is not an IPv4 address such as 192.168.102.45.";
        return false;
      }
    } else if (name == "--pc-address") {
      if (!take(options.pc_address))
        return false;
      if (!is_dotted_ipv4(options.pc_address) || options.pc_address.size() > 31) {
        error = "--pc-address \"" + options.pc_address + "\" is not an IPv4 address such as 192.168.102.10.";
        return false;
      }
    } else if (name == "--log") {
      if (!take(options.log))
        return false;
    } else if (name == "--console") {
      if (!take(options.console))
        return false;
    } else if (name == "--timeout") {
      std::string text;
      if (!take(text))
        return false;
      errno = 0;
      char *end = nullptr;
      long seconds = std::strtol(text.c_str(), &end, 10);
      if (errno != 0 || *end != '\0' || seconds <= 0 || seconds > 86400 ||
          !(text[0] >= '0' && text[0] <= '9')) {
        error = "--timeout \"" + text + "\" is not a number of seconds from 1 to 86400.";
        return false;
      }
      options.timeout_s = int(seconds);
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "Unknown option " + arg + ".";
      return false;
    } else if (options.image.empty()) {
      options.image = arg;
    } else {
      error = "Only one image can be flashed: \"" + arg + "\" is one too many.";
      return false;
    }
  }
  if (options.port.empty())
    error = "--port is missing: name the box's serial port, such as /dev/ttyUSB0.";
  else if (options.model.empty())
    error = "--model is missing: one of KESTA MORVA PELIN TORQA.";
  else if (options.box.empty())
    error = "--box is missing: the box's IPv4 address.";
  else if (options.image.empty())
    error = "The image is missing: name the .zip or .nfi file to flash.";
  return error.empty();
}

std::string flash_usage() {
  return "Usage: zevavi-flash --port DEVICE --model MODEL --box ADDRESS [options] IMAGE\n"
         "\n"
         "Flashes IMAGE (a .zip image or an .nfi container) into a set-top box through its\n"
         "boot loader: the serial console at DEVICE and a TFTP server on UDP port 69.\n"
         "\n"
         "  --port DEVICE        the box's serial console, such as /dev/ttyUSB0\n"
         "  --model MODEL        KESTA, MORVA, PELIN or TORQA\n"
         "  --box ADDRESS        the IPv4 address the box is to use\n"
         "  --pc-address ADDR    this PC's address the box fetches from (default: the PC's\n"
         "                       address in the box's /24 network; outside it only when given)\n"
         "  --json               one JSON object per line per event instead of text\n"
         "  --console FILE       keep the box's raw console bytes in FILE\n"
         "  --log FILE           the log (default: zevavi.log beside the program, or the\n"
         "                       state folder when that is read-only)\n"
         "  --timeout SECONDS    give up when the whole run takes longer\n"
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
         "  130  interrupted (Ctrl-C or SIGTERM); the upgrade was stopped and the temporary\n"
         "       partition files removed\n";
}
