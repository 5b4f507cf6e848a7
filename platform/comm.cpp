// The serial device's half that is the same on every OS: the calls counted in and out, so
// a close never pulls the OS object from under one of them, and the checks that come before
// the OS is asked.
#include "platform/comm_device.h"

CommDeviceBase::Use::Use(CommDeviceBase *d) : dev(d) {
  std::lock_guard lock(dev->m_);
  ok = !dev->closed_;
  if (ok)
    ++dev->inflight_;
}

CommDeviceBase::Use::~Use() {
  if (!ok)
    return;
  std::lock_guard lock(dev->m_);
  if (--dev->inflight_ == 0)
    dev->cv_.notify_all();
}

uint32_t CommDeviceBase::SetupComm(uint32_t InQueue, uint32_t OutQueue) {
  Use use(this);
  if (!use.ok)
    return COMM_ERR_INVALID_HANDLE;
  if (InQueue == 0)
    return COMM_ERR_INVALID_PARAMETER;
  return os_setup_comm(InQueue, OutQueue);
}

uint32_t CommDeviceBase::SetCommState(const CommDcb &Dcb) {
  Use use(this);
  if (!use.ok)
    return COMM_ERR_INVALID_HANDLE;
  if (!comm_dcb_valid(Dcb))
    return COMM_ERR_INVALID_PARAMETER;
  if (uint32_t rc = os_set_comm_state(Dcb); rc != COMM_OK)
    return rc;
  std::lock_guard lock(m_);
  dcb_ = Dcb;
  return COMM_OK;
}

uint32_t CommDeviceBase::GetCommState(CommDcb &Dcb) {
  Use use(this);
  if (!use.ok)
    return COMM_ERR_INVALID_HANDLE;
  std::lock_guard lock(m_);
  Dcb = dcb_;
  return COMM_OK;
}

uint32_t CommDeviceBase::SetCommTimeouts(const CommTimeouts &Timeouts) {
  Use use(this);
  return use.ok ? os_set_comm_timeouts(Timeouts) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::SetCommMask(uint32_t Mask) {
  Use use(this);
  return use.ok ? os_set_comm_mask(Mask) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::WaitCommEvent(uint32_t &Mask, const CommEvent *Stop, int TimeoutMs) {
  Mask = 0;
  Use use(this);
  return use.ok ? os_wait_comm_event(Mask, Stop, TimeoutMs) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::ReadFile(void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) {
  Done = 0;
  Use use(this);
  return use.ok ? os_read_file(Buffer, Count, Done, Async) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::WriteFile(const void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) {
  Done = 0;
  Use use(this);
  return use.ok ? os_write_file(Buffer, Count, Done, Async) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::GetOverlappedResult(CommAsync &Async, uint32_t &Transferred, bool Wait) {
  Transferred = Async.done;
  Use use(this);
  if (!Async.pending)
    return Async.error;
  if (!use.ok) {
    // The close took every operation back and waited for it.
    Async.pending = false;
    Async.error = COMM_ERR_OPERATION_ABORTED;
    return Async.error;
  }
  const uint32_t rc = os_get_overlapped_result(Async, Wait);
  Transferred = Async.done;
  return rc;
}

uint32_t CommDeviceBase::PurgeComm(uint32_t Flags) {
  Use use(this);
  return use.ok ? os_purge_comm(Flags) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::ClearCommError(uint32_t &Errors, CommStat *Stat) {
  Errors = 0;
  Use use(this);
  return use.ok ? os_clear_comm_error(Errors, Stat) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::ClearCommErrorInput(uint32_t &Errors, uint32_t &InQueue) {
  Errors = 0;
  InQueue = 0;
  Use use(this);
  return use.ok ? os_clear_comm_error_input(Errors, InQueue) : COMM_ERR_INVALID_HANDLE;
}

uint32_t CommDeviceBase::os_clear_comm_error_input(uint32_t &Errors, uint32_t &InQueue) {
  CommStat stat;
  const uint32_t rc = os_clear_comm_error(Errors, &stat);
  InQueue = stat.cbInQue;
  return rc;
}

uint32_t CommDeviceBase::GetCommModemStatus(uint32_t &Status) {
  Status = 0;
  Use use(this);
  if (!use.ok)
    return COMM_ERR_INVALID_HANDLE;
  return has_lines_ ? os_get_comm_modem_status(Status) : COMM_OK;
}

uint32_t CommDeviceBase::EscapeCommFunction(uint32_t Function) {
  Use use(this);
  if (!use.ok)
    return COMM_ERR_INVALID_HANDLE;
  if (Function < COMM_SETXOFF || Function > COMM_CLRBREAK || Function == 7)
    return COMM_ERR_INVALID_PARAMETER;
  if (!has_lines_ && Function >= COMM_SETRTS && Function <= COMM_CLRDTR)
    return COMM_OK;  // no lines to set; nothing is wrong
  return os_escape_comm_function(Function);
}

uint32_t CommDeviceBase::TransmitCommChar(char Ch) {
  Use use(this);
  return use.ok ? os_transmit_comm_char(Ch) : COMM_ERR_INVALID_HANDLE;
}

void CommDeviceBase::CloseHandle() {
  std::unique_lock lock(m_);
  if (closed_)
    return;
  closed_ = true;
  os_close_begin_locked();
  cv_.wait(lock, [&] { return inflight_ == 0; });
  os_close_release_locked();
}

bool comm_dcb_valid(const CommDcb &dcb) {
  return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= 4 && dcb.StopBits <= 2;
}

uint32_t comm_probe(const std::string &port) {
  std::shared_ptr<CommDevice> device;
  uint32_t rc = comm_os_backend().CreateFile(port, true, device);
  if (device)
    device->CloseHandle();
  return rc;
}

bool CommEvent::is_set() const { return wait(0); }

bool CommEvent::wait(int timeout_ms) const {
  const CommEvent *self = this;
  return comm_wait_any(&self, 1, timeout_ms) == 0;
}

intptr_t CommEvent::native_handle() const { return handle_; }
