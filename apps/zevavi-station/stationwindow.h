// The station window: the line at a glance for the operator at the fixtures. One row per
// fixture (port, box address, MAC of the box on it, step, percent, lamp, last line), Start
// and Stop for the whole station and per unit, "again" for the box on a unit, the running
// totals and the last failures, a unit's console and records on demand. Underneath runs the
// same engine as zevavi-flash --station --continuous.
#pragma once

#include "apps/station/stationengine.h"
#include "apps/station/stationpage.h"
#include "apps/zevavi-flash/flashargs.h"

#include <QByteArray>
#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class Dialogs;
class QLabel;
class QTableWidget;
class TComTerminal;
class TKyListView;
class TskButton;
class TskCheckBox;
class TskComboBox;
class TskEdit;
class TskProgressBar;
class TskSpinEdit;
class TskToolBarSpeedButton;

// What a unit's lamp shows.
enum class UnitLamp { waiting, flashing, passed, failed };

class StationWindow : public QWidget {
  Q_OBJECT

 public:
  // `dialogs` answers the window's questions and must outlive it. `records` is the records'
  // place ("" for the records file in the user's data folder).
  explicit StationWindow(Dialogs &dialogs, const std::string &records = {}, QWidget *parent = nullptr);
  ~StationWindow() override;

  // The grid as the operator sees it, a unit at a time.
  struct UnitView {
    std::string port, box, mac, step, line;
    std::string code;  // the box's failure code, once it gave one
    int percent = 0;
    UnitLamp lamp = UnitLamp::waiting;
    int passed = 0, failed = 0;
  };
  struct Failure {
    size_t unit;
    std::string when;  // local time of day
    std::string port, mac, step, code;
  };

  // The units in the grid; false with the sentence for the user when one is not a unit.
  bool units(std::vector<StationUnit> &out, std::string &error) const;
  void set_units(const std::vector<StationUnit> &units);
  UnitView unit_view(size_t unit) const;
  int total_passed() const { return total_passed_; }
  int total_failed() const { return total_failed_; }
  const std::vector<Failure> &failures() const { return failures_; }
  bool running() const { return engine_ != nullptr; }
  // The token that lets the page start and stop units (zevavi-flash --http-control); "" keeps
  // the page read-only.
  void set_page_token(const std::string &token) { page_token_ = token; }
  // The port the page serves on while the station runs; 0 when it serves none.
  int page_port() const;

  // The operator's commands, as the buttons give them.
  void start_station();
  void stop_station();
  void start_unit(size_t unit);
  void stop_unit(size_t unit);
  void again_unit(size_t unit);
  void load_units();
  void save_units();
  void choose_image();
  // The unit's console in a window of its own, fed as the box speaks; and its records, a
  // row an attempt (null when they cannot be read: the operator has been told why).
  TComTerminal *show_console(size_t unit);
  QTableWidget *show_records(size_t unit);

  // The controls a test drives.
  TskComboBox *cbMachine;
  TskEdit *edtImage, *edtPcAddress;
  // The station's web page: ADDRESS:PORT, as zevavi-flash --http; empty for none.
  TskEdit *edtPage;
  TskButton *btnImage;
  TskToolBarSpeedButton *btnStart, *btnStop, *btnStartUnit, *btnStopUnit, *btnAgain, *btnConsole, *btnRecords,
      *btnAddUnit, *btnRemoveUnit, *btnLoadUnits, *btnSaveUnits;
  TskCheckBox *chkOnTop;
  TskSpinEdit *speFailures;
  QTableWidget *grid;
  QLabel *lbTotals, *lbNote;
  TKyListView *lvFailures;

 protected:
  void closeEvent(QCloseEvent *event) override;

 private:
  class Watch;
  friend class Watch;

  void build_controls();
  void add_row(const StationUnit &unit);
  int selected_unit() const;
  void show_row(size_t unit);
  void show_totals();
  void show_failures();
  void update_buttons();
  void note(const std::string &text);
  // The last unit has stopped: the station is closed down, and the window with it when it
  // was closing.
  void station_stopped();
  // The page stops serving (the station has stopped, or the window goes).
  void close_page();

  // Events from the engine, on the GUI thread in the order the engine gave them.
  void on_status(size_t unit, int percent, const std::string &text, const std::string &code);
  void on_outcome(size_t unit, int exit_code, const std::string &text, const std::string &mac);
  void on_state(size_t unit, const std::string &state, const std::string &mac);
  void on_message(const std::string &type, int exit_code, const std::string &text);
  void on_console(size_t unit, const QByteArray &bytes);

  Dialogs &dialogs_;
  const std::string records_;
  FlashOptions options_;
  std::unique_ptr<Watch> watch_;
  std::unique_ptr<StationPageTee> shown_;  // the window, and the page once it serves
  std::unique_ptr<StationEngine> engine_;
  std::string page_token_;
  std::shared_ptr<StationPageCommands> page_commands_;
  std::unique_ptr<StationWeb> page_;
  std::vector<UnitView> views_;
  std::vector<QByteArray> consoles_;
  std::vector<QPointer<TComTerminal>> console_windows_;
  std::vector<Failure> failures_;
  int total_passed_ = 0, total_failed_ = 0;
  QDateTime started_;
  bool opening_ = false;  // errors while the station opens are told in a message
  bool closing_ = false;  // the operator asked to close; the window goes once every unit stopped
  int generation_ = 0;    // of the engine whose events are shown
};
