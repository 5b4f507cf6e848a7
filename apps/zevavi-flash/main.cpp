// zevavi-flash: the upgrade of the window, from the command line. The same checks, the same
// preparation of the partition files, the same worker and console watcher; only the way the
// technician is told what happens differs (lines on a terminal, or JSON for a script).
#include "apps/zevavi-flash/flashargs.h"
#include "apps/zevavi-flash/station.h"
#include "comport/serport.h"
#include "comport/serportesc.h"
#include "lib/log.h"
#include "lib/tftpthread.h"
#include "platform/comm.h"
#include "platform/files.h"
#include "platform/gui.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/stopsignal.h"
#include "src/addresscheck.h"
#include "src/consolewatch.h"
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
      std::string line = std::string("{\"type\":\"") + (text ? "status" : "progress") + "\"";
      if (text)
        line += ",\"step\":" + std::to_string(number);
      line += ",\"percent\":" + std::to_string(percent);
      if (text)
        line += ",\"text\":" + json_text(text);
      if (!code.empty())
        line += ",\"code\":" + json_text(code);
      std::printf("%s}\n", line.c_str());
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

// The upgrade's host: the window's part without a window.
class Flasher final : public UpgradeHost, public WatcherHost {
 public:
  Flasher(const FlashOptions &options, Report &report) : options_(options), report_(report) {}

  int run(QCoreApplication &app);

  // UpgradeHost, on the worker's thread.
  bool port_write(const char *data, int count, std::string &error) override {
    try {
      if (port_.Write(data, count) == count)
        return true;
      error = "short write";
    } catch (const std::exception &e) {
      error = e.what();
    }
    return false;
  }
  void show_status(int percent, const char *text) override {
    const bool from_worker = std::this_thread::get_id() != main_thread_;
    std::lock_guard lock(status_mutex_);
    if (from_worker && upgrade_over_)
      return;
    int number = ++status_count_;
    std::string code;
    if (text) {
      last_line_number_ = number;
      last_text_ = text;
      classify(text, code);
    }
    report_.status(number, percent, text, code);
  }
  void set_exit_enabled(bool) override {}
  void set_prompt_label_visible(bool visible) override {
    if (visible && !prompt_told_.exchange(true) && !options_.json)
      report_.message("note", 0, "Please, start or restart your machine!");
  }
  void worker_finished() override {
    post_to_gui([this] {
      worker_done_ = true;
      maybe_quit();
    });
  }
  std::string port_name() const override { return options_.port; }
  int last_line_number() const override { return last_line_number_.load(); }
  void transfer_ended(const std::string &file, bool completed, unsigned long long bytes) override {
    report_.transfer(std::filesystem::path(file).filename().string(), completed, bytes);
  }

  // WatcherHost, on the main thread.
  int machine() const override { return options_.machine; }
  int status_count() const override { return status_count_.load(); }
  void release_upgrade() override {
    {
      std::lock_guard lock(status_mutex_);
      upgrade_over_ = true;
      if (outcome_ < 0)
        outcome_ = exit_box_failed;
    }
    end_upgrade_now();
  }

 private:
  // The exit code a status line stands for; the box's failure code from its line.
  void classify(const char *text, std::string &code) {
    const int outcome = outcome_of_line(text, code);
    if (outcome == exit_box_failed) {
      box_code_ = code;
      failure_line_shown_ = true;
    }
    if (outcome >= 0 && (outcome_ < 0 || outcome_ == exit_box_failed))
      outcome_ = outcome;
  }

  void end_upgrade_now() {
    stop_worker();
    // A transfer the box has given up on would otherwise hold us until the server's own
    // time-outs run out.
    tftp_abort();
    tftp_stop(0);
  }

  // Stops the upgrade from outside (time-out, signal); the worker then hands back.
  void stop_with(int outcome, const std::string &why) {
    {
      std::lock_guard lock(status_mutex_);
      upgrade_over_ = true;
      outcome_ = outcome;
    }
    ZV_LOG(LOG_WARN, flash_name, "%s", why.c_str());
    end_upgrade_now();
    maybe_quit();
  }

  void on_rx(const char *buffer, int count) {
    if (console_)
      std::fwrite(buffer, 1, size_t(count), console_);
    for (int i = 0; i < count; ++i)
      if (parser_.ProcessChar(buffer[i]) == erChar)
        watcher_.on_char(parser_.Character, *this);
      else
        parser_.Params.clear();
  }

  void on_device_lost(uint32_t system_error) {
    ZV_LOG(LOG_ERROR, flash_name, "Lost the connection to %s : system error %u (%s)", options_.port.c_str(),
           system_error, comm_error_text(system_error).c_str());
    {
      std::lock_guard lock(status_mutex_);
      if (upgrade_over_ && outcome_ >= 0)
        return;
    }
    std::string line = "Lost the connection to " + options_.port + ".";
    show_status(0, line.c_str());
    {
      std::lock_guard lock(status_mutex_);
      upgrade_over_ = true;
      outcome_ = exit_line_lost;
    }
    end_upgrade_now();
    maybe_quit();
  }

  // Leaves the event loop once the worker has handed back and, after a box failure, its
  // failure line (which follows the code's digits) is out.
  void maybe_quit() {
    if (!worker_done_)
      return;
    if (outcome_ == exit_box_failed && !failure_line_shown_ && !grace_over_) {
      QTimer::singleShot(2000, [this] {
        grace_over_ = true;
        maybe_quit();
      });
      return;
    }
    QCoreApplication::exit(0);
  }

  int checks();
  int prepare();

  const FlashOptions &options_;
  Report &report_;
  TComPort port_;
  TEscapeCodesVT100 parser_;
  ConsoleWatcher watcher_;
  FILE *console_ = nullptr;
  std::thread::id main_thread_ = std::this_thread::get_id();
  std::mutex status_mutex_;
  std::atomic<int> status_count_{0};
  std::atomic<int> last_line_number_{0};
  std::atomic<bool> prompt_told_{false};
  std::string last_text_;
  bool upgrade_over_ = false;  // under status_mutex_
  int outcome_ = -1;           // under status_mutex_
  std::string box_code_;
  bool failure_line_shown_ = false;
  bool worker_done_ = false;
  bool grace_over_ = false;
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

  const std::string &device = options_.port;
  if (comm_probe(device) != COMM_OK) {
    ZV_LOG(LOG_ERROR, flash_name, "Can't open %s.", device.c_str());
    return refuse(exit_port, "Can't open " + device + ".");
  }
  port_.BeginUpdate();
  port_.SetPort(device);
  port_.SetBaudRate(br115200);
  port_.SetDataBits(dbEight);
  port_.SetStopBits(sbOneStopBit);
  port_.Parity().SetBits(prNone);
  port_.FlowControl().SetFlowControl(fcNone);
  port_.FlowControl().SetControlDTR(dtrDisable);
  port_.FlowControl().SetControlRTS(rtsDisable);
  // Received bytes come as blocks (OnRxBuf), not as a count to read later.
  port_.SetTriggersOnRxChar(false);
  port_.EndUpdate();
  port_.OnRxBuf = [this](TCustomComPort *, const char *buffer, int count) { on_rx(buffer, count); };
  port_.OnDeviceLost = [this](TCustomComPort *, uint32_t error) { on_device_lost(error); };
  try {
    port_.Open();
  } catch (const EComPort &error) {
    ZV_LOG(LOG_ERROR, flash_name, "Can't open %s : %s", device.c_str(), error.what());
    return refuse(exit_port, "Can't open " + device + ".\n" + error.what());
  }
  if (!port_.Connected())
    return refuse(exit_port, device + " is not connected.");
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
    std::lock_guard lock(status_mutex_);
    code = outcome_ < 0 ? exit_timed_out : outcome_;
  }

  try {
    port_.Close();
  } catch (const std::exception &) {
  }
  if (console_)
    std::fclose(console_);
  remove_partition_files();

  switch (code) {
    case exit_finished:
      report_.message("result", code, "Finished.");
      break;
    case exit_box_failed:
      report_.message(
          "result", code,
          "The machine reported a failure" + (box_code_.empty() ? std::string(".") : ": " + box_code_ + "."));
      break;
    case exit_interrupted:
      report_.message("result", code, "Interrupted; the upgrade was stopped.");
      break;
    default:
      report_.message("result", code, last_text_.empty() ? "The upgrade did not finish." : last_text_);
      break;
  }
  return code;
}

std::string default_log_path() {
  // Beside the program, as the window keeps its log; the state folder when that is read-only.
  std::string exe = executable_path();
  size_t cut = exe.find_last_of('/');
  std::string path = cut == std::string::npos ? "zevavi.log" : exe.substr(0, cut + 1) + "zevavi.log";
  return can_write_file(path) ? path : log_fallback_path();
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

  // Signals arrive as a byte on a pipe and are handled in the event loop, where stopping the
  // worker and the server is safe.
  stop_requests = stop_requests_watch();
  if (stop_requests < 0)
    return exit_usage;

  QCoreApplication app(argc, argv);
  gui_install();
  if (options.station) {
    std::string log_path = options.log.empty() ? default_log_path() : options.log;
    std::error_code ec;
    std::filesystem::rename(log_path, log_path + ".1", ec);
    log_open(log_path.c_str(), LOG_HEX);
    int code = run_station(options, stop_requests);
    gui_uninstall();
    log_close();
    return code;
  }
  std::string log_path = options.log.empty() ? default_log_path() : options.log;
  {
    std::error_code ec;
    std::filesystem::rename(log_path, log_path + ".1", ec);
  }
  log_open(log_path.c_str(), LOG_HEX);

  Report report(options.json);
  int code;
  {
    Flasher flasher(options, report);
    code = flasher.run(app);
  }
  gui_uninstall();
  log_close();
  return code;
}
