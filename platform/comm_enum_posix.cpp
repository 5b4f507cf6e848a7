// The serial ports of a Linux machine, from sysfs: every tty with a driver behind it, by its
// stable /dev/serial/by-id name where udev gave it one.
#include "platform/comm.h"

#include "platform/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string read_link_name(const std::string &path) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0)
    return {};
  buf[n] = 0;
  const char *slash = std::strrchr(buf, '/');
  return slash ? slash + 1 : buf;
}

std::string real_path(const std::string &path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// The 8250 driver registers its ports whether or not a UART sits behind them; only a
// port whose type the driver knows is real.
bool serial8250_port_present(const std::string &dev_path) {
  UniqueFd fd(::open(dev_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  serial_struct info{};
  return fd.valid() && ::ioctl(fd.get(), TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
}

}  // namespace

uint32_t comm_enum_ports_in(const std::string &sys_class_tty, const std::string &dev,
                            std::vector<std::string> &names) {
  names.clear();
  DIR *dir = ::opendir(sys_class_tty.c_str());
  if (!dir)
    return comm_error_from_errno(errno);
  std::vector<std::string> found;
  while (dirent *e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..")
      continue;
    const std::string base = sys_class_tty + "/" + name + "/device";
    struct stat st;
    // Virtual terminals, ptys and the console have no device, or no driver behind it.
    if (::stat(base.c_str(), &st) != 0 || ::stat((base + "/driver").c_str(), &st) != 0)
      continue;
    const std::string path = dev + "/" + name;
    if (read_link_name(base + "/driver") == "serial8250" && !serial8250_port_present(path))
      continue;
    found.push_back(path);
  }
  ::closedir(dir);
  // A USB adapter's ttyUSBn changes with the order of plugging; its by-id name does not.
  const std::string by_id = dev + "/serial/by-id";
  if (DIR *ids = ::opendir(by_id.c_str())) {
    while (dirent *e = ::readdir(ids)) {
      std::string link = by_id + "/" + e->d_name;
      if (e->d_name[0] == '.')
        continue;
      std::string target = real_path(link);
      for (std::string &path : found)
        if (!target.empty() && real_path(path) == target)
          path = link;
    }
    ::closedir(ids);
  }
  names = comm_port_list(found);
  return COMM_OK;
}

uint32_t comm_enum_ports(std::vector<std::string> &names) {
  return comm_enum_ports_in("/sys/class/tty", "/dev", names);
}
