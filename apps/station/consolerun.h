// One box's upgrade driven from its serial console, as zevavi-flash runs it for a single box
// and for each box of a station: the console's bytes go through the VT100 parser into the
// console watcher, the worker's status lines decide the exit code, and a lost line, the box's
// failure or a stop from outside end the upgrade. What differs (where lines are shown, how a
// transfer is stopped, what happens once the box is done) is left to the derived class.
#pragma once

#include "comport/serport.h"
#include "comport/serportesc.h"
#include "src/consolewatch.h"
#include "src/upgrade.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

// The JSON object of a status line (text) or a progress-only update (no text); `who` is put
// after the type.
std::string status_json(int number, int percent, const char *text, const std::string &code,
                        const std::string &who = {});

class ConsoleRun : public UpgradeHost, public WatcherHost {
 public:
  // `log_name` heads this run's log lines; `port` is the box's console device.
  ConsoleRun(UpgradeSession &session, const char *log_name, std::string port, int machine);

  // Opens the box's console; "" or the sentence why it cannot be used. `joint` comes between
  // that sentence and the port's own reason when opening failed.
  std::string open_console(const char *joint);
  void close_console();

  // The worker has handed back and, after a box failure, its failure line is out.
  bool settled() const;

  // How the upgrade ended: its exit code (exit_timed_out when nothing decided it) and the
  // sentence that says how.
  int outcome() const;
  std::string outcome_text(int code) const;

  // UpgradeHost, on the worker's thread (show_status on the main thread too).
  bool port_write(const char *data, int count, std::string &error) override {
    return write_whole(port_, data, count, error);
  }
  void show_status(int percent, const char *text) override;
  void set_exit_enabled(bool) override {}
  void set_prompt_label_visible(bool) override {}
  void worker_finished() override;
  std::string port_name() const override { return port_name_; }
  int last_line_number() const override { return last_line_number_.load(); }

  // WatcherHost, on the main thread.
  int machine() const override { return machine_; }
  int status_count() const override { return status_count_.load(); }
  void release_upgrade() override;

 protected:
  // A status line (or progress update) numbered `number`, with the box's failure code.
  virtual void report_status(int number, int percent, const char *text, const std::string &code) = 0;
  // Stops the worker and the transfer it may be waiting on.
  virtual void end_upgrade_now() = 0;
  // The upgrade is over and its last line is out.
  virtual void on_settled() = 0;

  // Every block the console received, as it came (escape sequences and all).
  virtual void on_console_bytes(const char *, int) {}
  // Every console character (escape sequences taken out), before the watcher sees it.
  virtual void on_console_char(char) {}
  // The line went while no upgrade ran on it (watcher_on_ cleared).
  virtual void on_line_lost_between_boxes() {}

  // Makes the run ready for another upgrade on the same console (the next box on the
  // fixture): no outcome, no status lines, a watcher that has read nothing. Main thread,
  // with no worker running.
  void begin_attempt();

  // Calls on_settled once the worker has handed back, after a box failure giving its failure
  // line (which follows the code's digits) a moment to come.
  void settle_when_ready();

  // Takes back a write to the console that the line is not taking (a box holding the line's
  // flow control, a line that stopped moving): the worker waiting on it, and with it a stop
  // from outside (time-out, interrupt), would otherwise wait for ever.
  void abort_console_writes();

  UpgradeSession &session_;
  const char *const log_name_;
  const std::string port_name_;
  const int machine_;
  TComPort port_;
  FILE *console_ = nullptr;  // a copy of every console byte, when wanted
  std::atomic<int> status_count_{0};
  std::atomic<int> last_line_number_{0};
  mutable std::mutex status_mutex_;
  bool upgrade_over_ = false;  // under status_mutex_
  int outcome_ = -1;           // under status_mutex_
  std::string last_text_;      // under status_mutex_
  std::string box_code_;
  bool failure_line_shown_ = false;
  bool worker_done_ = false;  // main thread
  bool grace_over_ = false;   // main thread
  // Between two boxes no upgrade runs: the watcher, which would start one, reads nothing.
  bool watcher_on_ = true;  // main thread

 private:
  void on_rx(const char *buffer, int count);
  void on_device_lost(uint32_t system_error);

  TEscapeCodesVT100 parser_;
  ConsoleWatcher watcher_;
  const std::thread::id main_thread_ = std::this_thread::get_id();
};
