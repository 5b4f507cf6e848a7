// The port's settings as data: words, the device control block, the flow-control summary,
// the event mask and the error texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "comport/serport.h"

TEST(SerportWords, EveryValueRoundTripsThroughItsWord) {
  for (int b = brCustom; b <= br256000; ++b) {
    auto rate = static_cast<TBaudRate>(b);
    SCOPED_TRACE(BaudRateToStr(rate));
    EXPECT_EQ(StrToBaudRate(BaudRateToStr(rate)), rate);
  }
  for (int s = sbOneStopBit; s <= sbTwoStopBits; ++s)
    EXPECT_EQ(StrToStopBits(StopBitsToStr(static_cast<TStopBits>(s))), s);
  for (int d = dbFive; d <= dbEight; ++d)
    EXPECT_EQ(StrToDataBits(DataBitsToStr(static_cast<TDataBits>(d))), d);
  for (int p = prNone; p <= prSpace; ++p)
    EXPECT_EQ(StrToParity(ParityToStr(static_cast<TParityBits>(p))), p);
  for (int f = fcHardware; f <= fcCustom; ++f)
    EXPECT_EQ(StrToFlowControl(FlowControlToStr(static_cast<TFlowControl>(f))), f);
  for (int d = dtrDisable; d <= dtrHandshake; ++d)
    EXPECT_EQ(StrToDTRFlowControl(DTRFlowControlToStr(static_cast<TDTRFlowControl>(d))), d);
  for (int r = rtsDisable; r <= rtsToggle; ++r)
    EXPECT_EQ(StrToRTSFlowControl(RTSFlowControlToStr(static_cast<TRTSFlowControl>(r))), r);
}

TEST(SerportWords, ParsingIsCaseInsensitiveWithFixedFallbacks) {
  EXPECT_EQ(StrToBaudRate("115200"), br115200);
  EXPECT_EQ(StrToBaudRate("custom"), brCustom);
  EXPECT_EQ(StrToBaudRate("12345"), br9600);
  EXPECT_EQ(StrToBaudRate(""), br9600);
  EXPECT_EQ(StrToStopBits("1.5"), sbOne5StopBits);
  EXPECT_EQ(StrToStopBits("3"), sbOneStopBit);
  EXPECT_EQ(StrToDataBits("9"), dbEight);
  EXPECT_EQ(StrToParity("sPaCe"), prSpace);
  EXPECT_EQ(StrToParity("x"), prNone);
  EXPECT_EQ(StrToFlowControl(""), fcCustom);
  EXPECT_EQ(StrToFlowControl("HARDWARE"), fcHardware);
  EXPECT_EQ(StrToDTRFlowControl("handshake"), dtrHandshake);
  EXPECT_EQ(StrToRTSFlowControl("toggle"), rtsToggle);
  EXPECT_EQ(StrToRTSFlowControl("?"), rtsDisable);
  EXPECT_EQ(BaudRateToInt(brCustom), 0);
  EXPECT_EQ(BaudRateToInt(br56000), 56000);
  EXPECT_EQ(BaudRateToInt(br256000), 256000);
}

struct DcbCase {
  const char *name;
  std::function<void(TComPort &)> setup;
  uint32_t baud;
  uint32_t flags;
  uint16_t xon_lim;
  uint8_t byte_size, parity, stop_bits;
  char error_char, evt_char;
};

void main_window_port(TComPort &p) {
  p.SetBaudRate(br115200);
  p.FlowControl().SetOutCTSFlow(false);
  p.FlowControl().SetOutDSRFlow(false);
  p.FlowControl().SetControlDTR(dtrDisable);
  p.FlowControl().SetControlRTS(rtsDisable);
}

TEST(SerportDcb, SettingsBecomeTheDeviceControlBlock) {
  const DcbCase cases[] = {
      {"defaults", [](TComPort &) {}, 9600, 0x0001, 256, 8, 0, 0, 0, 0},
      {"main window", main_window_port, 115200, 0x0001, 256, 8, 0, 0, 0, 0},
      {"custom rate used",
       [](TComPort &p) {
         p.SetBaudRate(brCustom);
         p.SetCustomBaudRate(250000);
       },
       250000, 0x0001, 256, 8, 0, 0, 0, 0},
      {"custom rate ignored",
       [](TComPort &p) {
         p.SetCustomBaudRate(250000);
         p.SetBaudRate(br57600);
       },
       57600, 0x0001, 256, 8, 0, 0, 0, 0},
      {"parity check",
       [](TComPort &p) {
         p.Parity().SetCheck(true);
         p.Parity().SetBits(prEven);
       },
       9600, 0x0003, 256, 8, 2, 0, 0, 0},
      {"replace without check",
       [](TComPort &p) {
         p.Parity().SetReplace(true);
         p.Parity().SetReplaceChar('?');
       },
       9600, 0x0001, 256, 8, 0, 0, 0, 0},
      {"replace with check",
       [](TComPort &p) {
         p.Parity().SetCheck(true);
         p.Parity().SetReplace(true);
         p.Parity().SetReplaceChar('?');
       },
       9600, 0x0403, 256, 8, 0, 0, '?', 0},
      {"hardware flow", [](TComPort &p) { p.FlowControl().SetFlowControl(fcHardware); }, 9600, 0x2005, 256, 8,
       0, 0, 0, 0},
      {"software flow", [](TComPort &p) { p.FlowControl().SetFlowControl(fcSoftware); }, 9600, 0x0301, 256, 8,
       0, 0, 0, 0},
      {"dtr handshake, rts toggle",
       [](TComPort &p) {
         p.FlowControl().SetControlDTR(dtrHandshake);
         p.FlowControl().SetControlRTS(rtsToggle);
       },
       9600, 0x3021, 256, 8, 0, 0, 0, 0},
      {"dsr flow and sensitivity, tx continue",
       [](TComPort &p) {
         p.FlowControl().SetOutDSRFlow(true);
         p.FlowControl().SetDSRSensitivity(true);
         p.FlowControl().SetTxContinueOnXoff(true);
       },
       9600, 0x00C9, 256, 8, 0, 0, 0, 0},
      {"discard null, event char",
       [](TComPort &p) {
         p.SetDiscardNull(true);
         p.SetEventChar('>');
       },
       9600, 0x0801, 256, 8, 0, 0, 0, '>'},
      {"5 data bits, mark, 1.5 stop",
       [](TComPort &p) {
         p.SetDataBits(dbFive);
         p.Parity().SetBits(prMark);
         p.SetStopBits(sbOne5StopBits);
       },
       9600, 0x0001, 256, 5, 3, 1, 0, 0},
      {"7 data bits, space, 2 stop",
       [](TComPort &p) {
         p.SetDataBits(dbSeven);
         p.Parity().SetBits(prSpace);
         p.SetStopBits(sbTwoStopBits);
       },
       9600, 0x0001, 256, 7, 4, 2, 0, 0},
      {"odd input size 1025", [](TComPort &p) { p.Buffer().SetInputSize(1025); }, 9600, 0x0001, 256, 8, 0, 0,
       0, 0},
      {"input size 4096", [](TComPort &p) { p.Buffer().SetInputSize(4096); }, 9600, 0x0001, 1024, 8, 0, 0, 0,
       0},
  };
  for (const DcbCase &c : cases) {
    SCOPED_TRACE(c.name);
    TComPort port;
    c.setup(port);
    CommDcb d = port.BuildDCB();
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.BaudRate, c.baud);
    EXPECT_EQ(d.Flags, c.flags);
    EXPECT_EQ(d.XonLim, c.xon_lim);
    EXPECT_EQ(d.XoffLim, c.xon_lim);
    EXPECT_EQ(d.ByteSize, c.byte_size);
    EXPECT_EQ(d.Parity, c.parity);
    EXPECT_EQ(d.StopBits, c.stop_bits);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
    EXPECT_EQ(d.ErrorChar, c.error_char);
    EXPECT_EQ(d.EvtChar, c.evt_char);
  }
}

TEST(SerportDcb, TimeoutsAndBufferSizes) {
  TComPort port;
  CommTimeouts t = port.BuildTimeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
  const struct {
    int set, stored;
  } sizes[] = {{1025, 1024}, {1024, 1024}, {7, 6}, {1, 0}, {-3, -3}, {-4, -4}};
  for (const auto &s : sizes) {
    SCOPED_TRACE(s.set);
    port.Buffer().SetInputSize(s.set);
    port.Buffer().SetOutputSize(s.set);
    EXPECT_EQ(port.Buffer().InputSize(), s.stored);
    EXPECT_EQ(port.Buffer().OutputSize(), s.stored);
  }
}

struct FlowCase {
  const char *name;
  std::function<void(TComFlowControl &)> setup;
  TFlowControl expected;
};

TEST(SerportFlow, TheSummaryClassifiesRtsCtsAndXonXoffOnly) {
  const FlowCase cases[] = {
      {"defaults", [](TComFlowControl &) {}, fcNone},
      {"dtr handshake is not looked at",
       [](TComFlowControl &f) {
         f.SetControlDTR(dtrHandshake);
         f.SetOutDSRFlow(true);
       },
       fcNone},
      {"rts enabled", [](TComFlowControl &f) { f.SetControlRTS(rtsEnable); }, fcCustom},
      {"rts handshake + cts",
       [](TComFlowControl &f) {
         f.SetControlRTS(rtsHandshake);
         f.SetOutCTSFlow(true);
       },
       fcHardware},
      {"rts handshake without cts", [](TComFlowControl &f) { f.SetControlRTS(rtsHandshake); }, fcCustom},
      {"hardware plus xon",
       [](TComFlowControl &f) {
         f.SetControlRTS(rtsHandshake);
         f.SetOutCTSFlow(true);
         f.SetXonXoffIn(true);
       },
       fcCustom},
      {"both xon/xoff",
       [](TComFlowControl &f) {
         f.SetXonXoffIn(true);
         f.SetXonXoffOut(true);
       },
       fcSoftware},
      {"xon/xoff out only", [](TComFlowControl &f) { f.SetXonXoffOut(true); }, fcCustom},
      {"cts only", [](TComFlowControl &f) { f.SetOutCTSFlow(true); }, fcCustom},
      {"written hardware",
       [](TComFlowControl &f) {
         f.SetXonXoffIn(true);
         f.SetFlowControl(fcHardware);
       },
       fcHardware},
      {"written software",
       [](TComFlowControl &f) {
         f.SetControlRTS(rtsHandshake);
         f.SetFlowControl(fcSoftware);
       },
       fcSoftware},
      {"written none",
       [](TComFlowControl &f) {
         f.SetFlowControl(fcHardware);
         f.SetFlowControl(fcNone);
       },
       fcNone},
      {"written custom keeps fields",
       [](TComFlowControl &f) {
         f.SetControlRTS(rtsToggle);
         f.SetFlowControl(fcCustom);
       },
       fcCustom},
  };
  for (const FlowCase &c : cases) {
    SCOPED_TRACE(c.name);
    TComPort port;
    c.setup(port.FlowControl());
    EXPECT_EQ(port.FlowControl().FlowControl(), c.expected);
  }
  TComPort port;
  port.FlowControl().SetControlRTS(rtsToggle);
  port.FlowControl().SetFlowControl(fcCustom);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsToggle);
}

TEST(SerportSettings, AssigningAWholeObjectCopiesEverySetting) {
  TComPort a, b;
  a.Parity().SetBits(prOdd);
  a.Parity().SetCheck(true);
  a.Parity().SetReplaceChar('#');
  a.FlowControl().SetXonChar('q');
  a.FlowControl().SetControlDTR(dtrEnable);
  a.Timeouts().SetReadInterval(50);
  a.Buffer().SetInputSize(2048);
  b.SetParity(a.Parity());
  b.SetFlowControl(a.FlowControl());
  b.SetTimeouts(a.Timeouts());
  b.SetBuffer(a.Buffer());
  EXPECT_EQ(b.BuildDCB().Flags, a.BuildDCB().Flags);
  EXPECT_EQ(b.BuildDCB().XonChar, 'q');
  EXPECT_EQ(b.BuildDCB().Parity, 1);
  EXPECT_EQ(b.Parity().ReplaceChar(), '#');
  EXPECT_EQ(b.Timeouts().ReadInterval(), 50);
  EXPECT_EQ(b.Buffer().InputSize(), 2048);
  // The back-reference is not copied: b's objects still belong to b.
  EXPECT_EQ(b.Parity().ComPort(), &b);
  EXPECT_EQ(b.FlowControl().ComPort(), &b);
}

TEST(SerportEvents, MaskBitsFollowTheDeviceTable) {
  const struct {
    TComEvent event;
    uint32_t bit;
  } cases[] = {{evRxChar, 0x0001}, {evRxFlag, 0x0002},  {evTxEmpty, 0x0004}, {evCTS, 0x0008},
               {evDSR, 0x0010},    {evRLSD, 0x0020},    {evBreak, 0x0040},   {evError, 0x0080},
               {evRing, 0x0100},   {evRx80Full, 0x0400}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.bit);
    EXPECT_EQ(EventsToMask(TComEvents{c.event}), c.bit);
    EXPECT_EQ(MaskToEvents(c.bit), TComEvents{c.event});
  }
  EXPECT_EQ(EventsToMask(kAllComEvents), 0x05FFu);
  EXPECT_EQ(MaskToEvents(0x0200 | 0x0800 | 0x1000), TComEvents{});
  EXPECT_EQ(MaskToEvents(0xFFFF), kAllComEvents);
  TComPort port;
  EXPECT_EQ(port.Events(), kAllComEvents);
}

TEST(SerportErrors, MessagesAndCodes) {
  EXPECT_EQ(ComErrorMessage(1), "Unable to open com port");
  EXPECT_EQ(ComErrorMessage(8), "SetCommTimeouts failed");
  EXPECT_EQ(ComErrorMessage(23), "Registry error");
  EXPECT_EQ(ComErrorMessage(24), "Unknown Error #24");
  EXPECT_EQ(ComErrorMessage(0), "Unknown Error #0");

  EComPort plain("COM1", 4);
  EXPECT_STREQ(plain.what(), "COM1 Error: Invalid Async parameter");
  EXPECT_EQ(plain.Code(), 4);
  EComPort led("ComLed ", 19);
  EXPECT_STREQ(led.what(), "ComLed  Error: Cannot change led state if ComPort is selected");
  EComPort msg("anything");
  EXPECT_STREQ(msg.what(), "anything");
  EXPECT_EQ(msg.Code(), 0);
  EComPortExt ext("COM3", 1, 2);
  EXPECT_STREQ(ext.what(), "COM Port Error: Unable to open com port on COM3");
  EXPECT_EQ(ext.Code(), 1);
  EXPECT_EQ(ext.WinCode(), 2);
}

TEST(SerportErrors, LineErrorTexts) {
  const struct {
    TComErrors errors;
    const char *text;
  } cases[] = {
      {{}, "<Ok>"},
      {{ceTxFull}, "<ComError:TxFull>"},
      {{ceOverrun, ceFrame}, "<ComError:Frame,Overrun>"},
      {{ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull},
       "<ComError:Frame,Parity,Overrun,Break,IO,Mode,RxOver,TxFull>"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ComErrorsToStr(c.errors), c.text);
}

TEST(SerportErrors, PortListIsSortedAndItsFailureIsRegistryError) {
  std::vector<std::string> ports = {"stale"};
  ASSERT_NO_THROW(EnumComPorts(ports));
  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), comm_port_less));
  for (const std::string &p : ports) {
    SCOPED_TRACE(p);
    EXPECT_EQ(p.rfind("/dev/", 0), 0u);
    EXPECT_EQ(p.find("/pts/"), std::string::npos);  // ptys are never offered
  }
  EComPortExt failed("EnumComPorts", 23, 2);
  EXPECT_STREQ(failed.what(), "COM Port Error: Registry error on EnumComPorts");
}
