#include "platform/stopsignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace {

int stop_pipe[2] = {-1, -1};

// Async-signal-safe: a write, nothing else.
void on_stop_signal(int) {
  char byte = 1;
  [[maybe_unused]] auto n = ::write(stop_pipe[1], &byte, 1);
}

}  // namespace

int stop_requests_watch() {
  if (stop_pipe[0] >= 0)
    return stop_pipe[0];
  if (::pipe2(stop_pipe, O_CLOEXEC) != 0)
    return -1;
  struct sigaction action = {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return stop_pipe[0];
}

void stop_requests_take() {
  char byte;
  [[maybe_unused]] auto n = ::read(stop_pipe[0], &byte, 1);
}
