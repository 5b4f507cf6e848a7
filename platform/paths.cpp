// The paths' half that is the same on every OS: the log's place (beside the program where its
// folder takes the file) and the checks on the temporary folder.
#include "platform/paths.h"

#include "platform/files.h"
#include "platform/paths_os.h"

std::string log_path_for(const std::string &exe_path, const std::string &exe_name) {
  // Only the executable's own name counts: a folder of the same name further up the path
  // (/home/me/ZeVavi/build/ZeVavi) must not move the log out of the executable's folder.
  size_t cut = exe_path.find_last_of("/\\");
  size_t name_at = cut == std::string::npos ? 0 : cut + 1;
  if (exe_name.empty() || exe_path.compare(name_at, std::string::npos, exe_name) != 0)
    return "zevavi.log";
  return exe_path.substr(0, name_at) + "zevavi.log";
}

std::string default_log_path(const std::string &program) {
  std::string path = log_path_for(executable_path(), executable_name(program));
  return can_start_file_at(path) ? path : log_fallback_path();
}

namespace {

// A folder of ours is a real directory owned by us; anything else in its place is refused,
// since we would otherwise write partition files wherever a link points.
bool check_own_dir(const std::string &path, std::string &error) {
  Folder folder;
  std::string reason;
  if (folder.open(path, true, reason))
    return true;
  error = "The temporary folder " + path + " is not safe to use (" + reason + ").";
  return false;
}

bool make_own_dir(const std::string &path, std::string &error) {
  std::string reason;
  if (make_private_folder(path, reason))
    return check_own_dir(path, error);
  error = "The temporary folder " + path + " cannot be created (" + reason + ").";
  return false;
}

}  // namespace

bool make_temp_dir(std::string &error) {
  const std::string path = temp_dir_path();
  if (path.empty()) {
    error = std::string("The temporary folder has no place: ") + no_home_folder + ".";
    return false;
  }
  return make_own_dir(path.substr(0, path.find_last_of("/\\")), error) && make_own_dir(path, error);
}

void remove_temp_files(const char *const *names, int count) {
  const std::string path = temp_dir_path();
  {
    // A link planted in place of the folder must not steer the deletes elsewhere, and a folder
    // of another user there is none of ours to clean.
    Folder folder;
    std::string reason;
    if (!folder.open(path, true, reason))
      return;
    for (int i = 0; i < count; ++i)
      folder.remove(names[i]);
  }  // the folder is let go first: Windows cannot remove a folder that is held
  remove_folder(path);
}

const char *path_kind_text(PathKind kind) {
  switch (kind) {
    case PathKind::nothing:
      return "nothing";
    case PathKind::regular_file:
      return "a file";
    case PathKind::symbolic_link:
      return "a symbolic link";
    case PathKind::folder:
      return "a folder";
    case PathKind::device:
      return "a device";
    case PathKind::fifo:
      return "a FIFO (named pipe)";
    case PathKind::socket:
      return "a socket";
    case PathKind::other:
      return "not a regular file";
    case PathKind::unknown:
      break;
  }
  return "something that cannot be looked at";
}

namespace {

bool open_started_log(const std::string &path, std::string &error, FILE **opened) {
  if (!opened)
    return true;
  std::string reason;
  *opened = open_for_append(path, reason);
  if (!*opened)
    error = "The log " + path + " cannot be written: " + reason + ". Name a file for the log.";
  return *opened != nullptr;
}

}  // namespace

bool start_log_at(const std::string &path, std::string &error, FILE **opened) {
  if (path.empty()) {
    error =
        std::string("The log has no place: the program's folder takes no file and ") + no_home_folder + ".";
    return false;
  }
  unsigned long long size = 0;
  const PathKind kind = path_kind(path, &size);
  if (kind == PathKind::nothing)
    return open_started_log(path, error, opened);
  if (kind != PathKind::regular_file) {
    // Moving it would take a folder, a device node or a link's name from whoever owns it
    // (as root, /dev/null itself); writing into it is no log either.
    error = "The log " + path + " is " + path_kind_text(kind) +
            ", not a regular file; it is left as it is. Name a file for the log.";
    return false;
  }
  if (size == 0)
    return open_started_log(path, error, opened);
  // Oldest first, so that no run is written over; only files we wrote move.
  for (int n = kept_logs - 1; n >= 1; --n) {
    const std::string older = path + "." + std::to_string(n);
    if (path_kind(older) == PathKind::regular_file)
      move_file_replacing(older, path + "." + std::to_string(n + 1));
  }
  move_file_replacing(path, path + ".1");
  return open_started_log(path, error, opened);
}
