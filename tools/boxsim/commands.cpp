#include "tools/boxsim/commands.h"

#include "tools/boxsim/sha256.h"
#include "tools/boxsim/tftp_client.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

namespace boxsim {

namespace {

// Box time at speed 1. NAND erases at tens of MB/s and programs at a few; the vendor
// erase commands clear fixed areas. Together they stay under the ten seconds the PC waits
// after the erase line before it sends its 0x03.
constexpr int kIfconfigMs = 200;
constexpr int kEraseFlash2Ms = 1500;
constexpr int kEraseFlash0Ms = 2500;
constexpr double kEraseBytesPerMs = 16.0 * 1024;
constexpr double kProgramBytesPerMs = 2.0 * 1024;
constexpr int kMinFlashStepMs = 100;

const char *const kPartitions[] = {"flash0.kernel", "flash0.splash", "flash0.boot", "flash0.avail0"};

std::string trim(std::string_view s) {
  auto start = s.find_first_not_of(" \t");
  if (start == std::string_view::npos)
    return {};
  auto stop = s.find_last_not_of(" \t");
  return std::string(s.substr(start, stop - start + 1));
}

std::vector<std::string> words(const std::string &command) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < command.size()) {
    auto start = command.find_first_not_of(" \t", pos);
    if (start == std::string::npos)
      break;
    auto stop = command.find_first_of(" \t", start);
    out.push_back(command.substr(start, stop - start));
    pos = stop;
  }
  return out;
}

bool dotted_ipv4(const std::string &text) {
  in_addr a{};
  return ::inet_pton(AF_INET, text.c_str(), &a) == 1;
}

// A netmask is dotted, with its one bits all on the left.
bool valid_netmask(const std::string &text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
    return false;
  std::uint32_t m = ntohl(a.s_addr);
  return m != 0 && (~m & (~m + 1)) == 0;
}

int flash_step_ms(std::size_t bytes, double bytes_per_ms) {
  return std::max(kMinFlashStepMs, int(double(bytes) / bytes_per_ms));
}

}  // namespace

std::vector<CommandPart> split_command_line(std::string_view line) {
  std::vector<CommandPart> parts;
  Joiner next = Joiner::First;
  std::size_t start = 0;
  auto take = [&](std::size_t stop, Joiner after) {
    std::string text = trim(line.substr(start, stop - start));
    if (!text.empty()) {
      parts.push_back({parts.empty() ? Joiner::First : next, std::move(text)});
      next = after;
    } else if (parts.empty()) {
      next = Joiner::First;
    } else {
      next = after;
    }
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ';') {
      take(i, Joiner::Always);
      start = i + 1;
    } else if ((line[i] == '&' || line[i] == '|') && i + 1 < line.size() && line[i + 1] == line[i]) {
      take(i, line[i] == '&' ? Joiner::IfOk : Joiner::IfFailed);
      start = i + 2;
      ++i;
    }
  }
  take(line.size(), Joiner::Always);
  return parts;
}

bool is_flash_partition(std::string_view name) {
  return std::find(std::begin(kPartitions), std::end(kPartitions), name) != std::end(kPartitions);
}

Commands::Commands(Console &console, Report &report, const Options &options)
    : console_(console), report_(report), options_(options) {}

Commands::LineResult Commands::run_line(std::string_view line, int line_number) {
  LineResult result;
  const auto parts = split_command_line(line);
  if (parts.empty())
    return result;

  bool burst = false;
  int status = 0;
  for (const CommandPart &part : parts) {
    if (part.joiner == Joiner::IfOk && status < 0)
      continue;
    if (part.joiner == Joiner::IfFailed && status >= 0)
      continue;
    if (!options_.vanish_at.empty() && options_.vanish_at.matches(line_number, part.text)) {
      console_.vanish();
      throw LineVanished{};
    }
    if (!options_.hang_at.empty() && options_.hang_at.matches(line_number, part.text)) {
      // A hung loader: whatever comes is swallowed, nothing goes out, until the
      // power switch (a PowerCycle thrown by the read) or the end.
      for (;;)
        console_.read_byte(-1);
    }
    burst = burst || (options_.burst_bytes > 0 && options_.burst_at.matches(line_number, part.text));
    bool reboot = false;
    status = run_one(part.text, line_number, reboot);
    if (reboot) {
      result.reboot = true;
      return result;
    }
  }
  if (burst)
    console_.burst(burst_text());
  result.status = status;
  return result;
}

int Commands::run_one(const std::string &command, int line_number, bool &reboot) {
  const auto args = words(command);
  const std::string &verb = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  std::optional<int> forced;
  if (!options_.fail_at.empty() && options_.fail_at.matches(line_number, command))
    forced = options_.fail_status;

  if (verb == "ifconfig")
    return ifconfig(rest, forced);
  if (verb == "flash")
    return flash(rest, forced, !options_.no_tftp.empty() && options_.no_tftp.matches(line_number, command));
  if (verb == "erase_flash0" || verb == "erase_flash2")
    return erase(verb.substr(6), forced);
  if (verb == "reboot") {
    reboot = true;
    return 0;
  }
  if (verb == "help")
    return forced.value_or(help());
  console_.print("Invalid command: \"" + verb +
                 "\"\n"
                 "Available commands: erase_flash0, erase_flash2, flash, help, ifconfig, reboot\n");
  return -2;
}

int Commands::help() {
  console_.print(
      "Available commands:\n\n"
      "erase_flash0        Erase the flash0 work area.\n"
      "erase_flash2        Erase the flash2 work area.\n"
      "flash               Update a flash memory device.\n"
      "help                Obtain help for CFE commands\n"
      "ifconfig            Configure the Ethernet interface\n"
      "reboot              Restart the box.\n\n"
      "For more information about a command, enter 'help command-name'\n");
  return 0;
}

int Commands::ifconfig(const std::vector<std::string> &args, std::optional<int> forced) {
  if (args.empty() || args[0].front() == '-') {
    console_.print("Usage: ifconfig device [-addr=ip -mask=netmask [-gw=ip] [-dns=ip]] [-auto]\n");
    return -2;
  }
  const std::string &device = args[0];
  std::string addr, mask = "255.255.255.0";
  bool automatic = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a.rfind("-addr=", 0) == 0)
      addr = a.substr(6);
    else if (a.rfind("-mask=", 0) == 0)
      mask = a.substr(6);
    else if (a.rfind("-gw=", 0) == 0 || a.rfind("-dns=", 0) == 0)
      continue;
    else if (a == "-auto")
      automatic = true;
    else {
      console_.print("Invalid switch: " + a + "\n");
      return -2;
    }
  }
  if (device != "eth0") {
    console_.print("Could not activate network interface '" + device + "': " + cfe_error_text(-6) + "\n");
    return -6;
  }
  if (automatic) {
    // No DHCP server stands behind a simulated box's cable.
    console_.pause(3000);
    console_.print("Could not activate network interface 'eth0': " + cfe_error_text(-21) + "\n");
    return -21;
  }
  if (addr.empty()) {
    if (report_.ip.empty()) {
      console_.print("Device eth0 has not been configured.\n");
      return 0;
    }
  } else {
    if (!dotted_ipv4(addr)) {
      console_.print("Invalid interface IP address: " + addr + "\n");
      return -8;
    }
    if (!valid_netmask(mask)) {
      console_.print("Invalid netmask: " + mask + "\n");
      return -8;
    }
    console_.pause(kIfconfigMs);
    if (forced && *forced < 0) {
      console_.print("Could not activate network interface 'eth0': " + cfe_error_text(*forced) + "\n");
      return *forced;
    }
    report_.ip = addr;
    report_.mask = mask;
  }
  console_.print(std::string("Device eth0:  hwaddr ") + report_.mac + ", ipaddr " + report_.ip + ", mask " +
                 report_.mask + "\n        gateway not set, nameserver not set\n");
  return forced.value_or(0);
}

int Commands::flash(const std::vector<std::string> &args, std::optional<int> forced, bool no_request) {
  std::vector<std::string> positional;
  for (const std::string &a : args) {
    if (a.front() != '-') {
      positional.push_back(a);
      continue;
    }
    if (a != "-noheader" && a != "-forceerase" && a != "-noerase") {
      console_.print("Invalid switch: " + a + "\n");
      return -2;
    }
  }
  if (positional.size() != 2) {
    console_.print("Usage: flash [-noheader] [-forceerase] [-noerase] host:file device\n");
    return -2;
  }
  const std::string &source = positional[0];
  const std::string &target = positional[1];
  if (!is_flash_partition(target)) {
    console_.print("Could not open device " + target + ": " + cfe_error_text(-6) + "\n");
    return -6;
  }
  console_.print("Reading " + source + ": ");
  auto failed = [&](int status) {
    console_.print("Failed.: " + cfe_error_text(status) + "\n");
    return status;
  };
  const auto colon = source.find(':');
  if (colon == std::string::npos)
    return failed(-6);  // a local device as source: this box has none to read from
  const std::string host = source.substr(0, colon);
  const std::string file = source.substr(colon + 1);
  if (!dotted_ipv4(host))
    return failed(-20);
  if (file.empty())
    return failed(-18);
  if (report_.ip.empty())
    return failed(-23);

  TftpConfig config;
  config.server_port = options_.tftp_port;
  config.timeout_ms = options_.tftp_timeout_ms;
  config.retries = options_.tftp_retries;
  config.block_delay_us = options_.block_delay_us;
  config.max_bytes = options_.max_file;
  config.local_address = report_.ip;
  TftpFaults faults;
  faults.no_request = no_request;
  faults.lose_ack = options_.lose_ack;
  faults.give_up_at = options_.give_up_at;
  faults.stall_at = options_.stall_at;
  faults.dup_ack = options_.dup_ack;
  TftpOutcome got = tftp_read(host, options_.ask_for.empty() ? file : options_.ask_for, config, faults,
                              [this] { console_.check_events(); });
  report_.transfers.push_back(got.record);
  if (got.status != 0) {
    if (!got.server_error.empty())
      console_.print(got.server_error + "\n");
    return failed(got.status);
  }
  const std::size_t size = got.data.size();
  console_.print("Done. " + std::to_string(size) + " bytes read\n");

  console_.print("Erasing flash...");
  console_.pause(flash_step_ms(size, kEraseBytesPerMs));
  console_.print("Programming...");
  const double program_rate =
      options_.program_kib_s > 0 ? options_.program_kib_s * 1024.0 / 1000 : kProgramBytesPerMs;
  console_.pause(flash_step_ms(size, program_rate));
  if (forced && *forced < 0)
    return failed(*forced);
  console_.print("done. " + std::to_string(size) + " bytes written\n");

  PartitionRecord &p = report_.partitions[target];
  p.size = size;
  p.sha256 = sha256_hex(got.data.data(), size);
  p.source = source;
  ++p.writes;
  return forced.value_or(0);
}

int Commands::erase(const std::string &device, std::optional<int> forced) {
  console_.print("Erasing " + device + "...");
  console_.pause(device == "flash2" ? kEraseFlash2Ms : kEraseFlash0Ms);
  if (forced && *forced < 0) {
    console_.print("Failed.: " + cfe_error_text(*forced) + "\n");
    return *forced;
  }
  console_.print("done\n");
  report_.erased.push_back(device);
  return forced.value_or(0);
}

std::string Commands::burst_text() const {
  // Chatter of the kind NAND drivers print; exactly burst_bytes bytes with CR LF line
  // ends, and nothing in it that looks like a prompt, a status or the start-up bar.
  const std::size_t want = options_.burst_bytes;
  std::string out;
  out.reserve(want);
  for (unsigned page = 0; out.size() < want; ++page) {
    char line[96];
    int n = std::snprintf(line, sizeof line, "nand_read_ecc: corrected single-bit error at page 0x%05x\r\n",
                          page * 64);
    if (out.size() + std::size_t(n) <= want) {
      out.append(line, std::size_t(n));
    } else {
      std::size_t left = want - out.size();
      if (left >= 2)
        out.append(left - 2, '.');
      out.append("\r\n", std::min<std::size_t>(left, 2));
    }
  }
  return out;
}

}  // namespace boxsim
