#include "tests/platform/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>

PtyPair::PtyPair() {
  int slave = -1;
  char name[256];
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    master = -1;
    return;
  }
  // The device is opened again by name by the code under test; this first slave descriptor
  // is not needed (the master keeps the pair alive).
  ::close(slave);
  slave_name = name;
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() { close_master(); }

void PtyPair::close_master() {
  if (master >= 0)
    ::close(master);
  master = -1;
}

bool PtyPair::send(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string PtyPair::receive(size_t count, int timeout_ms) {
  std::string got;
  char buf[4096];
  while (got.size() < count) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0)
      break;
    ssize_t n = ::read(master, buf, std::min(sizeof buf, count - got.size()));
    if (n <= 0)
      break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}
