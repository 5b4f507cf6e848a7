// TCustomComPort: settings application, open and close, reads and writes, queue and line
// calls, links and the per-event Call… methods that the event thread drives.
#include "comport/serport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "lib/log.h"

namespace {

constexpr uint32_t kWindowMessage = 1025;  // WM_USER + 1: one event for the notification window

// What one wake-up hands to the links before it lets the GUI thread go on (a few
// milliseconds of terminal work); what is left brings the next wake-up.
constexpr size_t kMaxRxPerWakeUp = 64 * 1024;

// The stand-in for OutputDebugString: a debugger's output window, here stderr when
// ZEVAVI_DEBUG_OUTPUT is set. Never the program's log, whose entries are fixed: a line for
// every command the upgrade writes would bury them.
void OutputDebugLine(const std::string &text) {
  static const bool enabled = std::getenv("ZEVAVI_DEBUG_OUTPUT") != nullptr;
  if (enabled)
    std::fprintf(stderr, "%s\n", text.c_str());
}

// Frees an async record however the operation ends.
struct AsyncGuard {
  PSerPortAsync ptr = nullptr;
  AsyncGuard() { SerportInitAsync(ptr); }
  ~AsyncGuard() { SerportDoneAsync(ptr); }
};

}  // namespace

void SerportInitAsync(PSerPortAsync &AsyncPtr) {
  AsyncPtr = std::make_unique<TSerPortAsync>().release();  // ownership passes to the caller's pointer
}

void SerportDoneAsync(PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    return;
  std::unique_ptr<TSerPortAsync> record(AsyncPtr);
  std::unique_ptr<char[]> data(record->Data);
  AsyncPtr = nullptr;
}

// ---- construction ----

TCustomComPort::TCustomComPort() {
  parity_.port_ = this;
  flow_control_.port_ = this;
  timeouts_.port_ = this;
  buffer_.port_ = this;
}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (const std::exception &e) {
    ZV_LOG(LOG_ERROR, "TCustomComPort.Destroy", "%s", e.what());
  }
  // The LEDs, splitters and selectors still bound to this port let go of it now.
  for (TComLink *link : LinksSnapshot())
    if (link->OnDestroy)
      link->OnDestroy(this);
  parity_.port_ = nullptr;
  flow_control_.port_ = nullptr;
  timeouts_.port_ = nullptr;
  buffer_.port_ = nullptr;
}

std::shared_ptr<CommDevice> TCustomComPort::Handle() const {
  std::lock_guard lock(handle_mutex_);
  return handle_;
}

bool TCustomComPort::Applicable() const { return connected_.load() && update_count_ == 0 && !loading_; }

// ---- settings ----

void TCustomComPort::ApplyDCB() {
  if (!Applicable())
    return;
  auto dev = Handle();
  uint32_t rc = dev ? dev->SetCommState(BuildDCB()) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 7, static_cast<int32_t>(rc));
}

void TCustomComPort::ApplyTimeouts() {
  if (!Applicable())
    return;
  auto dev = Handle();
  uint32_t rc = dev ? dev->SetCommTimeouts(BuildTimeouts()) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 8, static_cast<int32_t>(rc));
}

void TCustomComPort::ApplyBuffer() {
  if (!Applicable())
    return;
  auto dev = Handle();
  uint32_t rc = dev ? dev->SetupComm(static_cast<uint32_t>(buffer_.InputSize()),
                                     static_cast<uint32_t>(buffer_.OutputSize()))
                    : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 9, static_cast<int32_t>(rc));
}

void TCustomComPort::SetupComPort() {
  ApplyBuffer();
  ApplyDCB();
  ApplyTimeouts();
}

CommDcb TCustomComPort::BuildDCB() const {
  CommDcb dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = baud_rate_ == brCustom ? static_cast<uint32_t>(custom_baud_rate_)
                                        : static_cast<uint32_t>(BaudRateToInt(baud_rate_));
  uint32_t f = DCB_BINARY;
  if (parity_.Check())
    f |= DCB_PARITY;
  if (flow_control_.OutCTSFlow())
    f |= DCB_OUTX_CTS_FLOW;
  if (flow_control_.OutDSRFlow())
    f |= DCB_OUTX_DSR_FLOW;
  f |= (static_cast<uint32_t>(flow_control_.ControlDTR()) << DCB_DTR_CONTROL_SHIFT) & DCB_DTR_CONTROL_MASK;
  if (flow_control_.DSRSensitivity())
    f |= DCB_DSR_SENSITIVITY;
  if (flow_control_.TxContinueOnXoff())
    f |= DCB_TX_CONTINUE_ON_XOFF;
  if (flow_control_.XonXoffOut())
    f |= DCB_OUTX;
  if (flow_control_.XonXoffIn())
    f |= DCB_INX;
  const bool replace = parity_.Check() && parity_.Replace();
  if (replace)
    f |= DCB_ERROR_CHAR;
  if (discard_null_)
    f |= DCB_NULL;
  f |= (static_cast<uint32_t>(flow_control_.ControlRTS()) << DCB_RTS_CONTROL_SHIFT) & DCB_RTS_CONTROL_MASK;
  dcb.Flags = f;
  dcb.XonLim = static_cast<uint16_t>(buffer_.InputSize() / 4);
  dcb.XoffLim = dcb.XonLim;
  dcb.ByteSize = static_cast<uint8_t>(5 + data_bits_);
  dcb.Parity = static_cast<uint8_t>(parity_.Bits());
  dcb.StopBits = static_cast<uint8_t>(stop_bits_);
  dcb.XonChar = flow_control_.XonChar();
  dcb.XoffChar = flow_control_.XoffChar();
  dcb.ErrorChar = replace ? parity_.ReplaceChar() : 0;
  dcb.EvtChar = event_char_;
  return dcb;
}

CommTimeouts TCustomComPort::BuildTimeouts() const {
  // -1 is MAXDWORD: the two's complement bits pass unchanged.
  CommTimeouts t;
  t.ReadIntervalTimeout = static_cast<uint32_t>(timeouts_.ReadInterval());
  t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(timeouts_.ReadTotalMultiplier());
  t.ReadTotalTimeoutConstant = static_cast<uint32_t>(timeouts_.ReadTotalConstant());
  t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(timeouts_.WriteTotalMultiplier());
  t.WriteTotalTimeoutConstant = static_cast<uint32_t>(timeouts_.WriteTotalConstant());
  return t;
}

void TCustomComPort::SetPort(const std::string &Value) {
  if (port_ == Value)
    return;
  port_ = Value;
  if (connected_.load() && !loading_) {
    Close();
    Open();
  }
}

#define ZV_DCB_SETTER(Name, Type, field)       \
  void TCustomComPort::Set##Name(Type Value) { \
    if (field == Value)                        \
      return;                                  \
    field = Value;                             \
    ApplyDCB();                                \
  }
ZV_DCB_SETTER(BaudRate, TBaudRate, baud_rate_)
ZV_DCB_SETTER(CustomBaudRate, int, custom_baud_rate_)
ZV_DCB_SETTER(DataBits, TDataBits, data_bits_)
ZV_DCB_SETTER(StopBits, TStopBits, stop_bits_)
ZV_DCB_SETTER(DiscardNull, bool, discard_null_)
ZV_DCB_SETTER(EventChar, char, event_char_)
#undef ZV_DCB_SETTER

void TCustomComPort::SetSyncMethod(TSyncMethod Value) {
  if (sync_method_ == Value)
    return;
  if (connected_.load() && !loading_)
    throw EComPort(port_, 14);
  sync_method_ = Value;
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority Value) {
  if (event_thread_priority_ == Value)
    return;
  if (connected_.load() && !loading_)
    throw EComPort(port_, 14);
  event_thread_priority_ = Value;
}

bool TCustomComPort::TriggersOnRxChar() const { return triggers_on_rx_char_ && !has_link_.load(); }

void TCustomComPort::SetTriggersOnRxChar(bool Value) {
  if (has_link_.load())
    throw EComPort(port_, 22);
  triggers_on_rx_char_ = Value;
}

void TCustomComPort::SetOverlapped(bool Value) {
  if (connected_.load())
    return;
  overlapped_ = Value;
}

void TCustomComPort::SetParity(const TComParity &Value) {
  Value.AssignTo(parity_);
  ApplyDCB();
}
void TCustomComPort::SetFlowControl(const TComFlowControl &Value) {
  Value.AssignTo(flow_control_);
  ApplyDCB();
}
void TCustomComPort::SetTimeouts(const TComTimeouts &Value) {
  Value.AssignTo(timeouts_);
  ApplyTimeouts();
}
void TCustomComPort::SetBuffer(const TComBuffer &Value) {
  Value.AssignTo(buffer_);
  ApplyBuffer();
}

void TCustomComPort::BeginUpdate() { ++update_count_; }

void TCustomComPort::EndUpdate() {
  if (update_count_ <= 0)
    return;
  if (--update_count_ == 0)
    SetupComPort();
}

// ---- lifecycle ----

void TCustomComPort::SetConnected(bool Value) {
  if (loading_) {
    stored_connected_ = Value;
    return;
  }
  if (Value != connected_.load()) {
    if (Value)
      Open();
    else
      Close();
  }
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (!stored_connected_)
    return;
  stored_connected_ = false;
  try {
    Open();
  } catch (const std::exception &e) {
    // The application's exception display: the port stays closed, the form goes on loading.
    ZV_LOG(LOG_ERROR, "TCustomComPort.Loaded", "%s", e.what());
  }
}

void TCustomComPort::CreateHandle() {
  CommBackend &backend = backend_ ? *backend_ : comm_os_backend();
  std::shared_ptr<CommDevice> dev;
  uint32_t rc = backend.CreateFile(port_, overlapped_, dev);
  if (rc != COMM_OK || !dev) {
    OutputDebugLine("CreateFile " + comm_device_path(port_));
    throw EComPortExt(port_, 1, static_cast<int32_t>(rc != COMM_OK ? rc : COMM_ERR_GEN_FAILURE));
  }
  std::lock_guard lock(handle_mutex_);
  handle_ = std::move(dev);
}

void TCustomComPort::DestroyHandle() {
  std::shared_ptr<CommDevice> dev;
  {
    std::lock_guard lock(handle_mutex_);
    dev.swap(handle_);
  }
  // Ends writes still running on other threads and waits until they are out of the device.
  if (dev)
    dev->CloseHandle();
}

void TCustomComPort::Open() {
  if (connected_.load())
    return;
  CallBeforeOpen();
  CreateHandle();
  connected_ = true;
  try {
    SetupComPort();
  } catch (...) {
    DestroyHandle();
    connected_ = false;
    throw;
  }
  thread_created_ = false;
  if (!events_.empty()) {
    if (sync_method_ == smWindowSync)
      window_created_ = true;
    // A port opened for plain blocking I/O has no event thread, as on Windows.
    if (overlapped_) {
      event_thread_ = std::make_unique<TComThread>(this);
      thread_created_ = true;
    }
  }
  CallAfterOpen();
}

void TCustomComPort::Close() {
  if (!connected_.load())
    return;
  CallBeforeClose();
  closing_ = true;
  AbortAllAsync();
  if (thread_created_) {
    event_thread_.reset();  // stops the thread and waits for it, serving its last delivery
    thread_created_ = false;
  }
  if (window_created_) {
    // Events still queued for the notification window die with it.
    window_generation_->fetch_add(1);
    window_created_ = false;
  }
  DestroyHandle();
  connected_ = false;
  closing_ = false;
  CallAfterClose();
}

// ---- writes and reads ----

int TCustomComPort::WriteAsync(const void *Buffer, int Count, PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  if (Count < 0)
    Count = 0;
  AsyncPtr->Kind = okWrite;
  std::unique_ptr<char[]> old(AsyncPtr->Data);
  AsyncPtr->Data = nullptr;
  // A private copy: the caller's buffer may go before the write completes.
  auto copy = std::make_unique<char[]>(static_cast<size_t>(Count) + 1);
  if (Count > 0)
    std::memcpy(copy.get(), Buffer, static_cast<size_t>(Count));
  AsyncPtr->Data = copy.release();
  AsyncPtr->Size = Count;
  auto dev = Handle();
  AsyncPtr->Device = dev;
  uint32_t written = 0;
  uint32_t rc =
      dev ? dev->WriteFile(AsyncPtr->Data, static_cast<uint32_t>(Count), written, &AsyncPtr->Overlapped)
          : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK && rc != COMM_ERR_IO_PENDING) {
    AsyncPtr->Device.reset();
    throw EComPortExt(port_, 2, static_cast<int32_t>(rc));
  }
  SendSignalToLink(leTx, true);
  return static_cast<int>(written);
}

int TCustomComPort::WriteStrAsync(const std::string &Str, PSerPortAsync &AsyncPtr) {
  if (Str.empty())
    return 0;
  return WriteAsync(Str.data(), static_cast<int>(Str.size()), AsyncPtr);
}

int TCustomComPort::WriteAsyncWrapper(const void *Buffer, int Count) {
  AsyncGuard async;
  WriteAsync(Buffer, Count, async.ptr);
  return WaitForAsync(async.ptr);
}

int TCustomComPort::Write(const void *Buffer, int Count) {
  if (overlapped_)
    return WriteAsyncWrapper(Buffer, Count);
  return _SyncWrite(Buffer, Count) ? Count : 0;
}

int TCustomComPort::WriteStr(const std::string &Str) {
  if (!overlapped_)
    return _SyncWrite(Str.data(), static_cast<int>(Str.size())) ? static_cast<int>(Str.size()) : 0;
  OutputDebugLine("TCustomComPort.WriteStr");
  if (Str.empty())
    return 0;
  return WriteAsyncWrapper(Str.data(), static_cast<int>(Str.size()));
}

int TCustomComPort::ReadAsync(void *Buffer, int Count, PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  AsyncPtr->Kind = okRead;
  AsyncPtr->Device.reset();
  if (Count <= 0)
    return 0;
  auto dev = Handle();
  if (!dev)
    return 0;
  uint32_t read = 0;
  uint32_t rc = dev->ReadFile(Buffer, static_cast<uint32_t>(Count), read, &AsyncPtr->Overlapped);
  // A read that cannot start yields nothing, and the wait that follows must not wait for it.
  if (rc != COMM_OK && rc != COMM_ERR_IO_PENDING) {
    return 0;
  }
  AsyncPtr->Device = dev;
  return static_cast<int>(read);
}

int TCustomComPort::ReadStrAsync(std::string &Str, int Count, PSerPortAsync &AsyncPtr) {
  if (Count <= 0)
    return 0;
  Str.resize(static_cast<size_t>(Count));
  return ReadAsync(Str.data(), Count, AsyncPtr);
}

int TCustomComPort::Read(void *Buffer, int Count) {
  int left = 0;
  return ReadBlock(Buffer, Count, left);
}

int TCustomComPort::ReadBlock(void *Buffer, int Count, int &Left) {
  std::unique_lock lock(read_record_mutex_, std::try_to_lock);
  std::optional<AsyncGuard> own;
  PSerPortAsync record = &read_record_;
  if (!lock.owns_lock())
    record = own.emplace().ptr;
  // The record must not keep a closed device alive until the next read.
  struct Release {
    PSerPortAsync record;
    ~Release() { record->Device.reset(); }
  } release{record};
  ReadAsync(Buffer, Count, record);
  uint32_t transferred = 0;
  if (auto dev = record->Device) {
    uint32_t rc = dev->GetOverlappedResult(record->Overlapped, transferred, true);
    if (rc != COMM_OK)
      throw EComPortExt(port_, 3, static_cast<int32_t>(rc));
  }
  Left = AfterRead();
  return static_cast<int>(transferred);
}

int TCustomComPort::AfterRead() {
  if (!Handle())
    return -1;
  const int left = InputCount();
  if (left == 0)
    SendSignalToLink(leRx, false);
  return left;
}

int TCustomComPort::ReadStr(std::string &Str, int Count) {
  Str.resize(static_cast<size_t>(std::max(Count, 0)));
  int n = Count > 0 ? Read(Str.data(), Count) : 0;
  Str.resize(static_cast<size_t>(std::max(n, 0)));
  return n;
}

int TCustomComPort::WaitForAsync(PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  uint32_t transferred = 0;
  if (auto dev = AsyncPtr->Device) {
    uint32_t rc = dev->GetOverlappedResult(AsyncPtr->Overlapped, transferred, true);
    if (rc != COMM_OK)
      throw EComPortExt(port_, AsyncPtr->Kind == okWrite ? 2 : 3, static_cast<int32_t>(rc));
  }
  if (AsyncPtr->Kind == okRead) {
    AfterRead();
  } else if (AsyncPtr->Data) {
    TxNotifyLink(AsyncPtr->Data, AsyncPtr->Size);
  }
  return static_cast<int>(transferred);
}

bool TCustomComPort::IsAsyncCompleted(PSerPortAsync AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  auto dev = AsyncPtr->Device;
  if (!dev)
    return true;  // nothing was started
  uint32_t transferred = 0;
  uint32_t rc = dev->GetOverlappedResult(AsyncPtr->Overlapped, transferred, false);
  if (rc == COMM_OK)
    return true;
  if (rc == COMM_ERR_IO_PENDING || rc == COMM_ERR_IO_INCOMPLETE)
    return false;
  throw EComPortExt(port_, 6, static_cast<int32_t>(rc));
}

void TCustomComPort::AbortAllAsync() {
  if (!overlapped_)
    return;
  auto dev = Handle();
  uint32_t rc = dev ? dev->PurgeComm(COMM_PURGE_TXABORT | COMM_PURGE_RXABORT) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 5, static_cast<int32_t>(rc));
}

bool TCustomComPort::_SyncRead(void *Buffer, int &Count) {
  auto dev = connected_.load() ? Handle() : nullptr;
  if (!dev) {
    Count = 0;
    return false;
  }
  uint32_t done = 0;
  uint32_t rc = dev->ReadFile(Buffer, static_cast<uint32_t>(std::max(Count, 0)), done, nullptr);
  Count = static_cast<int>(done);
  return rc == COMM_OK;
}

bool TCustomComPort::_SyncWrite(const void *Buffer, int Count) {
  auto dev = connected_.load() ? Handle() : nullptr;
  if (!dev)
    return false;
  uint32_t done = 0;
  return dev->WriteFile(Buffer, static_cast<uint32_t>(std::max(Count, 0)), done, nullptr) == COMM_OK;
}

// ---- queues, signals, status ----

void TCustomComPort::ClearCommErrorOrRaise(uint32_t &Errors, CommStat &Stat) {
  auto dev = Handle();
  uint32_t rc = dev ? dev->ClearCommError(Errors, &Stat) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 10, static_cast<int32_t>(rc));
}

int TCustomComPort::InputCount() {
  // Asked once per received block: the output queue, which costs the device a call of its
  // own, is not wanted here.
  auto dev = Handle();
  uint32_t errors = 0, waiting = 0;
  uint32_t rc = dev ? dev->ClearCommErrorInput(errors, waiting) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 10, static_cast<int32_t>(rc));
  return static_cast<int>(waiting);
}

int TCustomComPort::OutputCount() {
  uint32_t errors;
  CommStat stat;
  ClearCommErrorOrRaise(errors, stat);
  return static_cast<int>(stat.cbOutQue);
}

uint8_t TCustomComPort::StateFlags() {
  uint32_t errors;
  CommStat stat;
  ClearCommErrorOrRaise(errors, stat);
  return static_cast<uint8_t>(stat.Flags & 0x7F);
}

TComErrors TCustomComPort::LastErrors() {
  uint32_t e;
  CommStat stat;
  ClearCommErrorOrRaise(e, stat);
  TComErrors errors;
  if (e & COMM_CE_FRAME)
    errors.include(ceFrame);
  if ((e & COMM_CE_RXPARITY) && parity_.Check())
    errors.include(ceRxParity);
  if (e & COMM_CE_OVERRUN)
    errors.include(ceOverrun);
  if (e & COMM_CE_RXOVER)
    errors.include(ceRxOver);
  if (e & COMM_CE_TXFULL)
    errors.include(ceTxFull);
  if (e & COMM_CE_BREAK)
    errors.include(ceBreak);
  if (e & COMM_CE_IOE)
    errors.include(ceIO);
  if (e & COMM_CE_MODE)
    errors.include(ceMode);
  return errors;
}

TComSignals TCustomComPort::Signals() {
  TComSignals signals;
  if (!overlapped_)
    return signals;
  auto dev = Handle();
  uint32_t status = 0;
  uint32_t rc = dev ? dev->GetCommModemStatus(status) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 11, static_cast<int32_t>(rc));
  if (status & COMM_MS_CTS_ON)
    signals.include(csCTS);
  if (status & COMM_MS_DSR_ON)
    signals.include(csDSR);
  if (status & COMM_MS_RING_ON)
    signals.include(csRing);
  if (status & COMM_MS_RLSD_ON)
    signals.include(csRLSD);
  return signals;
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
  uint32_t flags = (Input ? COMM_PURGE_RXCLEAR : 0) | (Output ? COMM_PURGE_TXCLEAR : 0);
  auto dev = Handle();
  uint32_t rc = dev ? dev->PurgeComm(flags) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 5, static_cast<int32_t>(rc));
}

void TCustomComPort::Escape(uint32_t Function) {
  auto dev = Handle();
  uint32_t rc = dev ? dev->EscapeCommFunction(Function) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 12, static_cast<int32_t>(rc));
}

void TCustomComPort::SetBreak(bool OnOff) { Escape(OnOff ? COMM_SETBREAK : COMM_CLRBREAK); }
void TCustomComPort::SetDTR(bool OnOff) { Escape(OnOff ? COMM_SETDTR : COMM_CLRDTR); }
void TCustomComPort::SetRTS(bool OnOff) { Escape(OnOff ? COMM_SETRTS : COMM_CLRRTS); }
void TCustomComPort::SetXonXoff(bool OnOff) { Escape(OnOff ? COMM_SETXON : COMM_SETXOFF); }

void TCustomComPort::TransmitChar(char Ch) {
  auto dev = Handle();
  uint32_t rc = dev ? dev->TransmitCommChar(Ch) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 13, static_cast<int32_t>(rc));
}

void TCustomComPort::WaitForEvent(TComEvents &Events, const CommEvent *StopEvent, int TimeoutMs) {
  if (event_thread_)
    throw EComPort(port_, 20);
  auto dev = Handle();
  if (!dev)
    throw EComPortExt(port_, 21, static_cast<int32_t>(COMM_ERR_INVALID_HANDLE));
  uint32_t mask = 0;
  uint32_t rc = dev->SetCommMask(EventsToMask(Events));
  if (rc == COMM_OK) {
    rc = dev->WaitCommEvent(mask, StopEvent, TimeoutMs);
    dev->SetCommMask(0);
  }
  if (rc != COMM_OK)
    throw EComPortExt(port_, 21, static_cast<int32_t>(rc));
  Events = MaskToEvents(mask);
}

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
