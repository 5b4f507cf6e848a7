// Paths on Windows: the partition folder and the log's fallback live under the user's
// %LOCALAPPDATA%, which only that user (and the administrators) may reach.
#include "platform/paths.h"

#include "platform/paths_os.h"

#include <windows.h>

#include <cstdlib>

namespace {

std::string local_app_data() {
  const char *base = std::getenv("LOCALAPPDATA");
  if (base && *base)
    return base;
  char temp[MAX_PATH + 1] = "";
  DWORD n = ::GetTempPathA(sizeof temp, temp);
  std::string path(temp, n);
  while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
    path.pop_back();
  return path.empty() ? "." : path;
}

bool make_dir(const std::string &path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string last_error_text() {
  char text[512] = "";
  DWORD error = ::GetLastError();
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                             text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
    text[--n] = 0;
  return n ? std::string(text) : "error " + std::to_string(error);
}

std::string zevavi_dir() { return local_app_data() + "\\zevavi"; }

// A file as a user means it: not a folder, a link or a junction, or a device.
bool is_plain_file(DWORD attributes) {
  return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

}  // namespace

std::string executable_path() {
  char buffer[MAX_PATH * 2];
  DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer)
    return {};
  return std::string(buffer, n);
}

std::string executable_name(const std::string &stem) { return stem + ".exe"; }

std::string home_folder() {
  const char *profile = std::getenv("USERPROFILE");
  return profile && *profile ? profile : std::string();
}

std::string temp_dir_path() { return zevavi_dir() + "\\ky_tmp"; }

// %LOCALAPPDATA% is there for every user: only the folder itself is made.
bool make_private_folder(const std::string &path, std::string &reason) {
  if (make_dir(path))
    return true;
  reason = last_error_text();
  return false;
}

void remove_folder(const std::string &path) { ::RemoveDirectoryA(path.c_str()); }

bool temp_dir_exists() {
  DWORD attributes = ::GetFileAttributesA(temp_dir_path().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string settings_file_path(const std::string &name) {
  const char *roaming = std::getenv("APPDATA");
  return (roaming && *roaming ? std::string(roaming) : local_app_data()) + "\\zevavi\\" + name;
}

std::string data_file_path(const std::string &name) {
  make_dir(zevavi_dir());
  return zevavi_dir() + "\\" + name;
}

std::string log_fallback_path() {
  make_dir(zevavi_dir());
  return zevavi_dir() + "\\zevavi.log";
}

bool remove_file(const std::string &path) {
  if (::DeleteFileA(path.c_str()))
    return true;
  DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool can_start_file_at(const std::string &path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (!is_plain_file(attributes))
      return false;
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  // A user without administrator rights may read Program Files but not create a file in
  // it; the attributes of the folder do not say so, creating one does. The probe is deleted
  // by the system when its handle closes, even should this process die in between.
  const size_t cut = path.find_last_of("\\/");
  const std::string probe = (cut == std::string::npos ? std::string(".") : path.substr(0, cut)) +
                            "\\zevavi-probe-" + std::to_string(::GetCurrentProcessId()) + ".tmp";
  HANDLE h =
      ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  ::CloseHandle(h);
  return true;
}

PathKind path_kind(const std::string &path, unsigned long long *size) {
  // A device ("NUL", "COM1", a path in the device namespace) is told by what opening it gives:
  // its attributes may say nothing, or not be given at all.
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0)
    return PathKind::device;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const bool attributes = ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0;
  if (!attributes) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return PathKind::nothing;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return PathKind::symbolic_link;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    return PathKind::folder;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
    return PathKind::device;
  }
  HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    const DWORD type = ::GetFileType(h);
    ::CloseHandle(h);
    if (type == FILE_TYPE_CHAR)
      return PathKind::device;
    if (type == FILE_TYPE_PIPE)
      return PathKind::fifo;
  }
  if (!attributes)
    return PathKind::unknown;
  if (size)
    *size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return PathKind::regular_file;
}

bool move_file_replacing(const std::string &from, const std::string &to) {
  // MoveFileEx, not rename: the C runtime's rename refuses to replace an existing file.
  return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
