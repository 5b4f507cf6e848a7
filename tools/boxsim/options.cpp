#include "tools/boxsim/options.h"

#include <getopt.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace boxsim {

namespace {

template <typename T>
bool parse_number(std::string_view text, T &out) {
  if (text.empty())
    return false;
  const char *end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

bool parse_double(const std::string &text, double &out) {
  char *end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0';
}

bool parse_blocks(std::string_view text, std::set<std::uint64_t> &out) {
  while (!text.empty()) {
    auto comma = text.find(',');
    std::uint64_t block = 0;
    if (!parse_number(text.substr(0, comma), block) || block == 0)
      return false;
    out.insert(block);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return !out.empty();
}

std::string_view first_word(std::string_view command) {
  auto start = command.find_first_not_of(' ');
  if (start == std::string_view::npos)
    return {};
  command.remove_prefix(start);
  return command.substr(0, command.find(' '));
}

}  // namespace

bool Selector::matches(int line_number, std::string_view command) const {
  if (all)
    return true;
  if (line != 0)
    return line == line_number;
  if (word.empty())
    return false;
  if (first_word(command) == word)
    return true;
  // Any argument that equals the word: flash targets such as "flash0.avail0".
  std::size_t pos = 0;
  while (pos < command.size()) {
    auto start = command.find_first_not_of(' ', pos);
    if (start == std::string_view::npos)
      break;
    auto stop = command.find(' ', start);
    if (command.substr(start, stop - start) == word)
      return true;
    pos = stop;
  }
  return false;
}

bool Selector::parse(std::string_view text, Selector &out) {
  out = Selector{};
  if (text == "all") {
    out.all = true;
    return true;
  }
  if (text == "boot") {
    out.boot = true;
    return true;
  }
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos)
    return parse_number(text, out.line) && out.line > 0;
  if (text.empty() || text.find_first_of(" ;=") != std::string_view::npos)
    return false;
  out.word = std::string(text);
  return true;
}

namespace {

// The fault switches of `from` in place of those of `to`.
void take_faults(const Options &from, Options &to) {
  to.fail_at = from.fail_at;
  to.fail_status = from.fail_status;
  to.no_tftp = from.no_tftp;
  to.lose_ack = from.lose_ack;
  to.dup_ack = from.dup_ack;
  to.give_up_at = from.give_up_at;
  to.stall_at = from.stall_at;
  to.burst_bytes = from.burst_bytes;
  to.burst_at = from.burst_at;
  to.reboot_loop = from.reboot_loop;
  to.vanish_at = from.vanish_at;
  to.vanish_after = from.vanish_after;
  to.hang_at = from.hang_at;
  to.ask_for = from.ask_for;
  to.deaf = from.deaf;
}

}  // namespace

Options without_faults(const Options &o) {
  Options clean = o;
  take_faults(Options{}, clean);
  return clean;
}

Options options_for_box(const Options &given, int box) {
  if (given.box_faults.empty())
    return given.fault_box == 0 || given.fault_box == box ? given : without_faults(given);
  Options out = given;
  take_faults(
      box >= 1 && size_t(box) <= given.box_faults.size() ? given.box_faults[size_t(box) - 1] : Options{},
      out);
  return out;
}

bool next_mac(const std::string &mac, unsigned n, std::string &out) {
  if (mac.size() != 17)
    return false;
  unsigned bytes[6];
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && mac[size_t(i) * 3 - 1] != '-')
      return false;
    std::string_view pair(mac.data() + i * 3, 2);
    if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
      return false;
    std::from_chars(pair.data(), pair.data() + 2, bytes[i], 16);
  }
  const unsigned low = ((bytes[3] << 16 | bytes[4] << 8 | bytes[5]) + n) & 0xffffff;
  bytes[3] = low >> 16, bytes[4] = (low >> 8) & 0xff, bytes[5] = low & 0xff;
  char text[18];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", bytes[0], bytes[1], bytes[2], bytes[3],
                bytes[4], bytes[5]);
  out = text;
  return true;
}

std::string usage_text() {
  return R"(Usage: boxsim [OPTION]...
Plays a set-top box's CFE boot loader on a pty (or a serial device) for ZeVavi:
boot output, 0x03 stops the autostart, "CFE> " prompt, ifconfig, flash (over TFTP),
erase_flash0/erase_flash2, reboot, help; "*** command status = N" after each line.
The pty's slave path is printed on the first line of standard output.

Line:
  --device PATH         talk on this serial device (115200 8N1, raw) instead of a pty
  --pty-link PATH       also make PATH a symlink to the pty's slave (removed at exit)
  --report PATH         JSON report of what was flashed (size, sha256 per partition),
                        the command log and the transfers; rewritten after each command

Time:
  --baud N              pace output at N baud (default 115200; 0 = unpaced)
  --speed F             box time (pacing, boot pauses, erasing, programming) F times
                        faster (default 1)
  --fast                no pacing, no box time (the autostart wait still applies)
  --autostart-ms N      real time the loader waits for 0x03 before booting Linux
                        (default 2000; 0 = wait for ever)
  --boot-delay-ms N     stay powered off this long before the first boot (default 0)
  --break-window-only   a 0x03 counts only while the loader waits: what arrived during
                        the boot output is dropped when the wait begins (loaders that
                        empty their receive FIFO first)
  Signal SIGUSR1 power-cycles the box; SIGTERM/SIGINT write the report and exit.

Fixture:
  --mac XX-XX-XX-XX-XX-XX  the box's Ethernet address (default 00-10-18-4A-2C-7E)
  --fault-box N         the faults below apply only to the Nth box on the fixture
                        (default: every box)
  --box-faults FILE     each box its own faults: line N of FILE holds the fault
                        switches of the Nth box (blank: none), as on this command line;
                        the fault switches given here are then not used
  Signal SIGUSR2 takes the box off the fixture and puts the next one on: a new box
  (the address plus one, nothing flashed, a fresh report) powers on.

TFTP client:
  --tftp-port N         server port of the read request (default 69)
  --tftp-timeout-ms N   wait per try (default 1000)
  --tftp-retries N      tries before -21 "Timeout occured" (default 8)
  --block-delay-us N    real time the box takes with each block before its ACK
                        (default 0; about 1000 is a real boot loader's pace)
  --program-kib-s N     program flash at N KiB per box second, silent meanwhile
                        (default 2048, NAND; a slow NOR part writes well under 100)
  --max-file BYTES      staging buffer; a larger file is cancelled, status -5
                        (default 134217728)

Faults (SEL is "all", "boot", a command line number counted from 1 since start,
or a word of the command: a command name or a flash target such as flash0.avail0;
a line "a; b" runs both and its status is the last command's):
  --fail-at SEL[=N]     the selected command reports status N (default -4) after its work
  --no-tftp[=SEL]       flash sends no read request and fails with -21 (default all)
  --lose-ack LIST       withhold the first ACK of these blocks (comma list, from 1)
  --dup-ack LIST        send the ACK of these blocks twice
  --give-up-at N        take block N, then fail the transfer with -21 at once,
                        sending nothing more to the server
  --stall-at N          take block N, then never answer the server again
  --burst BYTES[@SEL]   write BYTES of console text in one unpaced block before the
                        status line (or in the boot output for SEL "boot"; default all)
  --reboot-loop[=N]     Linux panics and the box restarts, N times (default for ever)
  --vanish-at SEL       close the line (the pty master) when SEL starts, then exit
  --vanish-after SEL    close the line (then exit) right after the selected command's
                        status line and the prompt that follows it
  --hang-at SEL         take the selected command line, then never answer again
                        (the line stays open; a power cycle restarts the box)
  --deaf                the box hears nothing on its console (a broken receive line):
                        no break key reaches its loader, and it boots its system
  --ask-for FILE        every read request names FILE instead of the file of the
                        flash command (a box set up for another box's image)

  --verbose             trace to standard error
  --help                this text
)";
}

namespace {

// --box-faults: one line of fault switches per box; a line that does not parse names itself.
bool read_box_faults(const std::string &path, std::vector<Options> &out, std::string &error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read --box-faults " + path;
    return false;
  }
  int number = 0;
  for (std::string text; std::getline(in, text);) {
    ++number;
    std::istringstream words(text);
    std::vector<std::string> args = {"boxsim"};
    for (std::string word; words >> word;)
      args.push_back(word);
    std::vector<char *> argv;
    for (std::string &arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    Options one;
    bool help = false;
    std::string why;
    if (!parse_options(int(args.size()), argv.data(), one, help, why) || help || !one.box_faults.empty()) {
      error = path + " line " + std::to_string(number) + ": " + (why.empty() ? "fault switches only" : why);
      return false;
    }
    out.push_back(one);
  }
  return true;
}

}  // namespace

bool parse_options(int argc, char **argv, Options &o, bool &help, std::string &error) {
  enum {
    kDevice = 1000,
    kPtyLink,
    kReport,
    kBaud,
    kSpeed,
    kFast,
    kAutostart,
    kBootDelay,
    kTftpPort,
    kTftpTimeout,
    kTftpRetries,
    kBlockDelayUs,
    kProgramKibS,
    kMaxFile,
    kFailAt,
    kNoTftp,
    kLoseAck,
    kDupAck,
    kGiveUpAt,
    kStallAt,
    kBurst,
    kRebootLoop,
    kVanishAt,
    kVanishAfter,
    kBreakWindowOnly,
    kHangAt,
    kDeaf,
    kAskFor,
    kMac,
    kFaultBox,
    kBoxFaults,
    kVerbose,
    kHelp
  };
  static const option longs[] = {
      {"device", required_argument, nullptr, kDevice},
      {"pty-link", required_argument, nullptr, kPtyLink},
      {"report", required_argument, nullptr, kReport},
      {"baud", required_argument, nullptr, kBaud},
      {"speed", required_argument, nullptr, kSpeed},
      {"fast", no_argument, nullptr, kFast},
      {"autostart-ms", required_argument, nullptr, kAutostart},
      {"boot-delay-ms", required_argument, nullptr, kBootDelay},
      {"tftp-port", required_argument, nullptr, kTftpPort},
      {"tftp-timeout-ms", required_argument, nullptr, kTftpTimeout},
      {"tftp-retries", required_argument, nullptr, kTftpRetries},
      {"block-delay-us", required_argument, nullptr, kBlockDelayUs},
      {"program-kib-s", required_argument, nullptr, kProgramKibS},
      {"max-file", required_argument, nullptr, kMaxFile},
      {"fail-at", required_argument, nullptr, kFailAt},
      {"no-tftp", optional_argument, nullptr, kNoTftp},
      {"lose-ack", required_argument, nullptr, kLoseAck},
      {"give-up-at", required_argument, nullptr, kGiveUpAt},
      {"stall-at", required_argument, nullptr, kStallAt},
      {"dup-ack", required_argument, nullptr, kDupAck},
      {"burst", required_argument, nullptr, kBurst},
      {"reboot-loop", optional_argument, nullptr, kRebootLoop},
      {"vanish-at", required_argument, nullptr, kVanishAt},
      {"vanish-after", required_argument, nullptr, kVanishAfter},
      {"break-window-only", no_argument, nullptr, kBreakWindowOnly},
      {"hang-at", required_argument, nullptr, kHangAt},
      {"deaf", no_argument, nullptr, kDeaf},
      {"ask-for", required_argument, nullptr, kAskFor},
      {"mac", required_argument, nullptr, kMac},
      {"fault-box", required_argument, nullptr, kFaultBox},
      {"box-faults", required_argument, nullptr, kBoxFaults},
      {"verbose", no_argument, nullptr, kVerbose},
      {"help", no_argument, nullptr, kHelp},
      {nullptr, 0, nullptr, 0},
  };

  std::string box_faults_path;
  help = false;
  optind = 1;
  opterr = 0;
  for (;;) {
    int index = 0;
    int c = getopt_long(argc, argv, "", longs, &index);
    if (c == -1)
      break;
    const std::string arg = optarg ? optarg : "";
    const std::string name =
        c >= kDevice && c <= kHelp ? std::string("--") + longs[c - kDevice].name : std::string();
    auto bad = [&] {
      error = "invalid value for " + name + ": '" + arg + "'";
      return false;
    };
    switch (c) {
      case kDevice:
        o.device = arg;
        break;
      case kPtyLink:
        o.pty_link = arg;
        break;
      case kReport:
        o.report_path = arg;
        break;
      case kBaud:
        if (!parse_number(arg, o.baud) || o.baud < 0)
          return bad();
        break;
      case kSpeed:
        if (!parse_double(arg, o.speed) || !(o.speed > 0))
          return bad();
        break;
      case kFast:
        o.fast = true;
        break;
      case kAutostart:
        if (!parse_number(arg, o.autostart_ms) || o.autostart_ms < 0)
          return bad();
        break;
      case kBootDelay:
        if (!parse_number(arg, o.boot_delay_ms) || o.boot_delay_ms < 0)
          return bad();
        break;
      case kTftpPort:
        if (!parse_number(arg, o.tftp_port) || o.tftp_port == 0)
          return bad();
        break;
      case kTftpTimeout:
        if (!parse_number(arg, o.tftp_timeout_ms) || o.tftp_timeout_ms <= 0)
          return bad();
        break;
      case kTftpRetries:
        if (!parse_number(arg, o.tftp_retries) || o.tftp_retries <= 0)
          return bad();
        break;
      case kBlockDelayUs:
        if (!parse_number(arg, o.block_delay_us) || o.block_delay_us < 0 || o.block_delay_us > 1000000)
          return bad();
        break;
      case kProgramKibS:
        if (!parse_number(arg, o.program_kib_s) || o.program_kib_s <= 0)
          return bad();
        break;
      case kMaxFile:
        if (!parse_number(arg, o.max_file))
          return bad();
        break;
      case kFailAt: {
        auto eq = arg.find('=');
        if (!Selector::parse(std::string_view(arg).substr(0, eq), o.fail_at))
          return bad();
        if (eq != std::string::npos && !parse_number(std::string_view(arg).substr(eq + 1), o.fail_status))
          return bad();
        break;
      }
      case kNoTftp:
        if (!Selector::parse(optarg ? arg : "all", o.no_tftp))
          return bad();
        break;
      case kGiveUpAt:
        if (!parse_number(arg, o.give_up_at) || o.give_up_at == 0)
          return bad();
        break;
      case kStallAt:
        if (!parse_number(arg, o.stall_at) || o.stall_at == 0)
          return bad();
        break;
      case kLoseAck:
        if (!parse_blocks(arg, o.lose_ack))
          return bad();
        break;
      case kDupAck:
        if (!parse_blocks(arg, o.dup_ack))
          return bad();
        break;
      case kBurst: {
        auto at = arg.find('@');
        if (!parse_number(std::string_view(arg).substr(0, at), o.burst_bytes) || o.burst_bytes == 0)
          return bad();
        if (!Selector::parse(at == std::string::npos ? "all" : std::string_view(arg).substr(at + 1),
                             o.burst_at))
          return bad();
        break;
      }
      case kRebootLoop:
        o.reboot_loop = -1;
        if (optarg && (!parse_number(arg, o.reboot_loop) || o.reboot_loop <= 0))
          return bad();
        break;
      case kVanishAt:
        if (!Selector::parse(arg, o.vanish_at))
          return bad();
        break;
      case kVanishAfter:
        if (!Selector::parse(arg, o.vanish_after))
          return bad();
        break;
      case kBreakWindowOnly:
        o.break_window_only = true;
        break;
      case kDeaf:
        o.deaf = true;
        break;
      case kHangAt:
        if (!Selector::parse(arg, o.hang_at))
          return bad();
        break;
      case kAskFor:
        if (arg.empty())
          return bad();
        o.ask_for = arg;
        break;
      case kMac: {
        std::string same;
        if (!next_mac(arg, 0, same) || same != arg)
          return bad();
        o.mac = arg;
        break;
      }
      case kFaultBox:
        if (!parse_number(arg, o.fault_box) || o.fault_box <= 0)
          return bad();
        break;
      case kBoxFaults:
        box_faults_path = arg;
        break;
      case kVerbose:
        o.verbose = true;
        break;
      case kHelp:
        help = true;
        return true;
      default:
        error = std::string("unknown option '") + argv[optind - 1] + "'";
        return false;
    }
  }
  if (optind < argc) {
    error = std::string("unexpected argument '") + argv[optind] + "'";
    return false;
  }
  if (!o.device.empty() && !o.pty_link.empty()) {
    error = "--pty-link needs a pty; it cannot go with --device";
    return false;
  }
  return box_faults_path.empty() || read_box_faults(box_faults_path, o.box_faults, error);
}

}  // namespace boxsim
