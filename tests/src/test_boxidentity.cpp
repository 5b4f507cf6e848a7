// Which box is on a fixture: the identity read from real boot loaders' banners, and the rule
// that tells the next box from the one just flashed rebooting.
#include "src/boxidentity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct BannerCase {
  const char *name;
  std::string console;  // as the box sends it, CR LF line ends
  BoxIdentity want;
};

std::string crlf(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += '\r';
    out += c;
  }
  return out;
}

// Banners as public console logs show them (router CFE 1.0.37, set-top CFE 1.1, 2.17 and
// 2.1.21) and the corners a console can hold.
TEST(BannerReader, KeepsWhatTheLoaderPrintedAndNothingElse) {
  const BannerCase cases[] = {
      {"router CFE with its network line",
       crlf("CFE version 1.0.37 for BCM947XX (32bit,SP,LE)\n"
            "Build Date: Mon Nov 14 18:06:25 CST 2005 (root@localhost.localdomain)\n"
            "Copyright (C) 2000,2001,2002,2003 Broadcom Corporation.\n\n"
            "mac_init(): Find mac [00:18:39:6F:78:15] in location 0\n"
            "Device eth0:  hwaddr 00-18-39-6F-78-15, ipaddr 192.168.1.1, mask 255.255.255.0\n"
            "        gateway not set, nameserver not set\n"
            "Automatic startup canceled via Ctrl-C\nCFE> "),
       {"00-18-39-6F-78-15", "CFE version 1.0.37 for BCM947XX (32bit,SP,LE)",
        "Build Date: Mon Nov 14 18:06:25 CST 2005 (root@localhost.localdomain)"}},
      {"set-top CFE 1.1 that names no address",
       crlf("Common Firmware Environment (CFE) version 1.1 for BCM97401C1, (Little Endian Mode)\n"
            "Build Date: Wed Jan 23 13:31:55     2008 (fangyu@hansunte-d6fcaf)\n"
            "Initializing Arena.\nCPU speed: 297MHz\n"),
       {"", "Common Firmware Environment (CFE) version 1.1 for BCM97401C1, (Little Endian Mode)",
        "Build Date: Wed Jan 23 13:31:55     2008 (fangyu@hansunte-d6fcaf)"}},
      {"set-top CFE v2.17 after its memory test lines",
       crlf("BCM73350010\n012\nShmoo Version=1.9\nCOPY CODE\n"
            "BCM97335B0 CFE v2.17, CFE core v2.12, Endian Mode: Little\n"
            "Build Date: Thu Sep 29 12:01:32 2011 (shcheong@ncsh)\nCFE initialized.\n"),
       {"", "BCM97335B0 CFE v2.17, CFE core v2.12, Endian Mode: Little",
        "Build Date: Thu Sep 29 12:01:32 2011 (shcheong@ncsh)"}},
      {"lower-case address with colons",
       crlf("BCM97601 B0-BSEC-21  CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little\n"
            "eth0: hwaddr 00:10:18:ab:cd:ef\n"),
       {"00-10-18-AB-CD-EF",
        "BCM97601 B0-BSEC-21  CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little", ""}},
      {"an address that was never programmed tells no box apart",
       crlf("CFE version 1.0.37 for BCM947XX\nDevice eth0:  hwaddr 00-00-00-00-00-00, ipaddr 0.0.0.0\n"),
       {"", "CFE version 1.0.37 for BCM947XX", ""}},
      {"half an address, seven pairs, a prompt, a variable: none of it counts",
       crlf("Device eth0:  hwaddr 00-18-39-6F-78\nhwaddr 00-18-39-6F-78-15-01\n"
            "CFE> version 2\n         CFE_VERSION 1.1.0\nBuild Date: orphan\n"),
       {"", "", ""}},
      {"control bytes are not kept",
       crlf("CFE version 1.0\x07\x1b for BCM\x7f"
            "947XX\n"),
       {"", "CFE version 1.0 for BCM947XX", ""}},
  };
  for (const BannerCase &c : cases) {
    SCOPED_TRACE(c.name);
    BannerReader reader;
    for (char ch : c.console)
      reader.on_char(ch);
    EXPECT_EQ(reader.identity().mac, c.want.mac);
    EXPECT_EQ(reader.identity().board, c.want.board);
    EXPECT_EQ(reader.identity().build, c.want.build);
  }

  // A box that never ends a line costs a bounded line, and the next line is read whole.
  BannerReader reader;
  for (int i = 0; i < 1000000; ++i)
    reader.on_char('x');
  for (char ch : crlf("\nDevice eth0:  hwaddr 00-18-39-6F-78-16, ipaddr 192.168.1.1\n"))
    reader.on_char(ch);
  EXPECT_EQ(reader.identity().mac, "00-18-39-6F-78-16");
}

const std::string banner_a = crlf(
    "BCM97405D0 CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little\n"
    "Build Date: Tue Mar  2 10:14:33 CST 2010 (boxsim@zevavi)\n"
    "Device eth0:  hwaddr 00-10-18-4A-2C-7E, ipaddr 192.168.1.1, mask 255.255.255.0\n");
const std::string banner_b = crlf(
    "BCM97405D0 CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little\n"
    "Device eth0:  hwaddr 00-10-18-4A-2C-7F, ipaddr 192.168.1.1, mask 255.255.255.0\n");
const std::string banner_none = crlf("Common Firmware Environment (CFE) version 1.1 for BCM97401C1\n");
const std::string prompt = crlf("CFE> reboot\n");
const std::string linux_boot = crlf("Starting program at 0x802f4000\nLinux version 2.6.18-7.1\n");

// What happens on a fixture, one step at a time.
struct Step {
  enum Kind { Console, Quiet, Done, DoneRebooting, Again };
  Step(Kind k, std::string t = {}, bool next = false) : kind(k), text(std::move(t)), next_box(next) {}
  Kind kind;
  std::string text;  // Console: what the box prints
  bool next_box;     // the step ends with the next box taken
};

struct FixtureCase {
  const char *name;
  std::vector<Step> steps;
};

TEST(FixtureWatch, TakesTheNextBoxNotTheOneJustFlashed) {
  const FixtureCase cases[] = {
      {"first box, by its address", {{Step::Console, banner_a, true}}},
      {"the flashed box reboots: let it boot; the next box has another address",
       {{Step::Console, banner_a, true},
        {Step::Console, prompt},
        {Step::DoneRebooting},
        {Step::Console, banner_a + linux_boot},
        {Step::Quiet},
        {Step::Console, banner_b, true}}},
      {"the flashed box began its reboot banner before its upgrade was seen to end",
       {{Step::Console, banner_none},
        {Step::Quiet, "", true},
        {Step::Console, crlf("CFE> reboot\n") + banner_none},
        {Step::DoneRebooting},
        {Step::Quiet},
        {Step::Console, linux_boot},
        {Step::Quiet},
        {Step::Console, banner_none},
        {Step::Quiet, "", true}}},
      {"a failed box put back on is not taken again unless asked",
       {{Step::Console, banner_a, true},
        {Step::Done},
        {Step::Console, banner_a},
        {Step::Quiet},
        {Step::Again},
        {Step::Console, banner_a, true}}},
      {"no address: the banner is taken once it goes quiet",
       {{Step::Console, banner_none}, {Step::Quiet, "", true}}},
      {"no address: the first banner after a flashed box is its reboot",
       {{Step::Console, banner_none},
        {Step::Quiet, "", true},
        {Step::Console, prompt},
        {Step::DoneRebooting},
        {Step::Console, banner_none},
        {Step::Quiet},
        {Step::Console, linux_boot},
        {Step::Quiet},
        {Step::Console, banner_none},
        {Step::Quiet, "", true}}},
      {"no address after a failed box: the next banner is the next box",
       {{Step::Console, banner_none},
        {Step::Quiet, "", true},
        {Step::Done},
        {Step::Console, banner_none},
        {Step::Quiet, "", true}}},
      {"a reboot taken as quiet first is still told by its address",
       {{Step::Console, banner_a, true},
        {Step::Console, prompt},
        {Step::DoneRebooting},
        {Step::Console, crlf("BCM97405D0 CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little\n")},
        {Step::Quiet},
        {Step::Console, crlf("Device eth0:  hwaddr 00-10-18-4A-2C-7F, ipaddr 1.1.1.1\n"), true}}},
      {"Linux output and a quiet line are no box",
       {{Step::Console, linux_boot}, {Step::Quiet}, {Step::Console, crlf("CFE> \n")}, {Step::Quiet}}},
  };
  for (const FixtureCase &c : cases) {
    SCOPED_TRACE(c.name);
    FixtureWatch watch;
    int64_t now = 1000;
    int index = 0;
    for (const Step &step : c.steps) {
      SCOPED_TRACE("step " + std::to_string(++index));
      bool taken = false;
      switch (step.kind) {
        case Step::Console:
          for (char ch : step.text) {
            now += 1;
            taken = watch.on_char(ch, now) || taken;
            taken = watch.on_tick(now) || taken;  // never quiet within a banner
          }
          break;
        case Step::Quiet:
          now += FixtureWatch::quiet_ms;
          taken = watch.on_tick(now);
          break;
        case Step::Done:
        case Step::DoneRebooting:
          watch.box_done(watch.identity(), step.kind == Step::DoneRebooting);
          break;
        case Step::Again:
          watch.take_same_box_again();
          break;
      }
      EXPECT_EQ(taken, step.next_box);
    }
  }
}

}  // namespace
