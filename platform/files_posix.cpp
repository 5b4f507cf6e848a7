#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }
