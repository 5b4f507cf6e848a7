// The station: many boxes of one model upgraded from one PC, each fixture with its own serial
// console, address, upgrade session and worker, all fed by one TFTP service on port 69 that
// tells the boxes apart by their address. In continuous mode each fixture takes box after box
// until it is stopped. zevavi-flash --station shows it as a terminal table, the station window
// as a grid; both only watch it through a StationObserver and steer it through StationEngine.
#pragma once

#include "apps/zevavi-flash/flashargs.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What a station tells whoever shows it. `unit` is the unit's place in FlashOptions::units.
// status and transfer come from the workers' and the server's threads; the rest from the
// thread that runs the engine (the Qt main thread).
class StationObserver {
 public:
  virtual ~StationObserver() = default;

  // A status line of the unit's upgrade (text) or a progress-only update (no text), with the
  // box's failure code when the line carries one.
  virtual void status(size_t unit, int number, int percent, const char *text, const std::string &code) = 0;
  // A partition file's transfer to the unit's box is over.
  virtual void transfer(size_t unit, const std::string &file, bool completed, unsigned long long bytes) = 0;
  // A box's upgrade is over: `exit_code` and the sentence that says how, and the box's
  // address as its boot loader printed it ("" when it showed none).
  virtual void outcome(size_t unit, int exit_code, const std::string &text, const std::string &mac) = 0;
  // Continuous mode: a unit's state between boxes ("waiting for the next box", "stopped"),
  // or a new box on it with its address.
  virtual void unit_state(size_t unit, const std::string &state, const std::string &mac) = 0;
  // A message about the whole station: `type` "note", "error" or "result".
  virtual void message(const char *type, int exit_code, const std::string &text) = 0;
  // What the unit's console received, as it came.
  virtual void console(size_t unit, const char *data, int count) {
    (void)unit;
    (void)data;
    (void)count;
  }
};

class StationEngine {
 public:
  // `program` heads the log lines and names the program in notes; `all_stopped` is called
  // (on the main thread) each time the last running unit has stopped. Observer and options
  // must outlive the engine.
  StationEngine(const FlashOptions &options, StationObserver &observer, const char *program,
                std::function<void()> all_stopped);
  ~StationEngine();
  StationEngine(const StationEngine &) = delete;
  StationEngine &operator=(const StationEngine &) = delete;

  // Everything a box needs before any is touched: the PC's address, room for the files,
  // port 69, the records and the image, unpacked once. 0, or the exit code of the refusal
  // after it has been told to the observer; nothing is left behind then.
  int open();
  // Opens every unit's console and sets it going (a unit whose console cannot be opened is
  // over at once, with its outcome told).
  void start();

  size_t size() const;
  bool continuous() const;
  // Every unit has stopped (one-shot: every box is done).
  bool all_done() const;
  int flashing() const;
  bool unit_flashing(size_t unit) const;
  bool unit_stopped(size_t unit) const;
  int passed(size_t unit) const;
  int failed(size_t unit) const;
  // How the unit's last box ended: its exit code and a sentence.
  int result(size_t unit, std::string &text) const;

  // Continuous mode: no further box; a unit waiting stops now, one flashing once its box is
  // done.
  void stop_after_box();
  void stop_after_box(size_t unit);
  // A stopped unit waits for boxes again (its console reopened when its line had gone), one
  // told to stop after its box goes on after it; false with a message to the observer when
  // it cannot.
  bool resume(size_t unit);
  // Ends every unit's box now, with this outcome and sentence.
  void interrupt(int outcome, const std::string &why);
  // The operator asks for the box on this unit's fixture again.
  void take_same_box_again(size_t unit);
  // Called now and then from the main thread: a banner without an address may by now be
  // the next box.
  void tick();

  // After the units are done: collects the workers, closes the consoles and port 69,
  // removes the partition files and writes what the records still owe. Returns the number
  // of attempts that could not be written to the records.
  size_t finish();

 private:
  class Unit;
  class Recorder;
  struct Run;
  std::unique_ptr<Run> run_;
};
