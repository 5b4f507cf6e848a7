// How every box's serial console is set: the boot loader talks at 115200 baud, 8N1, with no
// flow control, and DTR and RTS stay off so that an adapter wired to the box's reset line
// does not hold it in reset.
#pragma once

#include "comport/serport.h"

#include <string>

// Between the port's BeginUpdate and EndUpdate.
inline void set_box_console(TCustomComPort &port, const std::string &device) {
  port.SetPort(device);
  port.SetBaudRate(br115200);
  port.SetDataBits(dbEight);
  port.SetStopBits(sbOneStopBit);
  port.Parity().SetBits(prNone);
  port.FlowControl().SetFlowControl(fcNone);
  port.FlowControl().SetControlDTR(dtrDisable);
  port.FlowControl().SetControlRTS(rtsDisable);
}
