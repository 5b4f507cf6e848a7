// Inside the serial device layer: the half of a device that is the same on every OS
// (comm.cpp). It keeps the calls that are inside the device, so that CloseHandle can wait for
// them before the OS object goes, checks what every call checks before it reaches the OS,
// and keeps the line settings; the OS backends (comm_posix.cpp, comm_win.cpp) give only the
// OS calls, through the os_* members, each entered with the device open and the call counted
// as inside.
#pragma once

#include "platform/comm.h"

#include <condition_variable>
#include <mutex>

class CommDeviceBase : public CommDevice {
 public:
  explicit CommDeviceBase(bool has_lines) : has_lines_(has_lines) { dcb_.BaudRate = 9600; }

  uint32_t SetupComm(uint32_t InQueue, uint32_t OutQueue) final;
  uint32_t SetCommState(const CommDcb &Dcb) final;
  uint32_t GetCommState(CommDcb &Dcb) final;
  uint32_t SetCommTimeouts(const CommTimeouts &Timeouts) final;
  uint32_t SetCommMask(uint32_t Mask) final;
  uint32_t WaitCommEvent(uint32_t &Mask, const CommEvent *Stop, int TimeoutMs) final;
  uint32_t ReadFile(void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) final;
  uint32_t WriteFile(const void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) final;
  uint32_t GetOverlappedResult(CommAsync &Async, uint32_t &Transferred, bool Wait) final;
  uint32_t PurgeComm(uint32_t Flags) final;
  uint32_t ClearCommError(uint32_t &Errors, CommStat *Stat) final;
  uint32_t ClearCommErrorInput(uint32_t &Errors, uint32_t &InQueue) final;
  uint32_t GetCommModemStatus(uint32_t &Status) final;
  uint32_t EscapeCommFunction(uint32_t Function) final;
  uint32_t TransmitCommChar(char Ch) final;
  void CloseHandle() final;

 protected:
  // The OS calls. Arguments are checked and outputs cleared before they are called.
  virtual uint32_t os_setup_comm(uint32_t InQueue, uint32_t OutQueue) = 0;
  // Applies a valid DCB; the device keeps it (GetCommState) once this succeeds.
  virtual uint32_t os_set_comm_state(const CommDcb &Dcb) = 0;
  virtual uint32_t os_set_comm_timeouts(const CommTimeouts &Timeouts) = 0;
  virtual uint32_t os_set_comm_mask(uint32_t Mask) = 0;
  virtual uint32_t os_wait_comm_event(uint32_t &Mask, const CommEvent *Stop, int TimeoutMs) = 0;
  virtual uint32_t os_read_file(void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) = 0;
  virtual uint32_t os_write_file(const void *Buffer, uint32_t Count, uint32_t &Done, CommAsync *Async) = 0;
  // Completes a pending operation (or tells it is still running when Wait is false).
  virtual uint32_t os_get_overlapped_result(CommAsync &Async, bool Wait) = 0;
  virtual uint32_t os_purge_comm(uint32_t Flags) = 0;
  virtual uint32_t os_clear_comm_error(uint32_t &Errors, CommStat *Stat) = 0;
  // Where the input count alone costs less than the whole record.
  virtual uint32_t os_clear_comm_error_input(uint32_t &Errors, uint32_t &InQueue);
  // Only called on a device that has lines.
  virtual uint32_t os_get_comm_modem_status(uint32_t &Status) = 0;
  // A valid function, and one that a device without lines can carry out.
  virtual uint32_t os_escape_comm_function(uint32_t Function) = 0;
  virtual uint32_t os_transmit_comm_char(char Ch) = 0;
  // Under m_, once, when the close begins: ends what waits on the device, so that the calls
  // inside leave.
  virtual void os_close_begin_locked() = 0;
  // Under m_, once no call is inside any more: releases the OS object.
  virtual void os_close_release_locked() = 0;

  // Derived destructors call CloseHandle: by the base's destructor the OS half is gone.
  std::mutex m_;
  // Signalled as calls leave the device; a backend may wait on it for its own conditions too.
  std::condition_variable cv_;
  bool closed_ = false;
  const bool has_lines_;  // a pty has none: their calls succeed without effect
  CommDcb dcb_;           // as last set, under m_

 private:
  // Marks a call as inside the device, so CloseHandle waits for it before the OS object goes
  // (a descriptor number the OS could hand to someone else at once, a handle).
  class Use {
   public:
    explicit Use(CommDeviceBase *d);
    ~Use();
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;
    bool ok;

   private:
    CommDeviceBase *dev;
  };

  int inflight_ = 0;
};

// The checks a DCB passes before any line is set: what no line can have is refused.
bool comm_dcb_valid(const CommDcb &dcb);
