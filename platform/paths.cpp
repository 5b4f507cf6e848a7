// The log's place, the same on every OS: beside the program where its folder takes the file.
#include "platform/paths.h"

std::string log_path_for(const std::string &exe_path, const std::string &exe_name) {
  // Only the executable's own name counts: a folder of the same name further up the path
  // (/home/me/ZeVavi/build/ZeVavi) must not move the log out of the executable's folder.
  size_t cut = exe_path.find_last_of("/\\");
  size_t name_at = cut == std::string::npos ? 0 : cut + 1;
  if (exe_name.empty() || exe_path.compare(name_at, std::string::npos, exe_name) != 0)
    return "zevavi.log";
  return exe_path.substr(0, name_at) + "zevavi.log";
}

std::string default_log_path(const std::string &own_name) {
  const std::string exe = executable_path();
  const std::string name = own_name.empty() ? exe.substr(exe.find_last_of("/\\") + 1) : own_name;
  std::string path = log_path_for(exe, name);
  return can_start_file_at(path) ? path : log_fallback_path();
}
