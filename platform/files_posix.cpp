#include "platform/files.h"
#include "platform/filestestseam.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

FILE *open_regular_file(const std::string &path, std::string &reason, bool &not_regular) {
  not_regular = false;
  // Looking first keeps a FIFO from ever being opened: opening one for reading waits for a
  // writer, for ever if none comes.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    reason = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    not_regular = true;
    reason = "it is not a regular file";
    return nullptr;
  }
  // The name may have been swapped since the look: O_NONBLOCK keeps a FIFO now in its place
  // from blocking the open, and the second look is at what was really opened.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return nullptr;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    not_regular = true;
    reason = "it is not a regular file";
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0)
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE *file = ::fdopen(fd, "rb");
  if (!file) {
    reason = std::strerror(errno);
    ::close(fd);
  }
  return file;
}

Folder::~Folder() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool Folder::open(const std::string &path, bool private_folder, std::string &reason) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (private_folder) {
    // Named reasons for what is in the folder's place; the open below decides in the end.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
      if (S_ISLNK(st.st_mode)) {
        reason = "it is a symbolic link";
        return false;
      }
      if (!S_ISDIR(st.st_mode)) {
        reason = "it is not a directory";
        return false;
      }
    }
    flags |= O_NOFOLLOW;
  }
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) {
    int error = errno;
    reason = private_folder && error == ELOOP ? "it is a symbolic link"
             : error == ENOTDIR               ? "it is not a directory"
                                              : std::strerror(error);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    ::close(fd);
    reason = "it is not a directory";
    return false;
  }
  if (private_folder && st.st_uid != ::geteuid()) {
    ::close(fd);
    reason = "it belongs to another user";
    return false;
  }
  fd_ = fd;
  return true;
}

FILE *Folder::create(const char *name, std::string &reason) {
  if (fd_ < 0) {
    reason = "the folder is not open";
    return nullptr;
  }
  struct stat st {};
  if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      reason = "something that is not a regular file is in its place";
      return nullptr;
    }
    if (::unlinkat(fd_, name, 0) != 0 && errno != ENOENT) {
      reason = std::strerror(errno);
      return nullptr;
    }
  }
  int fd = ::openat(fd_, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    reason = std::strerror(errno);
    return nullptr;
  }
  FILE *file = ::fdopen(fd, "wb");
  if (!file) {
    reason = std::strerror(errno);
    ::close(fd);
    ::unlinkat(fd_, name, 0);
  }
  return file;
}

void Folder::remove(const char *name) {
  if (fd_ < 0)
    return;
  struct stat st {};
  if (::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
    ::unlinkat(fd_, name, 0);
}

namespace {

std::atomic<bool> refuse_kernel_copy{false};

// Copies inside the kernel from `offset` of `in` to the position of `out`, until `count` is
// done or the kernel stops (refuses the pair of files, meets the end of `in`, fails); the
// caller's plain loop goes on from there and tells which it was. Returns the bytes copied.
uint64_t kernel_copy(int in, off_t &offset, int out, uint64_t count) {
  uint64_t copied = 0;
#ifdef __linux__
  if (refuse_kernel_copy.load())
    return 0;
  // Where the two files' bytes sit at different places within their pages, the kernel copies
  // piece by piece and loses to the plain loop (about 1.3 times slower on ext4 for a
  // container's records, which start 20 bytes into a page); where they line up it wins by
  // about two.
  const off_t at = ::lseek(out, 0, SEEK_CUR);
  const long page = ::sysconf(_SC_PAGESIZE);
  if (at < 0 || page <= 0 || offset % page != at % page)
    return 0;
  while (copied < count) {
    size_t ask = size_t(std::min<uint64_t>(count - copied, 1u << 30));
    ssize_t n = ::copy_file_range(in, &offset, out, nullptr, ask, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    copied += uint64_t(n);
  }
#else
  (void)in, (void)offset, (void)out, (void)count;
#endif
  return copied;
}

bool write_all(int fd, const char *data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace

void files_seam_refuse_kernel_copy(bool refuse) { refuse_kernel_copy.store(refuse); }

CopyEnd copy_file_part(FILE *from, FILE *to, uint64_t count) {
  // Whatever the caller wrote through `to` lands first; the bytes below go past its buffer.
  if (std::fflush(to) != 0)
    return CopyEnd::write_failed;
  const int out = ::fileno(to);
  auto finish = [&](CopyEnd end) {
    ::fseeko(to, 0, SEEK_END);
    return end;
  };

  // The stream's position counts what it has buffered; the descriptor's does not, so the
  // kernel copy works from an explicit offset and the stream is moved past it afterwards.
  const off_t start = ::ftello(from);
  if (start >= 0) {
    off_t offset = start;
    count -= kernel_copy(::fileno(from), offset, out, count);
    if (::fseeko(from, offset, SEEK_SET) != 0)
      return finish(CopyEnd::source_ended);
    if (count == 0)
      return finish(CopyEnd::done);
  }

  constexpr size_t large = 1 << 20;
  char small[16 * 1024];
  std::unique_ptr<char[]> heap(new (std::nothrow) char[large]);
  char *buffer = heap ? heap.get() : small;
  const size_t size = heap ? large : sizeof small;
  while (count > 0) {
    size_t chunk = size_t(std::min<uint64_t>(count, size));
    size_t got = std::fread(buffer, 1, chunk, from);
    if (got > 0 && !write_all(out, buffer, got))
      return finish(CopyEnd::write_failed);
    if (got != chunk)
      return finish(CopyEnd::source_ended);
    count -= got;
  }
  return finish(CopyEnd::done);
}

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

FILE *open_for_append(const std::string &path, std::string &reason) {
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) {
    reason = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    reason = "it is not a regular file";
    return nullptr;
  }
  FILE *file = ::fdopen(fd, "a");
  if (!file) {
    reason = std::strerror(errno);
    ::close(fd);
  }
  return file;
}

bool make_room_for_files(unsigned long more, unsigned long &limit, unsigned long &room) {
  struct rlimit rl {};
  if (::getrlimit(RLIMIT_NOFILE, &rl) != 0)
    return true;
  // The descriptors open now, and the lowest number free: a new descriptor takes the lowest.
  unsigned long open_now = 0;
  if (DIR *dir = ::opendir("/proc/self/fd")) {
    while (const dirent *entry = ::readdir(dir))
      if (entry->d_name[0] != '.')
        ++open_now;
    ::closedir(dir);
  } else {
    open_now = 64;  // no /proc: a guess on the safe side for a process of ours
  }
  const unsigned long needed = open_now + more;
  auto fits = [needed](rlim_t cap) { return cap == RLIM_INFINITY || cap >= needed; };
  if (fits(rl.rlim_cur))
    return true;
  if (fits(rl.rlim_max)) {
    rl.rlim_cur = rl.rlim_max == RLIM_INFINITY ? needed : std::max<rlim_t>(needed, rl.rlim_cur);
    if (::setrlimit(RLIMIT_NOFILE, &rl) == 0)
      return true;
    ::getrlimit(RLIMIT_NOFILE, &rl);
  }
  limit = static_cast<unsigned long>(fits(rl.rlim_max) ? rl.rlim_cur : rl.rlim_max);
  room = limit > open_now ? limit - open_now : 0;
  return false;
}
