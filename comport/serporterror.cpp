// Errors of the serial port component: the code table, the two exception classes, the text
// of a set of line errors, and the port list whose failure is one of them.
#include <iterator>

#include "comport/serport.h"

namespace {

const char *const kMessages[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

const char *const kErrorNames[] = {"Frame", "Parity", "Overrun", "Break", "IO", "Mode", "RxOver", "TxFull"};

}  // namespace

std::string ComErrorMessage(int Code) {
  if (Code >= 1 && Code <= static_cast<int>(std::size(kMessages)))
    return kMessages[Code - 1];
  return "Unknown Error #" + std::to_string(Code);
}

EComPort::EComPort(const std::string &Port, int Code)
    : std::runtime_error(Port + " Error: " + ComErrorMessage(Code)), code_(static_cast<uint8_t>(Code)) {}

EComPort::EComPort(const std::string &Msg) : std::runtime_error(Msg), code_(0) {}

EComPortExt::EComPortExt(const std::string &Port, int Code, int32_t WinCode)
    : EComPort("COM Port Error: " + ComErrorMessage(Code) + " on " + Port, static_cast<uint8_t>(Code)),
      win_code_(WinCode) {}

std::string ComErrorsToStr(TComErrors Errors) {
  if (Errors.empty())
    return "<Ok>";
  std::string text = "<ComError:";
  bool first = true;
  for (unsigned e = 0; e < std::size(kErrorNames); ++e) {
    if (!Errors.contains(static_cast<TComError>(e)))
      continue;
    if (!first)
      text += ",";
    text += kErrorNames[e];
    first = false;
  }
  return text + ">";
}

void EnumComPorts(std::vector<std::string> &List) {
  std::vector<std::string> names;
  uint32_t rc = comm_enum_ports(names);
  if (rc != COMM_OK)
    throw EComPortExt("EnumComPorts", 23, static_cast<int32_t>(rc));
  List = std::move(names);
}
