#include "tools/boxsim/box.h"

#include <cstdio>

namespace boxsim {

namespace {

// Broadcom STB loaders print this bar (42 asterisks) around the cancel message only when a
// 0x03 stopped the autostart; the PC takes four asterisks in a row as the sign that the
// box has started, so nothing else the box prints may hold them.
const std::string kBar(42, '*');

constexpr std::size_t kMaxLine = 255;

struct BootLine {
  const char *text;
  int pause_ms;  // box time before the line
};

// Loosely after public STB console logs; none of it may contain a watched pattern
// ("****", "CFE>", "us =").
const BootLine kBanner[] = {
    {"\n", 0},
    {"BCM97405D0 CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little\n", 50},
    {"Build Date: Tue Mar  2 10:14:33 CST 2010 (boxsim@zevavi)\n", 0},
    {"Copyright (C) Broadcom Corporation.\n\n", 0},
    {"DDR Freq: 400MHz\n", 150},
    {"CPU speed: 400MHz\n", 0},
    {"Memory Config: 256MB UMA\n", 0},
    {"Total memory: 256MB\n", 100},
    {"Boot Device: NAND\n", 0},
    {"NAND flash: Device size 256 MB, Block size 128 KB, Page size 2048 B\n", 150},
    {"Total flash: 256MB\n", 0},
    {"Initializing Arena.\n", 100},
    {"Initializing Devices.\n", 200},
};
const BootLine kDevices[] = {
    {"Initializing USB.\n", 300},
    {"USB: Locating Class 09 Vendor 0000 Product 0000: USB Hub\n", 150},
    {"CFE initialized.\n", 100},
    {nullptr, 100},  // the network's line, with the box's own address, as a router CFE prints it
};

}  // namespace

Box::Box(Console &console, Report &report, const Options &options)
    : console_(console),
      report_(report),
      given_(options),
      options_(options_for_box(options, 1)),
      commands_(console, report, options_) {}

void Box::next_box() {
  std::string mac;
  if (!next_mac(report_.mac, 1, mac))
    mac = report_.mac;
  report_.new_box(mac);
  options_ = options_for_box(given_, report_.box);
  command_count_ = 0;
  panics_ = 0;
  if (options_.verbose)
    std::fprintf(stderr, "boxsim: box %d (%s) put on\n", report_.box, mac.c_str());
}

void Box::set_state(const char *state) {
  report_.state = state;
  report_.save();
}

int Box::run() {
  try {
    try {
      if (options_.boot_delay_ms > 0)
        console_.wait_real(options_.boot_delay_ms);
    } catch (const PowerCycle &) {
      // Pressing the switch while off simply switches on.
    } catch (const NextBox &) {
      next_box();
    }
    for (;;) {
      try {
        power_on();
      } catch (const PowerCycle &) {
        if (options_.verbose)
          std::fprintf(stderr, "boxsim: power cycle\n");
      } catch (const NextBox &) {
        next_box();
      }
    }
  } catch (const Shutdown &) {
    set_state("stopped");
  } catch (const LineVanished &) {
    report_.vanished = true;
    set_state("vanished");
  }
  return 0;
}

void Box::power_on() {
  for (;;) {
    if (boot()) {
      command_loop();
      continue;
    }
    if (!boot_linux())
      break;
  }
  // Linux runs; it reads the console but this box has nothing to say to it.
  for (;;)
    console_.read_byte(-1);
}

bool Box::boot() {
  ++report_.boots;
  set_state("booting");
  // A reset empties the UART's receive FIFO; what the PC sent before is gone.
  console_.drain_input();

  for (const BootLine &l : kBanner) {
    console_.pause(l.pause_ms);
    console_.print(l.text);
  }
  if (options_.vanish_at.boot) {
    console_.vanish();
    throw LineVanished{};
  }
  if (options_.burst_bytes > 0 && options_.burst_at.boot) {
    std::string text;
    while (text.size() < options_.burst_bytes)
      text += "NAND: bad block table scanned, no bad blocks in 2048 blocks\r\n";
    text.resize(options_.burst_bytes);
    console_.burst(text);
  }
  for (const BootLine &l : kDevices) {
    console_.pause(l.pause_ms);
    console_.print(l.text ? std::string(l.text)
                          : "Device eth0:  hwaddr " + report_.mac +
                                ", ipaddr 192.168.1.1, mask 255.255.255.0\n"
                                "        gateway not set, nameserver not set\n");
  }

  set_state("autostart");
  // A 0x03 that arrived at any time during the boot output waits in the receive FIFO and
  // cancels the autostart here; the check takes everything pending with it. Loaders that
  // empty the FIFO first count only what comes during the wait itself.
  bool cancelled = console_.drain_input() && !options_.break_window_only && !options_.deaf;
  if (!cancelled) {
    using clock = std::chrono::steady_clock;
    const bool forever = options_.autostart_ms == 0;
    const auto deadline = clock::now() + std::chrono::milliseconds(options_.autostart_ms);
    while (!cancelled) {
      int left =
          forever
              ? -1
              : int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count());
      if (!forever && left <= 0)
        break;
      int byte = console_.read_byte(left);
      cancelled = byte == 0x03 && !options_.deaf;
      if (byte < 0 && !forever)
        break;
    }
    if (cancelled)
      console_.drain_input();
  }
  if (!cancelled)
    return false;
  console_.print(kBar + "\nAutomatic startup canceled via Ctrl-C\n" + kBar + "\n\n");
  return true;
}

void Box::command_loop() {
  for (;;) {
    set_state("cfe");
    console_.send("CFE> ");
    std::optional<std::string> line = read_line();
    if (!line) {
      ++report_.breaks_at_prompt;
      continue;
    }
    if (split_command_line(*line).empty())
      continue;  // a blank line prints no status, only a new prompt

    CommandRecord record;
    record.number = ++command_count_;
    record.boot = report_.boots;
    record.line = *line;
    report_.commands.push_back(record);
    set_state("command");

    Commands::LineResult result = commands_.run_line(*line, record.number);
    if (result.reboot) {
      report_.save();
      return;
    }
    report_.commands.back().status = result.status;
    report_.save();
    if (options_.verbose)
      std::fprintf(stderr, "boxsim: [%d] %s -> %d\n", record.number, record.line.c_str(),
                   result.status.value_or(0));
    console_.print("*** command status = " + std::to_string(result.status.value_or(0)) + "\n");
    if (!options_.vanish_after.empty() && options_.vanish_after.matches(record.number, record.line)) {
      console_.send("CFE> ");
      console_.vanish();
      throw LineVanished{};
    }
  }
}

std::optional<std::string> Box::read_line() {
  std::string line;
  for (;;) {
    int c = console_.read_byte(-1);
    if (c == '\r' || c == '\n') {
      console_.send("\r\n");
      return line;
    }
    if (c == 0x03) {
      console_.send("^C\r\n");
      return std::nullopt;
    }
    if (c == 0x08 || c == 0x7f) {
      if (!line.empty()) {
        line.pop_back();
        console_.send("\b \b");
      }
      continue;
    }
    if (c >= 0x20 && c < 0x7f && line.size() < kMaxLine) {
      line += char(c);
      console_.send(std::string(1, char(c)));
    }
  }
}

bool Box::boot_linux() {
  set_state("booting-linux");
  std::string kernel_size = "3145728";
  auto k = report_.partitions.find("flash0.kernel");
  if (k != report_.partitions.end())
    kernel_size = std::to_string(k->second.size);

  const BootLine lines[] = {
      {"Loader:elf Filesys:raw Dev:flash0.kernel File: Options:root=/dev/mtdblock3 "
       "rootfstype=jffs2 console=ttyS0,115200\n",
       100},
      {nullptr, 400},  // the Loading line, with the kernel's size
      {"Entry address is 0x802f4000\nStarting program at 0x802f4000\n", 100},
      {"Linux version 2.6.18-7.1 (boxsim@zevavi) (gcc version 4.2.0) #1 SMP PREEMPT\n", 200},
      {"CPU revision is: 0002a044\nDetermined physical RAM map:\n memory: 10000000 @ 00000000 (usable)\n", 0},
      {"Kernel command line: root=/dev/mtdblock3 rootfstype=jffs2 console=ttyS0,115200\n", 50},
      {"Serial: 8250/16550 driver, 2 ports, IRQ sharing disabled\n", 200},
      {"NAND device: Manufacturer ID: 0xec, Chip ID: 0xda (Samsung NAND 256MiB 3,3V 8-bit)\n", 150},
      {"eth0: GENET Internal Ethernet, link down\n", 150},
  };
  for (const BootLine &l : lines) {
    console_.pause(l.pause_ms);
    console_.print(l.text ? std::string(l.text)
                          : "Loading: 0x80001000/" + kernel_size + " 0x80301000/131072 ");
  }

  if (options_.reboot_loop < 0 || panics_ < options_.reboot_loop) {
    ++panics_;
    console_.pause(300);
    console_.print(
        "VFS: Cannot open root device \"mtdblock3\" or unknown-block(31,3)\n"
        "Kernel panic - not syncing: VFS: Unable to mount root fs on unknown-block(31,3)\n"
        "Rebooting in 1 seconds..\n");
    console_.pause(1000);
    return true;
  }
  console_.pause(300);
  // Saved before the last lines, so whoever waits for them finds the report current.
  set_state("linux");
  console_.print(
      "VFS: Mounted root (jffs2 filesystem) readonly.\n"
      "Freeing unused kernel memory: 176k freed\n\n"
      "Please press Enter to activate this console.\n");
  return false;
}

}  // namespace boxsim
