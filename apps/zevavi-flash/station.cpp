#include "apps/zevavi-flash/station.h"

#include "apps/zevavi-flash/consolerun.h"
#include "comport/serport.h"
#include "lib/log.h"
#include "lib/tftpstation.h"
#include "platform/comm.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/stopsignal.h"
#include "src/addresscheck.h"
#include "src/imageprep.h"
#include "src/unzipimage.h"
#include "src/upgrade.h"
#include "src/upgradeengine.h"
#include "src/wizardstate.h"
#include "zip/ziparchiver.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>

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
    int percent = 0;
    std::string doing = "waiting";  // the last status line, or the outcome
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

  // A box's upgrade is over: `exit_code` and the sentence that says how.
  void outcome(size_t i, int exit_code, const std::string &text) {
    std::lock_guard lock(mutex_);
    Row &row = rows_[i];
    row.doing = exit_code == exit_finished ? std::string("finished") : "FAILED: " + text;
    if (json_)
      put_line("{\"type\":\"unit\"" + who(row) + ",\"exit\":" + std::to_string(exit_code) +
               ",\"text\":" + json_text(text) + "}");
    else if (!tty_)
      put_line(row.port + " " + row.box + ": " + row.doing);
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
    std::snprintf(line, sizeof line, "\r\033[K%-22s %-15s %4s  %s\n", "PORT", "BOX", "DONE", "STEP / STATE");
    out += line;
    for (const Row &row : rows_) {
      std::string port = row.port.size() > 22 ? "..." + row.port.substr(row.port.size() - 19) : row.port;
      std::snprintf(line, sizeof line, "\r\033[K%-22s %-15s %3d%%  %.120s\n", port.c_str(), row.box.c_str(),
                    row.percent, row.doing.c_str());
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

// One box: its port, its session, its worker. The window's part for one box, without a
// window; whatever happens to it (a failure code, a lost line) ends its upgrade only.
class Unit final : private OwnSession, public ConsoleRun {
 public:
  Unit(size_t index, const StationUnit &unit, int model, Board &board, TftpStation::Box &box,
       std::function<void()> settled)
      : ConsoleRun(own_session, station_name, unit.port, model),
        index_(index),
        unit_(unit),
        board_(board),
        server_(box),
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
  }

  void start(const std::string &pc_ip, const std::array<std::string, IMAGE_FILE_COUNT> &files,
             int first_line_number) {
    session_.box_ip = unit_.box;
    session_.pc_ip = pc_ip;
    session_.files = files;
    session_.server = &server_;
    session_.log_tag = "[" + unit_.port + "] ";
    status_count_ = first_line_number;
    last_line_number_ = first_line_number;
    worker_.start([this] { session_.run(this); });
  }

  // Ends this box's upgrade from outside (time-out, signal); its worker then hands back.
  void stop_with(int outcome, const std::string &why) {
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

  void join() { worker_.join(); }

  // How the box's upgrade ended: its exit code and a sentence.
  int result(std::string &text) const {
    const int code = outcome();
    text = outcome_text(code);
    return code;
  }

  const StationUnit &unit() const { return unit_; }

  // Shows how the box's upgrade ended, once.
  void tell_outcome() {
    if (told_)
      return;
    told_ = true;
    std::string text;
    const int code = result(text);
    board_.outcome(index_, code, text);
  }

  void transfer_ended(const std::string &file, bool completed, unsigned long long bytes) override {
    board_.transfer(index_, std::filesystem::path(file).filename().string(), completed, bytes);
  }

 private:
  void report_status(int number, int percent, const char *text, const std::string &code) override {
    board_.status(index_, number, percent, text, code);
  }

  // Never waits: the worker collects its own transfer, and the other boxes' consoles are
  // read on this thread too.
  void end_upgrade_now() override {
    session_.stop_worker();
    server_.abort();
  }

  void on_settled() override {
    tell_outcome();
    settled_();
  }

  const size_t index_;
  const StationUnit unit_;
  Board &board_;
  BoxServer server_;
  std::function<void()> settled_;
  bool told_ = false;  // main thread
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
  ZV_LOG(LOG_DEBUG, station_name, "machine[%d], local-ip[%s], boxes[%zu], file[%s]", options.machine,
         pc.c_str(), options.units.size(), image_path.c_str());

  std::vector<std::unique_ptr<Unit>> units;
  auto all_settled = [&units] {
    for (const auto &unit : units)
      if (!unit->settled())
        return false;
    return true;
  };
  auto settled = [&all_settled] {
    if (all_settled())
      QCoreApplication::exit(0);
  };
  for (size_t i = 0; i < options.units.size(); ++i) {
    const StationUnit &u = options.units[i];
    TftpStation::Box *box = station.add_box(address_of(u.box));
    units.push_back(std::make_unique<Unit>(i, u, options.machine, board, *box, settled));
  }
  const auto files = image_files();
  for (size_t i = 0; i < units.size(); ++i) {
    Unit &unit = *units[i];
    if (std::string refusal = unit.open_console(": "); !refusal.empty()) {
      unit.refuse(exit_port, refusal);
      unit.tell_outcome();
      continue;
    }
    unit.start(pc, files, 1);
  }

  bool interrupted = false;
  if (!all_settled()) {
    QSocketNotifier signal_watch(stop_requests, QSocketNotifier::Read);
    QObject::connect(&signal_watch, &QSocketNotifier::activated, [&] {
      stop_requests_take();
      interrupted = true;
      ZV_LOG(LOG_WARN, station_name, "interrupted");
      for (auto &unit : units)
        unit->stop_with(exit_interrupted, "Interrupted; the upgrade was stopped.");
    });
    QTimer limit;
    if (options.timeout_s > 0) {
      limit.setSingleShot(true);
      QObject::connect(&limit, &QTimer::timeout, [&] {
        ZV_LOG(LOG_WARN, station_name, "time-out");
        for (auto &unit : units)
          unit->stop_with(exit_timed_out, "No end after " + std::to_string(options.timeout_s) + " seconds.");
      });
      limit.start(options.timeout_s * 1000);
    }
    QTimer table;
    QObject::connect(&table, &QTimer::timeout, [&board] { board.redraw(); });
    table.start(250);
    QCoreApplication::exec();
  }
  for (auto &unit : units)
    unit->join();
  station.close();

  int finished = 0;
  std::string summary;
  for (size_t i = 0; i < units.size(); ++i) {
    std::string text;
    const int code = units[i]->result(text);
    units[i]->close_console();
    if (code == exit_finished)
      ++finished;
    units[i]->tell_outcome();
    summary += "  " + units[i]->unit().port + " " + units[i]->unit().box + ": " +
               (code == exit_finished ? "finished" : "FAILED, " + text) + "\n";
  }
  remove_partition_files();
  board.redraw();
  const int total = int(units.size());
  const int code = finished == total ? exit_finished : interrupted ? exit_interrupted : exit_some_failed;
  std::string text = std::to_string(finished) + " of " + std::to_string(total) + " boxes finished.";
  if (!options.json)
    text = "Summary: " + text + "\n" + summary.substr(0, summary.size() - 1);
  board.message("result", code, text);
  return code;
}
