#include "src/upgrade.h"

#include "lib/log.h"
#include "lib/tftpthread.h"
#include "src/imageprep.h"
#include "src/wizardstate.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

std::atomic<int> upgrade_step{0};
std::atomic<int> prompt_ready{0};
std::atomic<int> worker_running{0};

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

namespace {

const char *const worker_name = "threadCommandMain";

std::mutex pause_mutex;
std::condition_variable pause_wake;

// Sleeps `ms`, or less when stop_worker is called meanwhile. Returns worker_running.
bool pause(int ms) {
  std::unique_lock lock(pause_mutex);
  pause_wake.wait_for(lock, std::chrono::milliseconds(ms), [] { return worker_running.load() == 0; });
  return worker_running.load() != 0;
}

// "%s\n" around the table text, then the address into that: every command ends in one "\n".
void build_command(char (&command)[128], const char *table_text, const char *address) {
  char format[128] = {};
  std::snprintf(format, sizeof format, "%s\n", table_text);
  std::snprintf(command, sizeof command, format, address);
}

void log_sent(const char *data, int len, int step) {
  ZV_LOG_DUMP(LOG_HEX, worker_name, data, len, "STEP > %d", step);
}

// Writes to the port; on failure ends the upgrade with a status line and a log line rather
// than leaving the box waiting and the technician looking at a stalled bar.
bool send(UpgradeHost *window, const char *data, int len) {
  std::string error;
  if (window->port_write(data, len, error))
    return true;
  ZV_LOG(LOG_ERROR, worker_name, "Fail to write to %s : %s", window->port_name().c_str(), error.c_str());
  if (worker_running.exchange(0)) {
    std::string line = "Fail to write to " + window->port_name() + ".";
    window->show_status(0, line.c_str());
  }
  return false;
}

}  // namespace

void stop_worker() {
  {
    std::lock_guard lock(pause_mutex);
    worker_running = 0;
  }
  pause_wake.notify_all();
}

int threadCommandMain(UpgradeHost *window) {
  worker_running = 1;
  prompt_ready = 1;
  upgrade_step = 0;
  int cfe_msg_shown = 0;
  int tftp_started = 0;
  bool label_shown = false;
  const auto files = image_files();

  while (worker_running) {
    char command[128] = {};
    int step = upgrade_step;
    ZV_LOG(LOG_DEBUG, worker_name, "STEP : [%d]", step);

    bool ready = prompt_ready != 0;
    // The box answered: the request to start it goes. A real box shows its prompt right
    // after the boot bar, so a pass rarely finds step 1 itself; any later step hides it too.
    if (step >= 2 && label_shown) {
      window->set_prompt_label_visible(false);
      label_shown = false;
    }
    switch (step) {
      case 0:
        window->set_exit_enabled(true);
        window->set_prompt_label_visible(true);
        label_shown = true;
        if (!cfe_msg_shown)
          window->show_status(step_status[0].percent, step_status[0].text);
        cfe_msg_shown = 1;
        send(window, &break_key, 1);
        command[0] = break_key;
        log_sent(command, 1, step);
        break;
      case 1:
        window->set_prompt_label_visible(false);
        label_shown = false;
        break;
      case 2:
        if (!ready)
          break;
        window->show_status(step_status[2].percent, step_status[2].text);
        build_command(command, cfe_commands[2], machine_ip);
        log_sent(command, int(std::strlen(command)), step);
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
        build_command(command, cfe_commands[step], local_ip);
        log_sent(command, int(std::strlen(command)), step);
        tftp_started = tftp_start(files[step - 3].c_str());
        break;
      case 5:
        if (!ready)
          break;
        window->show_status(step_status[5].percent, step_status[5].text);
        std::snprintf(command, sizeof command, "%s; %s\n", cfe_commands[0], cfe_commands[1]);
        log_sent(command, int(std::strlen(command)), step);
        break;
      case 6:
      case 7:
        if (!ready)
          break;
        window->show_status(step_status[step].percent, step_status[step].text);
        build_command(command, cfe_commands[step - 1], local_ip);
        log_sent(command, int(std::strlen(command)), step);
        tftp_started = tftp_start(files[step - 4].c_str());
        break;
      case 8:
        if (!ready)
          break;
        window->show_status(step_status[8].percent, step_status[8].text);
        build_command(command, cfe_commands[7], "");
        log_sent(command, int(std::strlen(command)), step);
        worker_running = 0;
        break;
      default:
        break;
    }

    // The step is read again: boot output that arrived during this pass may have moved it.
    if (upgrade_step != 0 && command[0] != '\0') {
      if (send(window, command, int(std::strlen(command))) && upgrade_step == 5) {
        // The second break brings a fresh prompt once the erase has had its time; that
        // prompt, arriving after this pass, is what moves the upgrade on to the boot image.
        if (pause(10000))
          send(window, &break_key, 1);
      }
    }

    if (tftp_started) {
      tftp_stop(0);
      if (upgrade_step == 7)
        window->show_status(90, nullptr);
      tftp_started = 0;
    }

    prompt_ready = 0;
    pause(1000);
  }

  window->worker_finished();
  ZV_LOG(LOG_INFO, worker_name, "stop write-thread!!");
  ZV_LOG(LOG_INFO, worker_name, "Closed %s", window->port_name().c_str());
  return 0;
}
