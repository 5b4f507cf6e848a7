// Files on Windows. A held folder is opened without delete sharing, so while we hold it
// nobody can rename it or put a link in its place, and its files are reached by the path
// the system gives for that very handle. Files are created exclusively and a reparse point
// (symbolic link, junction) at a name is removed as a link, never followed.
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace {

HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

std::string system_text(DWORD error) {
  char text[512] = "";
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                             text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
    text[--n] = 0;
  return n ? std::string(text) : "error " + std::to_string(error);
}

// Hands a file handle to the C library as a FILE; closes the handle when that fails.
FILE *as_file(HANDLE h, int flags, const char *mode, std::string &reason) {
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (fd < 0) {
    ::CloseHandle(h);
    reason = "the file cannot be opened";
    return nullptr;
  }
  FILE *file = ::_fdopen(fd, mode);
  if (!file) {
    reason = "the file cannot be opened";
    ::_close(fd);
  }
  return file;
}

bool is_link(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

}  // namespace

FILE *open_regular_file(const std::string &path, std::string &reason, bool &not_regular) {
  not_regular = false;
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = system_text(::GetLastError());
    return nullptr;
  }
  // A folder, a pipe, a console or a serial port is not a file to read an image from.
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(h);
    not_regular = true;
    reason = "it is not a regular file";
    return nullptr;
  }
  return as_file(h, _O_RDONLY | _O_BINARY, "rb", reason);
}

FILE *open_for_append(const std::string &path, std::string &reason) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused, not its target.
  HANDLE h = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = system_text(::GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    ::CloseHandle(h);
    reason = is_link(info.dwFileAttributes) ? "it is a symbolic link" : "it is not a regular file";
    return nullptr;
  }
  return as_file(h, _O_APPEND | _O_TEXT, "a", reason);
}

Folder::~Folder() {
  if (fd_ >= 0)
    ::_close(fd_);
}

bool Folder::open(const std::string &path, bool private_folder, std::string &reason) {
  if (fd_ >= 0) {
    ::_close(fd_);
    fd_ = -1;
  }
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (private_folder) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (is_link(attributes)) {
        reason = "it is a symbolic link";
        return false;
      }
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = "it is not a directory";
        return false;
      }
    }
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  }
  HANDLE h = ::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    reason = error == ERROR_DIRECTORY ? "it is not a directory" : system_text(error);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(h);
    reason = "it is not a directory";
    return false;
  }
  if (private_folder && is_link(info.dwFileAttributes)) {
    ::CloseHandle(h);
    reason = "it is a symbolic link";
    return false;
  }
  fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY);
  if (fd_ < 0) {
    ::CloseHandle(h);
    reason = "the folder cannot be opened";
    return false;
  }
  return true;
}

namespace {

// The path of `name` inside the held folder, through the folder's own handle.
bool path_in(int fd, const char *name, std::string &out) {
  char buffer[MAX_PATH * 2];
  DWORD n = ::GetFinalPathNameByHandleA(handle_of(fd), buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof buffer)
    return false;
  out.assign(buffer, n);
  out += '\\';
  out += name;
  return true;
}

}  // namespace

FILE *Folder::create(const char *name, std::string &reason) {
  std::string path;
  if (fd_ < 0) {
    reason = "the folder is not open";
    return nullptr;
  }
  if (!path_in(fd_, name, path)) {
    reason = system_text(::GetLastError());
    return nullptr;
  }
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !is_link(attributes)) {
      reason = "something that is not a regular file is in its place";
      return nullptr;
    }
    // A link to a folder is removed as a folder; either way the link goes, not its target.
    BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryA(path.c_str())
                                                           : ::DeleteFileA(path.c_str());
    if (!removed && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
      reason = system_text(::GetLastError());
      return nullptr;
    }
  }
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = system_text(::GetLastError());
    return nullptr;
  }
  FILE *file = as_file(h, _O_WRONLY | _O_BINARY, "wb", reason);
  if (!file)
    ::DeleteFileA(path.c_str());
  return file;
}

void Folder::remove(const char *name) {
  std::string path;
  if (fd_ < 0 || !path_in(fd_, name, path))
    return;
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    ::DeleteFileA(path.c_str());
  else if (is_link(attributes))
    ::RemoveDirectoryA(path.c_str());
}

// Windows has no in-kernel copy between open files at offsets; a loop with a large buffer
// keeps the part copy to a few system calls per megabyte.
CopyEnd copy_file_part(FILE *from, FILE *to, uint64_t count) {
  constexpr size_t large = 1 << 20;
  std::unique_ptr<char[]> heap(new (std::nothrow) char[large]);
  char small[16 * 1024];
  char *buffer = heap ? heap.get() : small;
  const size_t size = heap ? large : sizeof small;
  while (count > 0) {
    size_t chunk = size_t(std::min<uint64_t>(count, size));
    size_t got = std::fread(buffer, 1, chunk, from);
    if (got > 0 && std::fwrite(buffer, 1, got, to) != got)
      return CopyEnd::write_failed;
    if (got != chunk)
      return CopyEnd::source_ended;
    count -= got;
  }
  return std::fflush(to) == 0 ? CopyEnd::done : CopyEnd::write_failed;
}

bool stdout_is_terminal() { return ::_isatty(::_fileno(stdout)) != 0; }

bool make_room_for_files(unsigned long, unsigned long &, unsigned long &) {
  return true;  // Windows sets no per-process limit on handles of this kind worth checking
}
