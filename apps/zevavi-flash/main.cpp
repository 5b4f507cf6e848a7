// zevavi-flash: the upgrade of the window, from the command line. The same checks, the same
// preparation of the partition files, the same worker and console watcher; only the way the
// technician is told what happens differs (lines on a terminal, or JSON for a script).
#include "apps/station/consolerun.h"
#include "apps/zevavi-flash/flashargs.h"
#include "apps/zevavi-flash/station.h"
#include "comport/serport.h"
#include "lib/jsontext.h"
#include "lib/log.h"
#include "lib/records.h"
#include "lib/recordsdb.h"
#include "lib/tftpthread.h"
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
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

const char *const flash_name = "zevavi-flash";

// What the technician sees. Called from the main thread and the worker's; one line at a time.
class Report {
 public:
  Report(bool json) : json_(json), tty_(!json && stdout_is_terminal()) {}

  // A numbered status line (text) or a progress-only update (no text).
  void status(int number, int percent, const char *text, const std::string &code) {
    std::lock_guard lock(mutex_);
    percent_ = percent;
    if (json_) {
      std::printf("%s\n", status_json(number, percent, text, code).c_str());
    } else if (text) {
      clear_bar();
      std::printf("%d. %s\n", number, text);
    }
    draw_bar();
    std::fflush(stdout);
  }
  // A flash step's transfer ended; only scripts care for the byte count.
  void transfer(const std::string &file, bool completed, unsigned long long bytes) {
    if (!json_)
      return;
    std::lock_guard lock(mutex_);
    std::printf("{\"type\":\"transfer\",\"file\":%s,\"completed\":%s,\"bytes\":%llu}\n",
                json_text(file).c_str(), completed ? "true" : "false", bytes);
    std::fflush(stdout);
  }
  // A message that is not a status line: a refused input, the outcome.
  void message(const char *type, int exit_code, const std::string &text) {
    std::lock_guard lock(mutex_);
    if (json_) {
      std::printf("{\"type\":\"%s\",\"exit\":%d,\"text\":%s}\n", type, exit_code, json_text(text).c_str());
    } else {
      clear_bar();
      bar_shown_ = false;
      std::fprintf(exit_code == 0 ? stdout : stderr, "%s\n", text.c_str());
    }
    std::fflush(stdout);
  }

 private:
  void clear_bar() {
    if (tty_ && bar_shown_)
      std::printf("\r\033[K");
  }
  void draw_bar() {
    if (!tty_)
      return;
    constexpr int width = 40;
    int filled = percent_ * width / 100;
    std::printf("\r\033[K[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                std::string(size_t(width - filled), ' ').c_str(), percent_);
    bar_shown_ = true;
  }

  std::mutex mutex_;
  bool json_, tty_;
  bool bar_shown_ = false;
  int percent_ = 0;
};

int stop_requests = -1;

// The upgrade's host: the window's part without a window, on the window's session.
class Flasher final : public ConsoleRun {
 public:
  Flasher(const FlashOptions &options, Report &report)
      : ConsoleRun(window_session, flash_name, options.port, options.machine),
        options_(options),
        report_(report) {}

  int run(QCoreApplication &app);

  void set_prompt_label_visible(bool visible) override {
    if (visible && !prompt_told_.exchange(true) && !options_.json)
      report_.message("note", 0, "Please, start or restart your machine!");
  }
  void transfer_ended(const std::string &file, bool completed, unsigned long long bytes) override {
    report_.transfer(std::filesystem::path(file).filename().string(), completed, bytes);
  }

 private:
  void report_status(int number, int percent, const char *text, const std::string &code) override {
    report_.status(number, percent, text, code);
  }

  void end_upgrade_now() override {
    session_.stop_worker();
    // A transfer the box has given up on would otherwise hold us until the server's own
    // time-outs run out.
    tftp_abort();
    tftp_stop(0);
  }

  void on_settled() override { QCoreApplication::exit(0); }

  // Stops the upgrade from outside (time-out, signal); the worker then hands back.
  void stop_with(int outcome, const std::string &why) {
    {
      std::lock_guard lock(status_mutex_);
      upgrade_over_ = true;
      outcome_ = outcome;
    }
    ZV_LOG(LOG_WARN, flash_name, "%s", why.c_str());
    end_upgrade_now();
    abort_console_writes();
    settle_when_ready();
  }

  int checks();
  int prepare();

  const FlashOptions &options_;
  Report &report_;
  std::atomic<bool> prompt_told_{false};
  GuiJoinableThread worker_;
};

// Next's checks. 0, or the exit code after the refusal has been reported.
int Flasher::checks() {
  auto refuse = [this](int code, const std::string &text) {
    report_.message("error", code, text);
    return code;
  };
  if (std::string refusal = machine_ip_refusal(options_.box); !refusal.empty())
    return refuse(exit_usage, refusal);
  std::snprintf(machine_ip, sizeof machine_ip, "%s", options_.box.c_str());
  image_path = options_.image;

  // The flash commands tell the box to fetch from the PC's own address.
  std::string pc = options_.pc_address;
  if (pc.empty())
    pc = address_facing(interface_ipv4_addresses(), machine_ip);
  if (pc.empty())
    host_ipv4_address(pc);
  if (pc.empty() || pc.size() >= sizeof local_ip)
    return refuse(exit_usage,
                  "Can't find this PC's own IP address.\n"
                  "Connect the PC to the machine's network, or give --pc-address.");
  std::snprintf(local_ip, sizeof local_ip, "%s", pc.c_str());
  if (pc == options_.box)
    return refuse(exit_usage, "The Machine-IP " + pc +
                                  " is this PC's own address.\n"
                                  "Give the address the machine is to use.");
  if (std::string refusal = tftp_port_refusal(executable_path()); !refusal.empty())
    return refuse(exit_port, refusal);
  // With nobody to ask, an address outside the box's network is taken only when given.
  if (!pc_faces_box(local_ip, machine_ip) && options_.pc_address.empty())
    return refuse(exit_usage, std::string("This PC's address ") + local_ip +
                                  " is not in the machine's subnet (" + machine_ip +
                                  ", mask 255.255.255.0).\n" +
                                  "The machine will not reach this PC to fetch its images.\n"
                                  "Give --pc-address to use it anyway.");

  if (std::string refusal = open_console(".\n"); !refusal.empty())
    return refuse(exit_port, refusal);
  ZV_LOG(LOG_DEBUG, flash_name, "machine[%d], local-ip[%s], machine-ip[%s], file[%s]", options_.machine,
         local_ip, machine_ip, image_path.c_str());
  return 0;
}

// Start's preparation. 0, or the exit code after the failure has been reported.
int Flasher::prepare() {
  show_status(10, "Extract the image.");
  TZipArchiver archiver;
  archiver.SetUnattended(true);
  PrepFailure failure;
  if (!prepare_partitions([&] { return unzip_image(archiver, image_path, temp_dir); }, failure)) {
    show_status(0, failure.line.c_str());
    return exit_image;
  }
  std::string problem;
  if (!partitions_ready(options_.machine, problem)) {
    show_status(0, problem.c_str());
    return exit_image;
  }
  return 0;
}

int Flasher::run(QCoreApplication &app) {
  (void)app;
  machine_index = options_.machine;
  temp_dir = temp_dir_path();
  // Opened before the port, so the console file has the box's first byte too.
  if (!options_.console.empty()) {
    console_ = std::fopen(options_.console.c_str(), "wb");
    if (!console_) {
      report_.message("error", exit_usage, "Can't write the console file " + options_.console + ".");
      return exit_usage;
    }
  }
  if (int code = checks()) {
    if (console_)
      std::fclose(console_);
    return code;
  }

  int code = prepare();
  if (code == 0) {
    QSocketNotifier signal_watch(stop_requests, QSocketNotifier::Read);
    QObject::connect(&signal_watch, &QSocketNotifier::activated, [this] {
      stop_requests_take();
      stop_with(exit_interrupted, "interrupted");
    });
    QTimer limit;
    if (options_.timeout_s > 0) {
      limit.setSingleShot(true);
      QObject::connect(&limit, &QTimer::timeout, [this] {
        show_status(0, ("No end after " + std::to_string(options_.timeout_s) + " seconds.").c_str());
        stop_with(exit_timed_out, "time-out");
      });
      limit.start(options_.timeout_s * 1000);
    }
    worker_.start([this] { threadCommandMain(this); });
    QCoreApplication::exec();
    worker_.join();
    // Whatever ended the upgrade, no server outlives it.
    tftp_abort();
    tftp_stop(0);
    code = outcome();
  }

  close_console();
  if (console_)
    std::fclose(console_);
  remove_partition_files();
  report_.message("result", code, outcome_text(code));
  return code;
}

// --export: the records as CSV on standard output.
int export_records(const FlashOptions &options) {
  std::string error;
  if (names_records_database(options.records)) {
    RecordDatabase database;
    if (!database.open(options.records, error) || !database.export_csv(std::cout, options.since, error)) {
      std::fprintf(stderr, "zevavi-flash: %s\n", error.c_str());
      return exit_records;
    }
    return 0;
  }
  const std::string path = options.records.empty() ? data_file_path("records.sqlite") : options.records;
  RecordStore store;
  if (!store.open_existing(path, error) || !store.export_csv(std::cout, options.since, error)) {
    std::fprintf(stderr, "zevavi-flash: %s\n", error.c_str());
    return exit_records;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  FlashOptions options;
  std::string error;
  if (!parse_flash_args(args, options, error)) {
    std::fprintf(stderr, "zevavi-flash: %s\nTry zevavi-flash --help.\n", error.c_str());
    return exit_usage;
  }
  if (options.help) {
    std::fputs(flash_usage().c_str(), stdout);
    return 0;
  }
  if (!options.export_format.empty())
    return export_records(options);
  if (options.silence_s > 0)
    box_silence_limit_ms = options.silence_s * 1000;

  // Signals arrive as a byte on a pipe and are handled in the event loop, where stopping the
  // worker and the server is safe.
  stop_requests = stop_requests_watch();
  if (stop_requests < 0)
    return exit_usage;

  QCoreApplication app(argc, argv);
  gui_install();
  std::string log_path = options.log.empty() ? default_log_path("zevavi-flash") : options.log;
  FILE *log_file = nullptr;
  if (std::string refusal; !start_log_at(log_path, refusal, &log_file)) {
    std::fprintf(stderr, "zevavi-flash: %s\n", refusal.c_str());
    return exit_usage;
  }
  log_open_stream(log_file, LOG_HEX);
  int code;
  if (options.station) {
    code = run_station(options, stop_requests);
  } else {
    Report report(options.json);
    Flasher flasher(options, report);
    code = flasher.run(app);
  }
  gui_uninstall();
  log_close();
  return code;
}
