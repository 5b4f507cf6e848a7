#include "apps/zevavi-flash/station.h"

#include "apps/station/consolerun.h"
#include "apps/station/stationengine.h"
#include "apps/station/stationpage.h"
#include "lib/jsontext.h"
#include "lib/log.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/paths.h"
#include "platform/stopsignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const char *const station_name = "zevavi-flash --station";

// What the technician sees of all boxes: a table redrawn in place on a terminal, one line
// per event otherwise, one JSON object per event with --json. Called from the workers'
// threads and the main thread.
class Board final : public StationObserver {
 public:
  struct Row {
    std::string port, box;
    std::string mac = {};  // of the box on the fixture, as its boot loader printed it
    int percent = 0;
    std::string doing = "waiting";  // the last status line, or the outcome
    int passed = 0, failed = 0;     // boxes so far, in continuous mode
  };

  Board(bool json, const std::vector<StationUnit> &units) : json_(json), tty_(!json && stdout_is_terminal()) {
    for (const StationUnit &unit : units)
      rows_.push_back({unit.port, unit.box});
  }

  void status(size_t i, int number, int percent, const char *text, const std::string &code) override {
    std::lock_guard lock(mutex_);
    Row &row = rows_[i];
    row.percent = percent;
    if (text)
      row.doing = std::to_string(number) + ". " + text;
    if (json_) {
      put_line(status_json(number, percent, text, code, who(row)));
    } else if (!tty_ && text) {
      put_line(row.port + " " + row.box + ": " + row.doing);
    }
    dirty_ = true;
  }

  void transfer(size_t i, const std::string &file, bool completed, unsigned long long bytes) override {
    if (!json_)
      return;
    std::lock_guard lock(mutex_);
    put_line("{\"type\":\"transfer\"" + who(rows_[i]) + ",\"file\":" + json_text(file) + ",\"completed\":" +
             (completed ? "true" : "false") + ",\"bytes\":" + std::to_string(bytes) + "}");
  }

  void outcome(size_t i, int exit_code, const std::string &text, const std::string &mac) override {
    std::lock_guard lock(mutex_);
    Row &row = rows_[i];
    row.mac = mac;
    row.doing = exit_code == exit_finished ? std::string("finished") : "FAILED: " + text;
    ++(exit_code == exit_finished ? row.passed : row.failed);
    if (json_)
      put_line("{\"type\":\"unit\"" + who(row) + ",\"mac\":" + json_text(mac) +
               ",\"exit\":" + std::to_string(exit_code) + ",\"text\":" + json_text(text) + "}");
    else if (!tty_)
      put_line(row.port + " " + row.box + (mac.empty() ? "" : " " + mac) + ": " + row.doing);
    dirty_ = true;
  }

  void unit_state(size_t i, const std::string &state, const std::string &mac) override {
    std::lock_guard lock(mutex_);
    Row &row = rows_[i];
    row.mac = mac;
    row.percent = 0;
    if (row.passed + row.failed > 0)
      row.doing =
          state + " (" + std::to_string(row.passed) + " passed, " + std::to_string(row.failed) + " failed)";
    else
      row.doing = state;
    if (json_)
      put_line("{\"type\":\"state\"" + who(row) + ",\"mac\":" + json_text(mac) +
               ",\"text\":" + json_text(state) + "}");
    else if (!tty_)
      put_line(row.port + " " + row.box + (mac.empty() ? "" : " " + mac) + ": " + row.doing);
    dirty_ = true;
  }

  void message(const char *type, int exit_code, const std::string &text) override {
    std::lock_guard lock(mutex_);
    if (json_) {
      put_line(std::string("{\"type\":\"") + type + "\",\"exit\":" + std::to_string(exit_code) +
               ",\"text\":" + json_text(text) + "}");
      return;
    }
    std::FILE *to = exit_code == 0 ? stdout : stderr;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
    drawn_ = 0;  // the table starts afresh below the message
    dirty_ = true;
  }

  // On a terminal: the table, in place of the one drawn last.
  void redraw() {
    std::lock_guard lock(mutex_);
    if (!tty_ || !dirty_)
      return;
    std::string out;
    if (drawn_ > 0)
      out += "\033[" + std::to_string(drawn_) + "A";
    char line[512];
    std::snprintf(line, sizeof line, "\r\033[K%-22s %-15s %-17s %4s  %s\n", "PORT", "BOX", "MAC", "DONE",
                  "STEP / STATE");
    out += line;
    for (const Row &row : rows_) {
      std::string port = row.port.size() > 22 ? "..." + row.port.substr(row.port.size() - 19) : row.port;
      std::snprintf(line, sizeof line, "\r\033[K%-22s %-15s %-17s %3d%%  %.120s\n", port.c_str(),
                    row.box.c_str(), row.mac.empty() ? "-" : row.mac.c_str(), row.percent, row.doing.c_str());
      out += line;
    }
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    drawn_ = int(rows_.size()) + 1;
    dirty_ = false;
  }

 private:
  static std::string who(const Row &row) {
    return ",\"port\":" + json_text(row.port) + ",\"box\":" + json_text(row.box);
  }
  void put_line(const std::string &line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  std::mutex mutex_;
  const bool json_, tty_;
  std::vector<Row> rows_;
  bool dirty_ = true;
  int drawn_ = 0;
};

// What the operator types while the line runs, one line at a time, handed to `on_line` on
// the main thread while `on_line` lives. The reading thread is left to end with the
// program: a read from the console cannot be taken back portably.
void read_operator_lines(const std::shared_ptr<std::function<void(const std::string &)>> &on_line) {
  std::weak_ptr<std::function<void(const std::string &)>> target = on_line;
  std::thread([target] {
    for (std::string line; std::getline(std::cin, line);)
      post_to_gui([target, line] {
        if (auto call = target.lock())
          (*call)(line);
      });
  }).detach();
}

}  // namespace

int run_station(const FlashOptions &options, int stop_requests) {
  Board board(options.json, options.units);
  StationPageTee shown(board);
  StationEngine engine(options, shown, station_name, [] { QCoreApplication::exit(0); });
  if (const int refusal = engine.open(); refusal != 0)
    return refusal;
  // The page (--http) serves before any box is touched, so that it sees every one.
  auto web_commands = std::make_shared<StationPageCommands>(
      [&engine](const StationCommand &command) { run_page_command(engine, command); });
  std::unique_ptr<StationWeb> web;
  if (!options.http_address.empty()) {
    if (!(web = start_station_page(options, board, web_commands)))
      return exit_usage;
    shown.attach(web.get());
  }
  engine.start();

  // Continuous mode: a unit's number (in the order given, from 1) or its port on standard
  // input makes that unit take the box on it again.
  auto again = std::make_shared<std::function<void(const std::string &)>>([&](const std::string &typed) {
    const size_t first = typed.find_first_not_of(" \t\r");
    const std::string text =
        first == std::string::npos ? "" : typed.substr(first, typed.find_last_not_of(" \t\r") - first + 1);
    if (text.empty())
      return;
    for (size_t i = 0; i < options.units.size(); ++i)
      if (text == options.units[i].port || text == std::to_string(i + 1)) {
        engine.take_same_box_again(i);
        return;
      }
    board.message("note", 0,
                  "\"" + text + "\" names no unit: give its number (1 to " +
                      std::to_string(options.units.size()) + ") or its port to take the box on it again.");
  });
  if (options.continuous)
    read_operator_lines(again);

  bool interrupted = false;
  if (!engine.all_done()) {
    int stop_count = 0;
    QSocketNotifier signal_watch(stop_requests, QSocketNotifier::Read);
    QObject::connect(&signal_watch, &QSocketNotifier::activated, [&] {
      stop_requests_take();
      ++stop_count;
      const int flashing = engine.flashing();
      if (options.continuous && (stop_count == 1 || flashing == 0)) {
        // A box being flashed is finished first: stopping it half-way leaves it erased.
        // Units between boxes stop now, and that is no interruption.
        ZV_LOG(LOG_WARN, station_name, "stopping after the boxes being flashed (%d)", flashing);
        if (flashing > 0)
          board.message(
              "note", 0,
              "Stopping: " + std::to_string(flashing) +
                  " box(es) are still being flashed and will be finished. Ctrl-C again interrupts them.");
        engine.stop_after_box();
        return;
      }
      interrupted = true;
      ZV_LOG(LOG_WARN, station_name, "interrupted");
      engine.interrupt(exit_interrupted, "Interrupted; the upgrade was stopped.");
    });
    QTimer limit;
    if (options.timeout_s > 0) {
      limit.setSingleShot(true);
      QObject::connect(&limit, &QTimer::timeout, [&] {
        ZV_LOG(LOG_WARN, station_name, "time-out");
        engine.interrupt(exit_timed_out, "No end after " + std::to_string(options.timeout_s) + " seconds.");
      });
      limit.start(options.timeout_s * 1000);
    }
    QTimer table;
    QObject::connect(&table, &QTimer::timeout, [&] {
      board.redraw();
      engine.tick();
    });
    table.start(options.continuous ? 100 : 250);
    QCoreApplication::exec();
  }
  again.reset();
  web_commands.reset();
  const size_t unrecorded = engine.finish();

  int finished = 0, failed = 0;
  std::string summary;
  for (size_t i = 0; i < options.units.size(); ++i) {
    const StationUnit &unit = options.units[i];
    if (options.continuous) {
      finished += engine.passed(i);
      failed += engine.failed(i);
      summary += "  " + unit.port + " " + unit.box + ": " + std::to_string(engine.passed(i)) + " passed, " +
                 std::to_string(engine.failed(i)) + " failed\n";
      continue;
    }
    std::string text;
    const int code = engine.result(i, text);
    if (code == exit_finished)
      ++finished;
    else
      ++failed;
    summary += "  " + unit.port + " " + unit.box + ": " +
               (code == exit_finished ? "finished" : "FAILED, " + text) + "\n";
  }
  board.redraw();
  int code = failed == 0 ? exit_finished : interrupted ? exit_interrupted : exit_some_failed;
  std::string text =
      options.continuous
          ? std::to_string(finished) + " boxes passed, " + std::to_string(failed) + " failed."
          : std::to_string(finished) + " of " + std::to_string(options.units.size()) + " boxes finished.";
  if (unrecorded > 0) {
    text +=
        " " + std::to_string(unrecorded) + " attempt(s) could not be written to the records (see the log).";
    if (code == exit_finished)
      code = exit_records;
  }
  if (!options.json)
    text = "Summary: " + text + "\n" + summary.substr(0, summary.size() - 1);
  board.message("result", code, text);
  return code;
}
