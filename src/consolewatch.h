// The console watcher: reads the box's console one character at a time (after the terminal
// has taken out escape sequences) for the start of its boot output, its prompt and the
// result code of each command, and moves the upgrade step on.
#pragma once

class UpgradeSession;

// What the watcher needs from the window. Called on the GUI thread.
class WatcherHost {
 public:
  virtual ~WatcherHost() = default;
  virtual int machine() const = 0;  // an index into box_models
  virtual int status_count() const = 0;
  // The number of the last numbered status line shown: the step the failure line quotes.
  virtual int last_line_number() const = 0;
  virtual void show_status(int percent, const char *text) = 0;
  // The box reported a failure: stop the TFTP server (waiting for it) and let the worker go
  // without waiting for it.
  virtual void release_upgrade() = 0;
};

class ConsoleWatcher {
 public:
  // Watches for the window's session.
  ConsoleWatcher();
  explicit ConsoleWatcher(UpgradeSession &session) : session_(session) {}
  void on_char(char ch, WatcherHost &host);
  // Forgets what it has read, for the next box's upgrade on the same console.
  void reset();
  // Longest failure code kept: "-" and three digits. Further digits are dropped.
  static constexpr int max_code_length = 4;

 private:
  UpgradeSession &session_;
  char console_tail[4] = {};
  int err_capture = 0;
  int err_len = 0;
  char err_code[max_code_length + 1] = {};
};
