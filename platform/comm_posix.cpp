// The serial device layer over Linux ttys: termios2 (any baud rate through BOTHER), flock for
// the exclusive open, poll with eventfds for stop and wake-up, the modem-control and
// interrupt-counter ioctls where the device has lines.
//
// The device keeps its own input queue, sized by SetupComm, as the Windows driver does:
// bytes move from the kernel into it when someone waits or reads, and never more than fit.
// So one reported block never exceeds the queue size, and while the queue is full the rest
// stays in the kernel's buffer (which throttles the sender) instead of being dropped. The
// queue also gives the receive events their Windows meaning: "bytes arrived" is an edge,
// the event character and the 80 % mark are seen as the bytes pass.
#include "platform/comm.h"

#include "platform/comm_device.h"
#include "platform/comm_events.h"
#include "platform/unique_fd.h"

// termios2 comes from the kernel's headers; glibc's <termios.h> must not be mixed in.
#include "platform/comm_termios.h"
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr uint32_t kLineEvents = COMM_EV_CTS | COMM_EV_DSR | COMM_EV_RLSD | COMM_EV_RING;
// Neither the kernel nor a pty tells when the transmitter runs dry, and modem lines can only
// be waited for with an ioctl that no stop event can end: these are looked at again after
// these intervals, and only while a transmit-empty is owed or line events are asked for on
// a device that has lines. An idle line with neither costs no wake-ups.
constexpr int kTxEmptyRecheckMs = 10;
constexpr int kLineRecheckMs = 100;
constexpr uint32_t kMaxQueue = 1u << 24;
constexpr uint32_t kDefaultQueue = 4096;
constexpr int64_t kDeadlineUnset = -2;

struct BaudCode {
  uint32_t rate;
  unsigned code;
};
constexpr BaudCode kBaudCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

// A tty's EIO means the other end is gone (pty peer closed, adapter unplugged).
uint32_t io_error(int err) { return err == EIO ? COMM_ERR_DEVICE_NOT_CONNECTED : comm_error_from_errno(err); }

// An event that remembers its own state, so setting a set event or resetting a clear one
// costs no system call. Used only under the device's lock, which keeps flag and event alike.
class LatchedEvent {
 public:
  void set() {
    if (!set_) {
      event_.set();
      set_ = true;
    }
  }
  void reset() {
    if (set_) {
      event_.reset();
      set_ = false;
    }
  }
  intptr_t native_handle() const { return event_.native_handle(); }

 private:
  CommEvent event_;
  bool set_ = false;
};

}  // namespace

// The termios that a DCB asks for. Fields with no POSIX equivalent are listed where the
// device applies the DCB.
uint32_t comm_termios_from_dcb(const CommDcb &dcb, termios2 &t) {
  if (!comm_dcb_valid(dcb))
    return COMM_ERR_INVALID_PARAMETER;
  // Raw mode, as cfmakeraw sets it: the console's bytes pass untouched in both directions.
  t.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= CLOCAL | CREAD;
  static constexpr unsigned kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
    case 3:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;  // mark: stick parity, odd sense
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;  // space: stick parity, even sense
    default:
      break;
  }
  // One and a half stop bits exist only on Windows (and only with 5 data bits): two is the
  // nearest the line can do, and a receiver set for 1.5 accepts it.
  if (dcb.StopBits != 0)
    t.c_cflag |= CSTOPB;
  uint32_t rts = (dcb.Flags & DCB_RTS_CONTROL_MASK) >> DCB_RTS_CONTROL_SHIFT;
  if ((dcb.Flags & DCB_OUTX_CTS_FLOW) || rts == 2)
    t.c_cflag |= CRTSCTS;
  if (dcb.Flags & DCB_OUTX)
    t.c_iflag |= IXON;
  if (dcb.Flags & DCB_INX)
    t.c_iflag |= IXOFF;
  if (dcb.Flags & DCB_PARITY)
    t.c_iflag |= INPCK;
  else
    t.c_iflag |= IGNPAR;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  unsigned code = BOTHER;
  for (const BaudCode &b : kBaudCodes)
    if (b.rate == dcb.BaudRate)
      code = b.code;
  t.c_cflag |= code;
  t.c_ispeed = dcb.BaudRate;
  t.c_ospeed = dcb.BaudRate;
  return COMM_OK;
}

namespace {

class PosixCommDevice final : public CommDeviceBase {
 public:
  PosixCommDevice(UniqueFd fd, bool has_lines) : CommDeviceBase(has_lines), fd_(std::move(fd)) {
    serial_icounter_struct counts{};
    has_icount_ = ::ioctl(fd_.get(), TIOCGICOUNT, &counts) == 0;
    icount_ = counts;
    if (has_lines_) {
      int bits = 0;
      if (::ioctl(fd_.get(), TIOCMGET, &bits) == 0)
        modem_ = bits;
    }
    rxq_.resize(kDefaultQueue);
  }
  ~PosixCommDevice() override { CloseHandle(); }

  // The kernel's output buffer is what it is (writes block on it): OutQueue is only checked.
  uint32_t os_setup_comm(uint32_t InQueue, uint32_t OutQueue) override {
    if (InQueue > kMaxQueue || OutQueue > kMaxQueue)
      return COMM_ERR_INVALID_PARAMETER;
    std::lock_guard lock(m_);
    std::vector<char> q(std::max<size_t>(InQueue, rx_size_));
    copy_out_locked(q.data(), rx_size_, false);
    rxq_.swap(q);
    rx_head_ = 0;
    capacity_ = InQueue;
    event_kick_.set();
    return COMM_OK;
  }

  uint32_t os_set_comm_state(const CommDcb &Dcb) override {
    termios2 t{};
    if (::ioctl(fd_.get(), TCGETS2, &t) != 0)
      return comm_error_from_errno(errno);
    uint32_t rc = comm_termios_from_dcb(Dcb, t);
    if (rc != COMM_OK)
      return rc;
    if (::ioctl(fd_.get(), TCSETS2, &t) != 0)
      return comm_error_from_errno(errno);
    // DTR handshake (DTR as the receiver's ready line) has no termios form: DTR is held on,
    // which a box that watches DTR reads as ready. RTS toggle (RTS on while sending) would
    // need the RS-485 ioctl of a few drivers; RTS is held on instead.
    if (has_lines_) {
      uint32_t dtr = (Dcb.Flags & DCB_DTR_CONTROL_MASK) >> DCB_DTR_CONTROL_SHIFT;
      uint32_t rts = (Dcb.Flags & DCB_RTS_CONTROL_MASK) >> DCB_RTS_CONTROL_SHIFT;
      int dtr_bit = TIOCM_DTR, rts_bit = TIOCM_RTS;
      ::ioctl(fd_.get(), dtr == 0 ? TIOCMBIC : TIOCMBIS, &dtr_bit);
      if (rts != 2)  // under handshake the driver drives RTS
        ::ioctl(fd_.get(), rts == 0 ? TIOCMBIC : TIOCMBIS, &rts_bit);
    }
    return COMM_OK;
  }

  uint32_t os_set_comm_timeouts(const CommTimeouts &Timeouts) override {
    std::lock_guard lock(m_);
    timeouts_ = Timeouts;
    return COMM_OK;
  }

  uint32_t os_set_comm_mask(uint32_t Mask) override {
    std::lock_guard lock(m_);
    mask_ = Mask;
    pending_ev_ = 0;
    event_kick_.set();
    return COMM_OK;
  }

  uint32_t os_wait_comm_event(uint32_t &Mask, const CommEvent *Stop, int TimeoutMs) override {
    const int64_t deadline = TimeoutMs < 0 ? -1 : now_ms() + TimeoutMs;
    for (;;) {
      pollfd fds[4];
      int nfds = 0;
      int timeout = -1;
      {
        std::lock_guard lock(m_);
        if (Stop && Stop->is_set())
          return COMM_OK;  // the stop wins over anything else that is ready
        if (closed_)
          return COMM_ERR_OPERATION_ABORTED;
        fill_locked();
        if (has_lines_ && (mask_ & kLineEvents))
          check_lines_locked();
        // Everything a kick could announce is looked at below, under this same lock; what our
        // own fill just announced is no reason to wake up again.
        event_kick_.reset();
        if (tx_pending_) {
          if (!(mask_ & COMM_EV_TXEMPTY)) {
            tx_pending_ = false;
          } else if (output_queue_locked() == 0) {
            pending_ev_ |= COMM_EV_TXEMPTY;
            tx_pending_ = false;
          }
        }
        uint32_t ev = pending_ev_ & mask_;
        // Bytes that an earlier delivery already read are no news.
        if (rx_size_ == 0)
          ev &= ~COMM_EV_RXCHAR;
        pending_ev_ = 0;
        if (ev) {
          Mask = ev;
          return COMM_OK;
        }
        if (hung_up_)
          return COMM_ERR_DEVICE_NOT_CONNECTED;
        if (Stop)
          fds[nfds++] = {static_cast<int>(Stop->native_handle()), POLLIN, 0};
        fds[nfds++] = {static_cast<int>(close_event_.native_handle()), POLLIN, 0};
        fds[nfds++] = {static_cast<int>(event_kick_.native_handle()), POLLIN, 0};
        // While the queue is full the kernel keeps the rest; asking again would only spin.
        if (rx_size_ < capacity_)
          fds[nfds++] = {fd_.get(), POLLIN, 0};
        if (deadline >= 0)
          timeout = static_cast<int>(std::max<int64_t>(0, deadline - now_ms()));
        if (tx_pending_)
          timeout = timeout < 0 ? kTxEmptyRecheckMs : std::min(timeout, kTxEmptyRecheckMs);
        if (has_lines_ && (mask_ & kLineEvents))
          timeout = timeout < 0 ? kLineRecheckMs : std::min(timeout, kLineRecheckMs);
      }
      int rc = ::poll(fds, nfds, timeout);
      if (rc < 0 && errno != EINTR)
        return comm_error_from_errno(errno);
      if (deadline >= 0 && now_ms() >= deadline) {
        if (Stop && Stop->is_set())
          return COMM_OK;
        std::lock_guard lock(m_);
        fill_locked();
        uint32_t ev = pending_ev_ & mask_;
        if (rx_size_ == 0)
          ev &= ~COMM_EV_RXCHAR;
        if (ev) {
          pending_ev_ = 0;
          Mask = ev;
        }
        return COMM_OK;
      }
    }
  }

  uint32_t os_read_file(void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) override {
    // A record of our own only for a blocking call: each one costs an event.
    std::optional<CommAsync> local;
    CommAsync &op = Async ? *Async : local.emplace();
    {
      std::lock_guard lock(m_);
      begin_op(op, false, static_cast<char *>(Buffer), Count);
      op.abort = rx_abort_;
      const CommTimeouts &t = op.timeouts;
      int64_t now = now_ms();
      if (t.ReadIntervalTimeout == COMM_MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
          t.ReadTotalTimeoutConstant == 0)
        op.deadline_ms = now;  // return at once with whatever is there
      else if (t.ReadIntervalTimeout == COMM_MAXDWORD && t.ReadTotalTimeoutMultiplier == COMM_MAXDWORD &&
               t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < COMM_MAXDWORD)
        op.deadline_ms = now + t.ReadTotalTimeoutConstant;  // first byte or the constant
      else if (t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant)
        op.deadline_ms = now + int64_t{t.ReadTotalTimeoutMultiplier} * Count + t.ReadTotalTimeoutConstant;
      progress_read_locked(op);
      arm_locked(op);
    }
    return finish_call(op, Async != nullptr, Done);
  }

  uint32_t os_write_file(const void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) override {
    std::optional<CommAsync> local;
    CommAsync &op = Async ? *Async : local.emplace();
    {
      std::lock_guard lock(m_);
      begin_op(op, true, const_cast<char *>(static_cast<const char *>(Buffer)), Count);
      op.abort = tx_abort_;
      op.ticket = next_ticket_++;
      op.deadline_ms = kDeadlineUnset;
      progress_write_locked(op);
      arm_locked(op);
    }
    return finish_call(op, Async != nullptr, Done);
  }

  uint32_t os_get_overlapped_result(CommAsync &Async, bool Wait) override { return wait_op(Async, Wait); }

  uint32_t os_purge_comm(uint32_t Flags) override {
    std::lock_guard lock(m_);
    uint32_t rc = COMM_OK;
    if (Flags & COMM_PURGE_TXABORT) {
      tx_abort_->set();
      tx_abort_ = std::make_shared<CommEvent>();
      serving_ticket_ = next_ticket_;
      cv_.notify_all();
    }
    if (Flags & COMM_PURGE_RXABORT) {
      rx_abort_->set();
      rx_abort_ = std::make_shared<CommEvent>();
    }
    if ((Flags & COMM_PURGE_TXCLEAR) && !hung_up_ && ::ioctl(fd_.get(), TCFLSH, TCOFLUSH) != 0)
      rc = io_error(errno);
    if (Flags & COMM_PURGE_RXCLEAR) {
      if (!hung_up_ && ::ioctl(fd_.get(), TCFLSH, TCIFLUSH) != 0)
        rc = io_error(errno);
      rx_size_ = 0;
      rx_head_ = 0;
      rx_ready_.reset();
    }
    event_kick_.set();
    return rc;
  }

  uint32_t os_clear_comm_error(uint32_t &Errors, CommStat *Stat) override {
    std::lock_guard lock(m_);
    fill_locked();
    Errors = errors_;
    errors_ = 0;
    if (Stat) {
      Stat->Flags = 0;
      Stat->cbInQue = static_cast<uint32_t>(rx_size_);
      Stat->cbOutQue = output_queue_locked();
    }
    return COMM_OK;
  }

  // The output count is an ioctl of its own, which a reader does not need.
  uint32_t os_clear_comm_error_input(uint32_t &Errors, uint32_t &InQueue) override {
    std::lock_guard lock(m_);
    fill_locked();
    Errors = errors_;
    errors_ = 0;
    InQueue = static_cast<uint32_t>(rx_size_);
    return COMM_OK;
  }

  uint32_t os_get_comm_modem_status(uint32_t &Status) override {
    int bits = 0;
    if (::ioctl(fd_.get(), TIOCMGET, &bits) != 0)
      return io_error(errno);
    Status = modem_status(bits);
    return COMM_OK;
  }

  uint32_t os_escape_comm_function(uint32_t Function) override {
    int bit = 0;
    unsigned long request = 0;
    switch (Function) {
      case COMM_SETRTS:
        bit = TIOCM_RTS;
        request = TIOCMBIS;
        break;
      case COMM_CLRRTS:
        bit = TIOCM_RTS;
        request = TIOCMBIC;
        break;
      case COMM_SETDTR:
        bit = TIOCM_DTR;
        request = TIOCMBIS;
        break;
      case COMM_CLRDTR:
        bit = TIOCM_DTR;
        request = TIOCMBIC;
        break;
      case COMM_SETBREAK:
        return ::ioctl(fd_.get(), TIOCSBRK) == 0 ? COMM_OK : io_error(errno);
      case COMM_CLRBREAK:
        return ::ioctl(fd_.get(), TIOCCBRK) == 0 ? COMM_OK : io_error(errno);
      case COMM_SETXON:
        return ::ioctl(fd_.get(), TCXONC, TCOON) == 0 ? COMM_OK : io_error(errno);
      case COMM_SETXOFF:
        return ::ioctl(fd_.get(), TCXONC, TCOOFF) == 0 ? COMM_OK : io_error(errno);
      default:
        return COMM_ERR_INVALID_PARAMETER;
    }
    return ::ioctl(fd_.get(), request, &bit) == 0 ? COMM_OK : io_error(errno);
  }

  uint32_t os_transmit_comm_char(char Ch) override {
    for (int attempt = 0; attempt < 2; ++attempt) {
      ssize_t n = ::write(fd_.get(), &Ch, 1);
      if (n == 1)
        return COMM_OK;
      if (n < 0 && errno != EAGAIN && errno != EINTR)
        return io_error(errno);
      pollfd p{fd_.get(), POLLOUT, 0};
      ::poll(&p, 1, 1000);
    }
    return COMM_ERR_SEM_TIMEOUT;
  }

  void os_close_begin_locked() override {
    close_event_.set();
    tx_abort_->set();
    rx_abort_->set();
    cv_.notify_all();  // writes waiting for their turn
  }

  void os_close_release_locked() override {
    // TIOCEXCL stays on the tty after our close; anyone else's next open would fail.
    ::ioctl(fd_.get(), TIOCNXCL);
    fd_.reset();  // also ends our flock
  }

 private:
  static uint32_t modem_status(int bits) {
    uint32_t s = 0;
    if (bits & TIOCM_CTS)
      s |= COMM_MS_CTS_ON;
    if (bits & TIOCM_DSR)
      s |= COMM_MS_DSR_ON;
    if (bits & TIOCM_RI)
      s |= COMM_MS_RING_ON;
    if (bits & TIOCM_CD)
      s |= COMM_MS_RLSD_ON;
    return s;
  }

  void begin_op(CommAsync &op, bool write, char *buffer, uint32_t count) {
    op.pending = true;
    op.is_write = write;
    op.buffer = buffer;
    op.count = count;
    op.done = 0;
    op.error = COMM_OK;
    op.timeouts = timeouts_;
    op.deadline_ms = -1;
    op.last_byte_ms = -1;
  }

  // An operation that completed within its call leaves the event set, as it was: only one
  // that goes on in the background clears it.
  static void arm_locked(CommAsync &op) {
    if (op.pending && op.signalled) {
      op.event.reset();
      op.signalled = false;
    }
  }

  static void complete(CommAsync &op, uint32_t error) {
    op.pending = false;
    op.error = error;
    if (!op.signalled) {
      op.event.set();
      op.signalled = true;
    }
  }

  uint32_t output_queue_locked() const {
    int n = 0;
    if (hung_up_ || ::ioctl(fd_.get(), TIOCOUTQ, &n) != 0)
      return 0;
    return static_cast<uint32_t>(std::max(n, 0));
  }

  void mark_hung_up_locked() {
    if (hung_up_)
      return;
    hung_up_ = true;
    errors_ |= COMM_CE_IOE;
    pending_ev_ |= comm_events_for_errors(COMM_CE_IOE);
    event_kick_.set();
    rx_ready_.set();  // readers waiting for bytes that will never come must look again
  }

  // Moves what the kernel holds into the input queue, as far as it fits: straight into the
  // ring, unless nulls are to be dropped on the way.
  void fill_locked() {
    if (hung_up_ || closed_)
      return;
    char tmp[4096];
    const bool discard_null = dcb_.Flags & DCB_NULL;
    while (rx_size_ < capacity_) {
      const size_t want = std::min(discard_null ? sizeof tmp : rxq_.size(), capacity_ - rx_size_);
      ssize_t n;
      if (discard_null) {
        n = ::read(fd_.get(), tmp, want);
      } else {
        iovec parts[2];
        const int count = free_space_locked(want, parts);
        n = ::readv(fd_.get(), parts, count);
      }
      if (n > 0) {
        if (discard_null)
          accept_locked(tmp, static_cast<size_t>(n));
        else
          accepted_in_place_locked(static_cast<size_t>(n));
        if (static_cast<size_t>(n) < want)
          break;
        continue;
      }
      if (n == 0) {  // a hung-up tty reads as end of file
        mark_hung_up_locked();
        break;
      }
      if (errno == EINTR)
        continue;
      if (errno == EIO)
        mark_hung_up_locked();
      else if (errno != EAGAIN)
        errors_ |= COMM_CE_IOE;
      break;
    }
    if (has_icount_)
      check_counters_locked();
  }

  // The free part of the ring after the queued bytes, at most `want` bytes, as one or two
  // pieces (the second where it wraps to the start).
  int free_space_locked(size_t want, iovec (&parts)[2]) {
    const size_t cap = rxq_.size();
    size_t tail = rx_head_ + rx_size_;
    if (tail >= cap)
      tail -= cap;
    const size_t first = std::min(want, cap - tail);
    parts[0] = {rxq_.data() + tail, first};
    parts[1] = {rxq_.data(), want - first};
    return want > first ? 2 : 1;
  }

  // Queues bytes (dropping nulls when the line settings say so) with at most two copies
  // per run between nulls.
  void accept_locked(const char *bytes, size_t n) {
    const bool discard_null = dcb_.Flags & DCB_NULL;
    const size_t before = rx_size_;
    bool saw_event_char = false;
    while (n > 0) {
      size_t run = n;
      if (discard_null) {
        const void *nul = std::memchr(bytes, 0, n);
        run = nul ? static_cast<size_t>(static_cast<const char *>(nul) - bytes) : n;
      }
      if (run > 0) {
        saw_event_char |= std::memchr(bytes, dcb_.EvtChar, run) != nullptr;
        iovec parts[2];
        const int count = free_space_locked(run, parts);
        for (int i = 0; i < count; ++i) {
          std::memcpy(parts[i].iov_base, bytes, parts[i].iov_len);
          bytes += parts[i].iov_len;
        }
        rx_size_ += run;
      }
      if (run < n) {  // skip the null
        ++bytes;
        --n;
      }
      n -= run;
    }
    queued_locked(before, saw_event_char);
  }

  // The kernel wrote n bytes straight behind the queued ones.
  void accepted_in_place_locked(size_t n) {
    const size_t before = rx_size_;
    const size_t cap = rxq_.size();
    size_t tail = rx_head_ + rx_size_;
    if (tail >= cap)
      tail -= cap;
    const size_t first = std::min(n, cap - tail);
    const char evt = dcb_.EvtChar;
    const bool saw_event_char = std::memchr(rxq_.data() + tail, evt, first) != nullptr ||
                                (n > first && std::memchr(rxq_.data(), evt, n - first) != nullptr);
    rx_size_ += n;
    queued_locked(before, saw_event_char);
  }

  void queued_locked(size_t before, bool saw_event_char) {
    if (rx_size_ == before)
      return;
    pending_ev_ |= comm_events_for_input(before, rx_size_, capacity_, saw_event_char);
    if (rx_waiters_ > 0)
      rx_ready_.set();  // latched: a system call only when the queue was empty
    event_kick_.set();
  }

  size_t copy_out_locked(char *dst, size_t n, bool consume) {
    n = std::min(n, rx_size_);
    const size_t cap = rxq_.size();
    for (size_t i = 0; i < n;) {
      size_t pos = (rx_head_ + i) % cap;
      size_t chunk = std::min(n - i, cap - pos);
      std::memcpy(dst + i, rxq_.data() + pos, chunk);
      i += chunk;
    }
    if (consume && n > 0) {
      const bool was_full = rx_size_ >= capacity_;
      rx_head_ = (rx_head_ + n) % cap;
      rx_size_ -= n;
      if (rx_size_ == 0) {
        rx_head_ = 0;
        rx_ready_.reset();
      }
      // A waiter stops watching the device while the queue is full: tell it there is room.
      if (was_full && rx_size_ < capacity_)
        event_kick_.set();
    }
    return n;
  }

  void check_lines_locked() {
    int bits = 0;
    if (::ioctl(fd_.get(), TIOCMGET, &bits) != 0)
      return;
    pending_ev_ |= comm_events_for_lines(modem_status(modem_), modem_status(bits));
    modem_ = bits;
  }

  // Line errors and breaks as the UART driver counts them.
  void check_counters_locked() {
    serial_icounter_struct c{};
    if (::ioctl(fd_.get(), TIOCGICOUNT, &c) != 0)
      return;
    // Each counter that moved stands for a line error or a line event.
    struct Counter {
      int serial_icounter_struct::*count;
      uint32_t error, event;
    };
    static constexpr Counter counters[] = {
        {&serial_icounter_struct::frame, COMM_CE_FRAME, 0},
        {&serial_icounter_struct::overrun, COMM_CE_OVERRUN, 0},
        {&serial_icounter_struct::parity, COMM_CE_RXPARITY, 0},
        {&serial_icounter_struct::buf_overrun, COMM_CE_RXOVER, 0},
        {&serial_icounter_struct::brk, COMM_CE_BREAK, 0},
        {&serial_icounter_struct::cts, 0, COMM_EV_CTS},
        {&serial_icounter_struct::dsr, 0, COMM_EV_DSR},
        {&serial_icounter_struct::dcd, 0, COMM_EV_RLSD},
        {&serial_icounter_struct::rng, 0, COMM_EV_RING},
    };
    uint32_t e = 0;
    for (const Counter &counter : counters)
      if (c.*counter.count != icount_.*counter.count) {
        e |= counter.error;
        pending_ev_ |= counter.event;
      }
    pending_ev_ |= comm_events_for_errors(e);
    errors_ |= e;
    icount_ = c;
  }

  void progress_read_locked(CommAsync &op) {
    fill_locked();
    size_t n = copy_out_locked(op.buffer + op.done, op.count - op.done, true);
    int64_t now = now_ms();
    if (n > 0) {
      op.done += static_cast<uint32_t>(n);
      op.last_byte_ms = now;
    }
    const CommTimeouts &t = op.timeouts;
    const bool first_byte_returns =
        t.ReadIntervalTimeout == COMM_MAXDWORD && t.ReadTotalTimeoutMultiplier == COMM_MAXDWORD;
    const bool interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != COMM_MAXDWORD;
    if (hung_up_ && rx_size_ == 0 && op.done == 0) {
      complete(op, COMM_ERR_DEVICE_NOT_CONNECTED);
      return;
    }
    if (op.done == op.count || (first_byte_returns && op.done > 0) ||
        (op.deadline_ms >= 0 && now >= op.deadline_ms) ||
        (interval && op.done > 0 && now - op.last_byte_ms >= t.ReadIntervalTimeout)) {
      complete(op, COMM_OK);
      return;
    }
    if (hung_up_ && rx_size_ == 0)
      complete(op, COMM_OK);  // what came before the peer went is still delivered
  }

  void end_turn_locked(CommAsync &op) {
    if (serving_ticket_ == op.ticket) {
      ++serving_ticket_;
      cv_.notify_all();
    }
  }

  void progress_write_locked(CommAsync &op) {
    if (serving_ticket_ != op.ticket)
      return;  // an earlier write still has the line
    if (op.deadline_ms == kDeadlineUnset) {
      const CommTimeouts &t = op.timeouts;
      op.deadline_ms =
          (t.WriteTotalTimeoutMultiplier || t.WriteTotalTimeoutConstant)
              ? now_ms() + int64_t{t.WriteTotalTimeoutMultiplier} * op.count + t.WriteTotalTimeoutConstant
              : -1;
    }
    while (op.done < op.count) {
      ssize_t n = ::write(fd_.get(), op.buffer + op.done, op.count - op.done);
      if (n > 0) {
        op.done += static_cast<uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno == EAGAIN)
        break;
      uint32_t err = n < 0 ? io_error(errno) : COMM_ERR_GEN_FAILURE;
      if (err == COMM_ERR_DEVICE_NOT_CONNECTED)
        mark_hung_up_locked();
      end_turn_locked(op);
      complete(op, err);
      return;
    }
    if (op.done == op.count) {
      end_turn_locked(op);
      tx_pending_ = true;
      event_kick_.set();
      complete(op, COMM_OK);
    } else if (op.deadline_ms >= 0 && now_ms() >= op.deadline_ms) {
      // The write time-out: Windows completes the write with the bytes it took.
      end_turn_locked(op);
      complete(op, COMM_OK);
    }
  }

  // A synchronous call waits for its operation; an overlapped one reports it pending.
  uint32_t finish_call(CommAsync &op, bool overlapped, uint32_t &Done) {
    uint32_t rc = overlapped ? (op.pending ? COMM_ERR_IO_PENDING : op.error) : wait_op(op, true);
    Done = op.done;
    return rc;
  }

  uint32_t wait_op(CommAsync &op, bool wait) {
    // While this read polls it is counted in rx_waiters_, so bytes that another thread
    // queues set rx_ready_ for it.
    struct Waiting {
      PosixCommDevice *dev;
      bool counted = false;
      void leave_locked() {
        if (counted)
          --dev->rx_waiters_;
        counted = false;
      }
      ~Waiting() {
        if (!counted)
          return;
        std::lock_guard lock(dev->m_);
        leave_locked();
      }
    } waiting{this};
    for (;;) {
      pollfd fds[4];
      int nfds = 0;
      int timeout = -1;
      {
        std::unique_lock lock(m_);
        waiting.leave_locked();
        if (!op.pending)
          return op.error;
        if (op.abort->is_set()) {
          if (op.is_write)
            end_turn_locked(op);
          complete(op, COMM_ERR_OPERATION_ABORTED);
          return op.error;
        }
        if (op.is_write)
          progress_write_locked(op);
        else
          progress_read_locked(op);
        if (!op.pending)
          return op.error;
        if (!wait)
          return COMM_ERR_IO_INCOMPLETE;
        if (op.is_write && serving_ticket_ != op.ticket) {
          // Behind another write: wait for our turn, a purge or the close.
          auto abort = op.abort;
          cv_.wait(lock, [&] { return serving_ticket_ == op.ticket || abort->is_set() || closed_; });
          continue;
        }
        int64_t now = now_ms();
        int64_t until = op.deadline_ms;
        if (!op.is_write && op.timeouts.ReadIntervalTimeout != 0 &&
            op.timeouts.ReadIntervalTimeout != COMM_MAXDWORD && op.done > 0) {
          int64_t gap_end = op.last_byte_ms + op.timeouts.ReadIntervalTimeout;
          until = until < 0 ? gap_end : std::min(until, gap_end);
        }
        if (until >= 0)
          timeout = static_cast<int>(std::clamp<int64_t>(until - now, 0, INT_MAX));
        fds[nfds++] = {static_cast<int>(op.abort->native_handle()), POLLIN, 0};
        fds[nfds++] = {static_cast<int>(close_event_.native_handle()), POLLIN, 0};
        if (op.is_write) {
          fds[nfds++] = {fd_.get(), POLLOUT, 0};
        } else {
          ++rx_waiters_;
          waiting.counted = true;
          if (rx_size_ > 0 || hung_up_)
            rx_ready_.set();
          fds[nfds++] = {static_cast<int>(rx_ready_.native_handle()), POLLIN, 0};
          if (!hung_up_ && rx_size_ < capacity_)
            fds[nfds++] = {fd_.get(), POLLIN, 0};
        }
      }
      if (::poll(fds, nfds, timeout) < 0 && errno != EINTR)
        return comm_error_from_errno(errno);
    }
  }

  // The base's cv_ also tells writes that their turn came.
  UniqueFd fd_;
  bool has_icount_ = false;
  CommEvent close_event_;
  LatchedEvent event_kick_;  // something changed that the event waiter should look at
  // The input queue holds bytes (or the device hung up); kept up only while a read waits
  // (rx_waiters_), so a queue that fills and empties under a busy reader costs no calls.
  LatchedEvent rx_ready_;
  int rx_waiters_ = 0;
  std::shared_ptr<CommEvent> rx_abort_ = std::make_shared<CommEvent>();
  std::shared_ptr<CommEvent> tx_abort_ = std::make_shared<CommEvent>();

  std::vector<char> rxq_;
  size_t rx_head_ = 0;
  size_t rx_size_ = 0;
  size_t capacity_ = kDefaultQueue;

  uint32_t mask_ = 0;
  uint32_t pending_ev_ = 0;
  uint32_t errors_ = 0;
  bool tx_pending_ = false;
  bool hung_up_ = false;
  int modem_ = 0;
  serial_icounter_struct icount_{};
  CommTimeouts timeouts_;
  uint64_t next_ticket_ = 0;
  uint64_t serving_ticket_ = 0;
};

class PosixCommBackend final : public CommBackend {
 public:
  uint32_t CreateFile(const std::string &Port, bool Overlapped,
                      std::shared_ptr<CommDevice> &Device) override {
    (void)Overlapped;  // every device here can do both kinds of I/O
    Device.reset();
    const std::string path = comm_device_path(Port);
    UniqueFd owned(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const int fd = owned.get();
    if (fd < 0)
      return comm_error_from_errno(errno);
    if (!::isatty(fd))
      return COMM_ERR_INVALID_FUNCTION;
    // Share mode 0: flock keeps out every other program that asks the same (minicom, screen,
    // another copy of us); TIOCEXCL also keeps out a plain open by anyone but root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      return err == EWOULDBLOCK ? COMM_ERR_ACCESS_DENIED : comm_error_from_errno(err);
    }
    ::ioctl(fd, TIOCEXCL);
    int bits = 0;
    const bool has_lines = ::ioctl(fd, TIOCMGET, &bits) == 0;
    // Raw at once: until the first SetCommState nothing may echo or translate.
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) == 0) {
      CommDcb raw;
      raw.BaudRate = t.c_ospeed ? t.c_ospeed : 9600;
      raw.Flags = DCB_BINARY;
      raw.XonChar = 17;
      raw.XoffChar = 19;
      if (comm_termios_from_dcb(raw, t) == COMM_OK)
        ::ioctl(fd, TCSETS2, &t);
    }
    Device = std::make_shared<PosixCommDevice>(std::move(owned), has_lines);
    return COMM_OK;
  }
};

bool starts_with_com(const std::string &port, unsigned &number) {
  if (port.size() < 4)
    return false;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(port[i])) != "COM"[i])
      return false;
  unsigned n = 0;
  for (size_t i = 3; i < port.size(); ++i) {
    if (port[i] < '0' || port[i] > '9' || n > 100000)
      return false;
    n = n * 10 + static_cast<unsigned>(port[i] - '0');
  }
  number = n;
  return n >= 1;
}

}  // namespace

CommBackend &comm_os_backend() {
  static PosixCommBackend backend;
  return backend;
}

std::string comm_device_path(const std::string &port) {
  unsigned n;
  if (starts_with_com(port, n))
    return "/dev/ttyS" + std::to_string(n - 1);
  if (!port.empty() && port[0] == '/')
    return port;
  return "/dev/" + port;
}
