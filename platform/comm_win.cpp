// The serial device layer over the Win32 communications calls themselves: the layer's
// operations are shaped after them, so most map one to one. What is ours is the bookkeeping
// the interface promises and the bare calls do not keep: an overlapped record per operation
// that lives as long as the kernel may write to it (through a purge or a close), a stop event
// and a time-out for WaitCommEvent, and "no lines" for a device that has none (a pty behind
// Wine's COM mapping) instead of a failed open.
#include "platform/comm.h"

#include "platform/comm_device.h"

#include <windows.h>
// The layer's CreateFile is a method; the system's macro of that name would rename it.
#undef CreateFile

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

HANDLE event_of(const CommEvent &e) { return reinterpret_cast<HANDLE>(e.native_handle()); }

// The system's numbers are the layer's, but for the few ways Windows (and Wine) say that a
// device is held or gone.
uint32_t comm_error_from_win(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return COMM_OK;
    case ERROR_SHARING_VIOLATION:
      return COMM_ERR_ACCESS_DENIED;
    case ERROR_BAD_COMMAND:  // an unplugged USB adapter
    case ERROR_IO_DEVICE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BROKEN_PIPE:
    case ERROR_HANDLE_EOF:
    case ERROR_NOT_READY:  // Wine's word for the EIO of a pty whose far end closed
      return COMM_ERR_DEVICE_NOT_CONNECTED;
    default:
      return static_cast<uint32_t>(error);
  }
}

uint32_t last_comm_error() { return comm_error_from_win(::GetLastError()); }

DCB to_win(const CommDcb &d) {
  DCB w{};
  w.DCBlength = sizeof w;
  w.BaudRate = d.BaudRate;
  w.fBinary = (d.Flags & DCB_BINARY) != 0;
  w.fParity = (d.Flags & DCB_PARITY) != 0;
  w.fOutxCtsFlow = (d.Flags & DCB_OUTX_CTS_FLOW) != 0;
  w.fOutxDsrFlow = (d.Flags & DCB_OUTX_DSR_FLOW) != 0;
  w.fDtrControl = (d.Flags & DCB_DTR_CONTROL_MASK) >> DCB_DTR_CONTROL_SHIFT;
  w.fDsrSensitivity = (d.Flags & DCB_DSR_SENSITIVITY) != 0;
  w.fTXContinueOnXoff = (d.Flags & DCB_TX_CONTINUE_ON_XOFF) != 0;
  w.fOutX = (d.Flags & DCB_OUTX) != 0;
  w.fInX = (d.Flags & DCB_INX) != 0;
  w.fErrorChar = (d.Flags & DCB_ERROR_CHAR) != 0;
  w.fNull = (d.Flags & DCB_NULL) != 0;
  w.fRtsControl = (d.Flags & DCB_RTS_CONTROL_MASK) >> DCB_RTS_CONTROL_SHIFT;
  w.fAbortOnError = (d.Flags & DCB_ABORT_ON_ERROR) != 0;
  w.XonLim = d.XonLim;
  w.XoffLim = d.XoffLim;
  w.ByteSize = d.ByteSize;
  w.Parity = d.Parity;
  w.StopBits = d.StopBits;
  w.XonChar = d.XonChar;
  w.XoffChar = d.XoffChar;
  w.ErrorChar = d.ErrorChar;
  w.EofChar = d.EofChar;
  w.EvtChar = d.EvtChar;
  return w;
}

constexpr uint32_t kLineEvents = COMM_EV_CTS | COMM_EV_DSR | COMM_EV_RLSD | COMM_EV_RING;

bool has_modem_lines(HANDLE h) {
  DWORD status = 0;
  return ::GetCommModemStatus(h, &status) != 0;
}

// One overlapped operation, kept by the device while the kernel may still write to it.
struct Pending {
  OVERLAPPED ov{};
  bool is_write = false;
};

class WinCommDevice final : public CommDeviceBase {
 public:
  WinCommDevice(HANDLE h, HANDLE claim, bool overlapped)
      : CommDeviceBase(has_modem_lines(h)), h_(h), claim_(claim), overlapped_(overlapped) {
    wait_event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    close_event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~WinCommDevice() override {
    CloseHandle();
    ::CloseHandle(wait_event_);
    ::CloseHandle(close_event_);
  }

  uint32_t os_setup_comm(uint32_t InQueue, uint32_t OutQueue) override {
    return ::SetupComm(h_, InQueue, OutQueue) ? COMM_OK : last_comm_error();
  }

  uint32_t os_set_comm_state(const CommDcb &Dcb) override {
    DCB w = to_win(Dcb);
    if (!has_lines_) {
      // A line without modem lines (a pty) cannot have them driven: the rest still applies.
      w.fDtrControl = DTR_CONTROL_DISABLE;
      w.fRtsControl = RTS_CONTROL_DISABLE;
      w.fOutxCtsFlow = w.fOutxDsrFlow = w.fDsrSensitivity = FALSE;
    }
    return ::SetCommState(h_, &w) ? COMM_OK : last_comm_error();
  }

  uint32_t os_set_comm_timeouts(const CommTimeouts &T) override {
    COMMTIMEOUTS w{T.ReadIntervalTimeout, T.ReadTotalTimeoutMultiplier, T.ReadTotalTimeoutConstant,
                   T.WriteTotalTimeoutMultiplier, T.WriteTotalTimeoutConstant};
    return ::SetCommTimeouts(h_, &w) ? COMM_OK : last_comm_error();
  }

  uint32_t os_set_comm_mask(uint32_t Mask) override {
    // A line without modem lines never raises their events, and Wine refuses to wait on a
    // mask that names them there.
    const uint32_t system_mask = has_lines_ ? Mask : Mask & ~kLineEvents;
    if (!::SetCommMask(h_, system_mask))
      return last_comm_error();
    mask_.store(Mask);
    return COMM_OK;
  }

  uint32_t os_wait_comm_event(uint32_t &Mask, const CommEvent *Stop, int TimeoutMs) override {
    if (!overlapped_)
      return COMM_ERR_INVALID_FUNCTION;  // a stop event needs an overlapped wait
    const ULONGLONG deadline = TimeoutMs < 0 ? 0 : ::GetTickCount64() + static_cast<ULONGLONG>(TimeoutMs);
    auto left_ms = [&]() -> DWORD {
      if (TimeoutMs < 0)
        return INFINITE;
      ULONGLONG now = ::GetTickCount64();
      return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    };
    for (;;) {
      if (Stop && Stop->is_set())
        return COMM_OK;
      if (polling_.load()) {
        uint32_t rc = poll_input(Mask);
        if (rc != COMM_OK || Mask)
          return rc;
        DWORD wait_ms = std::min<DWORD>(left_ms(), kPollMs);
        switch (wait_stop_or_close(Stop, wait_ms)) {
          case 0:
            return COMM_OK;
          case 1:
            return COMM_ERR_OPERATION_ABORTED;
          default:
            if (left_ms() == 0)
              return COMM_OK;
            continue;
        }
      }
      OVERLAPPED ov{};
      ov.hEvent = wait_event_;
      DWORD events = 0;
      DWORD transferred = 0;
      if (!::WaitCommEvent(h_, &events, &ov)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_NOT_SUPPORTED && !has_lines_) {
          polling_.store(true);
          continue;
        }
        if (error != ERROR_IO_PENDING)
          return comm_error_from_win(error);
        HANDLE handles[3];
        DWORD count = 0;
        if (Stop)
          handles[count++] = event_of(*Stop);  // the stop wins over anything else that is ready
        handles[count++] = close_event_;
        handles[count++] = wait_event_;
        DWORD which = ::WaitForMultipleObjects(count, handles, FALSE, left_ms());
        if (which != WAIT_OBJECT_0 + count - 1) {
          // Stopped, closed or out of time: the wait is taken back before its record goes.
          ::CancelIoEx(h_, &ov);
          BOOL done = ::GetOverlappedResult(h_, &ov, &transferred, TRUE);
          if (Stop && which == WAIT_OBJECT_0)
            return COMM_OK;
          if (which == WAIT_OBJECT_0 + (Stop ? 1 : 0))
            return COMM_ERR_OPERATION_ABORTED;
          if (done)
            Mask = events;
          return COMM_OK;
        }
        if (!::GetOverlappedResult(h_, &ov, &transferred, FALSE)) {
          // Wine ends the wait of a line without modem lines (a pty) at once, as aborted,
          // whenever nothing was pending when it began: from then on the device is watched
          // by looking at its input queue instead.
          if (::GetLastError() == ERROR_OPERATION_ABORTED && !has_lines_) {
            polling_.store(true);
            continue;
          }
          return last_comm_error();
        }
      }
      // A mask changed during the wait ends it with no events: wait again under the new one.
      if (events) {
        Mask = events;
        return COMM_OK;
      }
      if (left_ms() == 0)
        return COMM_OK;
    }
  }

  uint32_t os_read_file(void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) override {
    return start(false, Buffer, Count, Done, Async);
  }

  uint32_t os_write_file(const void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) override {
    return start(true, const_cast<void *>(Buffer), Count, Done, Async);
  }

  uint32_t os_get_overlapped_result(CommAsync &Async, bool Wait) override {
    OVERLAPPED *ov;
    {
      std::lock_guard lock(m_);
      auto it = ops_.find(&Async);
      if (it == ops_.end())
        return COMM_ERR_INVALID_PARAMETER;
      ov = &it->second->ov;
    }
    DWORD n = 0;
    DWORD error = ::GetOverlappedResult(h_, ov, &n, Wait ? TRUE : FALSE) ? 0 : ::GetLastError();
    if (error == ERROR_IO_INCOMPLETE)
      return COMM_ERR_IO_INCOMPLETE;
    finish(Async, n, error);
    return Async.error;
  }

  uint32_t os_purge_comm(uint32_t Flags) override {
    if (!::PurgeComm(h_, Flags))
      return last_comm_error();
    // The aborted operations' records and buffers are the caller's again once this returns,
    // so the kernel must be done with them first.
    if (Flags & (COMM_PURGE_TXABORT | COMM_PURGE_RXABORT)) {
      std::lock_guard lock(m_);
      for (auto &[async, op] : ops_) {
        bool aborted = op->is_write ? (Flags & COMM_PURGE_TXABORT) : (Flags & COMM_PURGE_RXABORT);
        if (aborted && async->pending)
          ::WaitForSingleObject(op->ov.hEvent, INFINITE);
      }
    }
    return COMM_OK;
  }

  uint32_t os_clear_comm_error(uint32_t &Errors, CommStat *Stat) override {
    DWORD errors = 0;
    COMSTAT s{};
    if (!::ClearCommError(h_, &errors, &s))
      return last_comm_error();
    Errors = errors | held_errors_.exchange(0);
    if (Stat) {
      Stat->Flags = (s.fCtsHold ? 1u : 0u) | (s.fDsrHold ? 2u : 0u) | (s.fRlsdHold ? 4u : 0u) |
                    (s.fXoffHold ? 8u : 0u) | (s.fXoffSent ? 16u : 0u) | (s.fEof ? 32u : 0u) |
                    (s.fTxim ? 64u : 0u);
      Stat->cbInQue = s.cbInQue;
      Stat->cbOutQue = s.cbOutQue;
    }
    return COMM_OK;
  }

  uint32_t os_get_comm_modem_status(uint32_t &Status) override {
    DWORD s = 0;
    if (!::GetCommModemStatus(h_, &s))
      return last_comm_error();
    Status = s;
    return COMM_OK;
  }

  uint32_t os_escape_comm_function(uint32_t Function) override {
    return ::EscapeCommFunction(h_, Function) ? COMM_OK : last_comm_error();
  }

  uint32_t os_transmit_comm_char(char Ch) override {
    return ::TransmitCommChar(h_, Ch) ? COMM_OK : last_comm_error();
  }

  void os_close_begin_locked() override {
    ::SetEvent(close_event_);
    ::CancelIoEx(h_, nullptr);
  }

  void os_close_release_locked() override {
    // Operations nobody has collected still name the caller's records: the kernel must be
    // done with them before the handle goes.
    for (auto &[async, op] : ops_) {
      DWORD n = 0;
      ::GetOverlappedResult(h_, &op->ov, &n, TRUE);
    }
    ops_.clear();
    ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    ::CloseHandle(claim_);  // the port is free for the next open only now
  }

 private:
  // Where the system's wait does not work (see WaitCommEvent): bytes in the input queue
  // are reported as EV_RXCHAR for as long as they are there, so none is left unread.
  // Line errors stay with ClearCommError; a failed look means the device went.
  uint32_t poll_input(uint32_t &Mask) {
    DWORD errors = 0;
    COMSTAT s{};
    if (!::ClearCommError(h_, &errors, &s))
      return last_comm_error();
    held_errors_.fetch_or(errors);
    if ((mask_.load() & COMM_EV_RXCHAR) && s.cbInQue > 0)
      Mask = COMM_EV_RXCHAR;
    return COMM_OK;
  }

  // 0 when the stop was set, 1 when the device is closing, 2 after wait_ms.
  int wait_stop_or_close(const CommEvent *Stop, DWORD wait_ms) {
    HANDLE handles[2];
    DWORD count = 0;
    if (Stop)
      handles[count++] = event_of(*Stop);
    handles[count++] = close_event_;
    DWORD which = ::WaitForMultipleObjects(count, handles, FALSE, wait_ms);
    if (which == WAIT_TIMEOUT || which >= WAIT_OBJECT_0 + count)
      return 2;
    return Stop && which == WAIT_OBJECT_0 ? 0 : 1;
  }

  uint32_t start(bool write, void *buffer, uint32_t count, uint32_t &Done, CommAsync *Async) {
    if (!overlapped_) {
      DWORD n = 0;
      BOOL ok =
          write ? ::WriteFile(h_, buffer, count, &n, nullptr) : ::ReadFile(h_, buffer, count, &n, nullptr);
      Done = n;
      return ok ? COMM_OK : last_comm_error();
    }
    // A call without a record still runs overlapped on this handle: it waits here.
    CommAsync local;
    CommAsync &op = Async ? *Async : local;
    OVERLAPPED *ov;
    {
      std::lock_guard lock(m_);
      auto &slot = ops_[&op];
      if (!slot)
        slot = std::make_unique<Pending>();
      slot->ov = OVERLAPPED{};
      slot->ov.hEvent = event_of(op.event);
      slot->is_write = write;
      ov = &slot->ov;
      op.pending = true;
      op.is_write = write;
      op.buffer = static_cast<char *>(buffer);
      op.count = count;
      op.done = 0;
      op.error = COMM_OK;
    }
    DWORD n = 0;
    BOOL ok =
        write ? ::WriteFile(h_, buffer, count, nullptr, ov) : ::ReadFile(h_, buffer, count, nullptr, ov);
    if (!ok && ::GetLastError() != ERROR_IO_PENDING) {
      DWORD error = ::GetLastError();
      std::lock_guard lock(m_);
      op.pending = false;
      op.error = comm_error_from_win(error);
      ops_.erase(&op);
      return op.error;
    }
    {
      // A close that began while this was being issued has already cancelled what was
      // there: this one is cancelled here, or the close would wait for it for ever.
      std::lock_guard lock(m_);
      if (closed_ && !ok)
        ::CancelIoEx(h_, ov);
    }
    if (ok || !Async) {
      DWORD error = ::GetOverlappedResult(h_, ov, &n, TRUE) ? 0 : ::GetLastError();
      finish(op, n, error);
      Done = op.done;
      return op.error;
    }
    return COMM_ERR_IO_PENDING;
  }

  // Takes a completed operation's outcome into the caller's record and forgets it.
  void finish(CommAsync &op, DWORD n, DWORD error) {
    std::lock_guard lock(m_);
    op.pending = false;
    op.done = n;
    op.error = comm_error_from_win(error);
    // A read that the far end's hang-up ended still delivers what came before it.
    if (op.error == COMM_ERR_DEVICE_NOT_CONNECTED && n > 0)
      op.error = COMM_OK;
    ops_.erase(&op);
  }

  static constexpr DWORD kPollMs = 10;
  HANDLE h_;
  HANDLE claim_;
  std::atomic<bool> polling_{false};
  std::atomic<uint32_t> mask_{0};
  std::atomic<uint32_t> held_errors_{0};
  const bool overlapped_;
  HANDLE wait_event_;
  HANDLE close_event_;
  std::map<CommAsync *, std::unique_ptr<Pending>> ops_;
};

// A named mutex per port held for as long as the port is open. Windows' serial drivers
// refuse a second open themselves; Wine's COM mapping (a tty underneath) does not, so
// without this the same program could open one port twice there and both would take
// each other's bytes.
HANDLE claim_port(const std::string &path) {
  std::string name = "Local\\ZeVavi.port.";
  for (char c : path)
    name += c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  HANDLE claim = ::CreateMutexA(nullptr, FALSE, name.c_str());
  if (claim && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(claim);
    return nullptr;
  }
  return claim;
}

class WinCommBackend final : public CommBackend {
 public:
  uint32_t CreateFile(const std::string &Port, bool Overlapped,
                      std::shared_ptr<CommDevice> &Device) override {
    Device.reset();
    const std::string path = comm_device_path(Port);
    HANDLE claim = claim_port(path);
    if (!claim)
      return COMM_ERR_ACCESS_DENIED;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             Overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      uint32_t error = last_comm_error();
      ::CloseHandle(claim);
      return error;
    }
    if (::GetFileType(h) != FILE_TYPE_CHAR) {
      ::CloseHandle(h);
      ::CloseHandle(claim);
      return COMM_ERR_INVALID_FUNCTION;
    }
    Device = std::make_shared<WinCommDevice>(h, claim, Overlapped);
    return COMM_OK;
  }
};

}  // namespace

CommEvent::CommEvent(bool signalled) {
  HANDLE h = ::CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
  if (!h)
    std::abort();  // without an event no wait could ever end
  handle_ = reinterpret_cast<intptr_t>(h);
}

CommEvent::~CommEvent() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

void CommEvent::set() { ::SetEvent(reinterpret_cast<HANDLE>(handle_)); }

void CommEvent::reset() { ::ResetEvent(reinterpret_cast<HANDLE>(handle_)); }

int comm_wait_any(const CommEvent *const *events, int count, int timeout_ms) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  count = std::min(count, static_cast<int>(MAXIMUM_WAIT_OBJECTS));
  for (int i = 0; i < count; ++i)
    handles[i] = event_of(*events[i]);
  DWORD rc = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE,
                                      timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
  if (rc >= WAIT_OBJECT_0 && rc < WAIT_OBJECT_0 + static_cast<DWORD>(count))
    return static_cast<int>(rc - WAIT_OBJECT_0);
  return -1;
}

CommBackend &comm_os_backend() {
  static WinCommBackend backend;
  return backend;
}

std::string comm_device_path(const std::string &port) {
  if (port.rfind("\\\\", 0) == 0)
    return port;
  return "\\\\.\\" + port;  // the device namespace: also COM10 and above
}

uint32_t comm_enum_ports(std::vector<std::string> &names) {
  names.clear();
  HKEY key;
  LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
  if (rc == ERROR_FILE_NOT_FOUND)
    return COMM_OK;  // a machine without serial ports has no such key
  if (rc != ERROR_SUCCESS)
    return comm_error_from_win(static_cast<DWORD>(rc));
  for (DWORD i = 0;; ++i) {
    char value_name[256];
    DWORD name_size = sizeof value_name;
    char data[256];
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    rc = ::RegEnumValueA(key, i, value_name, &name_size, nullptr, &type, reinterpret_cast<BYTE *>(data),
                         &data_size);
    if (rc == ERROR_NO_MORE_ITEMS)
      break;
    if (rc == ERROR_MORE_DATA)
      continue;  // no port name is that long
    if (rc != ERROR_SUCCESS) {
      ::RegCloseKey(key);
      return comm_error_from_win(static_cast<DWORD>(rc));
    }
    if (type != REG_SZ)
      continue;
    data[data_size] = 0;
    if (data[0])
      names.emplace_back(data);
  }
  ::RegCloseKey(key);
  names = comm_port_list(names);
  return COMM_OK;
}

uint32_t comm_enum_ports_in(const std::string &, const std::string &, std::vector<std::string> &names) {
  names.clear();
  return COMM_ERR_INVALID_FUNCTION;  // there is no tty tree to read on Windows
}
