// TCustomComPort: the links that follow the port, and the per-event Do… and Call… methods
// that the event thread drives, with the hand-off of events to the GUI thread.
#include "comport/serport.h"

#include <algorithm>

#include "lib/log.h"

namespace {

constexpr uint32_t kWindowMessage = 1025;  // WM_USER + 1: one event for the notification window

// What one wake-up hands to the links before it lets the GUI thread go on (a few
// milliseconds of terminal work); what is left brings the next wake-up.
constexpr size_t kMaxRxPerWakeUp = 64 * 1024;

}  // namespace

// ---- links ----

void RebindComLink(TComLink &Link, TCustomComPort *&Bound, TCustomComPort *To) {
  if (Bound == To)
    return;
  if (TCustomComPort *old = Bound) {
    Bound = nullptr;
    old->UnRegisterLink(&Link);
  }
  if (To) {
    To->RegisterLink(&Link);
    Bound = To;
  }
}

void TCustomComPort::RegisterLink(TComLink *Link) {
  {
    std::lock_guard lock(links_mutex_);
    if (!Link || std::find(links_.begin(), links_.end(), Link) != links_.end())
      throw EComPort(port_, 18);
    links_.push_back(Link);
  }
  RecomputeHasLink();
}

void TCustomComPort::UnRegisterLink(TComLink *Link) {
  {
    std::lock_guard lock(links_mutex_);
    auto it = std::find(links_.begin(), links_.end(), Link);
    if (it == links_.end())
      throw EComPort(port_, 18);
    links_.erase(it);
  }
  RecomputeHasLink();
}

void TCustomComPort::RecomputeHasLink() {
  std::lock_guard lock(links_mutex_);
  bool any = false;
  for (TComLink *link : links_)
    any = any || static_cast<bool>(link->OnRxBuf);
  has_link_ = any;
}

std::vector<TComLink *> TCustomComPort::LinksSnapshot() const {
  // Writers notify links from their own threads while the GUI thread may register one: each
  // notification walks a copy of the list as it was.
  std::lock_guard lock(links_mutex_);
  return links_;
}

void TCustomComPort::SendSignalToLink(TComLinkEvent Signal, bool OnOff) {
  for (TComLink *link : LinksSnapshot()) {
    const TComSignalEvent *slot = nullptr;
    switch (Signal) {
      case leConn:
        slot = &link->OnConn;
        break;
      case leCTS:
        slot = &link->OnCTSChange;
        break;
      case leDSR:
        slot = &link->OnDSRChange;
        break;
      case leRLSD:
        slot = &link->OnRLSDChange;
        break;
      case leRx:
        slot = &link->OnRx;
        break;
      case leTx:
        slot = &link->OnTx;
        break;
      default:
        break;
    }
    if (slot && *slot)
      (*slot)(this, OnOff);
  }
}

void TCustomComPort::NotifyLink(TComLinkEvent Event) {
  for (TComLink *link : LinksSnapshot()) {
    const TComNotifyEvent *slot = nullptr;
    switch (Event) {
      case leRing:
        slot = &link->OnRing;
        break;
      case leTxEmpty:
        slot = &link->OnTxEmpty;
        break;
      case leRxFlag:
        slot = &link->OnRxFlag;
        break;
      default:
        break;
    }
    if (slot && *slot)
      (*slot)(this);
  }
}

void TCustomComPort::TxNotifyLink(const char *Buffer, int Count) {
  for (TComLink *link : LinksSnapshot())
    if (link->OnTxBuf)
      link->OnTxBuf(this, Buffer, Count);
}

// ---- events ----

void TCustomComPort::DoRxChar(int Count) {
  if (OnRxChar)
    OnRxChar(this, Count);
}
void TCustomComPort::DoRxBuf(const char *Buffer, int Count) {
  if (OnRxBuf)
    OnRxBuf(this, Buffer, Count);
}
void TCustomComPort::DoTxEmpty() {
  if (OnTxEmpty)
    OnTxEmpty(this);
}
void TCustomComPort::DoBreak() {
  if (OnBreak)
    OnBreak(this);
}
void TCustomComPort::DoRing() {
  if (OnRing)
    OnRing(this);
}
void TCustomComPort::DoRxFlag() {
  if (OnRxFlag)
    OnRxFlag(this);
}
void TCustomComPort::DoRx80Full() {
  if (OnRx80Full)
    OnRx80Full(this);
}
void TCustomComPort::DoCTSChange(bool OnOff) {
  if (OnCTSChange)
    OnCTSChange(this, OnOff);
}
void TCustomComPort::DoDSRChange(bool OnOff) {
  if (OnDSRChange)
    OnDSRChange(this, OnOff);
}
void TCustomComPort::DoRLSDChange(bool OnOff) {
  if (OnRLSDChange)
    OnRLSDChange(this, OnOff);
}
void TCustomComPort::DoError(TComErrors Errors) {
  if (OnError)
    OnError(this, Errors);
}
void TCustomComPort::DoDeviceLost(uint32_t SystemError) {
  if (OnDeviceLost)
    OnDeviceLost(this, SystemError);
}
void TCustomComPort::DoBeforeOpen() {
  if (OnBeforeOpen)
    OnBeforeOpen(this);
}
void TCustomComPort::DoAfterOpen() {
  if (OnAfterOpen)
    OnAfterOpen(this);
}
void TCustomComPort::DoBeforeClose() {
  if (OnBeforeClose)
    OnBeforeClose(this);
}
void TCustomComPort::DoAfterClose() {
  if (OnAfterClose)
    OnAfterClose(this);
}

void TCustomComPort::CallError() {
  TComErrors errors = LastErrors();
  if (!errors.empty())
    DoError(errors);
}

void TCustomComPort::CallRxChar() {
  int count = InputCount();
  if (count > 0)
    SendSignalToLink(leRx, true);
  if (count > 0 && !TriggersOnRxChar()) {
    // Everything waiting goes out in this one delivery, as blocks of at most the input
    // queue (one read each), so a busy line costs one hand-off per many blocks rather than
    // one per block. Bounded: what is left after kMaxRxPerWakeUp brings the next wake-up.
    std::vector<char> buffer;
    size_t delivered = 0;
    bool any_read = false;
    while (count > 0) {
      bool read = false;
      int n = 0, left = 0;
      auto read_once = [&] {
        buffer.resize(static_cast<size_t>(count));
        n = ReadBlock(buffer.data(), count, left);
        read = true;
        DoRxBuf(buffer.data(), n);
      };
      for (TComLink *link : LinksSnapshot()) {
        if (!link->OnRxBuf)
          continue;
        if (!read)
          read_once();
        link->OnRxBuf(this, buffer.data(), n);
      }
      if (!read && !triggers_on_rx_char_)
        read_once();
      if (!read)
        break;
      any_read = true;
      delivered += static_cast<size_t>(std::max(n, 0));
      // A handler may have closed the port; its queue is gone with it.
      if (n <= 0 || delivered >= kMaxRxPerWakeUp || !connected_.load() || closing_.load())
        break;
      count = left;
    }
    if (any_read)
      count = 0;
  }
  if (count > 0)
    DoRxChar(count);
}

void TCustomComPort::CallTxEmpty() {
  SendSignalToLink(leTx, false);
  NotifyLink(leTxEmpty);
  DoTxEmpty();
}

void TCustomComPort::CallBreak() { DoBreak(); }

void TCustomComPort::CallRing() {
  NotifyLink(leRing);
  DoRing();
}

void TCustomComPort::CallCTSChange() {
  bool on = Signals().contains(csCTS);
  SendSignalToLink(leCTS, on);
  DoCTSChange(on);
}

void TCustomComPort::CallDSRChange() {
  bool on = Signals().contains(csDSR);
  SendSignalToLink(leDSR, on);
  DoDSRChange(on);
}

void TCustomComPort::CallRLSDChange() {
  bool on = Signals().contains(csRLSD);
  SendSignalToLink(leRLSD, on);
  DoRLSDChange(on);
}

void TCustomComPort::CallRxFlag() {
  NotifyLink(leRxFlag);
  DoRxFlag();
}

void TCustomComPort::CallRx80Full() { DoRx80Full(); }

void TCustomComPort::CallDeviceLost(uint32_t SystemError) {
  // A Close that raced the failed wait has ended the connection on purpose: nothing was lost.
  if (connected_.load() && !closing_.load())
    DoDeviceLost(SystemError);
}

void TCustomComPort::PostDeviceLost(uint32_t SystemError) {
  auto generation = window_generation_;
  const uint64_t current = generation->load();
  post_to_gui([this, generation, current, SystemError] {
    if (generation->load() == current)
      CallDeviceLost(SystemError);
  });
}

void TCustomComPort::CallBeforeOpen() { DoBeforeOpen(); }

void TCustomComPort::CallAfterOpen() {
  SendSignalToLink(leConn, true);
  DoAfterOpen();
  CheckSignals(true);
}

void TCustomComPort::CallBeforeClose() {
  CheckSignals(false);
  DoBeforeClose();
}

void TCustomComPort::CallAfterClose() {
  SendSignalToLink(leConn, false);
  DoAfterClose();
}

void TCustomComPort::CheckSignals(bool Open) {
  if (Open) {
    CallCTSChange();
    CallDSRChange();
    CallRLSDChange();
    return;
  }
  SendSignalToLink(leCTS, false);
  SendSignalToLink(leDSR, false);
  SendSignalToLink(leRLSD, false);
  DoCTSChange(false);
  DoDSRChange(false);
  DoRLSDChange(false);
}

void TCustomComPort::WindowMethod(uint32_t Msg, uint32_t WParam) {
  if (Msg != kWindowMessage || !connected_.load())
    return;
  try {
    switch (WParam) {
      case COMM_EV_RXCHAR:
        CallRxChar();
        break;
      case COMM_EV_RXFLAG:
        CallRxFlag();
        break;
      case COMM_EV_TXEMPTY:
        CallTxEmpty();
        break;
      case COMM_EV_CTS:
        CallCTSChange();
        break;
      case COMM_EV_DSR:
        CallDSRChange();
        break;
      case COMM_EV_RLSD:
        CallRLSDChange();
        break;
      case COMM_EV_BREAK:
        CallBreak();
        break;
      case COMM_EV_ERR:
        CallError();
        break;
      case COMM_EV_RING:
        CallRing();
        break;
      case COMM_EV_RX80FULL:
        CallRx80Full();
        break;
      default:
        break;
    }
  } catch (const std::exception &e) {
    // The application's exception display: report, and keep the port's events flowing.
    ZV_LOG(LOG_ERROR, "TCustomComPort.WindowMethod", "%s", e.what());
  }
}

void TCustomComPort::SendEvents(TComEvents Events) {
  static constexpr TComEvent kOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                         evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
  auto generation = window_generation_;
  const uint64_t current = generation->load();
  for (TComEvent e : kOrder) {
    if (!Events.contains(e))
      continue;
    const uint32_t bit = EventsToMask(TComEvents{e});
    // Like a message sent to a window: the GUI thread handles it later, the sender goes on.
    post_to_gui([this, generation, current, bit] {
      if (generation->load() == current)
        WindowMethod(kWindowMessage, bit);
    });
  }
}
