#include "comport/serporttypes.h"

#include <iterator>

#include "platform/comm.h"

namespace {

constexpr int kBaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
const char *const kBaudWords[] = {"Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
                                  "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
const char *const kStopWords[] = {"1", "1.5", "2"};
const char *const kDataWords[] = {"5", "6", "7", "8"};
const char *const kParityWords[] = {"None", "Odd", "Even", "Mark", "Space"};
const char *const kFlowWords[] = {"Hardware", "Software", "None", "Custom"};
const char *const kDTRWords[] = {"Disable", "Enable", "Handshake"};
const char *const kRTSWords[] = {"Disable", "Enable", "Handshake", "Toggle"};

// The device mask bit of each event, by ordinal.
constexpr uint32_t kEventMask[] = {COMM_EV_RXCHAR, COMM_EV_TXEMPTY, COMM_EV_RXFLAG, COMM_EV_RING,
                                   COMM_EV_BREAK,  COMM_EV_CTS,     COMM_EV_DSR,    COMM_EV_ERR,
                                   COMM_EV_RLSD,   COMM_EV_RX80FULL};

template <size_t N>
std::string word(const char *const (&words)[N], unsigned ordinal) {
  return ordinal < N ? words[ordinal] : std::string();
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The words are ASCII: their case is folded the same in every locale.
bool same_word(const char *word, const std::string &str) {
  size_t i = 0;
  for (; word[i] && i < str.size(); ++i)
    if (ascii_lower(word[i]) != ascii_lower(str[i]))
      return false;
  return word[i] == 0 && i == str.size();
}

template <typename E, size_t N>
E find_word(const char *const (&words)[N], const std::string &str, E fallback) {
  for (size_t i = 0; i < N; ++i)
    if (same_word(words[i], str))
      return static_cast<E>(i);
  return fallback;
}

}  // namespace

int BaudRateToInt(TBaudRate BaudRate) { return BaudRate < std::size(kBaudRates) ? kBaudRates[BaudRate] : 0; }

std::string BaudRateToStr(TBaudRate BaudRate) { return word(kBaudWords, BaudRate); }
std::string StopBitsToStr(TStopBits StopBits) { return word(kStopWords, StopBits); }
std::string DataBitsToStr(TDataBits DataBits) { return word(kDataWords, DataBits); }
std::string ParityToStr(TParityBits Parity) { return word(kParityWords, Parity); }
std::string FlowControlToStr(TFlowControl FlowControl) { return word(kFlowWords, FlowControl); }
std::string DTRFlowControlToStr(TDTRFlowControl Control) { return word(kDTRWords, Control); }
std::string RTSFlowControlToStr(TRTSFlowControl Control) { return word(kRTSWords, Control); }

TBaudRate StrToBaudRate(const std::string &Str) { return find_word(kBaudWords, Str, br9600); }
TStopBits StrToStopBits(const std::string &Str) { return find_word(kStopWords, Str, sbOneStopBit); }
TDataBits StrToDataBits(const std::string &Str) { return find_word(kDataWords, Str, dbEight); }
TParityBits StrToParity(const std::string &Str) { return find_word(kParityWords, Str, prNone); }
TFlowControl StrToFlowControl(const std::string &Str) { return find_word(kFlowWords, Str, fcCustom); }
TDTRFlowControl StrToDTRFlowControl(const std::string &Str) { return find_word(kDTRWords, Str, dtrDisable); }
TRTSFlowControl StrToRTSFlowControl(const std::string &Str) { return find_word(kRTSWords, Str, rtsDisable); }

uint32_t EventsToMask(TComEvents Events) {
  uint32_t mask = 0;
  for (unsigned e = 0; e < std::size(kEventMask); ++e)
    if (Events.contains(static_cast<TComEvent>(e)))
      mask |= kEventMask[e];
  return mask;
}

TComEvents MaskToEvents(uint32_t Mask) {
  TComEvents events;
  for (unsigned e = 0; e < std::size(kEventMask); ++e)
    if (Mask & kEventMask[e])
      events.include(static_cast<TComEvent>(e));
  return events;
}
