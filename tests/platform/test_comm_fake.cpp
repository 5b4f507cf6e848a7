// The fake line raises the events a real device raises for the same input, so that code
// tested on it meets the events it will meet on a port.
#include <gtest/gtest.h>

#include "platform/comm_fake.h"

namespace {

TEST(CommFakeEvents, InputLinesAndErrorsRaiseTheDevicesEvents) {
  FakeCommBackend backend;
  auto line = backend.add("COM1");
  std::shared_ptr<CommDevice> dev;
  ASSERT_EQ(backend.CreateFile("COM1", true, dev), COMM_OK);
  ASSERT_EQ(dev->SetupComm(100, 100), COMM_OK);
  CommDcb dcb;
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.EvtChar = '>';
  dcb.Flags = DCB_BINARY | DCB_NULL;
  ASSERT_EQ(dev->SetCommState(dcb), COMM_OK);
  ASSERT_EQ(dev->SetCommMask(COMM_EV_RXCHAR | COMM_EV_RXFLAG | COMM_EV_RX80FULL | COMM_EV_BREAK |
                             COMM_EV_ERR | COMM_EV_CTS | COMM_EV_RING),
            COMM_OK);

  // Each step does one thing on the line (or reads) and names the events that follow.
  enum Act { Push, Read, Errors, Lines };
  const struct {
    const char *step;
    Act act;
    std::string input;
    uint32_t value;  // the errors that come with or without bytes, the bytes read, the lines
    uint32_t expected;
  } steps[] = {
      {"half full", Push, std::string(50, 'a'), 0, COMM_EV_RXCHAR},
      {"one short of the mark", Push, std::string(29, 'a'), 0, COMM_EV_RXCHAR},
      {"the mark reached", Push, "a", 0, COMM_EV_RXCHAR | COMM_EV_RX80FULL},
      {"above the mark, no second time", Push, std::string(10, 'a'), 0, COMM_EV_RXCHAR},
      {"emptied by a read", Read, "", 90, 0},
      {"from empty past the mark at once", Push, std::string(90, 'a'), 0, COMM_EV_RXCHAR | COMM_EV_RX80FULL},
      {"the event character", Push, "x>", 0, COMM_EV_RXCHAR | COMM_EV_RXFLAG},
      {"only discarded nulls", Push, std::string(3, '\0'), 0, 0},
      {"a framing error with bytes", Push, "b", COMM_CE_FRAME, COMM_EV_RXCHAR | COMM_EV_ERR},
      {"a break", Errors, "", COMM_CE_BREAK, COMM_EV_BREAK},
      {"an overrun", Errors, "", COMM_CE_OVERRUN, COMM_EV_ERR},
      {"clear to send and ringing", Lines, "", COMM_MS_CTS_ON | COMM_MS_RING_ON, COMM_EV_CTS | COMM_EV_RING},
      {"ringing stops: no ring event", Lines, "", COMM_MS_CTS_ON, 0},
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(s.step);
    switch (s.act) {
      case Push:
        line->push_input(s.input, s.value);
        break;
      case Read: {
        std::string buffer(s.value, '\0');
        uint32_t done = 0;
        ASSERT_EQ(dev->ReadFile(buffer.data(), s.value, done, nullptr), COMM_OK);
        ASSERT_EQ(done, s.value);
        break;
      }
      case Errors:
        line->raise_errors(s.value);
        break;
      case Lines:
        line->set_modem_status(s.value);
        break;
    }
    uint32_t mask = 0;
    ASSERT_EQ(dev->WaitCommEvent(mask, nullptr, 0), COMM_OK);
    EXPECT_EQ(mask, s.expected);
  }
  dev->CloseHandle();
}

}  // namespace
