// Where the program keeps its files: its own path, the partition folder, the log fallback.
#pragma once

#include <cstdio>
#include <string>

// Full path of the running executable, or "" when it cannot be read.
std::string executable_path();

// The user's home folder: $HOME, or where the password database puts it when HOME is unset
// or not an absolute path (a service, a cron job, env -i); "" when neither names one. Never
// a shared folder such as /tmp, where others could plant links in this user's place.
// On Windows %USERPROFILE%.
std::string home_folder();
// Why the folders below the home folder have no place, for a sentence.
constexpr const char *no_home_folder =
    "this user has no home folder (HOME is unset and the password database names none)";

// The temporary folder of the partition files, without a trailing delimiter. On Linux it is
// per user and private: ${XDG_CACHE_HOME:-$HOME/.cache}/zevavi/ky_tmp ("" when the user has
// no home folder, which make_temp_dir refuses); on Windows %LOCALAPPDATA%\zevavi\ky_tmp.
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
// what a user set). The folder is not created here. "" when the user has no home folder.
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

// Where the program `program` ("ZeVavi", "zevavi-flash": its name without the system's
// ".exe") starts its log, the same rule for every program: log_path_for(executable_path(),
// its executable's name on this OS), so beside the executable only while that is named
// exactly so, when a fresh log can be started there; else log_fallback_path(). An installed
// copy lies in a folder its users may not write (Program Files, /usr/bin): their logs go to
// their own folders instead.
std::string default_log_path(const std::string &program);

// True when a fresh file can be started at `path`: nothing or a regular file is there (a
// link, folder, FIFO or device in its place is left alone: it is neither followed nor
// opened), and its folder lets this user create a file. Tries by creating a file of
// another, unique name there and deleting it again, so it leaves nothing behind.
bool can_start_file_at(const std::string &path);

// What stands at a path, looked at without following a symbolic link in its place.
enum class PathKind { nothing, regular_file, symbolic_link, folder, device, fifo, socket, other, unknown };

// The kind of what stands at `path`; for a regular file, its size goes to `size` if given.
// `unknown` when the system will not say (no permission to look, a name too long).
PathKind path_kind(const std::string &path, unsigned long long *size = nullptr);

// "a folder", "a device", ... for a sentence about what stands somewhere.
const char *path_kind_text(PathKind kind);

// How many earlier runs' logs are kept beside the log: `path`.1 (the last run) to `path`.5.
constexpr int kept_logs = 5;

// Makes `path` ready for a fresh log, the same way for every program: when a log of an
// earlier run stands there, it becomes `path`.1, the one before `path`.2, and so on up to
// `path`.5, whose run gives way. A technician restarts after a stall, and often again, and
// the run that stalled is the one worth reading; an empty log holds no run and is not kept.
// Only a regular file is a log: anything else at `path` (a folder, a device such as
// /dev/null, a symbolic link, a FIFO) is refused, left as it is, and `error` names the path
// and what it is. Where an earlier log cannot be moved aside, the new run is written after
// it rather than lose it. With `opened`, the fresh log is also opened for appending
// (open_for_append: what was planted at its name since the look is refused, not followed)
// and handed over there.
bool start_log_at(const std::string &path, std::string &error, FILE **opened = nullptr);

// Moves the file at `from` to `to`, replacing a file there. False when it was not moved.
bool move_file_replacing(const std::string &from, const std::string &to);

// Deletes a file; true when it is gone afterwards (also when it never existed).
bool remove_file(const std::string &path);
