// TComPort on real ptys with its event thread: settings in the kernel, every byte of a large
// echo in order while a worker writes, exclusive open, a vanished peer, and Close racing
// writers and arriving bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "comport/serport.h"
#include "tests/comport/serport_test_util.h"
#include "tests/platform/pty_pair.h"

namespace {

class SerportPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port.SetPort(pty.slave_name);
    port.SetBaudRate(br115200);
  }
  PtyPair pty;
  TComPort port;
};

std::string pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (char &c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

}  // namespace

TEST_F(SerportPty, OpenAppliesTheLineAndLiveChangesFollow) {
  port.Open();
  ASSERT_TRUE(port.Connected());
  LineSettings s = read_line_settings(pty.master);
  EXPECT_EQ(s.baud, 115200u);
  EXPECT_EQ(s.stop_bits, 1);
  EXPECT_FALSE(s.crtscts);
  EXPECT_FALSE(s.ixon);
  EXPECT_TRUE(s.raw);
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.FlowControl().SetFlowControl(fcHardware);
  s = read_line_settings(pty.master);
  EXPECT_EQ(s.baud, 250000u);
  EXPECT_TRUE(s.crtscts);
  EXPECT_TRUE(port.Signals().empty());  // a pty has no lines, and that is not an error
  // Every named rate reaches the kernel as its number, the ones termios has no B-constant
  // for (14400, 56000, 128000, 256000) included.
  for (int b = br110; b <= br256000; ++b) {
    auto rate = static_cast<TBaudRate>(b);
    SCOPED_TRACE(BaudRateToStr(rate));
    port.SetBaudRate(rate);
    EXPECT_EQ(read_line_settings(pty.master).baud, static_cast<unsigned>(BaudRateToInt(rate)));
  }
  port.Close();
  port.Open();  // the exclusive hold went with the close
  EXPECT_TRUE(port.Connected());
}

TEST_F(SerportPty, ASecondOpenOfTheDeviceIsRefusedWithAccessDenied) {
  port.Open();
  TComPort other;
  other.SetPort(pty.slave_name);
  try {
    other.Open();
    ADD_FAILURE() << "second open succeeded";
  } catch (const EComPortExt &e) {
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 5);
    EXPECT_EQ(std::string(e.what()), "COM Port Error: Unable to open com port on " + pty.slave_name);
  }
  EXPECT_FALSE(other.Connected());
  EXPECT_EQ(comm_probe(pty.slave_name), COMM_ERR_ACCESS_DENIED);
}

TEST_F(SerportPty, AMegabyteEchoedInBlocksArrivesWholeAndInOrder) {
  const std::string sent = pattern(1 << 20);
  std::string received;
  size_t largest = 0;
  TComLink link;
  link.OnRxBuf = [&](TCustomComPort *, const char *buf, int n) {
    received.append(buf, static_cast<size_t>(n));
    largest = std::max(largest, static_cast<size_t>(n));
  };
  port.RegisterLink(&link);
  port.Open();
  // The far end echoes everything back, as the box's console echoes typed characters.
  std::atomic<bool> echo_ok{true};
  std::thread echo([&] {
    size_t total = 0;
    char buf[8192];
    while (total < sent.size()) {
      pollfd p{pty.master, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) {
        echo_ok = false;
        return;
      }
      ssize_t n = ::read(pty.master, buf, sizeof buf);
      if (n <= 0 || !pty.send(std::string(buf, static_cast<size_t>(n)))) {
        echo_ok = false;
        return;
      }
      total += static_cast<size_t>(n);
    }
  });
  // A worker writes while the event thread delivers on this (the GUI) thread.
  std::atomic<bool> writes_ok{true};
  std::thread worker([&] {
    try {
      for (size_t off = 0; off < sent.size();) {
        size_t n = std::min<size_t>(sent.size() - off, 1000 + off % 3000);
        if (port.Write(sent.data() + off, static_cast<int>(n)) != static_cast<int>(n))
          writes_ok = false;
        off += n;
      }
    } catch (const EComPort &) {
      writes_ok = false;
    }
  });
  bool done = pump_until([&] { return received.size() >= sent.size() || !echo_ok.load(); }, 60000);
  worker.join();
  echo.join();
  EXPECT_TRUE(done);
  EXPECT_TRUE(writes_ok.load());
  EXPECT_TRUE(echo_ok.load());
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
  EXPECT_LE(largest, 1024u);  // the terminal relies on blocks no larger than the input queue
  port.Close();
  port.UnRegisterLink(&link);
}

TEST_F(SerportPty, AVanishedPeerEndsInAnErrorAndNotInAHang) {
  std::atomic<bool> io_error{false};
  port.OnError = [&](TCustomComPort *, TComErrors e) { io_error = io_error || e.contains(ceIO); };
  port.Open();
  pty.close_master();
  EXPECT_TRUE(pump_until([&] { return io_error.load(); }));
  try {
    port.WriteStr("reboot\r");
    ADD_FAILURE() << "write to a vanished device";
  } catch (const EComPortExt &e) {
    EXPECT_EQ(e.Code(), 2);
  }
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST_F(SerportPty, CloseWhileAnotherThreadIsInsideWrite) {
  port.Open();
  // Nobody reads the far end, so this write cannot finish by itself.
  const std::string big = pattern(1 << 20);
  std::atomic<bool> started{false};
  std::atomic<int> code{-1};
  std::thread worker([&] {
    started = true;
    try {
      port.Write(big.data(), static_cast<int>(big.size()));
      code = 0;
    } catch (const EComPortExt &e) {
      code = e.Code();
    }
  });
  ASSERT_TRUE(pump_until([&] { return started.load(); }));
  port.Close();
  worker.join();
  EXPECT_EQ(code.load(), 2);
  EXPECT_FALSE(port.Connected());
}

TEST_F(SerportPty, CloseWhileBytesArriveEndsTheThreadAndFreesTheDevice) {
  std::atomic<int> deliveries{0};
  port.OnRxChar = [&](TCustomComPort *p, int n) {
    std::string s;
    p->ReadStr(s, n);
    ++deliveries;
  };
  port.Open();
  std::atomic<bool> stop{false};
  // Non-blocking: once the port is closed nobody drains the pty, and a blocking write would
  // keep this thread for ever.
  ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
  std::thread flood([&] {
    const std::string chunk(512, 'x');
    while (!stop.load()) {
      pollfd p{pty.master, POLLOUT, 0};
      if (::poll(&p, 1, 50) > 0 && ::write(pty.master, chunk.data(), chunk.size()) < 0 && errno != EAGAIN)
        break;
    }
  });
  ASSERT_TRUE(pump_until([&] { return deliveries.load() > 3; }));
  port.Close();
  stop = true;
  flood.join();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(comm_probe(pty.slave_name), COMM_OK);
}
