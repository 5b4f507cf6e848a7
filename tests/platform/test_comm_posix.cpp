// The termios backend of the serial device layer against real ptys: what a user of the
// port sees (names, exclusive open, line settings in the kernel, every byte in order,
// waits that end) rather than how the backend gets there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/comm.h"
#include "tests/platform/pty_pair.h"
#include "tests/support/wait.h"

namespace fs = std::filesystem;

namespace {

std::shared_ptr<CommDevice> open_device(const std::string &name, uint32_t *error = nullptr) {
  std::shared_ptr<CommDevice> dev;
  uint32_t rc = comm_os_backend().CreateFile(name, true, dev);
  if (error)
    *error = rc;
  return dev;
}

CommTimeouts immediate_reads() {
  CommTimeouts t;
  t.ReadIntervalTimeout = COMM_MAXDWORD;
  return t;
}

CommDcb dcb_8n1(uint32_t baud) {
  CommDcb d;
  d.BaudRate = baud;
  d.Flags = DCB_BINARY;
  d.ByteSize = 8;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

// Reads whatever the device holds now (the event thread's pattern).
std::string read_waiting(CommDevice &dev) {
  uint32_t errors = 0;
  CommStat stat;
  if (dev.ClearCommError(errors, &stat) != COMM_OK || stat.cbInQue == 0)
    return {};
  std::string buf(stat.cbInQue, '\0');
  CommAsync op;
  uint32_t done = 0;
  uint32_t rc = dev.ReadFile(buf.data(), stat.cbInQue, done, &op);
  if (rc == COMM_ERR_IO_PENDING)
    rc = dev.GetOverlappedResult(op, done, true);
  buf.resize(rc == COMM_OK ? done : 0);
  return buf;
}

}  // namespace

TEST(CommNames, PortNamesMapToDevicePaths) {
  const struct {
    const char *port, *path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},  {"COM9", "/dev/ttyS8"},       {"com3", "/dev/ttyS2"},
      {"COM10", "/dev/ttyS9"}, {"/dev/pts/7", "/dev/pts/7"}, {"ttyUSB0", "/dev/ttyUSB0"},
      {"COM0", "/dev/COM0"},   {"COMX", "/dev/COMX"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.port);
    EXPECT_EQ(comm_device_path(c.port), c.path);
  }
}

TEST(CommNames, ErrnoBecomesTheWindowsNumberUsersSee) {
  const struct {
    int err;
    uint32_t win;
  } cases[] = {{ENOENT, 2},      {ENXIO, 2},   {EACCES, 5}, {EBUSY, 5},
               {EWOULDBLOCK, 5}, {EINVAL, 87}, {EIO, 1167}, {EBADF, 6}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(comm_error_from_errno(c.err), c.win);
  }
}

TEST(CommOpen, MissingDeviceIsError2AndNotATtyIsRefused) {
  uint32_t rc = 0;
  EXPECT_EQ(open_device("/dev/zevavi-no-such-tty", &rc), nullptr);
  EXPECT_EQ(rc, COMM_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(comm_probe("/dev/zevavi-no-such-tty"), COMM_ERR_FILE_NOT_FOUND);
  EXPECT_EQ(open_device("/dev/null", &rc), nullptr);
  EXPECT_NE(rc, COMM_OK);
}

TEST(CommOpen, SecondOpenOfAHeldPortIsAccessDeniedUntilClosed) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  EXPECT_EQ(comm_probe(pty.slave_name), COMM_OK);  // the probe must not keep it
  auto first = open_device(pty.slave_name);
  ASSERT_NE(first, nullptr);
  uint32_t rc = 0;
  EXPECT_EQ(open_device(pty.slave_name, &rc), nullptr);
  EXPECT_EQ(rc, COMM_ERR_ACCESS_DENIED);
  EXPECT_EQ(comm_probe(pty.slave_name), COMM_ERR_ACCESS_DENIED);
  first->CloseHandle();
  auto again = open_device(pty.slave_name, &rc);
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(rc, COMM_OK);
}

struct LineCase {
  const char *name;
  CommDcb dcb;
  unsigned baud;
  int data_bits;
  char parity;
  int stop_bits;
  bool crtscts, ixon, ixoff;
};

CommDcb make_dcb(uint32_t baud, uint8_t size, uint8_t parity, uint8_t stop, uint32_t flags = 0, char xon = 17,
                 char xoff = 19) {
  CommDcb d = dcb_8n1(baud);
  d.ByteSize = size;
  d.Parity = parity;
  d.StopBits = stop;
  d.Flags |= flags;
  d.XonChar = xon;
  d.XoffChar = xoff;
  return d;
}

TEST(CommSettings, DcbReachesTheKernelTermios) {
  const LineCase cases[] = {
      {"console 115200 8N1", make_dcb(115200, 8, 0, 0), 115200, 8, 'N', 1, false, false, false},
      {"custom 250000 7E1", make_dcb(250000, 7, 2, 0), 250000, 7, 'E', 1, false, false, false},
      {"custom 1234 6O2", make_dcb(1234, 6, 1, 2), 1234, 6, 'O', 2, false, false, false},
      {"mark parity", make_dcb(9600, 7, 3, 0), 9600, 7, 'M', 1, false, false, false},
      {"space parity", make_dcb(9600, 7, 4, 0), 9600, 7, 'S', 1, false, false, false},
      {"1.5 stop bits become 2", make_dcb(110, 5, 0, 1), 110, 5, 'N', 2, false, false, false},
      {"rts/cts", make_dcb(38400, 8, 0, 0, DCB_OUTX_CTS_FLOW | (2u << DCB_RTS_CONTROL_SHIFT)), 38400, 8, 'N',
       1, true, false, false},
      {"xon/xoff both ways", make_dcb(19200, 8, 0, 0, DCB_OUTX | DCB_INX, 0x11, 0x13), 19200, 8, 'N', 1,
       false, true, true},
      {"xon/xoff out only, own chars", make_dcb(4800, 8, 0, 0, DCB_OUTX, 'q', 's'), 4800, 8, 'N', 1, false,
       true, false},
  };
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  for (const LineCase &c : cases) {
    SCOPED_TRACE(c.name);
    // What the backend asks of the kernel, in full.
    LineSettings want = line_settings_for(c.dcb);
    ASSERT_TRUE(want.ok);
    EXPECT_EQ(want.baud, c.baud);
    EXPECT_EQ(want.data_bits, c.data_bits);
    EXPECT_EQ(want.parity, c.parity);
    EXPECT_EQ(want.stop_bits, c.stop_bits);
    EXPECT_EQ(want.crtscts, c.crtscts);
    EXPECT_EQ(want.ixon, c.ixon);
    EXPECT_EQ(want.ixoff, c.ixoff);
    EXPECT_TRUE(want.raw);
    // What a real tty keeps of it. A pty forces 8 data bits and no parity whatever is asked.
    ASSERT_EQ(dev->SetCommState(c.dcb), COMM_OK);
    LineSettings s = read_line_settings(pty.master);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.baud, c.baud);
    EXPECT_EQ(s.stop_bits, c.stop_bits);
    EXPECT_EQ(s.crtscts, c.crtscts);
    EXPECT_EQ(s.ixon, c.ixon);
    EXPECT_EQ(s.ixoff, c.ixoff);
    EXPECT_TRUE(s.raw);
    EXPECT_EQ(s.vstart, static_cast<unsigned char>(c.dcb.XonChar));
    EXPECT_EQ(s.vstop, static_cast<unsigned char>(c.dcb.XoffChar));
  }
  CommDcb bad = dcb_8n1(9600);
  bad.ByteSize = 9;
  EXPECT_EQ(dev->SetCommState(bad), COMM_ERR_INVALID_PARAMETER);
  bad = dcb_8n1(0);
  EXPECT_EQ(dev->SetCommState(bad), COMM_ERR_INVALID_PARAMETER);
}

TEST(CommSettings, OpenMakesTheLineRawBeforeAnySettings) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  EXPECT_TRUE(read_line_settings(pty.master).raw);
  // A raw line passes CR, LF and ^C through untouched in both directions.
  ASSERT_EQ(dev->SetCommTimeouts(immediate_reads()), COMM_OK);
  ASSERT_TRUE(pty.send(std::string("a\r\n\x03z", 5)));
  std::string got;
  for (int i = 0; i < 200 && got.size() < 5; ++i) {
    uint32_t mask = 0;
    ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR), COMM_OK);
    ASSERT_EQ(dev->WaitCommEvent(mask, nullptr, 1000), COMM_OK);
    got += read_waiting(*dev);
  }
  EXPECT_EQ(got, std::string("a\r\n\x03z", 5));
}

TEST(CommIo, NoReportedBlockExceedsTheQueueAndNoByteIsLost) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  ASSERT_EQ(dev->SetupComm(1024, 1024), COMM_OK);
  ASSERT_EQ(dev->SetCommState(dcb_8n1(115200)), COMM_OK);
  ASSERT_EQ(dev->SetCommTimeouts(immediate_reads()), COMM_OK);
  ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR), COMM_OK);
  std::string sent;
  for (int i = 0; i < 20000; ++i)
    sent.push_back(static_cast<char>((i * 7 + i / 251) & 0xFF));
  std::thread sender([&] { pty.send(sent); });
  std::string got;
  size_t largest = 0;
  while (got.size() < sent.size()) {
    uint32_t mask = 0;
    ASSERT_EQ(dev->WaitCommEvent(mask, nullptr, 5000), COMM_OK);
    if (mask == 0)
      break;  // nothing for 5 s: the comparison below reports what is missing
    std::string block = read_waiting(*dev);
    largest = std::max(largest, block.size());
    got += block;
  }
  sender.join();
  EXPECT_LE(largest, 1024u);
  EXPECT_GT(largest, 0u);
  ASSERT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent);
}

// Bytes that stay unread fill the queue; the event comes once the fill reaches 80 %.
TEST(CommIo, AFillingQueueReportsItsEightyPercentMark) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  ASSERT_EQ(dev->SetupComm(100, 100), COMM_OK);
  ASSERT_EQ(dev->SetCommState(dcb_8n1(115200)), COMM_OK);
  ASSERT_EQ(dev->SetCommTimeouts(immediate_reads()), COMM_OK);
  ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR | COMM_EV_RX80FULL), COMM_OK);
  ASSERT_TRUE(pty.send(std::string(85, 'a')));
  uint32_t seen = 0;
  for (int i = 0; i < 100 && !(seen & COMM_EV_RX80FULL); ++i) {
    uint32_t mask = 0;
    ASSERT_EQ(dev->WaitCommEvent(mask, nullptr, 5000), COMM_OK);
    if (mask == 0)
      break;  // nothing more for 5 s
    seen |= mask;
  }
  EXPECT_EQ(seen, COMM_EV_RXCHAR | COMM_EV_RX80FULL);
}

TEST(CommIo, EventCharacterAndDiscardedNulls) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  CommDcb d = dcb_8n1(115200);
  d.EvtChar = '>';
  d.Flags |= DCB_NULL;
  ASSERT_EQ(dev->SetCommState(d), COMM_OK);
  ASSERT_EQ(dev->SetCommTimeouts(immediate_reads()), COMM_OK);
  ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR | COMM_EV_RXFLAG), COMM_OK);
  ASSERT_TRUE(pty.send(std::string("CFE\0>", 5)));
  std::string got;
  uint32_t seen = 0;
  for (int i = 0; i < 100 && got.size() < 4; ++i) {
    uint32_t mask = 0;
    ASSERT_EQ(dev->WaitCommEvent(mask, nullptr, 2000), COMM_OK);
    seen |= mask;
    got += read_waiting(*dev);
  }
  EXPECT_EQ(got, "CFE>");
  EXPECT_TRUE(seen & COMM_EV_RXFLAG);
}

// Bytes that arrive while a partly read queue holds the rest of a block go in across the end
// of its ring: order, dropped nulls and the event character must come through the wrap.
TEST(CommIo, BytesWrappingAroundAPartlyReadQueueKeepOrderNullsAndEventCharacter) {
  using namespace std::string_literals;
  const struct {
    const char *name;
    bool discard_null;
    char event_char;
    std::string second;  // queued behind 2 bytes at offset 10 of 16: wraps after 4 bytes
    std::string queued;
    bool flag;
  } cases[] = {
      {"plain", false, '>', "abcdefghijkl", "abcdefghijkl", false},
      {"event character after the wrap", false, '>', "abcdef>hijkl", "abcdef>hijkl", true},
      {"event character before the wrap", false, '>', "ab>defghijkl", "ab>defghijkl", true},
      {"nulls dropped on both sides", true, '>', "ab\0def\0h>jk\0"s, "abdefh>jk", true},
      {"null as the event character", false, '\0', "abcdef\0hijkl"s, "abcdef\0hijkl"s, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto dev = open_device(pty.slave_name);
    ASSERT_NE(dev, nullptr);
    ASSERT_EQ(dev->SetupComm(16, 16), COMM_OK);
    CommDcb d = dcb_8n1(115200);
    d.EvtChar = c.event_char;
    if (c.discard_null)
      d.Flags |= DCB_NULL;
    ASSERT_EQ(dev->SetCommState(d), COMM_OK);
    ASSERT_EQ(dev->SetCommTimeouts(immediate_reads()), COMM_OK);
    ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR | COMM_EV_RXFLAG), COMM_OK);
    // The events seen until the queue holds n bytes, and those still pending then.
    auto wait_for_queue = [&](uint32_t n) {
      uint32_t seen = 0, mask = 0, errors = 0, queued = 0;
      for (int i = 0; i < 50 && dev->ClearCommErrorInput(errors, queued) == COMM_OK && queued < n; ++i)
        if (dev->WaitCommEvent(mask, nullptr, 2000) == COMM_OK)
          seen |= mask;
      EXPECT_EQ(queued, n);
      dev->WaitCommEvent(mask, nullptr, 0);
      return seen | mask;
    };
    ASSERT_TRUE(pty.send("0123456789AB"));
    wait_for_queue(12);
    std::string buf(16, '\0');
    uint32_t done = 0;
    CommAsync op;
    ASSERT_EQ(dev->ReadFile(buf.data(), 10, done, &op), COMM_OK);
    ASSERT_EQ(buf.substr(0, done), "0123456789");
    ASSERT_TRUE(pty.send(c.second));
    const uint32_t seen = wait_for_queue(static_cast<uint32_t>(2 + c.queued.size()));
    ASSERT_EQ(dev->ReadFile(buf.data(), 16, done, &op), COMM_OK);
    EXPECT_EQ(buf.substr(0, done), "AB" + c.queued);
    EXPECT_EQ((seen & COMM_EV_RXFLAG) != 0, c.flag);
  }
}

TEST(CommIo, StopEventEndsAWaitAndATimeoutEndsItEmpty) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR | COMM_EV_CTS), COMM_OK);
  CommEvent stop;
  uint32_t rc = 99, mask = 99;
  std::thread waiter([&] { rc = dev->WaitCommEvent(mask, &stop, -1); });
  stop.set();
  waiter.join();
  EXPECT_EQ(rc, COMM_OK);
  EXPECT_EQ(mask, 0u);

  EXPECT_EQ(dev->WaitCommEvent(mask, nullptr, 30), COMM_OK);
  EXPECT_EQ(mask, 0u);
}

TEST(CommIo, APtyHasNoModemLinesAndThatIsNoError) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  uint32_t status = 99;
  EXPECT_EQ(dev->GetCommModemStatus(status), COMM_OK);
  EXPECT_EQ(status, 0u);
  for (uint32_t f : {COMM_SETDTR, COMM_CLRDTR, COMM_SETRTS, COMM_CLRRTS}) {
    SCOPED_TRACE(f);
    EXPECT_EQ(dev->EscapeCommFunction(f), COMM_OK);
  }
  EXPECT_EQ(dev->EscapeCommFunction(77), COMM_ERR_INVALID_PARAMETER);
}

TEST(CommIo, WritesReachThePeerAndReportTransmitEmpty) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  ASSERT_EQ(dev->SetCommMask(COMM_EV_TXEMPTY), COMM_OK);
  uint32_t done = 0;
  ASSERT_EQ(dev->WriteFile("boot\r", 5, done, nullptr), COMM_OK);
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(pty.receive(5), "boot\r");
  uint32_t mask = 0;
  ASSERT_EQ(dev->WaitCommEvent(mask, nullptr, 5000), COMM_OK);
  EXPECT_EQ(mask, COMM_EV_TXEMPTY);
  EXPECT_EQ(dev->TransmitCommChar('\x03'), COMM_OK);
  EXPECT_EQ(pty.receive(1), "\x03");
}

TEST(CommIo, ReadTimeoutsEndABlockingReadWithWhatCame) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  CommTimeouts t;
  t.ReadTotalTimeoutConstant = 30;
  ASSERT_EQ(dev->SetCommTimeouts(t), COMM_OK);
  char buf[16];
  uint32_t done = 99;
  EXPECT_EQ(dev->ReadFile(buf, sizeof buf, done, nullptr), COMM_OK);
  EXPECT_EQ(done, 0u);
  ASSERT_TRUE(pty.send("xyz"));
  t.ReadTotalTimeoutConstant = 5000;
  ASSERT_EQ(dev->SetCommTimeouts(t), COMM_OK);
  EXPECT_EQ(dev->ReadFile(buf, 3, done, nullptr), COMM_OK);
  EXPECT_EQ(std::string(buf, done), "xyz");
}

// A read that waits while another thread (the event waiter, an InputCount) takes the arriving
// bytes into the queue must still be woken for them: the device has nothing left to tell it.
TEST(CommIo, AWaitingReadGetsBytesThatAnotherThreadQueued) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  ASSERT_EQ(dev->SetCommTimeouts(CommTimeouts{}), COMM_OK);  // a read waits for all it asked for
  zv_test::HangGuard guard(std::chrono::seconds(60), "a waiting read missed bytes another thread queued");
  for (int round = 0; round < 50; ++round) {
    std::atomic<bool> finished{false};
    std::string got;
    std::thread reader([&] {
      char buf[3];
      uint32_t done = 0;
      if (dev->ReadFile(buf, sizeof buf, done, nullptr) == COMM_OK)
        got.assign(buf, done);
      finished = true;
    });
    EXPECT_TRUE(pty.send("abc"));
    // Taking the bytes in here, while the reader polls, is the case under test.
    uint32_t errors = 0, queued = 0;
    while (!finished)
      dev->ClearCommErrorInput(errors, queued);
    reader.join();
    EXPECT_EQ(got, "abc");
  }
}

TEST(CommIo, VanishedPeerEndsWaitsWithAnErrorInsteadOfHanging) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  ASSERT_EQ(dev->SetCommTimeouts(immediate_reads()), COMM_OK);
  ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR | COMM_EV_ERR), COMM_OK);
  pty.close_master();
  uint32_t mask = 0;
  ASSERT_EQ(dev->WaitCommEvent(mask, nullptr, -1), COMM_OK);
  EXPECT_TRUE(mask & COMM_EV_ERR);
  uint32_t errors = 0;
  EXPECT_EQ(dev->ClearCommError(errors, nullptr), COMM_OK);
  EXPECT_TRUE(errors & COMM_CE_IOE);
  EXPECT_EQ(dev->WaitCommEvent(mask, nullptr, -1), COMM_ERR_DEVICE_NOT_CONNECTED);
  uint32_t done = 0;
  EXPECT_NE(dev->WriteFile("x", 1, done, nullptr), COMM_OK);
  char c;
  EXPECT_EQ(dev->ReadFile(&c, 1, done, nullptr), COMM_ERR_DEVICE_NOT_CONNECTED);
}

TEST(CommIo, PurgeAndCloseEndWritesThatTheLineHolds) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  auto dev = open_device(pty.slave_name);
  ASSERT_NE(dev, nullptr);
  ASSERT_EQ(dev->SetCommTimeouts(CommTimeouts{}), COMM_OK);  // no write time-out: only a purge ends it
  // Nobody reads the master: a megabyte cannot go through.
  const std::string big(1 << 20, 'A');
  CommAsync op;
  uint32_t done = 0;
  ASSERT_EQ(dev->WriteFile(big.data(), static_cast<uint32_t>(big.size()), done, &op), COMM_ERR_IO_PENDING);
  EXPECT_EQ(dev->GetOverlappedResult(op, done, false), COMM_ERR_IO_INCOMPLETE);
  uint32_t rc = 0;
  std::thread waiter([&] { rc = dev->GetOverlappedResult(op, done, true); });
  ASSERT_EQ(dev->PurgeComm(COMM_PURGE_TXABORT | COMM_PURGE_TXCLEAR), COMM_OK);
  waiter.join();
  EXPECT_EQ(rc, COMM_ERR_OPERATION_ABORTED);
  EXPECT_LT(done, big.size());

  // A blocking write on another thread, then the handle closes under it.
  // The purge also dropped what the line held; the next write fills it again.
  uint32_t sync_rc = 0;
  std::thread writer([&] {
    uint32_t n = 0;
    sync_rc = dev->WriteFile(big.data(), static_cast<uint32_t>(big.size()), n, nullptr);
  });
  dev->CloseHandle();
  writer.join();
  EXPECT_NE(sync_rc, COMM_OK);
  EXPECT_EQ(dev->WriteFile("x", 1, done, nullptr), COMM_ERR_INVALID_HANDLE);
}

// The port lists a person chooses from: each port once, whatever names reach it, and
// numbers in the order of their value.
TEST(CommEnum, PortListsHoldEachPortOnceInPortOrder) {
  const std::vector<std::string> com1_to_9 = {"COM1", "COM2", "COM3", "COM4", "COM5",
                                              "COM6", "COM7", "COM8", "COM9"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = com1_to_9;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const struct {
    const char *name;
    std::vector<std::string> names, list;
  } cases[] = {
      {"the system's list names COM ports the form has too", with({"COM10", "COM2", "COM1", "COM23", "COM3"}),
       with({"COM10", "COM23"})},
      {"a device path that a COM name stands for, and numbered adapters",
       with({"/dev/ttyUSB10", "/dev/ttyS0", "/dev/serial/by-id/usb-FTDI-if00", "/dev/ttyUSB2", "/dev/ttyS1"}),
       with({"/dev/serial/by-id/usb-FTDI-if00", "/dev/ttyUSB2", "/dev/ttyUSB10"})},
      {"names that differ only in leading zeros or case",
       {"COM02", "/dev/ttyS1", "com2", "COM12", ""},
       {"COM02", "COM12"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(comm_port_list(c.names), c.list);
  }
}

TEST(CommEnum, TtysWithADriverSortedByTheirStableNames) {
  fs::path root = fs::temp_directory_path() / ("zv-sysfs-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::path sys = root / "sys", dev = root / "dev", drivers = root / "drivers";
  auto device = [&](const std::string &tty, const char *driver) {
    fs::create_directories(sys / tty / "device");
    if (driver) {
      fs::create_directories(drivers / driver);
      fs::create_directory_symlink(drivers / driver, sys / tty / "device" / "driver");
    }
    std::ofstream(dev / tty).put('\n');
  };
  fs::create_directories(dev / "serial" / "by-id");
  device("ttyUSB1", "ftdi_sio");
  device("ttyUSB0", "ftdi_sio");
  device("ttyAMA0", "uart-pl011");
  device("ttyACM0", nullptr);            // a device without a driver bound
  device("ttyS0", "serial8250");         // no UART behind it: the type query fails
  fs::create_directories(sys / "tty0");  // a virtual console: no device at all
  fs::create_symlink("../../ttyUSB1", dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1-if00-port0");

  std::vector<std::string> names;
  ASSERT_EQ(comm_enum_ports_in(sys.string(), dev.string(), names), COMM_OK);
  std::vector<std::string> expected = {
      (dev / "serial/by-id/usb-FTDI_FT232R_A1-if00-port0").string(),
      (dev / "ttyAMA0").string(),
      (dev / "ttyUSB0").string(),
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);

  EXPECT_EQ(comm_enum_ports_in((root / "missing").string(), dev.string(), names), COMM_ERR_FILE_NOT_FOUND);
  EXPECT_TRUE(names.empty());
  fs::remove_all(root);
}
