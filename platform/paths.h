// Where the program keeps its files: its own path, the partition folder, the log fallback.
#pragma once

#include <string>

// Full path of the running executable, or "" when it cannot be read.
std::string executable_path();

// The file name of the program `stem` on this OS: the stem itself, or "ZeVavi.exe" for
// "ZeVavi" on Windows.
std::string executable_name(const std::string &stem);

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

// The settings file `name` of the programs: ${XDG_CONFIG_HOME:-$HOME/.config}/zevavi/NAME on
// Linux, %APPDATA%\zevavi\NAME on Windows (the roaming profile, where Windows programs keep
// what a user set). The folder is not created here.
std::string settings_file_path(const std::string &name);

// The data file `name` of the programs (the production records): on Linux
// ${XDG_DATA_HOME:-$HOME/.local/share}/zevavi/NAME, on Windows %LOCALAPPDATA%\zevavi\NAME.
// Creates the folder (private to the user on Linux).
std::string data_file_path(const std::string &name);

// Where the log goes when the folder of the executable is not writable: on Linux
// ${XDG_STATE_HOME:-$HOME/.local/state}/zevavi/zevavi.log, on Windows
// %LOCALAPPDATA%\zevavi\zevavi.log. Creates the folder.
std::string log_fallback_path();

// The log's path by the executable's path and name: "zevavi.log" beside the executable when
// the path's last component is exactly `exe_name`, else "zevavi.log" in the working folder.
// Only the last component counts: a folder of that name further up the path does not.
std::string log_path_for(const std::string &exe_path, const std::string &exe_name);

// Where a program starts its log: log_path_for(executable_path(), own_name) (with no
// `own_name`, whatever the executable is called) when a fresh log can be started there,
// else log_fallback_path(). An installed copy lies in a folder its users may not write
// (Program Files, /usr/bin): their logs go to their own folders instead.
std::string default_log_path(const std::string &own_name = {});

// True when a fresh file can be started at `path`: nothing or a regular file is there (a
// link, folder, FIFO or device in its place is left alone: it is neither followed nor
// opened), and its folder lets this user create a file. Tries by creating a file of
// another, unique name there and deleting it again, so it leaves nothing behind.
bool can_start_file_at(const std::string &path);

// Moves the log of the previous run at `path` to `path`.1, replacing an older one, so that
// a fresh log can start at `path`; where it cannot be moved it is deleted. A technician
// restarts the program after a stall, and the run that stalled is the one worth reading.
// Only a regular file is moved: anything else at `path` (a link, a device) is left as it is.
void keep_previous_log(const std::string &path);

// Deletes a file; true when it is gone afterwards (also when it never existed).
bool remove_file(const std::string &path);
