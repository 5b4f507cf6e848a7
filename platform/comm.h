// The serial device layer: one open serial device, with operations shaped like the Win32
// communications calls (CreateFile, SetupComm, SetCommState, SetCommTimeouts, SetCommMask,
// WaitCommEvent, overlapped ReadFile/WriteFile with GetOverlappedResult, PurgeComm,
// ClearCommError, GetCommModemStatus, EscapeCommFunction, TransmitCommChar).
//
// Every failure is a Windows error number (COMM_ERR_…), because the port component and
// the messages the user sees speak in those numbers: 2 for a device that does not exist,
// 5 for one that another program holds. Calls return COMM_OK (0) or such a number.
//
// Backends: comm_posix.cpp (termios) and comm_win.cpp (the Win32 calls themselves) over the
// half they share (comm_device.h, comm.cpp), and comm_fake.{h,cpp} (scripted, for tests). The
// port component reaches a device only through a CommBackend, so a test hands it the fake.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Windows error numbers the layer reports.
inline constexpr uint32_t COMM_OK = 0;
inline constexpr uint32_t COMM_ERR_INVALID_FUNCTION = 1;
inline constexpr uint32_t COMM_ERR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t COMM_ERR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t COMM_ERR_ACCESS_DENIED = 5;
inline constexpr uint32_t COMM_ERR_INVALID_HANDLE = 6;
inline constexpr uint32_t COMM_ERR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t COMM_ERR_GEN_FAILURE = 31;
inline constexpr uint32_t COMM_ERR_INVALID_PARAMETER = 87;
inline constexpr uint32_t COMM_ERR_SEM_TIMEOUT = 121;
inline constexpr uint32_t COMM_ERR_NO_MORE_ITEMS = 259;
inline constexpr uint32_t COMM_ERR_OPERATION_ABORTED = 995;
inline constexpr uint32_t COMM_ERR_IO_INCOMPLETE = 996;
inline constexpr uint32_t COMM_ERR_IO_PENDING = 997;
inline constexpr uint32_t COMM_ERR_DEVICE_NOT_CONNECTED = 1167;

inline constexpr uint32_t COMM_MAXDWORD = 0xFFFFFFFFu;

// A few words for one of the numbers above, for log lines ("the device is not connected").
std::string comm_error_text(uint32_t error);

// Device control block: the Win32 DCB's fields, the bit fields gathered in Flags.
struct CommDcb {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;
};

// Bits of CommDcb::Flags, at the positions of the DCB's bit fields.
inline constexpr uint32_t DCB_BINARY = 1u << 0;
inline constexpr uint32_t DCB_PARITY = 1u << 1;
inline constexpr uint32_t DCB_OUTX_CTS_FLOW = 1u << 2;
inline constexpr uint32_t DCB_OUTX_DSR_FLOW = 1u << 3;
inline constexpr int DCB_DTR_CONTROL_SHIFT = 4;  // two bits: 0 disable, 1 enable, 2 handshake
inline constexpr uint32_t DCB_DTR_CONTROL_MASK = 3u << DCB_DTR_CONTROL_SHIFT;
inline constexpr uint32_t DCB_DSR_SENSITIVITY = 1u << 6;
inline constexpr uint32_t DCB_TX_CONTINUE_ON_XOFF = 1u << 7;
inline constexpr uint32_t DCB_OUTX = 1u << 8;
inline constexpr uint32_t DCB_INX = 1u << 9;
inline constexpr uint32_t DCB_ERROR_CHAR = 1u << 10;
inline constexpr uint32_t DCB_NULL = 1u << 11;
inline constexpr int DCB_RTS_CONTROL_SHIFT = 12;  // two bits: 0 disable, 1 enable, 2 handshake, 3 toggle
inline constexpr uint32_t DCB_RTS_CONTROL_MASK = 3u << DCB_RTS_CONTROL_SHIFT;
inline constexpr uint32_t DCB_ABORT_ON_ERROR = 1u << 14;

struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// Event mask bits (SetCommMask, WaitCommEvent).
inline constexpr uint32_t COMM_EV_RXCHAR = 0x0001;
inline constexpr uint32_t COMM_EV_RXFLAG = 0x0002;
inline constexpr uint32_t COMM_EV_TXEMPTY = 0x0004;
inline constexpr uint32_t COMM_EV_CTS = 0x0008;
inline constexpr uint32_t COMM_EV_DSR = 0x0010;
inline constexpr uint32_t COMM_EV_RLSD = 0x0020;
inline constexpr uint32_t COMM_EV_BREAK = 0x0040;
inline constexpr uint32_t COMM_EV_ERR = 0x0080;
inline constexpr uint32_t COMM_EV_RING = 0x0100;
inline constexpr uint32_t COMM_EV_RX80FULL = 0x0400;

// PurgeComm flags.
inline constexpr uint32_t COMM_PURGE_TXABORT = 0x0001;
inline constexpr uint32_t COMM_PURGE_RXABORT = 0x0002;
inline constexpr uint32_t COMM_PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t COMM_PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction codes.
inline constexpr uint32_t COMM_SETXOFF = 1;
inline constexpr uint32_t COMM_SETXON = 2;
inline constexpr uint32_t COMM_SETRTS = 3;
inline constexpr uint32_t COMM_CLRRTS = 4;
inline constexpr uint32_t COMM_SETDTR = 5;
inline constexpr uint32_t COMM_CLRDTR = 6;
inline constexpr uint32_t COMM_SETBREAK = 8;
inline constexpr uint32_t COMM_CLRBREAK = 9;

// GetCommModemStatus bits.
inline constexpr uint32_t COMM_MS_CTS_ON = 0x0010;
inline constexpr uint32_t COMM_MS_DSR_ON = 0x0020;
inline constexpr uint32_t COMM_MS_RING_ON = 0x0040;
inline constexpr uint32_t COMM_MS_RLSD_ON = 0x0080;

// ClearCommError error bits.
inline constexpr uint32_t COMM_CE_RXOVER = 0x0001;
inline constexpr uint32_t COMM_CE_OVERRUN = 0x0002;
inline constexpr uint32_t COMM_CE_RXPARITY = 0x0004;
inline constexpr uint32_t COMM_CE_FRAME = 0x0008;
inline constexpr uint32_t COMM_CE_BREAK = 0x0010;
inline constexpr uint32_t COMM_CE_TXFULL = 0x0100;
inline constexpr uint32_t COMM_CE_IOE = 0x0400;
inline constexpr uint32_t COMM_CE_MODE = 0x8000;

// The COMSTAT record: Flags holds, from bit 0, CTS hold, DSR hold, RLSD hold, XOFF hold,
// XOFF sent, end-of-file, transmit-immediate.
struct CommStat {
  uint32_t Flags = 0;
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

// A manual-reset event: the stop event of a wait, and the completion event of one
// overlapped operation. Thread-safe. Owns its OS object.
class CommEvent {
 public:
  explicit CommEvent(bool signalled = false);
  ~CommEvent();
  CommEvent(const CommEvent &) = delete;
  CommEvent &operator=(const CommEvent &) = delete;

  void set();
  void reset();
  bool is_set() const;
  // Waits until set; timeout_ms < 0 waits for ever. True when set.
  bool wait(int timeout_ms) const;
  // The handle a backend waits on together with its device (an eventfd on Linux).
  intptr_t native_handle() const;

 private:
  intptr_t handle_;
};

// Waits until one of the events is set: its index, or -1 after timeout_ms (< 0: no limit).
// When several are set the lowest index wins, as with WaitForMultipleObjects.
int comm_wait_any(const CommEvent *const *events, int count, int timeout_ms);

// The OVERLAPPED record of one read or write: owned by the caller from the start of the
// operation until it has completed (or the device has been purged or closed), together
// with the buffer it names. The device fills the fields; callers only read `event`, which
// is set whenever the operation may have made progress.
struct CommAsync {
  CommEvent event{true};
  // Device bookkeeping.
  bool signalled = true;  // what `event` holds, so a device touches it only on a change
  bool pending = false;
  bool is_write = false;
  char *buffer = nullptr;
  uint32_t count = 0;
  uint32_t done = 0;
  uint32_t error = COMM_OK;
  CommTimeouts timeouts;             // as they were when the operation started
  int64_t deadline_ms = -1;          // total time-out, monotonic milliseconds; -1 none
  int64_t last_byte_ms = -1;         // when the last byte came, for the interval time-out
  uint64_t ticket = 0;               // writes run one after another in ticket order
  std::shared_ptr<CommEvent> abort;  // set by a purge or close that ends this operation
};

// One open serial device. Thread-safe: reads, writes, waits and queries may come from
// several threads at once (the event thread waits while a worker writes and the GUI thread
// reads). CloseHandle ends pending operations and waits for calls still inside.
class CommDevice {
 public:
  virtual ~CommDevice() = default;

  virtual uint32_t SetupComm(uint32_t InQueue, uint32_t OutQueue) = 0;
  virtual uint32_t SetCommState(const CommDcb &Dcb) = 0;
  virtual uint32_t GetCommState(CommDcb &Dcb) = 0;
  virtual uint32_t SetCommTimeouts(const CommTimeouts &Timeouts) = 0;
  virtual uint32_t SetCommMask(uint32_t Mask) = 0;
  // Waits for an event of the mask set by SetCommMask. COMM_OK with the events in Mask; Mask
  // 0 when Stop was set or timeout_ms (< 0: none) ran out. A failure ends the device's use
  // for waiting (the device vanished, or was closed).
  virtual uint32_t WaitCommEvent(uint32_t &Mask, const CommEvent *Stop, int TimeoutMs) = 0;
  // With Async null: a blocking call bounded by the time-outs. With Async: starts the
  // operation and returns COMM_OK when it completed at once (Done set) or
  // COMM_ERR_IO_PENDING; GetOverlappedResult completes it.
  virtual uint32_t ReadFile(void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) = 0;
  virtual uint32_t WriteFile(const void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) = 0;
  // COMM_OK with the bytes transferred once complete; COMM_ERR_IO_INCOMPLETE when Wait is
  // false and it is still running; COMM_ERR_OPERATION_ABORTED after a purge or close.
  virtual uint32_t GetOverlappedResult(CommAsync &Async, uint32_t &Transferred, bool Wait) = 0;
  virtual uint32_t PurgeComm(uint32_t Flags) = 0;
  // Reads and clears the error state; fills Stat when given.
  virtual uint32_t ClearCommError(uint32_t &Errors, CommStat *Stat) = 0;
  // ClearCommError for a caller that wants only the input queue's count: a device whose
  // output count costs a system call of its own can leave it out.
  virtual uint32_t ClearCommErrorInput(uint32_t &Errors, uint32_t &InQueue) {
    CommStat stat;
    const uint32_t rc = ClearCommError(Errors, &stat);
    InQueue = stat.cbInQue;
    return rc;
  }
  // A device without modem lines (a pty) reports 0 and succeeds.
  virtual uint32_t GetCommModemStatus(uint32_t &Status) = 0;
  virtual uint32_t EscapeCommFunction(uint32_t Function) = 0;
  virtual uint32_t TransmitCommChar(char Ch) = 0;
  // Ends pending operations and waits, releases the device (and its exclusive hold).
  // Later calls fail with COMM_ERR_INVALID_HANDLE.
  virtual void CloseHandle() = 0;
};

// Opens devices by port name (CreateFile with share mode 0 and OPEN_EXISTING).
class CommBackend {
 public:
  virtual ~CommBackend() = default;
  virtual uint32_t CreateFile(const std::string &Port, bool Overlapped,
                              std::shared_ptr<CommDevice> &Device) = 0;
};

// The backend of this OS.
CommBackend &comm_os_backend();

// The device path of a port name: "COM1".."COM9" (and higher) are /dev/ttyS0.. on Linux; a
// name that starts with "/" is a path; any other name is a file under /dev.
std::string comm_device_path(const std::string &port);

// The order ports are offered in: names of the system ("COM3") before device paths, and
// within each, numbers by their value ("COM2" before "COM10", "ttyUSB2" before "ttyUSB10").
bool comm_port_less(const std::string &a, const std::string &b);

// `names` as a list to choose from: each port once, in port order. Two names that open the
// same device (on Linux "COM1" and "/dev/ttyS0") are one port; the first of them is kept.
std::vector<std::string> comm_port_list(const std::vector<std::string> &names);

// Opens the port exclusively, as the port component would, and closes it again: COMM_OK, or
// the Windows error of the open (2 missing, 5 held by someone else).
uint32_t comm_probe(const std::string &port);

// The serial ports of this machine, in port order (comm_port_list): COMM_OK, or the error
// that kept the list from being read. On Windows: the system's list under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (USB adapters among them); on Linux: tty devices that
// have a driver, by their /dev/serial/by-id name where there is one.
uint32_t comm_enum_ports(std::vector<std::string> &names);
// The same over another root (a recorded sysfs tree in tests): sys_class_tty stands for
// /sys/class/tty, dev for /dev.
uint32_t comm_enum_ports_in(const std::string &sys_class_tty, const std::string &dev,
                            std::vector<std::string> &names);

// The Windows number for an errno value.
uint32_t comm_error_from_errno(int err);
