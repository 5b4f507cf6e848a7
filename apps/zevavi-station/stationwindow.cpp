#include "apps/zevavi-station/stationwindow.h"

#include "apps/station/csvrows.h"
#include "comport/serportctl.h"
#include "comport/serportctl_led.h"
#include "lib/records.h"
#include "lib/recordsdb.h"
#include "platform/dialogs.h"
#include "platform/gui.h"
#include "platform/paths.h"
#include "src/addresscheck.h"
#include "src/artwork.h"
#include "src/boxmodels.h"
#include "src/formkymain.h"
#include "src/upgrade.h"
#include "src/upgradeengine.h"
#include "widgets/lists/kylistview.h"
#include "widgets/skin/skinbuttonfamily.h"
#include "widgets/skin/skincheckbox.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skineditfamily.h"
#include "widgets/skin/skinprogressbar.h"

#include <QCloseEvent>
#include <QSaveFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QTableWidget>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>
#include <sstream>

namespace {

enum Column { colPort, colBox, colMac, colStep, colDone, colLamp, colBoxes, colLine, columns };

// A console keeps what its box said last: enough for a box's whole upgrade.
constexpr qsizetype console_keep = 256 * 1024;

QPixmap lamp_picture(UnitLamp lamp) {
  switch (lamp) {
    case UnitLamp::flashing:
      return LedGlyph(lkYellowLight, lsOn);
    case UnitLamp::passed:
      return LedGlyph(lkGreenLight, lsOn);
    case UnitLamp::failed:
      return LedGlyph(lkRedLight, lsOn);
    case UnitLamp::waiting:
      break;
  }
  return LedGlyph(lkBulb, lsOff);
}

QString text_of(const std::string &text) { return QString::fromStdString(text); }

TskToolBarSpeedButton *tool_button(QWidget *parent, QHBoxLayout *bar, const char *caption) {
  auto *button = new TskToolBarSpeedButton(QString::fromLatin1(caption), parent);
  button->SetUIStyle(WinXP);
  bar->addWidget(button);
  return button;
}

}  // namespace

// The engine's events, each handed to the window's thread in the order it was given, and
// dropped there when the engine that gave it is no longer the window's.
class StationWindow::Watch final : public StationObserver {
 public:
  Watch(StationWindow &window, int generation) : window_(&window), generation_(generation) {}

  void status(size_t unit, int, int percent, const char *text, const std::string &code) override {
    post([=, line = std::string(text ? text : "")](StationWindow &w) {
      w.on_status(unit, percent, line, code);
    });
  }
  void transfer(size_t, const std::string &, bool, unsigned long long) override {}
  void outcome(size_t unit, int exit_code, const std::string &text, const std::string &mac) override {
    post([=](StationWindow &w) { w.on_outcome(unit, exit_code, text, mac); });
  }
  void unit_state(size_t unit, const std::string &state, const std::string &mac) override {
    post([=](StationWindow &w) { w.on_state(unit, state, mac); });
  }
  // About the whole station, and told at once: a refusal while it opens must reach the
  // operator before Start returns.
  void message(const char *type, int exit_code, const std::string &text) override {
    if (window_)
      window_->on_message(type, exit_code, text);
  }
  void console(size_t unit, const char *data, int count) override {
    post([=, bytes = QByteArray(data, count)](StationWindow &w) { w.on_console(unit, bytes); });
  }

 private:
  template <typename F>
  void post(F fn) {
    post_to_gui([window = window_, generation = generation_, fn] {
      if (window && window->generation_ == generation)
        fn(*window);
    });
  }

  QPointer<StationWindow> window_;
  const int generation_;
};

StationWindow::StationWindow(Dialogs &dialogs, const std::string &records, QWidget *parent)
    : QWidget(parent), dialogs_(dialogs), records_(records) {
  setWindowTitle(QStringLiteral("ZeVavi station"));
  setObjectName(QStringLiteral("StationWindow"));
  build_controls();
  update_buttons();
  resize(1080, 620);
}

StationWindow::~StationWindow() {
  // A window taken down with the station running (the program ending) still ends every
  // box's attempt as a whole record.
  if (engine_) {
    engine_->interrupt(exit_interrupted, "Interrupted; the upgrade was stopped.");
    engine_->finish();
  }
  close_page();
}

void StationWindow::build_controls() {
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  auto *column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 8);
  column->setSpacing(6);

  // The main window's banner, its last column drawn on across any width the window takes.
  const QPixmap banner = banner_artwork();
  QPixmap wide(4096, banner.height());
  {
    QPainter painter(&wide);
    painter.drawPixmap(QRect(banner.width(), 0, wide.width() - banner.width(), banner.height()), banner,
                       QRect(banner.width() - 1, 0, 1, banner.height()));
    painter.drawPixmap(0, 0, banner);
  }
  auto *top = new QLabel(this);
  top->setObjectName(QStringLiteral("imgTop"));
  top->setPixmap(wide);
  top->setMinimumWidth(banner.width());
  top->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  top->setFixedHeight(banner.height());
  top->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  column->addWidget(top);

  auto *inputs = new QHBoxLayout;
  inputs->setContentsMargins(12, 0, 12, 0);
  inputs->addWidget(new QLabel(QStringLiteral("Machine"), this));
  cbMachine = new TskComboBox(this);
  cbMachine->SetUIStyle(WinXP);
  for (const BoxModel &model : box_models)
    cbMachine->addItem(QString::fromLatin1(model.name));
  cbMachine->setCurrentIndex(-1);
  cbMachine->setFixedWidth(96);
  inputs->addWidget(cbMachine);
  inputs->addSpacing(12);
  inputs->addWidget(new QLabel(QStringLiteral("Image"), this));
  edtImage = new TskEdit(this);
  edtImage->SetUIStyle(WinXP);
  edtImage->setEnabled(false);
  inputs->addWidget(edtImage, 1);
  btnImage = new TskButton(this);
  btnImage->SetUIStyle(WinXP);
  btnImage->setText(QStringLiteral(">"));
  btnImage->setFixedSize(16, 21);
  inputs->addWidget(btnImage);
  inputs->addSpacing(12);
  inputs->addWidget(new QLabel(QStringLiteral("Local IP"), this));
  edtPcAddress = new TskEdit(this);
  edtPcAddress->SetUIStyle(WinXP);
  edtPcAddress->setPlaceholderText(QStringLiteral("facing the boxes"));
  edtPcAddress->setFixedWidth(110);
  inputs->addWidget(edtPcAddress);
  inputs->addSpacing(12);
  inputs->addWidget(new QLabel(QStringLiteral("Web page"), this));
  edtPage = new TskEdit(this);
  edtPage->SetUIStyle(WinXP);
  edtPage->setPlaceholderText(QStringLiteral("none"));
  edtPage->setToolTip(QStringLiteral("ADDRESS:PORT the station's page is served on, such as 0.0.0.0:8080"));
  edtPage->setFixedWidth(130);
  inputs->addWidget(edtPage);
  column->addLayout(inputs);

  auto *bar = new QHBoxLayout;
  bar->setContentsMargins(8, 0, 12, 0);
  bar->setSpacing(2);
  btnStart = tool_button(this, bar, "Start");
  btnStop = tool_button(this, bar, "Stop");
  bar->addSpacing(14);
  btnStartUnit = tool_button(this, bar, "Start unit");
  btnStopUnit = tool_button(this, bar, "Stop unit");
  btnAgain = tool_button(this, bar, "Again");
  btnConsole = tool_button(this, bar, "Console");
  btnRecords = tool_button(this, bar, "Records");
  bar->addSpacing(14);
  btnAddUnit = tool_button(this, bar, "Add unit");
  btnRemoveUnit = tool_button(this, bar, "Remove unit");
  btnLoadUnits = tool_button(this, bar, "Load units...");
  btnSaveUnits = tool_button(this, bar, "Save units...");
  bar->addStretch(1);
  chkOnTop = new TskCheckBox(QStringLiteral("Stay on top"), this);
  chkOnTop->SetUIStyle(WinXP);
  bar->addWidget(chkOnTop);
  column->addLayout(bar);

  grid = new QTableWidget(0, columns, this);
  grid->setObjectName(QStringLiteral("grid"));
  grid->setHorizontalHeaderLabels(
      {"Port", "Box", "MAC", "Step", "Done", "State", "Pass / fail", "Last line"});
  // Ports are device paths, told apart by their ends.
  grid->setTextElideMode(Qt::ElideMiddle);
  grid->setWordWrap(false);
  grid->verticalHeader()->setDefaultSectionSize(28);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                        QAbstractItemView::AnyKeyPressed);
  QHeaderView *header = grid->horizontalHeader();
  const int widths[columns] = {150, 95, 125, 262, 100, 44, 84, 0};
  for (int c = 0; c < colLine; ++c)
    header->resizeSection(c, widths[c]);
  header->setStretchLastSection(true);
  column->addWidget(grid, 1);

  auto *bottom = new QHBoxLayout;
  bottom->setContentsMargins(12, 0, 12, 0);
  auto *totals = new QVBoxLayout;
  lbTotals = new QLabel(this);
  lbTotals->setObjectName(QStringLiteral("lbTotals"));
  QFont big = lbTotals->font();
  big.setPointSizeF(big.pointSizeF() * 1.3);
  big.setBold(true);
  lbTotals->setFont(big);
  totals->addWidget(lbTotals);
  lbNote = new QLabel(this);
  lbNote->setObjectName(QStringLiteral("lbNote"));
  lbNote->setWordWrap(true);
  QPalette grey = lbNote->palette();
  grey.setColor(QPalette::WindowText, QColor(0x60, 0x60, 0x60));
  lbNote->setPalette(grey);
  totals->addWidget(lbNote);
  auto *keep = new QHBoxLayout;
  keep->addWidget(new QLabel(QStringLiteral("Failures listed"), this));
  speFailures = new TskSpinEdit(this);
  speFailures->SetUIStyle(WinXP);
  speFailures->SetBounds(1, 99);
  speFailures->SetValue(8);
  speFailures->setFixedWidth(56);
  keep->addWidget(speFailures);
  keep->addStretch(1);
  totals->addLayout(keep);
  totals->addStretch(1);
  bottom->addLayout(totals, 2);
  auto *last = new QVBoxLayout;
  last->addWidget(new QLabel(QStringLiteral("Last failures"), this));
  lvFailures = new TKyListView(this);
  lvFailures->setObjectName(QStringLiteral("lvFailures"));
  lvFailures->setFixedHeight(110);
  lvFailures->setColumnWidth(0, 620);
  last->addWidget(lvFailures);
  bottom->addLayout(last, 3);
  column->addLayout(bottom);
  show_totals();

  connect(btnImage, &QPushButton::clicked, this, [this] { choose_image(); });
  connect(btnStart, &QPushButton::clicked, this, [this] { start_station(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { stop_station(); });
  auto on_selected = [this](void (StationWindow::*command)(size_t)) {
    return [this, command] {
      if (const int unit = selected_unit(); unit >= 0)
        (this->*command)(size_t(unit));
    };
  };
  connect(btnStartUnit, &QPushButton::clicked, this, on_selected(&StationWindow::start_unit));
  connect(btnStopUnit, &QPushButton::clicked, this, on_selected(&StationWindow::stop_unit));
  connect(btnAgain, &QPushButton::clicked, this, on_selected(&StationWindow::again_unit));
  connect(btnConsole, &QPushButton::clicked, this, [this] {
    if (const int unit = selected_unit(); unit >= 0)
      show_console(size_t(unit));
  });
  connect(btnRecords, &QPushButton::clicked, this, [this] {
    if (const int unit = selected_unit(); unit >= 0)
      show_records(size_t(unit));
  });
  connect(btnAddUnit, &QPushButton::clicked, this, [this] {
    add_row({});
    grid->setCurrentCell(grid->rowCount() - 1, colPort);
    grid->editItem(grid->item(grid->rowCount() - 1, colPort));
  });
  connect(btnRemoveUnit, &QPushButton::clicked, this, [this] {
    if (const int unit = selected_unit(); unit >= 0 && !running()) {
      grid->removeRow(unit);
      views_.erase(views_.begin() + unit);
      consoles_.erase(consoles_.begin() + unit);
      console_windows_.erase(console_windows_.begin() + unit);
    }
    update_buttons();
  });
  connect(btnLoadUnits, &QPushButton::clicked, this, [this] { load_units(); });
  connect(btnSaveUnits, &QPushButton::clicked, this, [this] { save_units(); });
  connect(chkOnTop, &QCheckBox::toggled, this, [this](bool on) {
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    show();
  });
  connect(speFailures, &TskSpinEdit::ValueChanged, this, [this] { show_failures(); });
  // While the station runs a double click opens the unit's console; before, it edits.
  connect(grid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (running())
      show_console(size_t(row));
  });
  connect(grid, &QTableWidget::itemSelectionChanged, this, [this] { update_buttons(); });
  connect(grid, &QTableWidget::cellChanged, this, [this](int row, int column_changed) {
    if (size_t(row) >= views_.size() || (column_changed != colPort && column_changed != colBox))
      return;
    const QString text = grid->item(row, column_changed)->text().trimmed();
    (column_changed == colPort ? views_[size_t(row)].port : views_[size_t(row)].box) = text.toStdString();
  });
  auto *ticks = new QTimer(this);
  connect(ticks, &QTimer::timeout, this, [this] {
    if (engine_)
      engine_->tick();
  });
  ticks->start(100);
}

void StationWindow::add_row(const StationUnit &unit) {
  const int row = grid->rowCount();
  grid->insertRow(row);
  UnitView view;
  view.port = unit.port;
  view.box = unit.box;
  views_.push_back(view);
  consoles_.emplace_back();
  console_windows_.emplace_back();
  const QSignalBlocker quiet(grid);
  for (int c = 0; c < columns; ++c) {
    auto *item = new QTableWidgetItem;
    if (c != colPort && c != colBox)
      item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    grid->setItem(row, c, item);
  }
  auto *bar = new TskProgressBar(grid);
  bar->SetUIStyle(WinXP);
  bar->SetMin(0);
  bar->SetMax(100);
  bar->SetShowCaption(true);
  bar->SetOrientation(skHorizontal);
  auto *holder = new QWidget(grid);
  auto *inside = new QHBoxLayout(holder);
  inside->setContentsMargins(4, 6, 4, 6);
  inside->addWidget(bar);
  grid->setCellWidget(row, colDone, holder);
  auto *lamp = new QLabel(grid);
  lamp->setAlignment(Qt::AlignCenter);
  grid->setCellWidget(row, colLamp, lamp);
  show_row(size_t(row));
}

void StationWindow::set_units(const std::vector<StationUnit> &units) {
  grid->setRowCount(0);
  views_.clear();
  consoles_.clear();
  console_windows_.clear();
  for (const StationUnit &unit : units)
    add_row(unit);
  update_buttons();
}

bool StationWindow::units(std::vector<StationUnit> &out, std::string &error) const {
  out.clear();
  if (views_.empty()) {
    error = "Give the station its units: Add unit, or Load units.";
    return false;
  }
  for (size_t i = 0; i < views_.size(); ++i) {
    StationUnit unit;
    if (!parse_station_unit(views_[i].port + "=" + views_[i].box, unit, error)) {
      error = "Unit " + std::to_string(i + 1) + ": " + error;
      return false;
    }
    out.push_back(unit);
  }
  return units_distinct(out, error);
}

StationWindow::UnitView StationWindow::unit_view(size_t unit) const { return views_.at(unit); }

int StationWindow::selected_unit() const {
  const int row = grid->currentRow();
  return row >= 0 && size_t(row) < views_.size() ? row : -1;
}

void StationWindow::show_row(size_t unit) {
  const UnitView &view = views_[unit];
  const int row = int(unit);
  const QSignalBlocker quiet(grid);
  const std::string texts[columns] = {view.port,
                                      view.box,
                                      view.mac.empty() ? "-" : view.mac,
                                      view.step,
                                      "",
                                      "",
                                      std::to_string(view.passed) + " / " + std::to_string(view.failed),
                                      view.line};
  for (int c = 0; c < columns; ++c)
    if (c != colDone && c != colLamp)
      grid->item(row, c)->setText(text_of(texts[c]));
  grid->item(row, colLine)->setToolTip(text_of(view.line));
  grid->cellWidget(row, colDone)->findChild<TskProgressBar *>()->SetPosition(view.percent);
  static_cast<QLabel *>(grid->cellWidget(row, colLamp))->setPixmap(lamp_picture(view.lamp));
}

void StationWindow::show_totals() {
  QString rate = QStringLiteral("-");
  const int boxes = total_passed_ + total_failed_;
  if (running() || boxes > 0) {
    const qint64 seconds = started_.isValid() ? started_.secsTo(QDateTime::currentDateTimeUtc()) : 0;
    if (boxes > 0 && seconds > 0)
      rate = QString::number(qint64(boxes) * 3600 / seconds);
  }
  lbTotals->setText(QStringLiteral("Passed %1     Failed %2     Boxes per hour %3")
                        .arg(total_passed_)
                        .arg(total_failed_)
                        .arg(rate));
}

void StationWindow::show_failures() {
  lvFailures->Items().Clear();
  const size_t shown = std::min(failures_.size(), size_t(speFailures->Value()));
  for (size_t i = 0; i < shown; ++i) {
    // Newest first; the port, the longest and the one the unit's number already names, last.
    const Failure &f = failures_[failures_.size() - 1 - i];
    lvFailures->Items().Add()->SetCaption(
        text_of(f.when + "  #" + std::to_string(f.unit + 1) + "  " + (f.mac.empty() ? "-" : f.mac) + "  " +
                (f.step.empty() ? "before the first step" : f.step) +
                (f.code.empty() ? "" : "  code " + f.code) + "  " + f.port));
  }
}

void StationWindow::update_buttons() {
  const bool on = running();
  const bool unit = on && selected_unit() >= 0;
  btnStart->setEnabled(!on);
  btnStop->setEnabled(on && !closing_);
  for (QWidget *w : std::initializer_list<QWidget *>{btnStartUnit, btnStopUnit, btnAgain, btnConsole})
    w->setEnabled(unit && !closing_);
  btnRecords->setEnabled(selected_unit() >= 0);
  for (QWidget *w :
       std::initializer_list<QWidget *>{btnAddUnit, btnLoadUnits, cbMachine, btnImage, edtPcAddress, edtPage})
    w->setEnabled(!on);
  btnRemoveUnit->setEnabled(!on && selected_unit() >= 0);
  grid->setEditTriggers(on ? QAbstractItemView::NoEditTriggers
                           : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
}

void StationWindow::note(const std::string &text) { lbNote->setText(text_of(text)); }

void StationWindow::choose_image() {
  std::string path;
  if (dialogs_.open_file(this, image_file_filter, image_default_ext, path))
    edtImage->setText(text_of(path));
}

void StationWindow::load_units() {
  std::string path, error;
  if (!dialogs_.open_file(this, "Units(*.units)|*.units|All files(*)|*", "units", path))
    return;
  std::vector<StationUnit> loaded;
  if (!read_units_file(path, loaded, error) || !units_distinct(loaded, error)) {
    dialogs_.message(this, error);
    return;
  }
  set_units(loaded);
}

void StationWindow::save_units() {
  std::vector<StationUnit> list;
  std::string path, error;
  if (!units(list, error)) {
    dialogs_.message(this, error);
    return;
  }
  if (!dialogs_.save_file(this, "Units(*.units)|*.units|All files(*)|*", "units", path))
    return;
  // Whole or not at all: a units file cut short would give a station fewer units.
  QSaveFile file(text_of(path));
  const QByteArray text = QByteArray::fromStdString(units_file_text(list));
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
    dialogs_.message(this, "Can't write " + path + ": " + file.errorString().toStdString() + ".");
}

void StationWindow::start_station() {
  if (running())
    return;
  FlashOptions options;
  std::string refusal;
  if (!units(options.units, refusal)) {
    dialogs_.message(this, refusal);
    return;
  }
  options.machine = chosen_machine(cbMachine->currentText().toStdString(), refusal);
  if (options.machine < 0) {
    dialogs_.message(this, refusal);
    return;
  }
  options.image = edtImage->text().toStdString();
  if (refusal = image_choice_refusal(options.image); !refusal.empty()) {
    dialogs_.message(this, refusal);
    return;
  }
  options.pc_address = edtPcAddress->text().trimmed().toStdString();
  if (!options.pc_address.empty() && !is_dotted_ipv4(options.pc_address)) {
    dialogs_.message(this,
                     "The Local IP " + options.pc_address + " is not an IPv4 address such as 192.168.1.2.");
    return;
  }
  if (const std::string page = edtPage->text().trimmed().toStdString(); !page.empty()) {
    if (!StationWeb::available()) {
      dialogs_.message(
          this,
          "This build of zevavi-station has no web server (the Windows programs are built without it).");
      return;
    }
    if (!parse_http_address(page, options.http_address, options.http_port, refusal)) {
      dialogs_.message(this, "Web page: " + refusal.substr(refusal.find(' ') + 1));
      return;
    }
    options.http_token = page_token_;
  }
  options.model = box_models[options.machine].name;
  options.station = true;
  options.continuous = true;
  options.records = records_;
  options_ = options;

  ++generation_;
  watch_ = std::make_unique<Watch>(*this, generation_);
  shown_ = std::make_unique<StationPageTee>(*watch_);
  engine_ =
      std::make_unique<StationEngine>(options_, *shown_, "zevavi-station", [this, generation = generation_] {
        post_to_gui([window = QPointer<StationWindow>(this), generation] {
          if (window && window->generation_ == generation)
            window->station_stopped();
        });
      });
  opening_ = true;
  const int refused = engine_->open();
  opening_ = false;
  if (refused != 0) {
    engine_.reset();
    update_buttons();
    return;
  }
  // The page serves before any box is touched, so that it sees every one.
  if (!options_.http_address.empty()) {
    page_commands_ = std::make_shared<StationPageCommands>([this](const StationCommand &command) {
      if (engine_)
        run_page_command(*engine_, command);
    });
    opening_ = true;
    page_ = start_station_page(options_, *watch_, page_commands_);
    opening_ = false;
    if (!page_) {
      engine_->finish();
      engine_.reset();
      update_buttons();
      return;
    }
    shown_->attach(page_.get());
  }
  for (UnitView &view : views_) {
    view.mac.clear();
    view.step.clear();
    view.line.clear();
    view.percent = 0;
    view.lamp = UnitLamp::waiting;
  }
  failures_.clear();
  total_passed_ = total_failed_ = 0;
  started_ = QDateTime::currentDateTimeUtc();
  show_failures();
  show_totals();
  update_buttons();
  note(std::string("The station runs") +
       (page_ ? " (its page: http://" + options_.http_address + ":" + std::to_string(page_->port()) + "/)"
              : "") +
       ": put a box on each fixture and power it on.");
  engine_->start();
}

void StationWindow::stop_station() {
  if (!engine_)
    return;
  const int flashing = engine_->flashing();
  if (flashing > 0)
    note("Stopping: " + std::to_string(flashing) + " box(es) are still being flashed and will be finished.");
  engine_->stop_after_box();
}

void StationWindow::start_unit(size_t unit) {
  if (engine_ && unit < engine_->size())
    engine_->resume(unit);
}

void StationWindow::stop_unit(size_t unit) {
  if (engine_ && unit < engine_->size())
    engine_->stop_after_box(unit);
}

void StationWindow::again_unit(size_t unit) {
  if (engine_ && unit < engine_->size())
    engine_->take_same_box_again(unit);
}

void StationWindow::station_stopped() {
  if (!engine_ || !engine_->all_done())
    return;
  const size_t unrecorded = engine_->finish();
  close_page();
  engine_.reset();
  show_totals();
  std::string text = std::to_string(total_passed_) + " boxes passed, " + std::to_string(total_failed_) +
                     " failed. The station has stopped.";
  if (unrecorded > 0)
    text +=
        " " + std::to_string(unrecorded) + " attempt(s) could not be written to the records (see the log).";
  note(text);
  update_buttons();
  if (closing_)
    close();
}

int StationWindow::page_port() const { return page_ ? page_->port() : 0; }

void StationWindow::close_page() {
  if (shown_)
    shown_->attach(nullptr);
  page_commands_.reset();
  page_.reset();
}

void StationWindow::closeEvent(QCloseEvent *event) {
  if (!engine_) {
    event->accept();
    return;
  }
  event->ignore();
  if (closing_)
    return;
  const int flashing = engine_->flashing();
  const std::string question = flashing > 0
                                   ? "The station is running: " + std::to_string(flashing) +
                                         " box(es) are being flashed and will be finished first.\n"
                                         "Stop every unit and close the window?"
                                   : "The station is running.\nStop every unit and close the window?";
  if (!dialogs_.ask_yes_no(this, question))
    return;
  closing_ = true;
  note(flashing > 0 ? "Closing once the boxes being flashed are finished." : "Closing.");
  update_buttons();
  engine_->stop_after_box();
}

void StationWindow::on_status(size_t unit, int percent, const std::string &text, const std::string &code) {
  if (unit >= views_.size())
    return;
  UnitView &view = views_[unit];
  view.percent = percent;
  if (!text.empty()) {
    view.line = text;
    for (const StepStatus &step : step_status)
      if (step.text && text == step.text)
        view.step = text;
  }
  if (!code.empty())
    view.code = code;
  show_row(unit);
}

void StationWindow::on_outcome(size_t unit, int exit_code, const std::string &text, const std::string &mac) {
  if (unit >= views_.size())
    return;
  UnitView &view = views_[unit];
  view.mac = mac;
  if (exit_code == exit_finished) {
    view.lamp = UnitLamp::passed;
    view.line = "Passed.";
    view.percent = 100;
    ++view.passed;
    ++total_passed_;
  } else {
    view.lamp = UnitLamp::failed;
    view.line = "FAILED: " + text;
    ++view.failed;
    ++total_failed_;
    failures_.push_back({unit, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString(),
                         view.port, mac, view.step, view.code});
    show_failures();
  }
  show_row(unit);
  show_totals();
}

void StationWindow::on_state(size_t unit, const std::string &state, const std::string &mac) {
  if (unit >= views_.size())
    return;
  UnitView &view = views_[unit];
  view.mac = mac;
  if (state == "a box is on") {
    view.lamp = UnitLamp::flashing;
    view.step.clear();
    view.code.clear();
    view.percent = 0;
  }
  // Between boxes the lamp keeps the last box's outcome for the operator taking it off.
  view.line = state;
  show_row(unit);
}

void StationWindow::on_message(const std::string &type, int exit_code, const std::string &text) {
  (void)exit_code;
  if (type == "error" && opening_) {
    dialogs_.message(this, text);
    return;
  }
  if (type == "result" && opening_) {
    dialogs_.message(this, text);
    return;
  }
  if (type == "http") {
    note("The station's page: " + text);
    return;
  }
  note(text);
}

void StationWindow::on_console(size_t unit, const QByteArray &bytes) {
  if (unit >= consoles_.size())
    return;
  QByteArray &kept = consoles_[unit];
  kept += bytes;
  if (kept.size() > console_keep)
    kept.remove(0, kept.size() - console_keep);
  if (TComTerminal *terminal = console_windows_[unit])
    terminal->Write(bytes.constData(), int(bytes.size()));
}

TComTerminal *StationWindow::show_console(size_t unit) {
  if (unit >= views_.size())
    return nullptr;
  if (TComTerminal *open = console_windows_[unit]) {
    open->window()->raise();
    return open;
  }
  auto *frame = new QWidget(this, Qt::Window);
  frame->setAttribute(Qt::WA_DeleteOnClose);
  frame->setWindowTitle(text_of("Console of " + views_[unit].port + " (" + views_[unit].box + ")"));
  auto *layout = new QVBoxLayout(frame);
  layout->setContentsMargins(0, 0, 0, 0);
  auto *terminal = new TComTerminal(frame);
  dress_console(*terminal);
  layout->addWidget(terminal);
  frame->resize(640, 296);
  terminal->Write(consoles_[unit].constData(), int(consoles_[unit].size()));
  console_windows_[unit] = terminal;
  frame->show();
  return terminal;
}

QTableWidget *StationWindow::show_records(size_t unit) {
  if (unit >= views_.size())
    return nullptr;
  // With a records database, this station's own file holds every attempt it sent there.
  const std::string path =
      records_.empty() || names_records_database(records_) ? data_file_path("records.sqlite") : records_;
  RecordStore store;
  std::string error;
  std::ostringstream csv;
  if (!store.open_existing(path, error) || !store.export_csv(csv, {}, error)) {
    dialogs_.message(this, error);
    return nullptr;
  }
  const auto rows = csv_rows(csv.str());
  if (rows.empty())
    return nullptr;
  const std::vector<std::string> &head = rows.front();
  const std::vector<std::string> shown = {"started",     "ended",    "mac",  "result",
                                          "failed_step", "box_code", "image"};
  std::vector<size_t> at;
  size_t port_at = head.size();
  for (const std::string &name : shown)
    for (size_t c = 0; c < head.size(); ++c)
      if (head[c] == name)
        at.push_back(c);
  for (size_t c = 0; c < head.size(); ++c)
    if (head[c] == "port")
      port_at = c;
  auto *frame = new QWidget(this, Qt::Window);
  frame->setAttribute(Qt::WA_DeleteOnClose);
  frame->setObjectName(QStringLiteral("records"));
  frame->setWindowTitle(text_of("Records of " + views_[unit].port));
  auto *layout = new QVBoxLayout(frame);
  auto *table = new QTableWidget(0, int(at.size()), frame);
  QStringList labels;
  for (size_t c : at)
    labels << text_of(head[c]);
  table->setHorizontalHeaderLabels(labels);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (size_t r = 1; r < rows.size(); ++r) {
    if (port_at >= rows[r].size() || rows[r][port_at] != views_[unit].port)
      continue;
    const int row = table->rowCount();
    table->insertRow(row);
    for (size_t c = 0; c < at.size(); ++c)
      table->setItem(row, int(c),
                     new QTableWidgetItem(at[c] < rows[r].size() ? text_of(rows[r][at[c]]) : QString()));
  }
  table->resizeColumnsToContents();
  layout->addWidget(table);
  frame->resize(900, 360);
  frame->show();
  return table;
}
