// Ctrl+C, Ctrl+Break and the console's close button arrive on a thread of the system's own;
// the handler only writes a byte into a pipe, and the stopping happens in the event loop.
#include "platform/stopsignal.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

int stop_pipe[2] = {-1, -1};

BOOL WINAPI on_console_event(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
    return FALSE;
  char byte = 1;
  [[maybe_unused]] int n = ::_write(stop_pipe[1], &byte, 1);
  return TRUE;
}

}  // namespace

int stop_requests_watch() {
  if (stop_pipe[0] >= 0)
    return stop_pipe[0];
  if (::_pipe(stop_pipe, 64, _O_BINARY | _O_NOINHERIT) != 0)
    return -1;
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
  return stop_pipe[0];
}

void stop_requests_take() {
  char byte;
  [[maybe_unused]] int n = ::_read(stop_pipe[0], &byte, 1);
}
