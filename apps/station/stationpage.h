// The station's web page (--http) beside whatever else shows the station: it hears the same
// engine events as the terminal's table or the window, and hands the page's start and stop
// requests to the station's own thread.
#pragma once

#include "apps/station/stationengine.h"
#include "lib/stationweb.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

// Passes every event on to `shown` (the table, the window) and, once a page is attached, the
// units' steps, outcomes and states to the page too. Called from any thread, as the engine
// calls its observer.
class StationPageTee final : public StationObserver {
 public:
  explicit StationPageTee(StationObserver &shown) : shown_(shown) {}

  // The page hears of every change from now on (nullptr: no longer).
  void attach(StationWeb *page) { page_.store(page); }

  void status(size_t unit, int number, int percent, const char *text, const std::string &code) override;
  void transfer(size_t unit, const std::string &file, bool completed, unsigned long long bytes) override;
  void outcome(size_t unit, int exit_code, const std::string &text, const std::string &mac) override;
  void unit_state(size_t unit, const std::string &state, const std::string &mac) override;
  void message(const char *type, int exit_code, const std::string &text) override;
  void console(size_t unit, const char *data, int count) override;

 private:
  StationObserver &shown_;
  std::atomic<StationWeb *> page_{nullptr};
};

using StationPageCommands = std::function<void(const StationCommand &)>;

// Starts the page of the station that `options` describe (options.http_address and _port, its
// records, options.http_token) and tells `told` where it serves ("http" message). Requests to
// start or stop units go to `commands` on the GUI thread while it lives. Null, after telling
// `told` why, when it cannot serve.
std::unique_ptr<StationWeb> start_station_page(const FlashOptions &options, StationObserver &told,
                                               const std::shared_ptr<StationPageCommands> &commands);

// What a page's request does to `engine`: start (take boxes again) or stop after the box, one
// unit or every unit.
void run_page_command(StationEngine &engine, const StationCommand &command);
