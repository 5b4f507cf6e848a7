#include "apps/station/stationengine.h"

#include "apps/station/consolerun.h"
#include "comport/serport.h"
#include "lib/log.h"
#include "lib/records.h"
#include "lib/recordsdb.h"
#include "lib/tftpstation.h"
#include "platform/comm.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "src/addresscheck.h"
#include "src/boxidentity.h"
#include "src/imageprep.h"
#include "src/unzipimage.h"
#include "src/upgrade.h"
#include "src/upgradeengine.h"
#include "src/wizardstate.h"
#include "zip/ziparchiver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>

namespace {

const char *const station_name = "station";

// Host-order IPv4 address of text already checked to be dotted IPv4.
uint32_t address_of(const std::string &dotted) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  return a << 24 | b << 16 | c << 8 | d;
}

// The station's server seen from one upgrade.
class BoxServer final : public PartitionServer {
 public:
  explicit BoxServer(TftpStation::Box &box) : box_(box) {}
  bool start(const std::string &file) override { return box_.start(file); }
  bool finish() override { return box_.finish(); }
  void abort() override { box_.abort(); }
  unsigned long long bytes_served() const override { return box_.bytes_served(); }

 private:
  TftpStation::Box &box_;
};

// The session of a unit, made before the run that drives it.
struct OwnSession {
  UpgradeSession own_session;
};

int64_t steady_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// What every record of the run shares: the station, the model and the image served.
struct RunFacts {
  std::string station, model, image, image_sha256;
  std::array<std::string, IMAGE_FILE_COUNT> files;
  std::array<PartitionServed, IMAGE_FILE_COUNT> partitions;  // served bytes left at 0
};

// The PC's address the boxes fetch from; "" after a refusal has been reported.
std::string choose_pc_address(const FlashOptions &options, StationObserver &board) {
  std::string pc = options.pc_address;
  if (pc.empty())
    pc = address_facing(interface_ipv4_addresses(), options.units.front().box);
  if (pc.empty())
    host_ipv4_address(pc);
  if (pc.empty() || pc.size() >= sizeof local_ip) {
    board.message("error", exit_usage,
                  "Can't find this PC's own IP address.\n"
                  "Connect the PC to the machines' network, or give --pc-address.");
    return {};
  }
  for (const StationUnit &unit : options.units) {
    if (unit.box == pc) {
      board.message("error", exit_usage,
                    "The Machine-IP " + pc + " of " + unit.port +
                        " is this PC's own address.\nGive the address the machine is to use.");
      return {};
    }
    if (!pc_faces_box(pc.c_str(), unit.box.c_str()) && options.pc_address.empty()) {
      board.message("error", exit_usage,
                    "This PC's address " + pc + " is not in the subnet of " + unit.box + " (" + unit.port +
                        ", mask 255.255.255.0).\nThe machine will not reach this PC to fetch its images.\n"
                        "Give --pc-address to use it anyway.");
      return {};
    }
  }
  return pc;
}

// Each box holds its serial port with the port's events, a transfer socket and the wake-ups
// of its threads; the station its own few. Running out half-way would end the whole station
// with "Too many open files" and leave the partition files behind, so the room is made, or
// the station refused, before anything starts.
std::string files_limit_refusal(size_t units) {
  constexpr unsigned long per_unit = 16, for_station = 32;
  unsigned long limit = 0, room = 0;
  if (make_room_for_files(for_station + per_unit * units, limit, room))
    return {};
  const unsigned long fit = room > for_station ? (room - for_station) / per_unit : 0;
  return "The station cannot open the files " + std::to_string(units) +
         " boxes need: this user may have at most " + std::to_string(limit) +
         " files open (ulimit -n), which leaves room for " + std::to_string(fit) +
         " boxes.\nGive fewer units, or raise the limit (ulimit -Hn, limits.conf).";
}

// SHA-256 of a file as lower-case hex; "" when it cannot be read.
std::string sha256_of_file(const std::string &path, unsigned long long *size = nullptr) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly))
    return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file))
    return {};
  if (size)
    *size = static_cast<unsigned long long>(file.size());
  return hash.result().toHex().toStdString();
}

}  // namespace

// One fixture: its port, its session, its worker. The window's part for one box, without a
// window; whatever happens to its box (a failure code, a lost line) ends that upgrade only.
// In continuous mode it waits for each next box itself and starts over.
class StationEngine::Unit final : private OwnSession, public ConsoleRun {
 public:
  Unit(size_t index, const StationUnit &unit, int model, bool continuous, StationObserver &board,
       TftpStation::Box &box, const RunFacts &facts, std::function<void(const BoxRecord &)> record,
       std::function<void()> settled, const char *program)
      : ConsoleRun(own_session, program, unit.port, model),
        index_(index),
        unit_(unit),
        continuous_(continuous),
        board_(board),
        server_(box),
        facts_(facts),
        record_(std::move(record)),
        settled_(std::move(settled)) {}

  // The upgrade cannot start: the unit is over before it began.
  void refuse(int outcome, const std::string &why) {
    {
      std::lock_guard lock(status_mutex_);
      upgrade_over_ = true;
      outcome_ = outcome;
      last_text_ = why;
    }
    worker_done_ = true;
    phase_ = Phase::Stopped;
  }

  void prepare(const std::string &pc_ip) {
    session_.box_ip = unit_.box;
    session_.pc_ip = pc_ip;
    session_.files = facts_.files;
    session_.server = &server_;
    session_.log_tag = "[" + unit_.port + "] ";
  }

  // One-shot: the box is flashed now. Continuous: the unit waits for a box's banner.
  void begin() {
    if (!continuous_) {
      start_attempt();
      return;
    }
    watcher_on_ = false;
    phase_ = Phase::Waiting;
    board_.unit_state(index_, "waiting for a box", {});
  }

  // Ends this box's upgrade from outside (time-out, signal); its worker then hands back.
  void stop_with(int outcome, const std::string &why) {
    if (phase_ != Phase::Flashing) {
      stop_waiting();
      return;
    }
    {
      std::lock_guard lock(status_mutex_);
      if (upgrade_over_ && outcome_ >= 0)
        return;
      upgrade_over_ = true;
      outcome_ = outcome;
      last_text_ = why;
    }
    end_upgrade_now();
    abort_console_writes();
  }

  // Continuous mode, first Ctrl-C: no further box; a unit waiting stops now, one flashing
  // once its box is done.
  void stop_after_box() {
    stopping_ = true;
    if (phase_ == Phase::Waiting)
      stop_waiting();
  }

  // The operator asks for the box on this fixture again (put back on purpose): its next
  // banner counts as a new box even with the address of the one just done.
  void take_same_box_again() {
    if (!continuous_ || phase_ != Phase::Waiting || stopping_) {
      board_.message("note", 0, unit_.port + " is not waiting for a box; nothing to take again.");
      return;
    }
    watch_.take_same_box_again();
    board_.unit_state(index_, "waiting for the same box again", identity_.mac);
  }

  // A unit that stopped between boxes waits for boxes again, one still finishing its box
  // goes on after it; its console is opened anew when its line had gone. "" or the sentence
  // why it cannot.
  std::string resume() {
    if (!continuous_)
      return {};
    if (phase_ != Phase::Stopped) {
      stopping_ = false;
      return {};
    }
    if (!port_.Connected()) {
      close_console();
      if (std::string refusal = open_console(": "); !refusal.empty())
        return refusal;
    }
    line_gone_ = false;
    stopping_ = false;
    begin();
    return {};
  }

  // Called now and then: a banner that showed no address may by now be the next box.
  // Called now and then: a banner that showed no address may by now be the next box; a
  // line that went (an adapter pulled) is opened again once its device is back.
  void tick() {
    if (phase_ != Phase::Waiting || stopping_)
      return;
    if (line_gone_) {
      // Closed here, not where the loss is told: that is inside the port's own event, and
      // closing there would wait on the thread that reports it.
      close_console();
      if (comm_probe(unit_.port) == COMM_OK && open_console(": ").empty()) {
        line_gone_ = false;
        ZV_LOG(LOG_INFO, station_name, "%s is back", unit_.port.c_str());
        board_.unit_state(index_, "waiting for the next box", identity_.mac);
      }
      return;
    }
    if (watch_.on_tick(steady_ms()))
      start_attempt();
  }

  void join() { worker_.join(); }
  bool done() const { return continuous_ ? phase_ == Phase::Stopped : settled(); }
  bool flashing() const { return phase_ == Phase::Flashing; }
  bool stopped() const { return phase_ == Phase::Stopped; }

  // How the box's upgrade ended: its exit code and a sentence.
  int result(std::string &text) const {
    const int code = outcome();
    text = outcome_text(code);
    return code;
  }
  int passed() const { return passed_; }
  int failed() const { return failed_; }

  const StationUnit &unit() const { return unit_; }

  // Shows how the box's upgrade ended and records it, once.
  void tell_outcome() {
    if (told_)
      return;
    told_ = true;
    std::string text;
    const int code = result(text);
    board_.outcome(index_, code, text, identity_.mac);
    // A refused unit touched no box: nothing to count or record.
    if (!attempted_)
      return;
    ++(code == exit_finished ? passed_ : failed_);
    record_(make_record(code, text));
  }

  void transfer_ended(const std::string &file, bool completed, unsigned long long bytes) override {
    (void)completed;
    for (size_t p = 0; p < facts_.files.size(); ++p)
      if (facts_.files[p] == file) {
        std::lock_guard lock(status_mutex_);
        served_[p] = bytes;
      }
    board_.transfer(index_, std::filesystem::path(file).filename().string(), completed, bytes);
  }

 private:
  enum class Phase { Waiting, Flashing, Stopped };

  void start_attempt() {
    worker_.join();  // the last box's worker handed back already; this only reaps it
    begin_attempt();
    told_ = false;
    attempted_ = true;
    identity_ = watch_.identity();
    replaced_by_.clear();
    started_ = std::chrono::system_clock::now();
    {
      std::lock_guard lock(status_mutex_);
      served_ = {};
      step_text_.clear();
    }
    phase_ = Phase::Flashing;
    if (continuous_)
      board_.unit_state(index_, "a box is on", identity_.mac);
    status_count_ = 1;  // the image's extraction, shown once for the station, is line 1
    last_line_number_ = 1;
    worker_.start([this] { session_.run(this); });
  }

  void stop_waiting() {
    if (phase_ == Phase::Stopped)
      return;
    phase_ = Phase::Stopped;
    if (continuous_)
      board_.unit_state(index_, "stopped", identity_.mac);
    settled_();
  }

  void report_status(int number, int percent, const char *text, const std::string &code) override {
    // Under status_mutex_ (ConsoleRun::show_status): the step a failure line belongs to is
    // the one shown before it.
    if (text)
      for (const StepStatus &step : step_status)
        if (step.text && std::strcmp(step.text, text) == 0)
          step_text_ = text;
    board_.status(index_, number, percent, text, code);
  }

  void on_console_bytes(const char *data, int count) override { board_.console(index_, data, count); }

  void on_console_char(char ch) override {
    const bool next = watch_.on_char(ch, steady_ms());
    if (phase_ == Phase::Flashing) {
      const BoxIdentity &seen = watch_.identity();
      if (!identity_.mac.empty() && !seen.mac.empty() && seen.mac != identity_.mac &&
          seen.mac != replaced_by_) {
        another_box_on(seen);
        return;
      }
      // The banner is read on while the box is flashed: an address printed after the moment
      // the box was taken (or by its ifconfig) completes what is known of it. Fields are
      // only ever filled: the box's own reboot banner says the same again.
      for (auto [mine, theirs] :
           {std::pair{&identity_.mac, &seen.mac}, std::pair{&identity_.board, &seen.board},
            std::pair{&identity_.build, &seen.build}})
        if (mine->empty() && !theirs->empty())
          *mine = *theirs;
    } else if (next && phase_ == Phase::Waiting && !stopping_) {
      start_attempt();
    }
  }

  // Another box's address on the console during an attempt: the box on the fixture was
  // changed under it. Until the loader answered, the attempt is the new box's (the first
  // never reached its loader and was taken off for it), and the record must name the box
  // that was flashed, not the one that was not. Once commands reached a loader, the box
  // being flashed is gone: its upgrade ends as one that stopped answering.
  void another_box_on(const BoxIdentity &seen) {
    replaced_by_ = seen.mac;
    std::string step;
    {
      std::lock_guard lock(status_mutex_);
      step = step_text_;
    }
    ZV_LOG(LOG_WARN, station_name, "%s: box %s was replaced by box %s at \"%s\"", unit_.port.c_str(),
           identity_.mac.c_str(), seen.mac.c_str(), step.c_str());
    if (step.empty() || step == step_status[0].text) {
      identity_ = seen;
      board_.unit_state(index_, "a box is on", identity_.mac);
      return;
    }
    stop_with(exit_timed_out, "Another box (" + seen.mac + ") came on the fixture while " + identity_.mac +
                                  " was being flashed; its upgrade did not finish.");
  }

  void on_line_lost_between_boxes() override {
    ZV_LOG(LOG_ERROR, station_name, "%s: the line was lost while waiting for a box", unit_.port.c_str());
    wait_for_line();
  }

  // The fixture's line went: the other fixtures go on, and this one takes its next box once
  // the line is back (tick), instead of standing idle until the whole station restarts.
  void wait_for_line() {
    line_gone_ = true;
    if (stopping_)
      stop_waiting();
    else
      board_.unit_state(index_, "Lost the connection to " + unit_.port + ". Waiting for it to come back.",
                        identity_.mac);
  }

  // Never waits: the worker collects its own transfer, and the other boxes' consoles are
  // read on this thread too.
  void end_upgrade_now() override {
    session_.stop_worker();
    server_.abort();
  }

  void on_settled() override {
    if (phase_ != Phase::Flashing)
      return;
    tell_outcome();
    if (!continuous_) {
      phase_ = Phase::Stopped;
      settled_();
      return;
    }
    watch_.box_done(identity_, outcome() == exit_finished);
    watcher_on_ = false;
    phase_ = Phase::Waiting;
    if (outcome() == exit_line_lost)
      wait_for_line();
    else if (stopping_)
      stop_waiting();
    else
      board_.unit_state(index_, "waiting for the next box", identity_.mac);
  }

  BoxRecord make_record(int code, const std::string &text) {
    BoxRecord r;
    r.station = facts_.station;
    r.port = unit_.port;
    r.box = unit_.box;
    r.mac = identity_.mac;
    r.board = identity_.board;
    r.build = identity_.build;
    r.model = facts_.model;
    r.image = facts_.image;
    r.image_sha256 = facts_.image_sha256;
    r.partitions = facts_.partitions;
    r.started = started_;
    r.ended = std::chrono::system_clock::now();
    r.result = code == exit_finished ? "pass" : code == exit_interrupted ? "interrupted" : "fail";
    r.detail = text;
    std::lock_guard lock(status_mutex_);
    for (size_t p = 0; p < r.partitions.size(); ++p)
      r.partitions[p].served = served_[p];
    if (code != exit_finished) {
      r.failed_step = step_text_;
      r.box_code = box_code_;
    }
    return r;
  }

  const size_t index_;
  const StationUnit unit_;
  const bool continuous_;
  StationObserver &board_;
  BoxServer server_;
  const RunFacts &facts_;
  std::function<void(const BoxRecord &)> record_;
  std::function<void()> settled_;
  // Main thread:
  Phase phase_ = Phase::Waiting;
  bool stopping_ = false;
  bool line_gone_ = false;  // closed after the line went; opened again by tick()
  bool told_ = false;
  bool attempted_ = false;  // an upgrade was started on this unit
  FixtureWatch watch_;
  BoxIdentity identity_;     // of the box being (or last) flashed
  std::string replaced_by_;  // the box that came on during this attempt, once told
  std::chrono::system_clock::time_point started_;
  int passed_ = 0, failed_ = 0;
  // Under status_mutex_:
  std::array<unsigned long long, IMAGE_FILE_COUNT> served_{};
  std::string step_text_;
  GuiJoinableThread worker_;
};

// The records of the run: written as each attempt ends, on the main thread. A write that
// fails keeps its row to try again with the next one and at the end, so that a full disk
// for a moment loses nothing. With a records database, the file is the queue in front of it
// and the uplink sends on what it holds.
class StationEngine::Recorder {
 public:
  explicit Recorder(StationObserver &board) : board_(board) {}

  // `target`: a records file, or a database's URI with the default file as its queue.
  bool open(const std::string &target, std::string &error) {
    std::string path = target;
    if (names_records_database(target)) {
      path = data_file_path("records.sqlite");
      uplink_ = std::make_unique<RecordUplink>(path, target);
      if (!uplink_->start(error))
        return false;
      queue_path_ = path;
    }
    keeping_ = store_.open(path, error, uplink_ != nullptr);
    return keeping_;
  }

  void add(const BoxRecord &record) {
    if (!keeping_)
      return;
    waiting_.push_back(record);
    flush();
    if (uplink_)
      uplink_->wake();
  }

  // What the uplink has to say, on the main thread.
  void tick() {
    if (!uplink_)
      return;
    for (const std::string &news : uplink_->news()) {
      ZV_LOG(LOG_WARN, station_name, "%s", news.c_str());
      board_.message("note", 0, news);
    }
  }

  // Rows that could not be written after a last try.
  size_t flush() {
    while (!waiting_.empty()) {
      std::string error;
      if (!store_.add(waiting_.front(), error)) {
        ZV_LOG(LOG_ERROR, station_name, "%s", error.c_str());
        if (error != last_error_)
          board_.message("error", exit_records, error);
        last_error_ = error;
        break;
      }
      waiting_.pop_front();
    }
    return waiting_.size();
  }

  // The uplink's last sending; what it could not send waits in the file for the next start.
  void finish() {
    if (!uplink_)
      return;
    const long long left = uplink_->finish(std::chrono::seconds(20));
    tick();
    if (left != 0)
      board_.message("note", 0,
                     (left < 0 ? std::string("Some") : std::to_string(left)) + " attempt(s) wait in " +
                         queue_path_ + " for the records database; they are sent at the next start.");
    uplink_.reset();
  }

 private:
  StationObserver &board_;
  RecordStore store_;
  std::unique_ptr<RecordUplink> uplink_;
  std::string queue_path_;
  bool keeping_ = false;
  std::deque<BoxRecord> waiting_;
  std::string last_error_;
};

struct StationEngine::Run {
  Run(const FlashOptions &o, StationObserver &b, const char *p, std::function<void()> s)
      : options(o), board(b), program(p), all_stopped(std::move(s)), recorder(b) {}

  const FlashOptions &options;
  StationObserver &board;
  const char *const program;
  std::function<void()> all_stopped;
  Recorder recorder;
  TftpStation station;
  std::string pc;
  RunFacts facts;
  std::vector<std::unique_ptr<Unit>> units;
  bool opened = false;
};

StationEngine::StationEngine(const FlashOptions &options, StationObserver &observer, const char *program,
                             std::function<void()> all_stopped)
    : run_(std::make_unique<Run>(options, observer, program, std::move(all_stopped))) {}

StationEngine::~StationEngine() {
  if (run_->opened)
    finish();
}

int StationEngine::open() {
  Run &r = *run_;
  const FlashOptions &options = r.options;
  StationObserver &board = r.board;
  Recorder &recorder = r.recorder;
  const std::string pc = choose_pc_address(options, board);
  if (pc.empty())
    return exit_usage;
  if (std::string refusal = files_limit_refusal(options.units.size()); !refusal.empty()) {
    board.message("error", exit_usage, refusal);
    return exit_usage;
  }
  if (std::string refusal = tftp_port_refusal(executable_path()); !refusal.empty()) {
    board.message("error", exit_port, refusal);
    return exit_port;
  }
  // The records come before any box: a station that cannot say what it did flashes nothing.
  if (!RecordStore::available() && options.records.empty()) {
    // The Windows programs are built without SQLite: their station runs, unrecorded.
    board.message(
        "note", 0,
        std::string("This build of ") + r.program + " keeps no production records (it has no SQLite).");
  } else {
    const std::string path = options.records.empty() ? data_file_path("records.sqlite") : options.records;
    if (std::string error; !recorder.open(path, error)) {
      board.message("error", exit_records, error);
      return exit_records;
    }
  }
  if (std::string error; !r.station.open(error)) {
    board.message("error", exit_port, "UDP port 69 (TFTP) cannot be used: " + error + ".");
    return exit_port;
  }

  // One image for every box: unpacked once, read by every box's transfers.
  temp_dir = temp_dir_path();
  image_path = options.image;
  board.message("note", 0, "1. Extract the image.");
  {
    TZipArchiver archiver;
    archiver.SetUnattended(true);
    PrepFailure failure;
    std::string problem;
    if (!prepare_partitions([&] { return unzip_image(archiver, image_path, temp_dir); }, failure))
      problem = failure.line;
    else if (!partitions_ready(options.machine, problem))
      remove_partition_files();
    if (!problem.empty()) {
      r.station.close();
      board.message("result", exit_image, problem);
      return exit_image;
    }
  }
  RunFacts &facts = r.facts;
  facts.station = QSysInfo::machineHostName().toStdString();
  facts.model = options.model;
  facts.image = std::filesystem::path(options.image).filename().string();
  facts.image_sha256 = sha256_of_file(options.image);
  facts.files = image_files();
  for (size_t p = 0; p < facts.files.size(); ++p) {
    PartitionServed &partition = facts.partitions[p];
    partition.sha256 = sha256_of_file(facts.files[p], &partition.size);
    partition.in_image = !partition.sha256.empty();
  }
  ZV_LOG(LOG_DEBUG, station_name, "machine[%d], local-ip[%s], boxes[%zu], file[%s], sha256[%s]",
         options.machine, pc.c_str(), options.units.size(), image_path.c_str(), facts.image_sha256.c_str());

  auto settled = [this] {
    if (all_done() && run_->all_stopped)
      run_->all_stopped();
  };
  auto record = [&recorder](const BoxRecord &rec) { recorder.add(rec); };
  for (size_t i = 0; i < options.units.size(); ++i) {
    const StationUnit &u = options.units[i];
    TftpStation::Box *box = r.station.add_box(address_of(u.box));
    r.units.push_back(std::make_unique<Unit>(i, u, options.machine, options.continuous, board, *box, facts,
                                             record, settled, r.program));
  }
  r.pc = pc;
  r.opened = true;
  return 0;
}

void StationEngine::start() {
  for (auto &unit : run_->units) {
    if (std::string refusal = unit->open_console(": "); !refusal.empty()) {
      unit->refuse(exit_port, refusal);
      unit->tell_outcome();
      continue;
    }
    unit->prepare(run_->pc);
    unit->begin();
  }
}

size_t StationEngine::size() const { return run_->units.size(); }
bool StationEngine::continuous() const { return run_->options.continuous; }

bool StationEngine::all_done() const {
  for (const auto &unit : run_->units)
    if (!unit->done())
      return false;
  return true;
}

int StationEngine::flashing() const {
  int count = 0;
  for (const auto &unit : run_->units)
    count += unit->flashing() ? 1 : 0;
  return count;
}

bool StationEngine::unit_flashing(size_t unit) const { return run_->units.at(unit)->flashing(); }
bool StationEngine::unit_stopped(size_t unit) const { return run_->units.at(unit)->stopped(); }
int StationEngine::passed(size_t unit) const { return run_->units.at(unit)->passed(); }
int StationEngine::failed(size_t unit) const { return run_->units.at(unit)->failed(); }
int StationEngine::result(size_t unit, std::string &text) const { return run_->units.at(unit)->result(text); }

void StationEngine::stop_after_box() {
  for (auto &unit : run_->units)
    unit->stop_after_box();
}

void StationEngine::stop_after_box(size_t unit) { run_->units.at(unit)->stop_after_box(); }

bool StationEngine::resume(size_t unit) {
  Unit &u = *run_->units.at(unit);
  if (std::string refusal = u.resume(); !refusal.empty()) {
    run_->board.message("error", exit_port, refusal);
    return false;
  }
  return true;
}

void StationEngine::interrupt(int outcome, const std::string &why) {
  for (auto &unit : run_->units) {
    unit->stop_after_box();
    unit->stop_with(outcome, why);
  }
}

void StationEngine::take_same_box_again(size_t unit) { run_->units.at(unit)->take_same_box_again(); }

void StationEngine::tick() {
  run_->recorder.tick();
  for (auto &unit : run_->units)
    unit->tick();
}

size_t StationEngine::finish() {
  Run &r = *run_;
  if (!r.opened)
    return 0;
  r.opened = false;
  for (auto &unit : r.units)
    unit->join();
  r.station.close();
  for (auto &unit : r.units) {
    unit->close_console();
    unit->tell_outcome();
  }
  remove_partition_files();
  const size_t unrecorded = r.recorder.flush();
  r.recorder.finish();
  return unrecorded;
}
