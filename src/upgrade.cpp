#include "src/upgrade.h"

#include "lib/log.h"
#include "lib/tftpthread.h"
#include "src/imageprep.h"
#include "src/wizardstate.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>

UpgradeSession window_session;
// Bound to members of an object of static storage: constant-initialised, so usable from any
// translation unit's start-up code.
std::atomic<int> &upgrade_step = window_session.upgrade_step;
std::atomic<int> &prompt_ready = window_session.prompt_ready;
std::atomic<int> &worker_running = window_session.worker_running;

const char *const cfe_commands[8] = {
    "erase_flash2",
    "erase_flash0",
    "ifconfig eth0 -addr=%s -mask=255.255.255.0",
    "flash -noheader %s:ky_tmp/kernel_cfe_auto.bin flash0.kernel",
    "flash -noheader %s:ky_tmp/splash_cfe_auto.bin flash0.splash",
    "flash -noheader %s:ky_tmp/boot_cfe_auto.jffs2 flash0.boot",
    "flash -noheader %s:ky_tmp/root_cfe_auto.jffs2 flash0.avail0",
    "reboot",
};

const StepStatus step_status[9] = {
    {20, "Enter into the CFE mode."},
    {0, nullptr},
    {30, "IP is set in the machine."},
    {40, "Upgrade the kernel image on the machine."},
    {50, "Upgrade the splash image on the machine."},
    {60, "Erase memory area about FLASH2 and FLASH0."},
    {70, "Upgrade the boot image on the machine."},
    {80, "Upgrade the root image on the machine."},
    {100, "Finished, Reboot now!!"},
};

std::atomic<int> box_silence_limit_ms{box_silence_limit_default_ms};

namespace {

const char *const worker_name = "threadCommandMain";

int64_t now_ms() {
  using namespace std::chrono;
  // Never 0, so 0 can mean "nothing yet".
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

// "%s\n" around the table text, then the address into that: every command ends in one "\n".
void build_command(char (&command)[128], const char *table_text, const char *address) {
  std::string text = table_text;
  if (const auto at = text.find("%s"); at != std::string::npos)
    text.replace(at, 2, address);
  std::snprintf(command, sizeof command, "%s\n", text.c_str());
}

// The window's server: the single-file TFTP server on port 69.
class SingleFileServer final : public PartitionServer {
 public:
  bool start(const std::string &file) override { return tftp_start(file.c_str()) != 0; }
  bool finish() override { return tftp_stop(0) != 0; }
  void abort() override { tftp_abort(); }
  unsigned long long bytes_served() const override { return tftp_bytes_served.load(); }
};

SingleFileServer single_file_server;

}  // namespace

// What the worker remembers across passes.
struct UpgradeSession::Pass {
  int cfe_msg_shown = 0;
  int tftp_started = 0;
  bool label_shown = false;
  int64_t boot_output_ms = 0;  // when the box's boot output began, at step 0
  int64_t own_mark_ms = 0;     // the worker's last sign of a working box: a transfer ended
  std::string served_file;     // the partition of the flash step in progress
  uint64_t flash_bytes = 0;    // what the box writes or erases after the last command
};

int silence_limit_ms(int base_ms, uint64_t bytes) {
  const uint64_t limit = uint64_t(std::max(base_ms, 0)) + bytes * 1000 / slowest_flash_bytes_per_s;
  return int(std::min<uint64_t>(limit, uint64_t(std::numeric_limits<int>::max())));
}

bool parse_seconds(const std::string &text, int &seconds) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int value = std::stoi(text);
  if (value < 1 || value > 86400)
    return false;
  seconds = value;
  return true;
}

namespace {

uint64_t size_or_zero(const std::string &file) {
  std::error_code ignored;
  const auto size = std::filesystem::file_size(file, ignored);
  return ignored ? 0 : uint64_t(size);
}

}  // namespace

// Sleeps `ms`, or less when stop_worker is called (or the box starts talking) meanwhile.
// Returns worker_running.
bool UpgradeSession::pause(int ms) {
  std::unique_lock lock(pause_mutex_);
  pause_wake_.wait_for(lock, std::chrono::milliseconds(ms),
                       [this] { return worker_running.load() == 0 || wake_pass_; });
  wake_pass_ = false;
  return worker_running.load() != 0;
}

void UpgradeSession::log_sent(const char *data, int len, int step) {
  ZV_LOG_DUMP(LOG_HEX, worker_name, data, len, "%sSTEP > %d", log_tag.c_str(), step);
}

// Ends the upgrade with a failure line, unless something else (Exit, Previous, the box's own
// failure code, a lost line) has ended it already and said so.
void UpgradeSession::end_upgrade(UpgradeHost *host, const std::string &line) {
  if (worker_running.exchange(0))
    host->show_status(0, line.c_str());
}

// Writes to the port; on failure ends the upgrade with a status line and a log line rather
// than leaving the box waiting and the technician looking at a stalled bar.
bool UpgradeSession::send(UpgradeHost *host, const char *data, int len) {
  std::string error;
  if (host->port_write(data, len, error))
    return true;
  ZV_LOG(LOG_ERROR, worker_name, "%sFail to write to %s : %s", log_tag.c_str(), host->port_name().c_str(),
         error.c_str());
  end_upgrade(host, "Fail to write to " + host->port_name() + ".");
  return false;
}

// Starts serving a flash step's partition. When that is impossible (the file went, the port
// was taken) the flash command is not typed: the box would wait for a transfer that never
// comes, and the steps after it would erase what this one could not rewrite.
bool UpgradeSession::serve(UpgradeHost *host, const std::string &file) {
  if (server && server->start(file))
    return true;
  ZV_LOG(LOG_ERROR, worker_name, "%sno TFTP server for [%s]: the flash command is not sent", log_tag.c_str(),
         file.c_str());
  end_upgrade(host, "Fail to serve " + std::filesystem::path(file).filename().string() + " over TFTP.");
  return false;
}

// At steps 1..8 a box that says nothing for too long has hung or lost its cable.
bool UpgradeSession::box_went_silent(UpgradeHost *host, int step, const Pass &pass) {
  if (step < 1 || step > 8)
    return false;
  const int64_t last = std::max(last_console_ms_.load(), pass.own_mark_ms);
  const int limit = silence_limit_ms(box_silence_limit_ms.load(), pass.flash_bytes);
  if (now_ms() - last <= limit)
    return false;
  ZV_LOG(LOG_ERROR, worker_name, "%sno answer from the machine for %d ms at step %d", log_tag.c_str(), limit,
         step);
  char line[96];
  std::snprintf(line, sizeof line, "The machine stopped answering at step %d.", host->last_line_number());
  end_upgrade(host, line);
  return true;
}

// Step 0's pause: once a second while the box is silent; often while its boot output runs,
// so a short autostart wait still meets a break key.
int UpgradeSession::step0_pause_ms(Pass &pass) {
  const int64_t heard = last_console_ms_.load();
  if (heard != 0 && pass.boot_output_ms == 0)
    pass.boot_output_ms = heard;
  if (pass.boot_output_ms != 0 && now_ms() - pass.boot_output_ms < fast_break_window_ms)
    return fast_break_interval_ms;
  return 1000;
}

void UpgradeSession::note_console_activity() {
  if (last_console_ms_.exchange(now_ms()) != 0)
    return;
  {
    std::lock_guard lock(pause_mutex_);
    wake_pass_ = true;
  }
  pause_wake_.notify_all();
}

void UpgradeSession::stop_worker() {
  {
    std::lock_guard lock(pause_mutex_);
    worker_running = 0;
  }
  pause_wake_.notify_all();
}

void note_console_activity() { window_session.note_console_activity(); }

void stop_worker() { window_session.stop_worker(); }

int threadCommandMain(UpgradeHost *window) {
  window_session.box_ip = machine_ip;
  window_session.pc_ip = local_ip;
  window_session.files = image_files();
  window_session.server = &single_file_server;
  return window_session.run(window);
}

int UpgradeSession::run(UpgradeHost *window) {
  worker_running = 1;
  prompt_ready = 1;
  upgrade_step = 0;
  last_console_ms_ = 0;
  {
    std::lock_guard lock(pause_mutex_);
    wake_pass_ = false;
  }
  Pass pass;
  pass.own_mark_ms = now_ms();
  while (worker_running) {
    char command[128] = {};
    int step = upgrade_step;
    int pause_ms = 1000;
    ZV_LOG(LOG_DEBUG, worker_name, "%sSTEP : [%d]", log_tag.c_str(), step);
    if (box_went_silent(window, step, pass))
      break;

    bool ready = prompt_ready != 0;
    // The box answered: the request to start it goes. A real box shows its prompt right
    // after the boot bar, so a pass rarely finds step 1 itself; any later step hides it too.
    if (step >= 2 && pass.label_shown) {
      window->set_prompt_label_visible(false);
      pass.label_shown = false;
    }
    switch (step) {
      case 0:
        window->set_exit_enabled(true);
        window->set_prompt_label_visible(true);
        pass.label_shown = true;
        if (!pass.cfe_msg_shown)
          window->show_status(step_status[0].percent, step_status[0].text);
        pass.cfe_msg_shown = 1;
        send(window, &break_key, 1);
        command[0] = break_key;
        log_sent(command, 1, step);
        pause_ms = step0_pause_ms(pass);
        break;
      case 1:
        window->set_prompt_label_visible(false);
        pass.label_shown = false;
        break;
      case 2:
        if (!ready)
          break;
        window->show_status(step_status[2].percent, step_status[2].text);
        build_command(command, cfe_commands[2], box_ip.c_str());
        log_sent(command, int(std::strlen(command)), step);
        pass.flash_bytes = 0;
        break;
      case 3:
      case 4:
        if (!ready)
          break;
        if (step == 4 && !std::filesystem::exists(files[1])) {
          // No splash picture in this image: go straight on to the erase step, which acts
          // at once because the prompt that brought us here is still unanswered.
          upgrade_step = 5;
          continue;
        }
        window->show_status(step_status[step].percent, step_status[step].text);
        build_command(command, cfe_commands[step], pc_ip.c_str());
        log_sent(command, int(std::strlen(command)), step);
        pass.served_file = files[step - 3];
        pass.flash_bytes = size_or_zero(pass.served_file);
        if (!(pass.tftp_started = serve(window, pass.served_file)))
          command[0] = '\0';
        break;
      case 5:
        if (!ready)
          break;
        window->show_status(step_status[5].percent, step_status[5].text);
        std::snprintf(command, sizeof command, "%s; %s\n", cfe_commands[0], cfe_commands[1]);
        log_sent(command, int(std::strlen(command)), step);
        // The erase clears what the boot and root images are to fill.
        pass.flash_bytes = size_or_zero(files[2]) + size_or_zero(files[3]);
        break;
      case 6:
      case 7:
        if (!ready)
          break;
        window->show_status(step_status[step].percent, step_status[step].text);
        build_command(command, cfe_commands[step - 1], pc_ip.c_str());
        log_sent(command, int(std::strlen(command)), step);
        pass.served_file = files[step - 4];
        pass.flash_bytes = size_or_zero(pass.served_file);
        if (!(pass.tftp_started = serve(window, pass.served_file)))
          command[0] = '\0';
        break;
      case 8:
        if (!ready)
          break;
        build_command(command, cfe_commands[7], "");
        log_sent(command, int(std::strlen(command)), step);
        // Only a reboot that went out is a finished upgrade.
        if (send(window, command, int(std::strlen(command))))
          window->show_status(step_status[8].percent, step_status[8].text);
        command[0] = '\0';
        worker_running = 0;
        break;
      default:
        break;
    }

    // The step is read again: boot output that arrived during this pass may have moved it.
    if (upgrade_step != 0 && command[0] != '\0') {
      // The prompt is taken before the command goes out, so the box's next prompt, which
      // may come back before this pass ends, moves the step on instead of being ignored;
      // a prompt the pass did not act on stays for the next pass.
      if (step >= 2) {
        prompt_ready = 0;
        ZV_LOG(LOG_INFO, worker_name, "%ssilence limit %d s at step %d", log_tag.c_str(),
               silence_limit_ms(box_silence_limit_ms.load(), pass.flash_bytes) / 1000, step);
      }
      if (send(window, command, int(std::strlen(command))) && upgrade_step == 5) {
        // The second break brings a fresh prompt once the erase has had its time; that
        // prompt, arriving after this pass, is what moves the upgrade on to the boot image.
        if (pause(10000))
          send(window, &break_key, 1);
      }
    }

    if (pass.tftp_started) {
      const bool delivered = server->finish();
      pass.own_mark_ms = now_ms();
      window->transfer_ended(pass.served_file, delivered, server->bytes_served());
      // 90 % means the root image reached the box; not a transfer the box or the user ended.
      if (upgrade_step == 7 && delivered && worker_running)
        window->show_status(90, nullptr);
      pass.tftp_started = 0;
    }

    pause(pause_ms);
  }

  window->worker_finished();
  ZV_LOG(LOG_INFO, worker_name, "%sstop write-thread!!", log_tag.c_str());
  ZV_LOG(LOG_INFO, worker_name, "%sClosed %s", log_tag.c_str(), window->port_name().c_str());
  return 0;
}
