// Events of the serial device layer as eventfds, so a wait can take the device's own file
// descriptor and a stop event in one poll.
#include "platform/comm.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>

CommEvent::CommEvent(bool signalled) {
  int fd = ::eventfd(signalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) {
    // Without an event no wait could ever end; nothing sensible can go on.
    std::perror("eventfd");
    std::abort();
  }
  handle_ = fd;
}

CommEvent::~CommEvent() { ::close(static_cast<int>(handle_)); }

void CommEvent::set() {
  uint64_t one = 1;
  // A full counter (never reached) still reads as set.
  ssize_t n = ::write(static_cast<int>(handle_), &one, sizeof one);
  (void)n;
}

void CommEvent::reset() {
  uint64_t value;
  ssize_t n = ::read(static_cast<int>(handle_), &value, sizeof value);
  (void)n;
}

int comm_wait_any(const CommEvent *const *events, int count, int timeout_ms) {
  constexpr int kMax = 8;
  pollfd fds[kMax];
  if (count > kMax)
    count = kMax;
  for (int i = 0; i < count; ++i)
    fds[i] = {static_cast<int>(events[i]->native_handle()), POLLIN, 0};
  for (;;) {
    int rc = ::poll(fds, count, timeout_ms);
    if (rc < 0 && errno == EINTR)
      continue;  // the time-out restarts; callers only use it as an upper bound
    if (rc <= 0)
      return -1;
    for (int i = 0; i < count; ++i)
      if (fds[i].revents & POLLIN)
        return i;
    return -1;
  }
}
