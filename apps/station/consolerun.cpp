#include "apps/station/consolerun.h"

#include "apps/zevavi-flash/flashargs.h"
#include "lib/jsontext.h"
#include "lib/log.h"
#include "platform/comm.h"
#include "platform/gui.h"
#include "src/boxconsole.h"

#include <QTimer>

std::string status_json(int number, int percent, const char *text, const std::string &code,
                        const std::string &who) {
  std::string line = std::string("{\"type\":\"") + (text ? "status" : "progress") + "\"" + who;
  if (text)
    line += ",\"step\":" + std::to_string(number);
  line += ",\"percent\":" + std::to_string(percent);
  if (text)
    line += ",\"text\":" + json_text(text);
  if (!code.empty())
    line += ",\"code\":" + json_text(code);
  return line + "}";
}

ConsoleRun::ConsoleRun(UpgradeSession &session, const char *log_name, std::string port, int machine)
    : session_(session),
      log_name_(log_name),
      port_name_(std::move(port)),
      machine_(machine),
      watcher_(session) {}

std::string ConsoleRun::open_console(const char *joint) {
  const std::string &device = port_name_;
  if (uint32_t probe = comm_probe(device); probe != COMM_OK) {
    ZV_LOG(LOG_ERROR, log_name_, "Can't open %s : system error %u (%s)", device.c_str(), probe,
           comm_error_text(probe).c_str());
    return "Can't open " + device + ".";
  }
  port_.BeginUpdate();
  set_box_console(port_, device);
  // Received bytes come as blocks (OnRxBuf), not as a count to read later.
  port_.SetTriggersOnRxChar(false);
  port_.EndUpdate();
  port_.OnRxBuf = [this](TCustomComPort *, const char *buffer, int count) { on_rx(buffer, count); };
  port_.OnDeviceLost = [this](TCustomComPort *, uint32_t error) { on_device_lost(error); };
  try {
    port_.Open();
  } catch (const EComPort &error) {
    ZV_LOG(LOG_ERROR, log_name_, "Can't open %s : %s", device.c_str(), error.what());
    return "Can't open " + device + joint + error.what();
  }
  if (!port_.Connected())
    return device + " is not connected.";
  return {};
}

void ConsoleRun::close_console() {
  try {
    port_.Close();
  } catch (const std::exception &) {
  }
}

void ConsoleRun::abort_console_writes() {
  try {
    port_.AbortAllAsync();
  } catch (const std::exception &) {
    // A port that is already gone has no write left to take back.
  }
}

bool ConsoleRun::settled() const {
  if (!worker_done_)
    return false;
  return !(outcome_ == exit_box_failed && !failure_line_shown_ && !grace_over_);
}

void ConsoleRun::settle_when_ready() {
  if (!worker_done_)
    return;
  if (!settled()) {
    QTimer::singleShot(2000, [this] {
      grace_over_ = true;
      settle_when_ready();
    });
    return;
  }
  on_settled();
}

void ConsoleRun::begin_attempt() {
  {
    std::lock_guard lock(status_mutex_);
    upgrade_over_ = false;
    outcome_ = -1;
    last_text_.clear();
    box_code_.clear();
  }
  failure_line_shown_ = false;
  worker_done_ = false;
  grace_over_ = false;
  watcher_.reset();
  watcher_on_ = true;
}

int ConsoleRun::outcome() const {
  std::lock_guard lock(status_mutex_);
  return outcome_ < 0 ? exit_timed_out : outcome_;
}

std::string ConsoleRun::outcome_text(int code) const {
  std::lock_guard lock(status_mutex_);
  if (code == exit_finished)
    return "Finished.";
  if (code == exit_box_failed)
    return "The machine reported a failure" + (box_code_.empty() ? std::string(".") : ": " + box_code_ + ".");
  if (code == exit_interrupted)
    return "Interrupted; the upgrade was stopped.";
  return last_text_.empty() ? "The upgrade did not finish." : last_text_;
}

void ConsoleRun::show_status(int percent, const char *text) {
  const bool from_worker = std::this_thread::get_id() != main_thread_;
  std::lock_guard lock(status_mutex_);
  if (from_worker && upgrade_over_)
    return;
  int number = ++status_count_;
  std::string code;
  if (text) {
    last_line_number_ = number;
    last_text_ = text;
    const int outcome = outcome_of_line(text, code);
    if (outcome == exit_box_failed) {
      box_code_ = code;
      failure_line_shown_ = true;
    }
    if (outcome >= 0 && (outcome_ < 0 || outcome_ == exit_box_failed))
      outcome_ = outcome;
  }
  report_status(number, percent, text, code);
}

void ConsoleRun::worker_finished() {
  post_to_gui([this] {
    worker_done_ = true;
    settle_when_ready();
  });
}

void ConsoleRun::release_upgrade() {
  {
    std::lock_guard lock(status_mutex_);
    upgrade_over_ = true;
    if (outcome_ < 0)
      outcome_ = exit_box_failed;
  }
  end_upgrade_now();
}

void ConsoleRun::on_rx(const char *buffer, int count) {
  if (console_)
    std::fwrite(buffer, 1, size_t(count), console_);
  on_console_bytes(buffer, count);
  for (int i = 0; i < count; ++i)
    if (parser_.ProcessChar(buffer[i]) == erChar) {
      on_console_char(parser_.Character);
      if (watcher_on_)
        watcher_.on_char(parser_.Character, *this);
    } else {
      parser_.Params.clear();
    }
}

void ConsoleRun::on_device_lost(uint32_t system_error) {
  ZV_LOG(LOG_ERROR, log_name_, "Lost the connection to %s : system error %u (%s)", port_name_.c_str(),
         system_error, comm_error_text(system_error).c_str());
  if (!watcher_on_) {
    on_line_lost_between_boxes();
    return;
  }
  {
    std::lock_guard lock(status_mutex_);
    if (upgrade_over_ && outcome_ >= 0)
      return;
  }
  std::string line = "Lost the connection to " + port_name_ + ".";
  show_status(0, line.c_str());
  {
    std::lock_guard lock(status_mutex_);
    upgrade_over_ = true;
    outcome_ = exit_line_lost;
  }
  end_upgrade_now();
  settle_when_ready();
}
