#include "platform/outdir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens the folder that holds the last component of `rel` (creating the folders when asked)
// below the folder `base` and returns its descriptor, or -1; `leaf` receives the last
// component.
int open_parent(int base, const std::string &rel, bool create, std::string &leaf) {
  int fd = ::dup(base);
  size_t start = 0;
  for (;;) {
    size_t slash = rel.find('/', start);
    if (slash == std::string::npos) {
      leaf = rel.substr(start);
      return fd;
    }
    std::string part = rel.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".")
      continue;
    if (create && ::mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
      ::close(fd);
      return -1;
    }
    int next = ::openat(fd, part.c_str(), kDirFlags);
    ::close(fd);
    if (next < 0)
      return -1;
    fd = next;
  }
}

}  // namespace

ZaOutDir::~ZaOutDir() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool ZaOutDir::open(const std::string &base, bool &is_link) {
  is_link = false;
  shown_ = base;
  std::string path = base.empty() ? "." : base;
  // A trailing delimiter would make the system follow a link in the last component.
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  fd_ = ::open(path.c_str(), kDirFlags);
  if (fd_ < 0) {
    struct stat st {};
    is_link = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    return false;
  }
  base_ = path;
  return true;
}

ZaOutDir::Kind ZaOutDir::kind_of(const std::string &rel, std::time_t *mtime) const {
  std::string leaf;
  int dir = open_parent(fd_, rel, false, leaf);
  if (dir < 0)
    return kNone;
  struct stat st {};
  int r = ::fstatat(dir, leaf.empty() ? "." : leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW);
  ::close(dir);
  if (r != 0)
    return kNone;
  if (S_ISDIR(st.st_mode))
    return kDir;
  if (mtime)
    *mtime = st.st_mtime;
  return kFile;
}

bool ZaOutDir::make_dirs(const std::string &rel_dir) const {
  std::string leaf;
  int dir = open_parent(fd_, rel_dir + "/", true, leaf);
  if (dir < 0)
    return false;
  ::close(dir);
  return true;
}

uint64_t ZaOutDir::free_bytes() const {
  struct statvfs vs {};
  if (::fstatvfs(fd_, &vs) != 0)
    return UINT64_MAX;
  return static_cast<uint64_t>(vs.f_bavail) * vs.f_frsize;
}

bool ZaOutFile::create(const ZaOutDir &dir, const std::string &rel) {
  discard();
  dir_fd_ = open_parent(dir.fd_, rel, true, final_);
  if (dir_fd_ < 0 || final_.empty()) {
    discard();
    return false;
  }
  std::random_device rd;
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp_ = temp_name(rd());
    int fd = ::openat(dir_fd_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST)
        continue;
      break;
    }
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
      ::close(fd);
      ::unlinkat(dir_fd_, temp_.c_str(), 0);
      break;
    }
    // The inflater hands over large chunks: each goes out in one write, not cut at the edge
    // of a stdio buffer.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
  }
  temp_.clear();
  discard();
  return false;
}

ZaOutFile::Result ZaOutFile::commit(std::time_t mtime) {
  if (!file_)
    return kWriteFailed;
  bool ok = std::fflush(file_) == 0;
  struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
  if (ok)
    ::futimens(::fileno(file_), times);  // a file system without times is no reason to fail
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  // Only a checked, complete file gets here. Renaming over an existing file makes some file
  // systems (ext4) write the new file out first; with the old one unlinked just before, the
  // rename is a plain one. A link goes, never its target; a folder stays (unlinkat without
  // AT_REMOVEDIR refuses it) and the rename below fails on it.
  if (ok)
    ::unlinkat(dir_fd_, final_.c_str(), 0);
  Result r = !ok                                                                ? kWriteFailed
             : ::renameat(dir_fd_, temp_.c_str(), dir_fd_, final_.c_str()) == 0 ? kOk
                                                                                : kRenameFailed;
  if (r == kOk)
    temp_.clear();
  discard();
  return r;
}

void ZaOutFile::discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (dir_fd_ >= 0) {
    if (!temp_.empty())
      ::unlinkat(dir_fd_, temp_.c_str(), 0);
    ::close(dir_fd_);
    dir_fd_ = -1;
  }
  temp_.clear();
}
