#include "apps/station/stationpage.h"

#include "lib/records.h"
#include "platform/gui.h"
#include "platform/paths.h"

#include <QString>
#include <QSysInfo>

void StationPageTee::status(size_t unit, int number, int percent, const char *text, const std::string &code) {
  shown_.status(unit, number, percent, text, code);
  if (StationWeb *page = page_.load())
    page->publish({StationEvent::Kind::Step,
                   unit,
                   percent,
                   text ? std::to_string(number) + ". " + text : std::string(),
                   {},
                   false});
}

void StationPageTee::transfer(size_t unit, const std::string &file, bool completed,
                              unsigned long long bytes) {
  shown_.transfer(unit, file, completed, bytes);
}

void StationPageTee::outcome(size_t unit, int exit_code, const std::string &text, const std::string &mac) {
  shown_.outcome(unit, exit_code, text, mac);
  if (StationWeb *page = page_.load()) {
    const bool passed = exit_code == exit_finished;
    page->publish({StationEvent::Kind::Outcome, unit, 0, passed ? std::string("finished") : "FAILED: " + text,
                   mac, passed});
  }
}

void StationPageTee::unit_state(size_t unit, const std::string &state, const std::string &mac) {
  shown_.unit_state(unit, state, mac);
  if (StationWeb *page = page_.load())
    page->publish({StationEvent::Kind::State, unit, 0, state, mac, false});
}

void StationPageTee::message(const char *type, int exit_code, const std::string &text) {
  shown_.message(type, exit_code, text);
}

void StationPageTee::console(size_t unit, const char *data, int count) { shown_.console(unit, data, count); }

std::unique_ptr<StationWeb> start_station_page(const FlashOptions &options, StationObserver &told,
                                               const std::shared_ptr<StationPageCommands> &commands) {
  std::vector<std::pair<std::string, std::string>> units;
  for (const StationUnit &unit : options.units)
    units.emplace_back(unit.port, unit.box);
  StationWeb::Options web;
  web.address = options.http_address;
  web.port = options.http_port;
  if (RecordStore::available() || !options.records.empty())
    web.records = options.records.empty() ? data_file_path("records.sqlite") : options.records;
  web.token = options.http_token;
  web.station = QSysInfo::machineHostName().toStdString();
  std::weak_ptr<StationPageCommands> target = commands;
  auto page = std::make_unique<StationWeb>(units, web, [target](const StationCommand &command) {
    post_to_gui([target, command] {
      if (auto call = target.lock())
        (*call)(command);
    });
  });
  if (std::string error; !page->start(error)) {
    told.message("error", exit_usage, error);
    return nullptr;
  }
  told.message("http", 0, "http://" + options.http_address + ":" + std::to_string(page->port()) + "/");
  return page;
}

void run_page_command(StationEngine &engine, const StationCommand &command) {
  for (size_t i = 0; i < engine.size(); ++i)
    if (command.unit < 0 || size_t(command.unit) == i) {
      if (command.action == "start")
        engine.resume(i);
      else
        engine.stop_after_box(i);
    }
}
