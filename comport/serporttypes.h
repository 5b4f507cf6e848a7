// The value types of the serial port component: line settings, events, signals, errors and
// the small sets built from them, with their fixed words for settings files and dialogs.
//
// The ordinal values of the enumerations are part of the contract: several map one-to-one
// onto the device control block of the serial device layer (platform/comm.h), and stored
// settings use their positions.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

enum TBaudRate : uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
};
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone, smDisableEvents };
enum TComEvent : uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full,
};
enum TComSignal : uint8_t { csCTS, csDSR, csRing, csRLSD };
enum TComError : uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum TComLinkEvent : uint8_t { leConn, leCTS, leDSR, leRLSD, leRing, leRx, leTx, leTxEmpty, leRxFlag };
enum TOperationKind : uint8_t { okWrite, okRead };
enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
enum TStoredProp : uint8_t { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
enum TStoreType : uint8_t { stRegistry, stIniFile };

// A set of enumeration values, bit n standing for ordinal n, held in Bits.
template <typename E, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E e : members)
      bits_ = static_cast<Bits>(bits_ | bit(e));
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits bits() const { return bits_; }
  constexpr bool empty() const { return bits_ == 0; }
  constexpr bool contains(E e) const { return (bits_ & bit(e)) != 0; }
  constexpr TSet &include(E e) {
    bits_ = static_cast<Bits>(bits_ | bit(e));
    return *this;
  }
  constexpr TSet &exclude(E e) {
    bits_ = static_cast<Bits>(bits_ & ~bit(e));
    return *this;
  }
  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }
  friend constexpr TSet operator|(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ | b.bits_)); }
  friend constexpr TSet operator&(TSet a, TSet b) { return FromBits(static_cast<Bits>(a.bits_ & b.bits_)); }

 private:
  static constexpr Bits bit(E e) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(e)); }
  Bits bits_ = 0;
};

using TComEvents = TSet<TComEvent, uint16_t>;
using TComSignals = TSet<TComSignal, uint8_t>;
using TComErrors = TSet<TComError, uint8_t>;
using TStoredProps = TSet<TStoredProp, uint8_t>;

// All ten events: the default event mask of a port.
inline constexpr TComEvents kAllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                          evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

// 110 … 256000 for the named rates, 0 for brCustom.
int BaudRateToInt(TBaudRate BaudRate);

// The fixed words of settings files and dialogs ("115200", "1.5", "Odd", "Hardware", …).
// The StrTo… functions compare case-insensitively in ordinal order and return the first
// match, or their fallback (br9600, sbOneStopBit, dbEight, prNone, fcCustom, dtrDisable,
// rtsDisable) when nothing matches.
std::string BaudRateToStr(TBaudRate BaudRate);
std::string StopBitsToStr(TStopBits StopBits);
std::string DataBitsToStr(TDataBits DataBits);
std::string ParityToStr(TParityBits Parity);
std::string FlowControlToStr(TFlowControl FlowControl);
std::string DTRFlowControlToStr(TDTRFlowControl Control);
std::string RTSFlowControlToStr(TRTSFlowControl Control);
TBaudRate StrToBaudRate(const std::string &Str);
TStopBits StrToStopBits(const std::string &Str);
TDataBits StrToDataBits(const std::string &Str);
TParityBits StrToParity(const std::string &Str);
TFlowControl StrToFlowControl(const std::string &Str);
TDTRFlowControl StrToDTRFlowControl(const std::string &Str);
TRTSFlowControl StrToRTSFlowControl(const std::string &Str);

// The device layer's event mask for a set of events and back; mask bits outside the ten
// events are dropped on the way back.
uint32_t EventsToMask(TComEvents Events);
TComEvents MaskToEvents(uint32_t Mask);
