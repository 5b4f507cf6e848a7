#include "apps/zevavi-flash/station.h"

#include "apps/zevavi-flash/consolerun.h"
#include "comport/serport.h"
#include "lib/log.h"
#include "lib/records.h"
#include "lib/tftpstation.h"
#include "platform/comm.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/stopsignal.h"
#include "src/addresscheck.h"
#include "src/boxidentity.h"
#include "src/imageprep.h"
#include "src/unzipimage.h"
#include "src/upgrade.h"
#include "src/upgradeengine.h"
#include "src/wizardstate.h"
#include "zip/ziparchiver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const char *const station_name = "zevavi-flash --station";

// Host-order IPv4 address of text already checked to be dotted IPv4.
uint32_t address_of(const std::string &dotted) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  return a << 24 | b << 16 | c << 8 | d;
}

// What the technician sees of all boxes: a table redrawn in place on a terminal, one line
// per event otherwise, one JSON object per event with --json. Called from the workers'
// threads and the main thread.
class Board {
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

  void status(size_t i, int number, int percent, const char *text, const std::string &code) {
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

  void transfer(size_t i, const std::string &file, bool completed, unsigned long long bytes) {
    if (!json_)
      return;
    std::lock_guard lock(mutex_);
    put_line("{\"type\":\"transfer\"" + who(rows_[i]) + ",\"file\":" + json_text(file) + ",\"completed\":" +
             (completed ? "true" : "false") + ",\"bytes\":" + std::to_string(bytes) + "}");
  }

  // A box's upgrade is over: `exit_code` and the sentence that says how, and the box's
  // address as its boot loader printed it ("" when it showed none).
  void outcome(size_t i, int exit_code, const std::string &text, const std::string &mac) {
    std::lock_guard lock(mutex_);
    Row &row = rows_[i];
    row.mac = mac;
    row.doing = exit_code == exit_finished ? std::string("finished") : "FAILED: " + text;
    ++(exit_code == exit_finished ? row.passed : row.failed);
    if (json_)
      put_line("{\"type\":\"unit\"" + who(row) + ",\"mac\":" + json_text(mac) + ",\"exit\":" +
               std::to_string(exit_code) + ",\"text\":" + json_text(text) + "}");
    else if (!tty_)
      put_line(row.port + " " + row.box + (mac.empty() ? "" : " " + mac) + ": " + row.doing);
    dirty_ = true;
  }

  // Continuous mode: a unit's state between boxes ("waiting for the next box", "stopped"),
  // or a new box on it with its address.
  void unit_state(size_t i, const std::string &state, const std::string &mac) {
    std::lock_guard lock(mutex_);
    Row &row = rows_[i];
    row.mac = mac;
    row.percent = 0;
    if (row.passed + row.failed > 0)
      row.doing = state + " (" + std::to_string(row.passed) + " passed, " + std::to_string(row.failed) + " failed)";
    else
      row.doing = state;
    if (json_)
      put_line("{\"type\":\"state\"" + who(row) + ",\"mac\":" + json_text(mac) + ",\"text\":" +
               json_text(state) + "}");
    else if (!tty_)
      put_line(row.port + " " + row.box + (mac.empty() ? "" : " " + mac) + ": " + row.doing);
    dirty_ = true;
  }

  // A message about the whole station.
  void message(const char *type, int exit_code, const std::string &text) {
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
      std::snprintf(line, sizeof line, "\r\033[K%-22s %-15s %-17s %3d%%  %.120s\n", port.c_str(), row.box.c_str(),
                    row.mac.empty() ? "-" : row.mac.c_str(), row.percent, row.doing.c_str());
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

// One fixture: its port, its session, its worker. The window's part for one box, without a
// window; whatever happens to its box (a failure code, a lost line) ends that upgrade only.
// In continuous mode it waits for each next box itself and starts over.
class Unit final : private OwnSession, public ConsoleRun {
 public:
  Unit(size_t index, const StationUnit &unit, int model, bool continuous, Board &board, TftpStation::Box &box,
       const RunFacts &facts, std::function<void(const BoxRecord &)> record, std::function<void()> settled)
      : ConsoleRun(own_session, station_name, unit.port, model),
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

  void on_console_char(char ch) override {
    const bool next = watch_.on_char(ch, steady_ms());
    if (phase_ == Phase::Flashing) {
      // The banner is read on while the box is flashed: an address printed after the moment
      // the box was taken (or by its ifconfig) completes what is known of it. Fields are
      // only ever filled: the box's own reboot banner says the same again.
      const BoxIdentity &seen = watch_.identity();
      for (auto [mine, theirs] : {std::pair{&identity_.mac, &seen.mac}, std::pair{&identity_.board, &seen.board},
                                  std::pair{&identity_.build, &seen.build}})
        if (mine->empty() && !theirs->empty())
          *mine = *theirs;
    } else if (next && phase_ == Phase::Waiting && !stopping_) {
      start_attempt();
    }
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
  Board &board_;
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
  BoxIdentity identity_;  // of the box being (or last) flashed
  std::chrono::system_clock::time_point started_;
  int passed_ = 0, failed_ = 0;
  // Under status_mutex_:
  std::array<unsigned long long, IMAGE_FILE_COUNT> served_{};
  std::string step_text_;
  GuiJoinableThread worker_;
};

// The PC's address the boxes fetch from; "" after a refusal has been reported.
std::string choose_pc_address(const FlashOptions &options, Board &board) {
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

// The records of the run: written as each attempt ends, on the main thread. A write that
// fails keeps its row to try again with the next one and at the end, so that a full disk
// for a moment loses nothing.
class Recorder {
 public:
  explicit Recorder(Board &board) : board_(board) {}

  bool open(const std::string &path, std::string &error) {
    keeping_ = store_.open(path, error);
    return keeping_;
  }

  void add(const BoxRecord &record) {
    if (!keeping_)
      return;
    waiting_.push_back(record);
    flush();
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

 private:
  Board &board_;
  RecordStore store_;
  bool keeping_ = false;
  std::deque<BoxRecord> waiting_;
  std::string last_error_;
};

}  // namespace

int run_station(const FlashOptions &options, int stop_requests) {
  Board board(options.json, options.units);
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
  Recorder recorder(board);
  if (!RecordStore::available() && options.records.empty()) {
    // The Windows programs are built without SQLite: their station runs, unrecorded.
    board.message("note", 0, "This build of zevavi-flash keeps no production records (it has no SQLite).");
  } else {
    const std::string path = options.records.empty() ? data_file_path("records.sqlite") : options.records;
    if (std::string error; !recorder.open(path, error)) {
      board.message("error", exit_records, error);
      return exit_records;
    }
  }
  TftpStation station;
  if (std::string error; !station.open(error)) {
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
      board.message("result", exit_image, problem);
      return exit_image;
    }
  }
  RunFacts facts;
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
  ZV_LOG(LOG_DEBUG, station_name, "machine[%d], local-ip[%s], boxes[%zu], file[%s], sha256[%s]", options.machine,
         pc.c_str(), options.units.size(), image_path.c_str(), facts.image_sha256.c_str());

  std::vector<std::unique_ptr<Unit>> units;
  auto all_done = [&units] {
    for (const auto &unit : units)
      if (!unit->done())
        return false;
    return true;
  };
  auto settled = [&all_done] {
    if (all_done())
      QCoreApplication::exit(0);
  };
  auto record = [&recorder](const BoxRecord &r) { recorder.add(r); };
  for (size_t i = 0; i < options.units.size(); ++i) {
    const StationUnit &u = options.units[i];
    TftpStation::Box *box = station.add_box(address_of(u.box));
    units.push_back(std::make_unique<Unit>(i, u, options.machine, options.continuous, board, *box, facts, record,
                                           settled));
  }
  for (size_t i = 0; i < units.size(); ++i) {
    Unit &unit = *units[i];
    if (std::string refusal = unit.open_console(": "); !refusal.empty()) {
      unit.refuse(exit_port, refusal);
      unit.tell_outcome();
      continue;
    }
    unit.prepare(pc);
    unit.begin();
  }

  // Continuous mode: a unit's number (in the order given, from 1) or its port on standard
  // input makes that unit take the box on it again.
  auto again = std::make_shared<std::function<void(const std::string &)>>([&](const std::string &typed) {
    const size_t first = typed.find_first_not_of(" \t\r");
    const std::string text =
        first == std::string::npos ? "" : typed.substr(first, typed.find_last_not_of(" \t\r") - first + 1);
    if (text.empty())
      return;
    for (size_t i = 0; i < units.size(); ++i)
      if (text == units[i]->unit().port || text == std::to_string(i + 1)) {
        units[i]->take_same_box_again();
        return;
      }
    board.message("note", 0, "\"" + text + "\" names no unit: give its number (1 to " + std::to_string(units.size()) +
                                 ") or its port to take the box on it again.");
  });
  if (options.continuous)
    read_operator_lines(again);

  bool interrupted = false;
  if (!all_done()) {
    int stop_count = 0;
    auto interrupt_all = [&](int outcome, const std::string &why) {
      for (auto &unit : units) {
        unit->stop_after_box();
        unit->stop_with(outcome, why);
      }
    };
    QSocketNotifier signal_watch(stop_requests, QSocketNotifier::Read);
    QObject::connect(&signal_watch, &QSocketNotifier::activated, [&] {
      stop_requests_take();
      ++stop_count;
      int flashing = 0;
      for (auto &unit : units)
        flashing += unit->flashing() ? 1 : 0;
      if (options.continuous && (stop_count == 1 || flashing == 0)) {
        // A box being flashed is finished first: stopping it half-way leaves it erased.
        // Units between boxes stop now, and that is no interruption.
        ZV_LOG(LOG_WARN, station_name, "stopping after the boxes being flashed (%d)", flashing);
        if (flashing > 0)
          board.message("note", 0,
                        "Stopping: " + std::to_string(flashing) +
                            " box(es) are still being flashed and will be finished. Ctrl-C again interrupts them.");
        for (auto &unit : units)
          unit->stop_after_box();
        return;
      }
      interrupted = true;
      ZV_LOG(LOG_WARN, station_name, "interrupted");
      interrupt_all(exit_interrupted, "Interrupted; the upgrade was stopped.");
    });
    QTimer limit;
    if (options.timeout_s > 0) {
      limit.setSingleShot(true);
      QObject::connect(&limit, &QTimer::timeout, [&] {
        ZV_LOG(LOG_WARN, station_name, "time-out");
        interrupt_all(exit_timed_out, "No end after " + std::to_string(options.timeout_s) + " seconds.");
      });
      limit.start(options.timeout_s * 1000);
    }
    QTimer table;
    QObject::connect(&table, &QTimer::timeout, [&] {
      board.redraw();
      for (auto &unit : units)
        unit->tick();
    });
    table.start(options.continuous ? 100 : 250);
    QCoreApplication::exec();
  }
  again.reset();
  for (auto &unit : units)
    unit->join();
  station.close();

  int finished = 0, failed = 0;
  std::string summary;
  for (size_t i = 0; i < units.size(); ++i) {
    Unit &unit = *units[i];
    unit.close_console();
    unit.tell_outcome();
    if (options.continuous) {
      finished += unit.passed();
      failed += unit.failed();
      summary += "  " + unit.unit().port + " " + unit.unit().box + ": " + std::to_string(unit.passed()) +
                 " passed, " + std::to_string(unit.failed()) + " failed\n";
      continue;
    }
    std::string text;
    const int code = unit.result(text);
    if (code == exit_finished)
      ++finished;
    else
      ++failed;
    summary += "  " + unit.unit().port + " " + unit.unit().box + ": " +
               (code == exit_finished ? "finished" : "FAILED, " + text) + "\n";
  }
  remove_partition_files();
  const size_t unrecorded = recorder.flush();
  board.redraw();
  int code = failed == 0 ? exit_finished : interrupted ? exit_interrupted : exit_some_failed;
  std::string text = options.continuous
                         ? std::to_string(finished) + " boxes passed, " + std::to_string(failed) + " failed."
                         : std::to_string(finished) + " of " + std::to_string(units.size()) + " boxes finished.";
  if (unrecorded > 0) {
    text += " " + std::to_string(unrecorded) + " attempt(s) could not be written to the records (see the log).";
    if (code == exit_finished)
      code = exit_records;
  }
  if (!options.json)
    text = "Summary: " + text + "\n" + summary.substr(0, summary.size() - 1);
  board.message("result", code, text);
  return code;
}
