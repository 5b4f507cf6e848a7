// Where the program keeps its files: its own path, the partition folder, the log fallback.
#pragma once

#include <string>

// Full path of the running executable, or "" when it cannot be read.
std::string executable_path();

// The temporary folder of the partition files, without a trailing delimiter. On Linux it is
// per user and private: ${XDG_CACHE_HOME:-$HOME/.cache}/zevavi/ky_tmp; on Windows
// %LOCALAPPDATA%\zevavi\ky_tmp.
// The last component stays "ky_tmp": the boot loader's commands name the files inside it.
std::string temp_dir_path();

// Creates temp_dir_path (and its private parents, mode 0700) if missing. Refuses a path whose
// last two components are a symlink or not a directory, or a folder owned by another user,
// rather than follow it. Returns true when it is ready; otherwise `error` is a sentence for
// the user naming the folder and why, such as
// "The temporary folder /x/ky_tmp is not safe to use (it is a symbolic link)."
bool make_temp_dir(std::string &error);

// True when temp_dir_path is a real directory (a symlink does not count).
bool temp_dir_exists();

// Deletes `names` inside the temp folder (only those, and only regular files or links, never
// following a symlink in place of the folder or touching a folder of another user) and then
// the folder itself. Failures are ignored, as the caller wants.
void remove_temp_files(const char *const *names, int count);

// Where the log goes when the folder of the executable is not writable.
std::string log_fallback_path();

// Deletes a file; true when it is gone afterwards (also when it never existed).
bool remove_file(const std::string &path);

// True when `path` can be created or appended to (the file is created if missing).
bool can_write_file(const std::string &path);
