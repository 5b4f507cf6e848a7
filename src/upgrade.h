// The upgrade worker: once a second it looks at the step the console watcher has reached
// and, when the box has shown its prompt, types that step's command, serving the step's
// partition file over TFTP where the command is a flash command.
//
// The step state is shared with the console watcher and the wizard without a lock; every
// write is a single store or increment. prompt_ready is the hand-off: the watcher advances
// the step only while it is 0, the worker acts on steps 2..8 only while it is 1 and clears
// it as it sends that step's command, so each prompt yields exactly one command and a prompt
// that arrives while a pass is still running is neither lost nor taken twice.
#pragma once

#include <atomic>
#include <string>

extern std::atomic<int> upgrade_step;    // 0..8
extern std::atomic<int> prompt_ready;    // 1: the box showed its prompt, the command is due
extern std::atomic<int> worker_running;  // the worker loops while 1

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

// The longest the box may stay silent (no console byte, no TFTP transfer running) once it
// has answered, before the upgrade gives up on it. Writing a large root image to flash is the
// longest quiet stretch a working box has. Tests shorten it; nothing else changes it.
constexpr int box_silence_limit_default_ms = 180000;
extern std::atomic<int> box_silence_limit_ms;

// While the box prints its boot output the break key goes out this often, so that a boot
// loader that waits only a fraction of a second for it is still stopped; for at most
// fast_break_window_ms after the output began, so a box that boots past its loader is not
// flooded for ever.
constexpr int fast_break_interval_ms = 100;
constexpr int fast_break_window_ms = 20000;

// Called for every character the box's console delivers (the console watcher does): the box
// is alive, and at step 0 its boot output has begun.
void note_console_activity();

// The worker's body. Returns 0 when the loop has ended (reboot sent, or worker_running
// cleared by Exit, Previous, the box's failure code or a failed write to the port).
int threadCommandMain(UpgradeHost *window);

// Clears worker_running and wakes a worker sleeping between passes, so that Previous and
// the failure path do not wait out a one- or ten-second pause.
void stop_worker();
