// TComThread: waits for the events of one open port and hands each wake-up to the port.
#include <thread>

#include "comport/serport.h"
#include "lib/log.h"

TComThread::TComThread(TCustomComPort *Port) : port_(Port), device_(Port->Handle()) {
  // The mask is set before the thread runs, so bytes that arrive in between are not missed.
  // Thread priority is not applied: without privileges a thread can only lower its own, and
  // an event thread that waits without polling needs none of it.
  if (device_) {
    uint32_t rc = device_->SetCommMask(EventsToMask(port_->Events()));
    if (rc != COMM_OK)
      ZV_LOG(LOG_ERROR, "TComThread.Create", "SetCommMask on %s failed: %u", port_->Port().c_str(), rc);
  }
  thread_.start([this] { Execute(); });
}

TComThread::~TComThread() {
  Stop();
  thread_.join();
}

void TComThread::Stop() {
  stop_event_.set();
  std::this_thread::yield();
}

void TComThread::Execute() {
  if (!device_)
    return;
  for (;;) {
    uint32_t mask = 0;
    uint32_t rc = device_->WaitCommEvent(mask, &stop_event_, -1);
    if (stop_event_.is_set())
      break;
    if (rc != COMM_OK) {
      // The device is gone (unplugged, peer closed) or was closed: waiting again would fail
      // at once for ever. The port stays open; its next call reports the failure, and the
      // owner hears of it now rather than at a write that may never come.
      ZV_LOG(LOG_ERROR, "TComThread.Execute", "Waiting for events on %s failed: %u", port_->Port().c_str(),
             rc);
      DispatchDeviceLost(rc);
      break;
    }
    TComEvents events = MaskToEvents(mask);
    if (events.empty())
      continue;
    events_ = events.bits();
    try {
      DispatchComMsg();
    } catch (const std::exception &e) {
      ZV_LOG(LOG_ERROR, "TComThread.Execute", "%s", e.what());
    } catch (...) {
      ZV_LOG(LOG_ERROR, "TComThread.Execute", "unknown exception in an event handler");
    }
  }
  device_->SetCommMask(0);
  device_->PurgeComm(COMM_PURGE_TXCLEAR | COMM_PURGE_RXCLEAR);
}

void TComThread::DispatchComMsg() {
  switch (port_->SyncMethod()) {
    case smThreadSync:
      // Blocks until the GUI thread has run the delivery; a Close on the GUI thread serves it
      // while it waits for this thread.
      synchronize([this] { DoEvents(); });
      break;
    case smWindowSync:
      SendEvents();
      break;
    case smNone:
      DoEvents();
      break;
    case smDisableEvents:
      break;
  }
}

void TComThread::DoEvents() {
  using Call = void (TCustomComPort::*)();
  static constexpr struct {
    TComEvent event;
    Call call;
  } kOrder[] = {
      {evError, &TCustomComPort::CallError},     {evRxChar, &TCustomComPort::CallRxChar},
      {evTxEmpty, &TCustomComPort::CallTxEmpty}, {evBreak, &TCustomComPort::CallBreak},
      {evRing, &TCustomComPort::CallRing},       {evCTS, &TCustomComPort::CallCTSChange},
      {evDSR, &TCustomComPort::CallDSRChange},   {evRxFlag, &TCustomComPort::CallRxFlag},
      {evRLSD, &TCustomComPort::CallRLSDChange}, {evRx80Full, &TCustomComPort::CallRx80Full},
  };
  const TComEvents events = Events();
  for (const auto &entry : kOrder) {
    if (!events.contains(entry.event))
      continue;
    // A handler that throws must not cost the events after it, nor the thread: every later
    // byte of the console would be lost while the port still looks open.
    try {
      (port_->*entry.call)();
    } catch (const std::exception &e) {
      ZV_LOG(LOG_ERROR, "TComThread.DoEvents", "%s", e.what());
    } catch (...) {
      ZV_LOG(LOG_ERROR, "TComThread.DoEvents", "unknown exception in an event handler");
    }
  }
}

void TComThread::SendEvents() { port_->SendEvents(Events()); }

void TComThread::DispatchDeviceLost(uint32_t SystemError) {
  TCustomComPort *port = port_;
  auto deliver = [port, SystemError] {
    try {
      port->CallDeviceLost(SystemError);
    } catch (const std::exception &e) {
      ZV_LOG(LOG_ERROR, "TComThread.DeviceLost", "%s", e.what());
    }
  };
  switch (port_->SyncMethod()) {
    case smThreadSync:
      // A Close on the GUI thread serves this while it waits for the thread, and then finds
      // the port no longer connected, so a deliberate close is never reported as a loss.
      synchronize(deliver);
      break;
    case smWindowSync:
      port_->PostDeviceLost(SystemError);
      break;
    case smNone:
      deliver();
      break;
    case smDisableEvents:
      break;
  }
}
