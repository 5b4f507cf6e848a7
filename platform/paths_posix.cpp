#include "platform/paths.h"

#include "platform/paths_os.h"
#include "platform/unique_fd.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// "" when the user has no home folder.
std::string home_based(const char *xdg_var, const char *home_suffix) {
  const char *xdg = std::getenv(xdg_var);
  if (xdg && *xdg == '/')
    return xdg;
  const std::string home = home_folder();
  return home.empty() ? home : home + home_suffix;
}

// mkdir -p with mode 0700 for the components it creates.
bool make_dirs(const std::string &path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty())
      continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
      return false;
  }
  return true;
}

}  // namespace

std::string executable_path() {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0)
    return {};
  return std::string(buffer, size_t(n));
}

std::string executable_name(const std::string &stem) { return stem; }

std::string home_folder() {
  const char *home = std::getenv("HOME");
  if (home && *home == '/')
    return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size_t(size > 0 ? size : 16384));
  passwd entry{};
  passwd *found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir || found->pw_dir[0] != '/')
    return {};
  return found->pw_dir;
}

std::string temp_dir_path() {
  const std::string cache = home_based("XDG_CACHE_HOME", "/.cache");
  if (cache.empty())
    return {};
  std::string path = cache + "/zevavi/ky_tmp";
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  return path;
}

bool make_private_folder(const std::string &path, std::string &reason) {
  if (make_dirs(path))
    return true;
  reason = std::strerror(errno);
  return false;
}

void remove_folder(const std::string &path) { ::rmdir(path.c_str()); }

bool temp_dir_exists() {
  struct stat st {};
  return ::lstat(temp_dir_path().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string settings_file_path(const std::string &name) {
  const std::string config = home_based("XDG_CONFIG_HOME", "/.config");
  return config.empty() ? config : config + "/zevavi/" + name;
}

std::string data_file_path(const std::string &name) {
  std::string dir = home_based("XDG_DATA_HOME", "/.local/share") + "/zevavi";
  make_dirs(dir);
  return dir + "/" + name;
}

std::string log_fallback_path() {
  const std::string state = home_based("XDG_STATE_HOME", "/.local/state");
  if (state.empty())
    return {};
  std::string dir = state + "/zevavi";
  make_dirs(dir);
  return dir + "/zevavi.log";
}

bool remove_file(const std::string &path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool can_start_file_at(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode))
      return false;
  } else if (errno != ENOENT) {
    return false;
  }
  // Starting the log moves the old one aside and creates a new one: both need a folder that
  // takes a new file. Mode bits alone do not tell (a read-only mount, root, ACLs), so a file
  // of a name nobody else uses is made and deleted again.
  const size_t cut = path.rfind('/');
  std::string probe =
      (cut == std::string::npos ? std::string(".") : path.substr(0, cut)) + "/.zevavi-probe-XXXXXX";
  UniqueFd fd(::mkostemp(probe.data(), O_CLOEXEC));
  if (!fd.valid())
    return false;
  ::unlink(probe.c_str());
  return true;
}

PathKind path_kind(const std::string &path, unsigned long long *size) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? PathKind::nothing : PathKind::unknown;
  if (S_ISREG(st.st_mode)) {
    if (size)
      *size = static_cast<unsigned long long>(st.st_size);
    return PathKind::regular_file;
  }
  if (S_ISLNK(st.st_mode))
    return PathKind::symbolic_link;
  if (S_ISDIR(st.st_mode))
    return PathKind::folder;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    return PathKind::device;
  if (S_ISFIFO(st.st_mode))
    return PathKind::fifo;
  if (S_ISSOCK(st.st_mode))
    return PathKind::socket;
  return PathKind::other;
}

bool move_file_replacing(const std::string &from, const std::string &to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}
