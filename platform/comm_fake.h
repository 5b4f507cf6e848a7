// A serial device for tests: the test plays the far end (bytes in, lines, errors, a vanished
// device) and reads back what the code under test did (every call in order, the bytes
// written, the settings). It behaves like a driver, not like a per-test mock: reads take
// what has arrived, the input queue is bounded by SetupComm, writes complete, waits end on
// events of the mask or on the stop event.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm.h"

class FakeCommDevice;

// One fake line and the state of the device opened on it. Thread-safe.
class FakeCommLine {
 public:
  // -- the far end --
  // Bytes arrive in the input queue (EV_RXCHAR, EV_RXFLAG, EV_RX80FULL as the fill passes
  // 80 % of the SetupComm size), with line errors that came with them (COMM_CE_… bits,
  // EV_ERR) in the same wake-up.
  void push_input(const std::string &bytes, uint32_t errors = 0);
  std::string output() const;  // everything written so far
  std::string take_output();
  void set_modem_status(uint32_t status);  // COMM_MS_… bits; changes raise their events
  void raise_errors(uint32_t errors);      // COMM_CE_… bits; EV_ERR, and EV_BREAK for a break
  void vanish();                           // unplugged: waits and I/O fail from now on
  void set_held(bool held);                // another program has it: opens fail with 5
  void hold_writes(bool hold);             // writes stay pending until released, purged or closed

  // -- what happened --
  // "CreateFile", "SetupComm 1024 1024", "SetCommState", "SetCommTimeouts", "SetCommMask 0x5ff",
  // "WaitCommEvent", "ReadFile 10", "WriteFile 3", "PurgeComm 0x3", "ClearCommError",
  // "GetCommModemStatus", "EscapeCommFunction 5", "TransmitCommChar", "CloseHandle".
  std::vector<std::string> calls() const;
  // Number of recorded calls whose text starts with prefix.
  int count(const std::string &prefix) const;
  void clear_calls();
  // The next call whose name is `call` fails with `error` (once).
  void fail_next(const std::string &call, uint32_t error);

  bool is_open() const;
  CommDcb dcb() const;
  CommTimeouts timeouts() const;
  uint32_t mask() const;
  uint32_t in_queue() const;
  uint32_t out_queue() const;
  uint32_t escapes_dtr_rts() const;  // TIOCM-like: bit 0 DTR, bit 1 RTS, bit 2 break

 private:
  friend class FakeCommDevice;
  friend class FakeCommBackend;
  // Records the call; returns the error injected for it, or COMM_OK.
  uint32_t record_locked(const std::string &name, const std::string &args = "");
  void wake_locked();

  mutable std::mutex m_;
  std::condition_variable cv_;
  CommEvent changed_;
  std::vector<std::string> calls_;
  std::map<std::string, uint32_t> failures_;
  std::string input_;
  std::string output_;
  uint32_t pending_ev_ = 0;
  uint32_t errors_ = 0;
  uint32_t modem_ = 0;
  uint32_t lines_ = 0;
  bool vanished_ = false;
  bool held_ = false;
  bool hold_writes_ = false;
  bool open_ = false;
  uint64_t generation_ = 0;  // bumped by each purge of writes and by close
  CommDcb dcb_;
  CommTimeouts timeouts_;
  uint32_t mask_ = 0;
  uint32_t in_queue_ = 4096;
  uint32_t out_queue_ = 4096;
};

// Opens the fake lines it was given; any other name does not exist (error 2).
class FakeCommBackend : public CommBackend {
 public:
  std::shared_ptr<FakeCommLine> add(const std::string &port);
  uint32_t CreateFile(const std::string &Port, bool Overlapped, std::shared_ptr<CommDevice> &Device) override;

 private:
  std::mutex m_;
  std::map<std::string, std::shared_ptr<FakeCommLine>> lines_;
};
