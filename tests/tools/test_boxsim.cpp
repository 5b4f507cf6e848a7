// The simulated box as the PC meets it: over its pty, with 0x03 bytes, typed lines and
// status lines, fetching its files from a real in.tftpd, and each fault switch once.
#include "tests/tools/boxsim_harness.h"

#include <gtest/gtest.h>

namespace {

using namespace boxsim_test;

const std::string kBar(42, '*');
const std::string kCancelled =
    kBar + "\r\nAutomatic startup canceled via Ctrl-C\r\n" + kBar + "\r\n\r\nCFE> ";

// The watcher of the PC reacts to these; the boot output before the bar must hold none.
void expect_no_watched_pattern(const std::string &text) {
  EXPECT_EQ(text.find("****"), std::string::npos);
  EXPECT_EQ(text.find("CFE>"), std::string::npos);
  EXPECT_EQ(text.find("us ="), std::string::npos);
}

std::size_t count_of(const std::string &text, const std::string &what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

class Boxsim : public ::testing::Test {
 protected:
  fs::path report() const { return dir.path() / "report.json"; }
  // Starts the box and brings it to its first prompt with 0x03 bytes.
  std::unique_ptr<BoxUnderTest> start(std::vector<std::string> options, bool to_prompt = true) {
    auto box = std::make_unique<BoxUnderTest>(options, report());
    EXPECT_TRUE(box->ok());
    if (box->ok() && to_prompt) {
      std::string boot = box->read_until(kCancelled, true);
      EXPECT_FALSE(boot.empty()) << "no prompt after 0x03";
    }
    return box;
  }
  TempDir dir;
};

TEST_F(Boxsim, PacedBootStopsAtPromptOnBreakWithTheBar) {
  auto box = start({"--speed", "4"}, false);
  ASSERT_TRUE(box->ok());
  std::string boot = box->read_until(kCancelled, true);
  ASSERT_FALSE(boot.empty());
  expect_no_watched_pattern(boot.substr(0, boot.size() - kCancelled.size()));
  EXPECT_NE(boot.find("CFE v2.1.21"), std::string::npos);
  // Every line end is CR LF.
  EXPECT_EQ(count_of(boot, "\n"), count_of(boot, "\r\n"));
  EXPECT_EQ(top_field(box->report(), "state"), "cfe");
}

struct CommandCase {
  std::string line;
  int status;          // expected status; 1 for "no status line"
  std::string output;  // a piece the answer must hold
};

TEST_F(Boxsim, CommandsAnswerWithOneStatusLineEach) {
  const CommandCase cases[] = {
      // Before ifconfig the network is down.
      {"flash -noheader 10.0.0.1:ky_tmp/kernel_cfe_auto.bin flash0.kernel", -23, "Failed.: Network is down"},
      {"ifconfig eth0 -addr=10.1.2.3 -mask=255.255.255.0", 0,
       "Device eth0:  hwaddr 00-10-18-4A-2C-7E, ipaddr 10.1.2.3, mask 255.255.255.0\r\n"
       "        gateway not set, nameserver not set\r\n"},
      {"ifconfig eth0 -addr=10.1.2.300 -mask=255.255.255.0", -8, "Invalid interface IP address: 10.1.2.300"},
      {"ifconfig eth0 -addr=10.1.2.3 -mask=255.0.255.0", -8, "Invalid netmask: 255.0.255.0"},
      {"ifconfig eth1 -addr=10.1.2.3 -mask=255.255.255.0", -6, "Could not activate network interface 'eth1'"},
      {"ifconfig", -2, "Usage: ifconfig"},
      {"ifconfig eth0 -adr=10.1.2.3", -2, "Invalid switch: -adr=10.1.2.3"},
      {"flash -noheader 10.0.0.1:x flash0.bogus", -6, "Could not open device flash0.bogus"},
      {"flash -noheader 10.0.0.1:x", -2, "Usage: flash"},
      {"flash -bogus 10.0.0.1:x flash0.kernel", -2, "Invalid switch: -bogus"},
      {"flash -noheader somehost:x flash0.kernel", -20, "Failed.: Host name unknown"},
      {"erase_flash2; erase_flash0", 0, "Erasing flash2...done\r\nErasing flash0...done\r\n"},
      // One status for the line: the last command's.
      {"erase_flash2; bogus", -2, "Invalid command: \"bogus\""},
      {"bogus; erase_flash2", 0, "Erasing flash2...done"},
      {"bogus && erase_flash2", -2, "Invalid command"},
      {"bogus || help", 0, "Available commands:"},
      {"", 1, ""},
      {"   ", 1, ""},
  };
  auto box = start({"--fast"});
  for (const CommandCase &c : cases) {
    SCOPED_TRACE("line '" + c.line + "'");
    std::string answer = box->command(c.line);
    ASSERT_FALSE(answer.empty());
    // The typed line comes back as typed, then CR LF.
    EXPECT_EQ(answer.rfind(c.line + "\r\n", 0), 0u);
    EXPECT_NE(answer.find(c.output), std::string::npos) << answer;
    int count = 0;
    int status = status_in(answer, count);
    if (c.status == 1) {
      EXPECT_EQ(count, 0) << answer;
    } else {
      EXPECT_EQ(count, 1) << answer;
      EXPECT_EQ(status, c.status) << answer;
    }
  }
  EXPECT_EQ(count_of(box->command("bogus && erase_flash2"), "Erasing"), 0u);
  EXPECT_EQ(top_field(box->report(), "ip"), "10.1.2.3");
}

TEST_F(Boxsim, CtrlCAtPromptDropsTheLineWithoutStatus) {
  auto box = start({"--fast"});
  box->send("erase_fl\x03");
  std::string answer = box->read_until("CFE> ");
  EXPECT_EQ(answer, "erase_fl^C\r\nCFE> ");
  // Backspace takes back typed characters, so the box sees "help".
  box->send("hepp\x7f\x7flp\n");
  answer = box->read_until("CFE> ");
  int count = 0;
  EXPECT_EQ(status_in(answer, count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_NE(answer.find("Available commands:"), std::string::npos);
  EXPECT_EQ(top_field(box->report(), "breaks_at_prompt"), "1");
}

// The whole flash sequence of an upgrade: files fetched from in.tftpd by the box's own TFTP
// client, the report's digests checked against sha256sum.
TEST_F(Boxsim, FlashesEveryPartitionByteIdenticalFromTftpd) {
  struct Part {
    const char *file, *target;
    std::size_t size;
  };
  const Part parts[] = {
      {"ky_tmp/kernel_cfe_auto.bin", "flash0.kernel", 300000},
      {"ky_tmp/splash_cfe_auto.bin", "flash0.splash", 1024},
      {"ky_tmp/boot_cfe_auto.jffs2", "flash0.boot", 70001},
      {"ky_tmp/root_cfe_auto.jffs2", "flash0.avail0", 512 * 300},
  };
  for (const Part &p : parts)
    write_file(dir.path() / "srv" / p.file, random_bytes(p.size, unsigned(p.size)));
  Tftpd tftpd(dir.path() / "srv");
  ASSERT_TRUE(tftpd.ready());

  auto box = start({"--speed", "50", "--tftp-port", std::to_string(tftpd.port())});
  int count = 0;
  ASSERT_EQ(status_in(box->command("ifconfig eth0 -addr=127.0.0.2 -mask=255.255.255.0"), count), 0);
  for (const Part &p : parts) {
    SCOPED_TRACE(p.target);
    std::string answer = box->command(std::string("flash -noheader 127.0.0.1:") + p.file + " " + p.target);
    EXPECT_EQ(status_in(answer, count), 0) << answer;
    EXPECT_EQ(count, 1);
    EXPECT_NE(answer.find("Done. " + std::to_string(p.size) + " bytes read\r\n"), std::string::npos);
    EXPECT_NE(answer.find("done. " + std::to_string(p.size) + " bytes written\r\n"), std::string::npos);
  }
  const std::string report = box->report();
  for (const Part &p : parts) {
    SCOPED_TRACE(p.target);
    EXPECT_EQ(partition_field(report, p.target, "sha256"), sha256sum(dir.path() / "srv" / p.file));
    EXPECT_EQ(partition_field(report, p.target, "size"), std::to_string(p.size));
  }
}

TEST_F(Boxsim, RebootRestartsTheBootOutput) {
  auto box = start({"--fast"});
  box->type("reboot");
  std::string again = box->read_until(kCancelled, true);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.rfind("reboot\r\n", 0), 0u);
  EXPECT_EQ(count_of(again, "*** command status"), 0u);
  const std::string report = box->report();
  EXPECT_EQ(top_field(report, "boots"), "2");
  EXPECT_NE(report.find("\"line\": \"reboot\", \"status\": null"), std::string::npos);
}

TEST_F(Boxsim, WithoutBreakItBootsLinux) {
  auto box = start({"--fast", "--autostart-ms", "200"}, false);
  std::string text = box->read_until("Please press Enter to activate this console.");
  ASSERT_FALSE(text.empty());
  expect_no_watched_pattern(text);
  EXPECT_EQ(top_field(box->report(), "state"), "linux");
}

TEST_F(Boxsim, PowerCycleSignalRestartsFromAnyState) {
  auto box = start({"--fast"});
  box->process().signal(SIGUSR1);
  EXPECT_FALSE(box->read_until(kCancelled, true).empty());
  EXPECT_EQ(top_field(box->report(), "boots"), "2");
}

// A box whose line nobody reads must not stall: a UART sends into the void. The output is
// dropped and counted, and the box answers once someone listens again.
TEST_F(Boxsim, UnreadOutputIsDroppedNotStalled) {
  auto box = start({"--fast", "--autostart-ms", "0", "--burst", "300000@boot"}, false);
  std::string report;
  zv_test::wait_until(
      [&] {
        report = box->report();
        return top_field(report, "state") == "autostart";
      },
      std::chrono::milliseconds(kHangGuardMs));
  ASSERT_EQ(top_field(report, "state"), "autostart");
  EXPECT_GT(std::stoul(top_field(report, "console_bytes_dropped")), 0u);
  EXPECT_FALSE(box->read_until(kCancelled, true).empty());
}

TEST_F(Boxsim, TalksOnAGivenDeviceAndLinksItsPty) {
  // A serial device stands here as one end of a socat pty pair.
  Child socat;
  const fs::path a = dir.path() / "a", b = dir.path() / "b";
  ASSERT_TRUE(
      socat.start({"socat", "pty,raw,echo=0,link=" + a.string(), "pty,raw,echo=0,link=" + b.string()}));
  zv_test::wait_until([&] { return fs::exists(a) && fs::exists(b); },
                      std::chrono::milliseconds(kHangGuardMs));
  {
    BoxUnderTest box({"--fast", "--device", a.string()}, report(), b);
    ASSERT_TRUE(box.ok());
    EXPECT_EQ(box.slave(), a.string());
    EXPECT_FALSE(box.read_until(kCancelled, true).empty());
    int count = 0;
    EXPECT_EQ(status_in(box.command("help"), count), 0);
    EXPECT_EQ(box.process().stop(), 0);
  }
  socat.stop();

  const fs::path link = dir.path() / "box-tty";
  BoxUnderTest linked({"--fast", "--pty-link", link.string()}, report());
  ASSERT_TRUE(linked.ok());
  EXPECT_EQ(fs::read_symlink(link).string(), linked.slave());
  EXPECT_EQ(linked.process().stop(), 0);
  EXPECT_FALSE(fs::is_symlink(link));
}

// ---- fault switches ------------------------------------------------------------------------

TEST_F(Boxsim, FailAtTargetGivesItsStatusAndLeavesThePartitionOut) {
  write_file(dir.path() / "srv" / "ky_tmp" / "root_cfe_auto.jffs2", random_bytes(5000, 1));
  write_file(dir.path() / "srv" / "ky_tmp" / "boot_cfe_auto.jffs2", random_bytes(5000, 2));
  Tftpd tftpd(dir.path() / "srv");
  ASSERT_TRUE(tftpd.ready());
  auto box = start({"--fast", "--tftp-port", std::to_string(tftpd.port()), "--fail-at", "flash0.avail0=-21"});
  int count = 0;
  box->command("ifconfig eth0 -addr=127.0.0.2 -mask=255.255.255.0");
  EXPECT_EQ(
      status_in(box->command("flash -noheader 127.0.0.1:ky_tmp/boot_cfe_auto.jffs2 flash0.boot"), count), 0);
  std::string answer = box->command("flash -noheader 127.0.0.1:ky_tmp/root_cfe_auto.jffs2 flash0.avail0");
  EXPECT_EQ(status_in(answer, count), -21) << answer;
  EXPECT_NE(answer.find("Failed.: Timeout occured\r\n"), std::string::npos);
  const std::string report = box->report();
  EXPECT_FALSE(partition_field(report, "flash0.boot", "sha256").empty());
  EXPECT_TRUE(partition_field(report, "flash0.avail0", "sha256").empty());
}

TEST_F(Boxsim, NoTftpSendsNoRequestAndTimesOut) {
  // Whatever arrives on this port would be the box's request.
  int listener = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);

  auto box = start(
      {"--fast", "--tftp-port", std::to_string(ntohs(a.sin_port)), "--tftp-timeout-ms", "50", "--no-tftp"});
  box->command("ifconfig eth0 -addr=127.0.0.2 -mask=255.255.255.0");
  std::string answer = box->command("flash -noheader 127.0.0.1:ky_tmp/kernel_cfe_auto.bin flash0.kernel");
  int count = 0;
  EXPECT_EQ(status_in(answer, count), -21) << answer;
  char buf[600];
  EXPECT_LT(::recv(listener, buf, sizeof buf, MSG_DONTWAIT), 0);
  ::close(listener);
  EXPECT_NE(box->report().find("\"requested\": false"), std::string::npos);
}

TEST_F(Boxsim, LostAndDuplicateAcksStillDeliverTheFile) {
  const fs::path file = dir.path() / "srv" / "ky_tmp" / "kernel_cfe_auto.bin";
  write_file(file, random_bytes(512 * 6 + 17, 5));
  Tftpd tftpd(dir.path() / "srv");
  ASSERT_TRUE(tftpd.ready());
  auto box = start({"--fast", "--tftp-port", std::to_string(tftpd.port()), "--tftp-timeout-ms", "200",
                    "--lose-ack", "2,4", "--dup-ack", "3"});
  box->command("ifconfig eth0 -addr=127.0.0.2 -mask=255.255.255.0");
  int count = 0;
  EXPECT_EQ(
      status_in(box->command("flash -noheader 127.0.0.1:ky_tmp/kernel_cfe_auto.bin flash0.kernel"), count),
      0);
  const std::string report = box->report();
  EXPECT_EQ(partition_field(report, "flash0.kernel", "sha256"), sha256sum(file));
  EXPECT_NE(report.find("\"acks_lost\": 2, \"acks_duplicated\": 1"), std::string::npos) << report;
}

TEST_F(Boxsim, BurstArrivesWholeBeforeTheStatusLine) {
  auto box = start({"--fast", "--burst", "3000@help"});
  std::string answer = box->command("help");
  const auto first = answer.find("nand_read_ecc");
  const auto status = answer.find("*** command status = 0\r\n");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(status, std::string::npos);
  EXPECT_EQ(status - first, 3000u);
  expect_no_watched_pattern(answer.substr(first, 3000));
  // Other commands keep quiet.
  EXPECT_EQ(box->command("erase_flash2").find("nand_read_ecc"), std::string::npos);
}

TEST_F(Boxsim, RebootLoopPanicsThenStays) {
  auto box = start({"--fast", "--autostart-ms", "100", "--reboot-loop=2"}, false);
  std::string text = box->read_until("Please press Enter to activate this console.");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(count_of(text, "Kernel panic - not syncing"), 2u);
  EXPECT_EQ(count_of(text, "CFE v2.1.21"), 3u);
  EXPECT_EQ(top_field(box->report(), "boots"), "3");
}

TEST_F(Boxsim, VanishedLineHangsUpThePort) {
  auto box = start({"--fast", "--vanish-at", "2"});
  int count = 0;
  EXPECT_EQ(status_in(box->command("help"), count), 0);
  box->type("ifconfig eth0 -addr=10.0.0.9 -mask=255.255.255.0");
  EXPECT_TRUE(box->read_until("never printed").empty());
  EXPECT_TRUE(box->hung_up);
  EXPECT_EQ(wait_bounded(box->process()), 0);
  const std::string report = box->report();
  EXPECT_EQ(top_field(report, "vanished"), "true");
  EXPECT_EQ(top_field(report, "state"), "vanished");
}

TEST(BoxsimCommandLine, RejectsBadOptionsAndHelps) {
  zv_test::SpawnOptions captured;
  captured.capture_out = true;
  Child bad;
  ASSERT_TRUE(bad.start({bin_dir() + "/boxsim", "--fail-at", "x=y"}, captured));
  EXPECT_EQ(wait_bounded(bad), 2);
  // A box's line of faults that does not parse stops the box before it starts, naming the
  // line: a chaos run must never play fewer faults than it planned.
  TempDir dir;
  write_file(dir.path() / "faults", "--fail-at 2=-4\n--hang-at 3 --fail-at x=y\n");
  zv_test::SpawnOptions told;
  told.err = dir.path() / "err";
  Child bad_line;
  ASSERT_TRUE(
      bad_line.start({bin_dir() + "/boxsim", "--box-faults", (dir.path() / "faults").string()}, told));
  EXPECT_EQ(wait_bounded(bad_line), 2);
  EXPECT_NE(read_file(dir.path() / "err").find("faults line 2: invalid value for --fail-at"),
            std::string::npos)
      << read_file(dir.path() / "err");
  Child help;
  ASSERT_TRUE(help.start({bin_dir() + "/boxsim", "--help"}, captured));
  EXPECT_EQ(help.read_line(), "Usage: boxsim [OPTION]...");
  EXPECT_EQ(wait_bounded(help), 0);
}

}  // namespace
