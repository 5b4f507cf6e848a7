#include "src/consolewatch.h"

#include "lib/log.h"
#include "src/boxmodels.h"
#include "src/upgrade.h"

#include <cstdio>
#include <cstring>

namespace {
const char *const watcher_name = "VAzOdor::ComTerminalChar";
}

ConsoleWatcher::ConsoleWatcher() : session_(window_session) {}

void ConsoleWatcher::reset() {
  std::memset(console_tail, 0, sizeof console_tail);
  err_capture = 0;
  err_len = 0;
  std::memset(err_code, 0, sizeof err_code);
}

void ConsoleWatcher::on_char(char ch, WatcherHost &host) {
  session_.note_console_activity();
  std::memmove(console_tail, console_tail + 1, 3);
  console_tail[3] = ch;

  if (std::memcmp(console_tail, "****", 4) == 0) {
    // The box is booting (again): whatever step we were at, the sequence starts over.
    session_.upgrade_step = 1;
    session_.prompt_ready = 0;
  } else if (std::memcmp(console_tail, "us =", 4) == 0) {
    err_capture = 1;
    err_len = 0;
  } else if (std::memcmp(console_tail, "CFE>", 4) == 0 && session_.prompt_ready == 0 &&
             session_.upgrade_step != 0) {
    if (session_.upgrade_step == 3 && !box_model_has_splash(host.machine()))
      session_.upgrade_step = 5;
    else
      ++session_.upgrade_step;
    session_.prompt_ready = 1;
  }

  if (err_capture && ch != ' ') {
    if (ch == '-') {
      session_.stop_worker();
      err_capture = 0;
      host.release_upgrade();
      std::memset(err_code, 0, sizeof err_code);
      err_code[err_len++] = '-';
    } else if (ch >= '0' && ch <= '9') {
      err_capture = 0;
      ZV_LOG(LOG_DEBUG, watcher_name, "SUCCESS >> Setp : [%d]", session_.upgrade_step.load());
    }
  }

  if (err_len == 0)
    return;
  if (ch >= '0' && ch <= '9' && err_len < max_code_length)
    err_code[err_len++] = ch;
  if (ch == ' ') {
    int count = host.status_count();
    ZV_LOG(LOG_DEBUG, watcher_name, "FAIL >> Setp : [%d], ProcessStep : [%d], ErrNo : [%s]",
           session_.upgrade_step.load(), count, err_code);
    // The step quoted is the numbered line of the command that failed, as the user sees it;
    // the call count would also hold the progress-only updates that have no line.
    char line[128];
    std::snprintf(line, sizeof line, "Fail to upgrade your machine.[step : %d, err-code : %s]",
                  host.last_line_number(), err_code);
    host.show_status(0, line);
    err_len = 0;
  }
}
