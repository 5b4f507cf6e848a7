// TComPort against the fake device: the order and number of device calls, notifications
// and errors, and event delivery by each sync method.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "comport/serport.h"
#include "platform/comm_fake.h"
#include "tests/comport/serport_test_util.h"

namespace {

// Only the calls that configure or end the device, in order.
std::vector<std::string> config_calls(const FakeCommLine &line) {
  std::vector<std::string> out;
  for (const std::string &c : line.calls())
    if (c.rfind("WaitCommEvent", 0) != 0 && c.rfind("ClearCommError", 0) != 0 &&
        c.rfind("GetCommModemStatus", 0) != 0)
      out.push_back(c);
  return out;
}

class SerportFake : public ::testing::Test {
 protected:
  void SetUp() override {
    line = backend.add("COM1");
    port.SetCommBackend(&backend);
    port.SetBaudRate(br115200);
    port.FlowControl().SetControlDTR(dtrDisable);
  }
  // Thread-safe record of what handlers saw.
  void note(const std::string &what) {
    std::lock_guard lock(m);
    log.push_back(what);
  }
  std::vector<std::string> notes() {
    std::lock_guard lock(m);
    return log;
  }
  size_t note_count() {
    std::lock_guard lock(m);
    return log.size();
  }

  FakeCommBackend backend;  // outlives the port
  std::shared_ptr<FakeCommLine> line;
  std::mutex m;
  std::vector<std::string> log;
  TComPort port;
};

}  // namespace

TEST_F(SerportFake, OpenConfiguresTheDeviceInOrderAndReportsTheLines) {
  port.OnBeforeOpen = [&](TCustomComPort *) { note("BeforeOpen"); };
  port.OnAfterOpen = [&](TCustomComPort *p) {
    note(p->Connected() ? "AfterOpen connected" : "AfterOpen closed");
  };
  port.OnCTSChange = [&](TCustomComPort *, bool on) { note(on ? "CTS on" : "CTS off"); };
  TComLink link;
  link.OnConn = [&](TCustomComPort *, bool on) { note(on ? "link conn" : "link disc"); };
  port.RegisterLink(&link);
  line->set_modem_status(COMM_MS_CTS_ON);
  port.Open();
  ASSERT_TRUE(port.Connected());
  std::vector<std::string> expected = {"CreateFile COM1", "SetupComm 1024 1024", "SetCommState",
                                       "SetCommTimeouts", "SetCommMask 0x5ff"};
  EXPECT_EQ(config_calls(*line), expected);
  CommDcb d = line->dcb();
  EXPECT_EQ(d.BaudRate, 115200u);
  EXPECT_EQ(d.Flags, 0x0001u);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(line->timeouts().ReadIntervalTimeout, COMM_MAXDWORD);
  EXPECT_EQ(line->timeouts().WriteTotalTimeoutConstant, 1000u);
  std::vector<std::string> events = {"BeforeOpen", "link conn", "AfterOpen connected", "CTS on"};
  EXPECT_EQ(notes(), events);

  port.Open();  // a second Open does nothing
  EXPECT_EQ(line->count("CreateFile"), 1);
  port.UnRegisterLink(&link);
}

TEST_F(SerportFake, UpdateBlockAppliesEverythingOnceAtTheOutermostEnd) {
  port.Open();
  line->clear_calls();
  port.BeginUpdate();
  port.BeginUpdate();
  port.SetBaudRate(br57600);
  port.Parity().SetBits(prEven);
  port.FlowControl().SetFlowControl(fcHardware);
  port.Timeouts().SetReadInterval(10);
  port.Buffer().SetInputSize(2048);
  port.EndUpdate();
  EXPECT_TRUE(config_calls(*line).empty());
  port.EndUpdate();
  std::vector<std::string> expected = {"SetupComm 2048 1024", "SetCommState", "SetCommTimeouts"};
  EXPECT_EQ(config_calls(*line), expected);
  EXPECT_EQ(line->dcb().BaudRate, 57600u);
  EXPECT_EQ(line->dcb().Parity, 2);
  port.EndUpdate();  // unbalanced: nothing
  EXPECT_EQ(config_calls(*line).size(), 3u);

  // Outside a block each change reaches the device at once; an unchanged value does not.
  line->clear_calls();
  port.SetBaudRate(br9600);
  port.SetBaudRate(br9600);
  port.FlowControl().SetFlowControl(fcCustom);
  port.Timeouts().SetWriteTotalConstant(500);
  std::vector<std::string> live = {"SetCommState", "SetCommState", "SetCommTimeouts"};
  EXPECT_EQ(config_calls(*line), live);
}

TEST_F(SerportFake, ClosePurgesAndStopsTheThreadBeforeTheHandleCloses) {
  port.OnBeforeClose = [&](TCustomComPort *p) {
    note(p->Connected() ? "BeforeClose open" : "BeforeClose closed");
  };
  port.OnAfterClose = [&](TCustomComPort *p) {
    note(p->Connected() ? "AfterClose open" : "AfterClose closed");
  };
  port.OnCTSChange = [&](TCustomComPort *, bool on) { note(on ? "CTS on" : "CTS off"); };
  port.Open();
  line->clear_calls();
  log.clear();
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(line->is_open());
  std::vector<std::string> expected = {"PurgeComm 0x3", "SetCommMask 0x0", "PurgeComm 0xc", "CloseHandle"};
  EXPECT_EQ(config_calls(*line), expected);
  std::vector<std::string> events = {"CTS off", "BeforeClose open", "AfterClose closed"};
  EXPECT_EQ(notes(), events);
  line->clear_calls();
  port.Close();  // closed already: nothing
  EXPECT_TRUE(line->calls().empty());
}

TEST_F(SerportFake, OpenFailuresRaiseCode1WithTheWindowsErrorAndLeaveThePortClosed) {
  bool after_open = false;
  port.OnAfterOpen = [&](TCustomComPort *) { after_open = true; };
  const struct {
    const char *port;
    bool held;
    int win;
    const char *message;
  } cases[] = {
      {"COM7", false, 2, "COM Port Error: Unable to open com port on COM7"},
      {"COM1", true, 5, "COM Port Error: Unable to open com port on COM1"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.port);
    line->set_held(c.held);
    port.SetPort(c.port);
    try {
      port.Open();
      ADD_FAILURE() << "Open succeeded";
    } catch (const EComPortExt &e) {
      EXPECT_EQ(e.Code(), 1);
      EXPECT_EQ(e.WinCode(), c.win);
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_FALSE(port.Connected());
  }
  EXPECT_FALSE(after_open);
}

TEST_F(SerportFake, ASetupFailureClosesTheHandleAgain) {
  const struct {
    const char *call;
    int code;
  } cases[] = {{"SetupComm", 9}, {"SetCommState", 7}, {"SetCommTimeouts", 8}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.call);
    line->clear_calls();
    line->fail_next(c.call, COMM_ERR_INVALID_PARAMETER);
    try {
      port.Open();
      ADD_FAILURE() << "Open succeeded";
    } catch (const EComPortExt &e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(e.WinCode(), 87);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(line->is_open());
    EXPECT_EQ(line->calls().back(), "CloseHandle");
  }
  port.Open();  // and the port still opens afterwards
  EXPECT_TRUE(port.Connected());
}

TEST_F(SerportFake, PropertiesThatOnlyMatterAtOpen) {
  port.Open();
  EXPECT_THROW(port.SetSyncMethod(smNone), EComPort);
  try {
    port.SetEventThreadPriority(tpHigher);
  } catch (const EComPort &e) {
    EXPECT_EQ(e.Code(), 14);
    EXPECT_STREQ(e.what(), "COM1 Error: Cannot set property while connected");
  }
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.EventThreadPriority(), tpNormal);
  port.SetOverlapped(false);  // ignored while open
  EXPECT_TRUE(port.Overlapped());
  TComEvents got;
  try {
    port.WaitForEvent(got, nullptr, 0);
    ADD_FAILURE() << "WaitForEvent with a running event thread";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.Code(), 20);
  }

  // A new port name reopens under that name.
  auto second = backend.add("COM2");
  port.SetPort("COM2");
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(line->is_open());
  EXPECT_TRUE(second->is_open());
  port.Close();
  port.SetPort("COM1");  // closed: only stored
  EXPECT_EQ(line->count("CreateFile"), 1);
}

TEST_F(SerportFake, WithoutEventsThereIsNoThreadAndWaitForEventWorks) {
  port.SetEvents({});
  port.Open();
  EXPECT_EQ(line->count("SetCommMask"), 0);
  // Bytes that come while the caller waits (the mask set at the start of the wait).
  std::thread far_end([&] {
    while (line->count("WaitCommEvent") == 0)
      std::this_thread::yield();
    line->push_input("abc");
  });
  TComEvents events{evRxChar, evCTS};
  port.WaitForEvent(events, nullptr, 20000);
  far_end.join();
  EXPECT_EQ(events, TComEvents{evRxChar});
  CommEvent stop(true);
  events = TComEvents{evRing};
  port.WaitForEvent(events, &stop, -1);  // the stop ends it with nothing
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(line->count("SetCommMask 0x9"), 1);
  EXPECT_EQ(line->count("SetCommMask 0x100"), 1);
  EXPECT_EQ(line->count("SetCommMask 0x0"), 2);
  port.Close();
  EXPECT_EQ(line->count("PurgeComm 0xc"), 0);  // no thread to end
}

TEST_F(SerportFake, LinksRegisterOnceAndTakeTheReadData) {
  TComLink a, b;
  port.RegisterLink(&a);
  EXPECT_FALSE(port.HasLink());
  EXPECT_TRUE(port.TriggersOnRxChar());
  try {
    port.RegisterLink(&a);
    ADD_FAILURE() << "registered twice";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.Code(), 18);
  }
  EXPECT_THROW(port.UnRegisterLink(&b), EComPort);
  b.OnRxBuf = [](TCustomComPort *, const char *, int) {};
  port.RegisterLink(&b);
  EXPECT_TRUE(port.HasLink());
  EXPECT_FALSE(port.TriggersOnRxChar());
  try {
    port.SetTriggersOnRxChar(false);
    ADD_FAILURE() << "set while a link takes the data";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.Code(), 22);
  }
  port.UnRegisterLink(&b);
  EXPECT_FALSE(port.HasLink());
  EXPECT_TRUE(port.TriggersOnRxChar());
  port.UnRegisterLink(&a);
}

TEST_F(SerportFake, ALinkGetsEachWakeUpAsOneBlockAndOnRxCharStaysQuiet) {
  TComLink link;
  std::vector<std::string> blocks;
  std::vector<bool> rx;
  link.OnRxBuf = [&](TCustomComPort *, const char *buf, int n) { blocks.emplace_back(buf, n); };
  link.OnRx = [&](TCustomComPort *, bool on) { rx.push_back(on); };
  port.OnRxChar = [&](TCustomComPort *, int) { note("RxChar"); };
  std::string own;
  port.OnRxBuf = [&](TCustomComPort *, const char *buf, int n) { own.append(buf, n); };
  port.RegisterLink(&link);
  port.Open();
  line->push_input("0123456789");
  ASSERT_TRUE(pump_until([&] { return !blocks.empty(); }));
  EXPECT_EQ(blocks, std::vector<std::string>{"0123456789"});
  EXPECT_EQ(own, "0123456789");
  EXPECT_EQ(rx, (std::vector<bool>{true, false}));
  EXPECT_TRUE(notes().empty());
  EXPECT_EQ(line->count("ReadFile 10"), 1);
  port.Close();
  port.UnRegisterLink(&link);
}

// What waits beyond one queue's worth goes out in the same delivery, as blocks of at most
// the queue (1024 bytes); a line that never pauses is cut off after 64 KiB, and the rest comes
// with the next wake-up.
TEST_F(SerportFake, OneWakeUpDeliversAllThatWaitsInBlocksOfAtMostTheQueue) {
  const struct {
    size_t bytes;
    size_t first_blocks;  // the first delivery: full blocks, then the rest
    bool first_empties;   // the first delivery leaves the queue empty (Rx goes off)
  } cases[] = {{2500, 3, true}, {70000, 64, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.bytes);
    std::string sent(c.bytes, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
      sent[i] = static_cast<char>('a' + i % 23);
    TComLink link;
    std::vector<size_t> sizes;
    std::string got;
    std::vector<bool> rx;
    link.OnRxBuf = [&](TCustomComPort *, const char *buf, int n) {
      sizes.push_back(static_cast<size_t>(n));
      got.append(buf, static_cast<size_t>(n));
    };
    link.OnRx = [&](TCustomComPort *, bool on) { rx.push_back(on); };
    port.RegisterLink(&link);
    port.Open();
    line->push_input(sent);
    ASSERT_TRUE(pump_until([&] { return sizes.size() >= c.first_blocks; }));
    ASSERT_EQ(sizes.size(), c.first_blocks);
    for (size_t i = 0; i + 1 < sizes.size(); ++i)
      EXPECT_EQ(sizes[i], 1024u);
    EXPECT_EQ(rx, (c.first_empties ? std::vector<bool>{true, false} : std::vector<bool>{true}));
    if (!c.first_empties) {
      sent += "!";
      line->push_input("!");
      ASSERT_TRUE(pump_until([&] { return got.size() == sent.size(); }));
      EXPECT_EQ(rx, (std::vector<bool>{true, true, false}));
    }
    EXPECT_TRUE(got == sent);
    port.Close();
    port.UnRegisterLink(&link);
  }
}

TEST_F(SerportFake, WithoutALinkOnRxCharGetsTheCountAndTheBytesStay) {
  std::atomic<int> count{0};
  port.OnRxChar = [&](TCustomComPort *, int n) { count = n; };
  port.Open();
  line->push_input("0123456789");
  ASSERT_TRUE(pump_until([&] { return count.load() != 0; }));
  EXPECT_EQ(count.load(), 10);
  EXPECT_EQ(port.InputCount(), 10);
  EXPECT_EQ(line->count("ReadFile"), 0);
  std::string s;
  EXPECT_EQ(port.ReadStr(s, 20), 10);
  EXPECT_EQ(s, "0123456789");
  port.Close();
}

TEST_F(SerportFake, ErrorsAreReportedBeforeTheBytesOfTheSameWakeUp) {
  port.OnError = [&](TCustomComPort *, TComErrors e) { note("Error " + ComErrorsToStr(e)); };
  port.OnRxChar = [&](TCustomComPort *p, int n) {
    std::string s;
    p->ReadStr(s, n);
    note("RxChar " + s);
  };
  port.Open();
  line->push_input("ab", COMM_CE_FRAME | COMM_CE_OVERRUN | COMM_CE_RXPARITY);
  ASSERT_TRUE(pump_until([&] { return note_count() >= 2; }));
  // Parity errors count only when the port checks parity.
  std::vector<std::string> expected = {"Error <ComError:Frame,Overrun>", "RxChar ab"};
  EXPECT_EQ(notes(), expected);
  port.Close();
}

TEST_F(SerportFake, AThrowingHandlerNeitherStopsTheThreadNorLaterEvents) {
  std::atomic<int> calls{0};
  std::atomic<int> errors{0};
  port.OnError = [&](TCustomComPort *, TComErrors) {
    ++errors;
    throw std::runtime_error("handler failed");
  };
  port.OnRxChar = [&](TCustomComPort *p, int n) {
    std::string s;
    p->ReadStr(s, n);
    if (++calls == 1)
      throw std::runtime_error("first delivery fails");
  };
  port.Open();
  line->push_input("x", COMM_CE_FRAME);
  ASSERT_TRUE(pump_until([&] { return calls.load() == 1; }));  // reached despite OnError throwing
  line->push_input("y");
  ASSERT_TRUE(pump_until([&] { return calls.load() == 2; }));
  EXPECT_EQ(errors.load(), 1);
  port.Close();
}

TEST_F(SerportFake, LineEventsReachLinksAndHandlers) {
  TComLink link;
  link.OnCTSChange = [&](TCustomComPort *, bool on) { note(on ? "link CTS on" : "link CTS off"); };
  link.OnRing = [&](TCustomComPort *) { note("link Ring"); };
  link.OnRLSDChange = [&](TCustomComPort *, bool on) { note(on ? "link RLSD on" : "link RLSD off"); };
  port.OnRing = [&](TCustomComPort *) { note("Ring"); };
  port.OnBreak = [&](TCustomComPort *) { note("Break"); };
  port.RegisterLink(&link);
  port.Open();
  log.clear();
  line->set_modem_status(COMM_MS_CTS_ON | COMM_MS_RING_ON);
  ASSERT_TRUE(pump_until([&] { return note_count() >= 3; }));
  // Fixed order within a wake-up: ring before CTS.
  std::vector<std::string> expected = {"link Ring", "Ring", "link CTS on"};
  EXPECT_EQ(notes(), expected);
  line->raise_errors(COMM_CE_BREAK);
  ASSERT_TRUE(pump_until([&] { return note_count() >= 4; }));
  EXPECT_EQ(notes().back(), "Break");
  log.clear();
  port.Close();
  EXPECT_EQ(notes(), (std::vector<std::string>{"link CTS off", "link RLSD off"}));
  port.UnRegisterLink(&link);
}

TEST_F(SerportFake, SyncMethodsDecideWhereHandlersRun) {
  const struct {
    TSyncMethod method;
    bool delivered;
    bool on_gui_thread;
  } cases[] = {{smThreadSync, true, true},
               {smWindowSync, true, true},
               {smNone, true, false},
               {smDisableEvents, false, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.method));
    std::atomic<int> delivered{0};
    std::atomic<bool> gui{false};
    port.SetSyncMethod(c.method);
    port.OnRxChar = [&](TCustomComPort *p, int n) {
      gui = on_gui_thread();
      std::string s;
      p->ReadStr(s, n);
      ++delivered;
    };
    port.Open();
    ASSERT_TRUE(pump_until([&] { return line->count("WaitCommEvent") >= 1; }));
    line->clear_calls();
    line->push_input("data");
    // The thread has taken the wake-up once it waits again.
    ASSERT_TRUE(pump_until(
        [&] { return line->count("WaitCommEvent") >= 1 && (!c.delivered || delivered.load() > 0); }));
    EXPECT_EQ(delivered.load() > 0, c.delivered);
    if (c.delivered) {
      EXPECT_EQ(gui.load(), c.on_gui_thread);
    }
    port.Close();
    port.OnRxChar = nullptr;
  }
}

TEST_F(SerportFake, WritesNotifyLinksAndFailOnAClosedPort) {
  TComLink link;
  std::vector<std::string> tx;
  std::vector<bool> tx_on;
  link.OnTxBuf = [&](TCustomComPort *, const char *b, int n) { tx.emplace_back(b, n); };
  link.OnTx = [&](TCustomComPort *, bool on) { tx_on.push_back(on); };
  port.RegisterLink(&link);
  port.Open();
  const char ctrl_c = 0x03;
  EXPECT_EQ(port.Write(&ctrl_c, 1), 1);
  EXPECT_EQ(port.WriteStr("flash -noheader 192.168.1.2:kernel flash0.kernel\r"), 49);
  EXPECT_EQ(port.WriteStr(""), 0);
  EXPECT_EQ(line->count("WriteFile"), 2);
  EXPECT_EQ(line->output(),
            "\x03"
            "flash -noheader 192.168.1.2:kernel flash0.kernel\r");
  ASSERT_EQ(tx.size(), 2u);
  EXPECT_EQ(tx[0], "\x03");
  ASSERT_GE(tx_on.size(), 2u);
  EXPECT_TRUE(tx_on[0]);
  TComStream stream(port);
  EXPECT_EQ(stream.Write("ok", 2), 2);
  EXPECT_EQ(stream.Seek(100, 0), 0);
  port.Close();
  port.UnRegisterLink(&link);
  try {
    port.Write("x", 1);
    ADD_FAILURE() << "write on a closed port";
  } catch (const EComPortExt &e) {
    EXPECT_EQ(e.Code(), 2);
    EXPECT_EQ(e.WinCode(), COMM_ERR_INVALID_HANDLE);
  }
  EXPECT_FALSE(port._SyncWrite("x", 1));
  int n = 5;
  char buf[5];
  EXPECT_FALSE(port._SyncRead(buf, n));
  EXPECT_EQ(n, 0);
}

TEST_F(SerportFake, AsyncRecordsAreCheckedAndCompleteLater) {
  port.Open();
  PSerPortAsync none = nullptr;
  for (auto call : {+[](TComPort &p, PSerPortAsync &a) { p.WriteAsync("x", 1, a); },
                    +[](TComPort &p, PSerPortAsync &a) { p.WaitForAsync(a); },
                    +[](TComPort &p, PSerPortAsync &a) { p.IsAsyncCompleted(a); },
                    +[](TComPort &p, PSerPortAsync &a) {
                      char c;
                      p.ReadAsync(&c, 1, a);
                    }}) {
    try {
      call(port, none);
      ADD_FAILURE() << "accepted a null record";
    } catch (const EComPort &e) {
      EXPECT_EQ(e.Code(), 4);
      EXPECT_STREQ(e.what(), "COM1 Error: Invalid Async parameter");
    }
  }
  line->hold_writes(true);
  PSerPortAsync async = nullptr;
  SerportInitAsync(async);
  std::string text = "erase_flash2; erase_flash0\r";
  EXPECT_EQ(port.WriteStrAsync(text, async), 0);
  text.assign(text.size(), '#');  // the record keeps its own copy
  EXPECT_FALSE(port.IsAsyncCompleted(async));
  line->hold_writes(false);
  EXPECT_EQ(port.WaitForAsync(async), 27);
  EXPECT_TRUE(port.IsAsyncCompleted(async));
  SerportDoneAsync(async);
  EXPECT_EQ(async, nullptr);
  EXPECT_EQ(line->output(), "erase_flash2; erase_flash0\r");
  std::string in;
  SerportInitAsync(async);
  line->push_input("CFE> ");
  EXPECT_EQ(port.ReadStrAsync(in, 5, async), 5);
  EXPECT_EQ(port.WaitForAsync(async), 5);
  EXPECT_EQ(in, "CFE> ");
  SerportDoneAsync(async);
  port.Close();
}

// A write the line never takes must not keep its thread for ever: closing the port, or
// taking back every pending operation (a stop from outside), fails it.
TEST_F(SerportFake, CloseOrAbortWhileAnotherThreadIsInsideWriteFailsThatWrite) {
  const struct {
    const char *name;
    void (*take_back)(TComPort &);
  } ways[] = {{"close", [](TComPort &p) { p.Close(); }}, {"abort", [](TComPort &p) { p.AbortAllAsync(); }}};
  for (const auto &way : ways) {
    SCOPED_TRACE(way.name);
    port.Open();
    line->clear_calls();
    line->hold_writes(true);
    std::atomic<int> code{-1}, win{-1};
    std::thread worker([&] {
      try {
        port.WriteStr("reboot\r");
        code = 0;
      } catch (const EComPortExt &e) {
        code = e.Code();
        win = e.WinCode();
      }
    });
    ASSERT_TRUE(pump_until([&] { return line->count("WriteFile") == 1; }));
    way.take_back(port);
    worker.join();
    EXPECT_EQ(code.load(), 2);
    EXPECT_EQ(win.load(), static_cast<int>(COMM_ERR_OPERATION_ABORTED));
    line->hold_writes(false);
    port.Close();
  }
}

TEST_F(SerportFake, QueueSignalAndLineCallsMapToTheDevice) {
  port.Open();
  line->clear_calls();
  port.ClearBuffer(true, false);
  port.ClearBuffer(false, true);
  port.SetDTR(true);
  port.SetRTS(true);
  port.SetBreak(true);
  port.SetBreak(false);
  port.SetXonXoff(true);
  port.TransmitChar('\x03');
  std::vector<std::string> expected = {"PurgeComm 0x8",        "PurgeComm 0x4",        "EscapeCommFunction 5",
                                       "EscapeCommFunction 3", "EscapeCommFunction 8", "EscapeCommFunction 9",
                                       "EscapeCommFunction 2", "TransmitCommChar"};
  EXPECT_EQ(config_calls(*line), expected);
  EXPECT_EQ(line->escapes_dtr_rts(), 3u);
  const struct {
    const char *call;
    std::function<void()> run;
    int code;
  } failures[] = {
      {"PurgeComm", [&] { port.ClearBuffer(true, true); }, 5},
      {"EscapeCommFunction", [&] { port.SetDTR(false); }, 12},
      {"TransmitCommChar", [&] { port.TransmitChar('x'); }, 13},
      {"ClearCommError", [&] { port.InputCount(); }, 10},
      {"GetCommModemStatus", [&] { port.Signals(); }, 11},
  };
  for (const auto &f : failures) {
    SCOPED_TRACE(f.call);
    line->fail_next(f.call, COMM_ERR_GEN_FAILURE);
    try {
      f.run();
      ADD_FAILURE() << "no exception";
    } catch (const EComPortExt &e) {
      EXPECT_EQ(e.Code(), f.code);
      EXPECT_EQ(e.WinCode(), 31);
    }
  }
  line->set_modem_status(COMM_MS_DSR_ON | COMM_MS_RLSD_ON);
  EXPECT_EQ(port.Signals(), (TComSignals{csDSR, csRLSD}));
  port.Close();
}

TEST_F(SerportFake, AVanishedDeviceIsReportedAndTheThreadEndsInsteadOfSpinning) {
  std::atomic<bool> io_error{false};
  std::atomic<int> losses{0};
  std::atomic<uint32_t> lost_code{0};
  port.OnError = [&](TCustomComPort *, TComErrors e) { io_error = e.contains(ceIO); };
  port.OnDeviceLost = [&](TCustomComPort *, uint32_t code) {
    lost_code = code;
    ++losses;
  };
  // A deliberate close is no loss.
  port.Open();
  port.Close();
  EXPECT_EQ(losses.load(), 0);

  port.Open();
  line->vanish();
  ASSERT_TRUE(pump_until([&] { return io_error.load() && losses.load() > 0; }));
  EXPECT_EQ(losses.load(), 1);
  EXPECT_NE(lost_code.load(), COMM_OK);
  try {
    port.WriteStr("x");
    ADD_FAILURE() << "write to a vanished device";
  } catch (const EComPortExt &e) {
    EXPECT_EQ(e.Code(), 2);
    EXPECT_EQ(e.WinCode(), static_cast<int>(COMM_ERR_DEVICE_NOT_CONNECTED));
  }
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST_F(SerportFake, LoadingStoresConnectedAndLoadedOpensOrStaysClosed) {
  port.BeginLoading();
  port.SetConnected(true);
  port.SetBaudRate(br38400);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(line->count("CreateFile"), 0);
  port.Loaded();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(line->dcb().BaudRate, 38400u);
  port.SetConnected(false);
  EXPECT_FALSE(port.Connected());

  TComPort missing;
  missing.SetCommBackend(&backend);
  missing.SetPort("COM8");
  missing.BeginLoading();
  missing.SetConnected(true);
  EXPECT_NO_THROW(missing.Loaded());
  EXPECT_FALSE(missing.Connected());
}
