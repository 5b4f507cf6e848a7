#include "tools/boxsim/line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

namespace boxsim {

namespace {

// A real line carries bytes untouched: no echo by the tty layer (the boot loader echoes
// itself), no CR/LF translation, no signals from 0x03.
bool make_raw(int fd, bool set_speed) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0)
    return false;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (set_speed) {
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
  }
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

bool open_pty_line(Line &line, std::string &error) {
  UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
    error = std::string("cannot create a pty: ") + std::strerror(errno);
    return false;
  }
  char name[256];
  if (::ptsname_r(master.get(), name, sizeof name) != 0) {
    error = std::string("cannot name the pty: ") + std::strerror(errno);
    return false;
  }
  UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave.valid() || !make_raw(slave.get(), true)) {
    error = std::string("cannot set up ") + name + ": " + std::strerror(errno);
    return false;
  }
  ::fcntl(master.get(), F_SETFL, ::fcntl(master.get(), F_GETFL) | O_NONBLOCK);
  line.io = std::move(master);
  line.slave_hold = std::move(slave);
  line.name = name;
  return true;
}

bool open_device_line(const std::string &path, Line &line, std::string &error) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!make_raw(fd.get(), true)) {
    error = "cannot set " + path + " to 115200 8N1: " + std::strerror(errno);
    return false;
  }
  line.io = std::move(fd);
  line.name = path;
  return true;
}

}  // namespace boxsim
