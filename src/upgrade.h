// The upgrade worker: once a second it looks at the step the console watcher has reached
// and, when the box has shown its prompt, types that step's command, serving the step's
// partition file over TFTP where the command is a flash command.
//
// Everything one upgrade needs lives in an UpgradeSession: its step state, its inputs, its
// partition files and the server that hands them to its box, so that a station can drive
// many boxes side by side. The window has one session of its own, whose step state keeps
// the window's names (upgrade_step, prompt_ready, worker_running) and whose inputs are the
// wizard's (machine_ip, local_ip, the partition files of temp_dir).
//
// The step state is shared with the console watcher and the wizard without a lock; every
// write is a single store or increment. prompt_ready is the hand-off: the watcher advances
// the step only while it is 0, the worker acts on steps 2..8 only while it is 1 and clears
// it as it sends that step's command, so each prompt yields exactly one command and a prompt
// that arrives while a pass is still running is neither lost nor taken twice.
#pragma once

#include "src/imageprep.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>

constexpr char break_key = 0x03;
extern const char *const cfe_commands[8];

// Percent and text of each step's status line (index = step); null where a step has none.
struct StepStatus {
  int percent;
  const char *text;
};
extern const StepStatus step_status[9];

// What the worker needs from the window. Called on the worker's thread: every call must
// return without waiting for the GUI thread.
class UpgradeHost {
 public:
  virtual ~UpgradeHost() = default;
  // Writes to the box's console; false when the port failed (the error is in `error`).
  virtual bool port_write(const char *data, int count, std::string &error) = 0;
  virtual void show_status(int percent, const char *text) = 0;
  virtual void set_exit_enabled(bool enabled) = 0;
  virtual void set_prompt_label_visible(bool visible) = 0;
  // The worker's last act: both wizard buttons back.
  virtual void worker_finished() = 0;
  // The serial port's name, for the closing log line.
  virtual std::string port_name() const = 0;
  // The number of the last numbered status line the user has seen (0 before the first).
  virtual int last_line_number() const = 0;
  // A flash step's transfer has ended: the partition file served, whether the box took all
  // of it, and how many of its bytes the box acknowledged.
  virtual void transfer_ended(const std::string &file, bool completed, unsigned long long bytes) {
    (void)file, (void)completed, (void)bytes;
  }
};

// port_write for a host whose console is a serial port (anything with Write(data, count)
// that throws a std::exception when the port fails): a short write fails too.
template <class Port>
bool write_whole(Port &port, const char *data, int count, std::string &error) {
  try {
    if (port.Write(data, count) == count)
      return true;
    error = "short write";
  } catch (const std::exception &e) {
    error = e.what();
  }
  return false;
}

// The longest the box may stay silent (no console byte, no TFTP transfer running) once it
// has answered, before the upgrade gives up on it: the base, a setting of the window and
// zevavi-flash's --silence. A step that writes or erases flash gets more (silence_limit_ms).
constexpr int box_silence_limit_default_ms = 180000;
extern std::atomic<int> box_silence_limit_ms;

// The slowest flash a box of the family may carry writes (and erases) about this fast; a
// working box can be quiet for as long as that takes, on top of the base.
constexpr uint64_t slowest_flash_bytes_per_s = 64 * 1024;

// The silence a step may take: `base_ms` plus the time the slowest flash needs for `bytes`,
// at most INT_MAX.
int silence_limit_ms(int base_ms, uint64_t bytes);

// A whole number of seconds from 1 to a day, in decimal digits only: false for anything
// else (a sign, a space, a unit, an overflow).
bool parse_seconds(const std::string &text, int &seconds);

// While the box prints its boot output the break key goes out this often, so that a boot
// loader that waits only a fraction of a second for it is still stopped; for at most
// fast_break_window_ms after the output began, so a box that boots past its loader is not
// flooded for ever.
constexpr int fast_break_interval_ms = 100;
constexpr int fast_break_window_ms = 20000;

// How a session's partition files reach its box. The worker calls start and finish in turn
// on its own thread; abort may come from any thread and never blocks.
class PartitionServer {
 public:
  virtual ~PartitionServer() = default;
  // Serves `file` to the box: true when the box's read request can now be answered; false
  // (and a log line) when it cannot, so the flash command is not typed.
  virtual bool start(const std::string &file) = 0;
  // Waits until the transfer started last has ended: true when the box took all of it.
  virtual bool finish() = 0;
  // Ends a running transfer now; finish then returns within moments.
  virtual void abort() = 0;
  // Bytes of the file the box acknowledged in the last transfer.
  virtual unsigned long long bytes_served() const = 0;
};

class UpgradeSession {
 public:
  UpgradeSession() = default;
  UpgradeSession(const UpgradeSession &) = delete;
  UpgradeSession &operator=(const UpgradeSession &) = delete;

  // Inputs, set before run and only read while the worker runs.
  std::string box_ip;                               // typed into the box's ifconfig
  std::string pc_ip;                                // the address the box fetches its partitions from
  std::array<std::string, IMAGE_FILE_COUNT> files;  // as image_files() orders them
  PartitionServer *server = nullptr;
  // Put before the worker's log lines, so that the lines of many boxes can be told apart.
  std::string log_tag;

  std::atomic<int> upgrade_step{0};    // 0..8
  std::atomic<int> prompt_ready{0};    // 1: the box showed its prompt, the command is due
  std::atomic<int> worker_running{0};  // the worker loops while 1

  // The worker's body. Returns 0 when the loop has ended (reboot sent, or worker_running
  // cleared by stop_worker, the box's failure code or a failed write to the port).
  int run(UpgradeHost *host);

  // Clears worker_running and wakes a worker sleeping between passes, so that leaving the
  // upgrade or the box's failure do not wait out a one- or ten-second pause.
  void stop_worker();

  // Called for every character the box's console delivers (the console watcher does): the
  // box is alive, and at step 0 its boot output has begun.
  void note_console_activity();

 private:
  struct Pass;
  bool pause(int ms);
  void end_upgrade(UpgradeHost *host, const std::string &line);
  bool send(UpgradeHost *host, const char *data, int len);
  bool serve(UpgradeHost *host, const std::string &file);
  bool box_went_silent(UpgradeHost *host, int step, const Pass &pass);
  int step0_pause_ms(Pass &pass);
  void log_sent(const char *data, int len, int step);

  std::mutex pause_mutex_;
  std::condition_variable pause_wake_;
  // Set when the box's first character since the worker started arrives: the pass sleeping
  // at step 0 wakes to go on with the short break-key cadence at once.
  bool wake_pass_ = false;  // under pause_mutex_
  // Steady-clock milliseconds of the box's last console character; 0 when none came since
  // the worker started.
  std::atomic<int64_t> last_console_ms_{0};
};

// The window's session: the wizard's step state under its own names.
extern UpgradeSession window_session;
extern std::atomic<int> &upgrade_step;
extern std::atomic<int> &prompt_ready;
extern std::atomic<int> &worker_running;

// The window's worker: runs window_session with the wizard's inputs (machine_ip, local_ip,
// the partition files of temp_dir) and the single-file TFTP server.
int threadCommandMain(UpgradeHost *window);

// window_session.note_console_activity() and .stop_worker().
void note_console_activity();
void stop_worker();
