#include "platform/comm_fake.h"

#include "platform/comm_events.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

}  // namespace

// The device opened on a fake line. Every call records itself on the line.
class FakeCommDevice final : public CommDevice {
 public:
  explicit FakeCommDevice(std::shared_ptr<FakeCommLine> line) : line_(std::move(line)) {}
  ~FakeCommDevice() override { CloseHandle(); }

  uint32_t SetupComm(uint32_t InQueue, uint32_t OutQueue) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("SetupComm", std::to_string(InQueue) + " " + std::to_string(OutQueue)))
      return rc;
    if (InQueue == 0 || InQueue > (1u << 24) || OutQueue > (1u << 24))
      return COMM_ERR_INVALID_PARAMETER;
    line_->in_queue_ = InQueue;
    line_->out_queue_ = OutQueue;
    return COMM_OK;
  }
  uint32_t SetCommState(const CommDcb &Dcb) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("SetCommState"))
      return rc;
    if (Dcb.BaudRate == 0 || Dcb.ByteSize < 5 || Dcb.ByteSize > 8 || Dcb.Parity > 4 || Dcb.StopBits > 2)
      return COMM_ERR_INVALID_PARAMETER;
    line_->dcb_ = Dcb;
    return COMM_OK;
  }
  uint32_t GetCommState(CommDcb &Dcb) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("GetCommState"))
      return rc;
    Dcb = line_->dcb_;
    return COMM_OK;
  }
  uint32_t SetCommTimeouts(const CommTimeouts &Timeouts) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("SetCommTimeouts"))
      return rc;
    line_->timeouts_ = Timeouts;
    return COMM_OK;
  }
  uint32_t SetCommMask(uint32_t Mask) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("SetCommMask", hex(Mask)))
      return rc;
    line_->mask_ = Mask;
    line_->pending_ev_ = 0;
    line_->wake_locked();
    return COMM_OK;
  }
  uint32_t WaitCommEvent(uint32_t &Mask, const CommEvent *Stop, int TimeoutMs) override {
    Mask = 0;
    {
      std::lock_guard lock(line_->m_);
      if (uint32_t rc = begin("WaitCommEvent"))
        return rc;
    }
    for (;;) {
      {
        std::lock_guard lock(line_->m_);
        if (Stop && Stop->is_set())
          return COMM_OK;
        if (closed_)
          return COMM_ERR_OPERATION_ABORTED;
        line_->changed_.reset();
        uint32_t ev = line_->pending_ev_ & line_->mask_;
        if (line_->input_.empty())
          ev &= ~COMM_EV_RXCHAR;
        line_->pending_ev_ = 0;
        if (ev) {
          Mask = ev;
          return COMM_OK;
        }
        if (line_->vanished_)
          return COMM_ERR_DEVICE_NOT_CONNECTED;
      }
      const CommEvent *events[2] = {&line_->changed_, Stop};
      if (comm_wait_any(events, Stop ? 2 : 1, TimeoutMs) < 0 && TimeoutMs >= 0)
        return COMM_OK;  // timed out: no events
    }
  }
  uint32_t ReadFile(void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) override {
    std::lock_guard lock(line_->m_);
    Done = 0;
    if (uint32_t rc = begin("ReadFile", std::to_string(Count)))
      return rc;
    if (line_->vanished_ && line_->input_.empty())
      return COMM_ERR_DEVICE_NOT_CONNECTED;
    uint32_t n = std::min<uint32_t>(Count, static_cast<uint32_t>(line_->input_.size()));
    std::memcpy(Buffer, line_->input_.data(), n);
    line_->input_.erase(0, n);
    Done = n;
    if (Async) {
      Async->pending = false;
      Async->is_write = false;
      Async->done = n;
      Async->error = COMM_OK;
      Async->event.set();
    }
    return COMM_OK;
  }
  uint32_t WriteFile(const void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) override {
    std::unique_lock lock(line_->m_);
    Done = 0;
    if (uint32_t rc = begin("WriteFile", std::to_string(Count)))
      return rc;
    if (line_->vanished_)
      return COMM_ERR_DEVICE_NOT_CONNECTED;
    CommAsync local;
    CommAsync &op = Async ? *Async : local;
    op.is_write = true;
    op.buffer = const_cast<char *>(static_cast<const char *>(Buffer));
    op.count = Count;
    op.done = 0;
    op.error = COMM_OK;
    op.ticket = line_->generation_;
    op.pending = true;
    op.event.reset();
    progress_locked(op);
    if (!Async) {
      wait_locked(lock, op);
      Done = op.done;
      return op.error;
    }
    Done = op.done;
    return op.pending ? COMM_ERR_IO_PENDING : COMM_OK;
  }
  uint32_t GetOverlappedResult(CommAsync &Async, uint32_t &Transferred, bool Wait) override {
    std::unique_lock lock(line_->m_);
    if (Async.pending) {
      progress_locked(Async);
      if (Async.pending && Wait)
        wait_locked(lock, Async);
    }
    Transferred = Async.done;
    return Async.pending ? COMM_ERR_IO_INCOMPLETE : Async.error;
  }
  uint32_t PurgeComm(uint32_t Flags) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("PurgeComm", hex(Flags)))
      return rc;
    if (Flags & COMM_PURGE_TXABORT) {
      ++line_->generation_;
      line_->cv_.notify_all();
    }
    if (Flags & COMM_PURGE_RXCLEAR)
      line_->input_.clear();
    return COMM_OK;
  }
  uint32_t ClearCommError(uint32_t &Errors, CommStat *Stat) override {
    std::lock_guard lock(line_->m_);
    Errors = 0;
    if (uint32_t rc = begin("ClearCommError"))
      return rc;
    Errors = line_->errors_;
    line_->errors_ = 0;
    if (Stat) {
      Stat->Flags = 0;
      Stat->cbInQue = std::min<uint32_t>(static_cast<uint32_t>(line_->input_.size()), line_->in_queue_);
      Stat->cbOutQue = 0;
    }
    return COMM_OK;
  }
  uint32_t GetCommModemStatus(uint32_t &Status) override {
    std::lock_guard lock(line_->m_);
    Status = 0;
    if (uint32_t rc = begin("GetCommModemStatus"))
      return rc;
    Status = line_->modem_;
    return COMM_OK;
  }
  uint32_t EscapeCommFunction(uint32_t Function) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("EscapeCommFunction", std::to_string(Function)))
      return rc;
    switch (Function) {
      case COMM_SETDTR:
        line_->lines_ |= 1;
        break;
      case COMM_CLRDTR:
        line_->lines_ &= ~1u;
        break;
      case COMM_SETRTS:
        line_->lines_ |= 2;
        break;
      case COMM_CLRRTS:
        line_->lines_ &= ~2u;
        break;
      case COMM_SETBREAK:
        line_->lines_ |= 4;
        break;
      case COMM_CLRBREAK:
        line_->lines_ &= ~4u;
        break;
      case COMM_SETXON:
      case COMM_SETXOFF:
        break;
      default:
        return COMM_ERR_INVALID_PARAMETER;
    }
    return COMM_OK;
  }
  uint32_t TransmitCommChar(char Ch) override {
    std::lock_guard lock(line_->m_);
    if (uint32_t rc = begin("TransmitCommChar"))
      return rc;
    line_->output_.push_back(Ch);
    return COMM_OK;
  }
  void CloseHandle() override {
    std::lock_guard lock(line_->m_);
    if (closed_)
      return;
    line_->record_locked("CloseHandle");
    closed_ = true;
    line_->open_ = false;
    ++line_->generation_;
    line_->cv_.notify_all();
    line_->wake_locked();
  }

 private:
  // Records the call and says why it cannot run: closed, injected failure, or COMM_OK.
  uint32_t begin(const std::string &name, const std::string &args = "") {
    if (closed_)
      return COMM_ERR_INVALID_HANDLE;
    return line_->record_locked(name, args);
  }

  void progress_locked(CommAsync &op) {
    if (op.ticket != line_->generation_) {
      op.pending = false;
      op.error = COMM_ERR_OPERATION_ABORTED;
      op.event.set();
      return;
    }
    if (line_->hold_writes_)
      return;
    line_->output_.append(op.buffer, op.count);
    op.done = op.count;
    op.pending = false;
    op.error = COMM_OK;
    op.event.set();
    line_->pending_ev_ |= COMM_EV_TXEMPTY;
    line_->wake_locked();
  }

  void wait_locked(std::unique_lock<std::mutex> &lock, CommAsync &op) {
    while (op.pending) {
      line_->cv_.wait(lock);
      progress_locked(op);
    }
  }

  std::shared_ptr<FakeCommLine> line_;
  bool closed_ = false;
};

uint32_t FakeCommLine::record_locked(const std::string &name, const std::string &args) {
  calls_.push_back(args.empty() ? name : name + " " + args);
  auto it = failures_.find(name);
  if (it == failures_.end())
    return COMM_OK;
  uint32_t rc = it->second;
  failures_.erase(it);
  return rc;
}

void FakeCommLine::wake_locked() {
  changed_.set();
  cv_.notify_all();
}

void FakeCommLine::push_input(const std::string &bytes, uint32_t errors) {
  std::lock_guard lock(m_);
  if (errors) {
    errors_ |= errors;
    pending_ev_ |= comm_events_for_errors(errors);
  }
  const size_t before = input_.size();
  if (dcb_.Flags & DCB_NULL) {
    for (char c : bytes)
      if (c != 0)
        input_.push_back(c);
  } else {
    input_ += bytes;
  }
  // The 80 % mark lies within the SetupComm size, so the uncapped fill crosses it exactly
  // when the fill a reader sees (cbInQue) does.
  const bool saw_event_char = input_.find(dcb_.EvtChar, before) != std::string::npos;
  pending_ev_ |= comm_events_for_input(before, input_.size(), in_queue_, saw_event_char);
  wake_locked();
}

std::string FakeCommLine::output() const {
  std::lock_guard lock(m_);
  return output_;
}

std::string FakeCommLine::take_output() {
  std::lock_guard lock(m_);
  std::string out;
  out.swap(output_);
  return out;
}

void FakeCommLine::set_modem_status(uint32_t status) {
  std::lock_guard lock(m_);
  pending_ev_ |= comm_events_for_lines(modem_, status);
  modem_ = status;
  wake_locked();
}

void FakeCommLine::raise_errors(uint32_t errors) {
  std::lock_guard lock(m_);
  errors_ |= errors;
  pending_ev_ |= comm_events_for_errors(errors);
  wake_locked();
}

void FakeCommLine::vanish() {
  std::lock_guard lock(m_);
  vanished_ = true;
  errors_ |= COMM_CE_IOE;
  pending_ev_ |= comm_events_for_errors(COMM_CE_IOE);
  wake_locked();
}

void FakeCommLine::set_held(bool held) {
  std::lock_guard lock(m_);
  held_ = held;
}

void FakeCommLine::hold_writes(bool hold) {
  std::lock_guard lock(m_);
  hold_writes_ = hold;
  wake_locked();
}

std::vector<std::string> FakeCommLine::calls() const {
  std::lock_guard lock(m_);
  return calls_;
}

int FakeCommLine::count(const std::string &prefix) const {
  std::lock_guard lock(m_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string &c) {
    return c.compare(0, prefix.size(), prefix) == 0;
  }));
}

void FakeCommLine::clear_calls() {
  std::lock_guard lock(m_);
  calls_.clear();
}

void FakeCommLine::fail_next(const std::string &call, uint32_t error) {
  std::lock_guard lock(m_);
  failures_[call] = error;
}

bool FakeCommLine::is_open() const {
  std::lock_guard lock(m_);
  return open_;
}
CommDcb FakeCommLine::dcb() const {
  std::lock_guard lock(m_);
  return dcb_;
}
CommTimeouts FakeCommLine::timeouts() const {
  std::lock_guard lock(m_);
  return timeouts_;
}
uint32_t FakeCommLine::mask() const {
  std::lock_guard lock(m_);
  return mask_;
}
uint32_t FakeCommLine::in_queue() const {
  std::lock_guard lock(m_);
  return in_queue_;
}
uint32_t FakeCommLine::out_queue() const {
  std::lock_guard lock(m_);
  return out_queue_;
}
uint32_t FakeCommLine::escapes_dtr_rts() const {
  std::lock_guard lock(m_);
  return lines_;
}

std::shared_ptr<FakeCommLine> FakeCommBackend::add(const std::string &port) {
  std::lock_guard lock(m_);
  auto &line = lines_[port];
  if (!line)
    line = std::make_shared<FakeCommLine>();
  return line;
}

uint32_t FakeCommBackend::CreateFile(const std::string &Port, bool Overlapped,
                                     std::shared_ptr<CommDevice> &Device) {
  (void)Overlapped;
  Device.reset();
  std::shared_ptr<FakeCommLine> line;
  {
    std::lock_guard lock(m_);
    auto it = lines_.find(Port);
    if (it == lines_.end())
      return COMM_ERR_FILE_NOT_FOUND;
    line = it->second;
  }
  std::lock_guard lock(line->m_);
  if (uint32_t rc = line->record_locked("CreateFile", Port))
    return rc;
  if (line->held_ || line->open_)
    return COMM_ERR_ACCESS_DENIED;
  if (line->vanished_)
    return COMM_ERR_FILE_NOT_FOUND;
  line->open_ = true;
  line->pending_ev_ = 0;
  Device = std::make_shared<FakeCommDevice>(line);
  return COMM_OK;
}
