// TCustomComPort: settings application, open and close. Reads and writes, queue and line
// calls are in serport_io.cpp; links and the per-event Call… methods that the event thread
// drives are in serport_events.cpp.
#include "comport/serport.h"

#include "comport/serport_debug.h"
#include "lib/log.h"

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
