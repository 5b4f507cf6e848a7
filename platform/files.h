// Files that hostile surroundings cannot turn against us: an input that may turn out to be a
// FIFO or a device, and a folder whose files a planted link must never redirect.
#pragma once

#include <cstdio>
#include <string>

// Opens `path` for binary reading when it is a regular file; a symlink to one is followed,
// since the user chose it. Anything else (a FIFO, a device, a folder) is refused without
// reading from it, so a FIFO with no writer cannot block the caller. Returns null and a
// reason such as "it is not a regular file" or "No such file or directory" otherwise;
// `not_regular` tells the first kind of refusal from a failure to open.
FILE *open_regular_file(const std::string &path, std::string &reason, bool &not_regular);

// A folder held open, so that files are created in the folder that was checked even when
// its path is later swapped for a link, and never through a link planted at a file's name.
class Folder {
 public:
  Folder() = default;
  Folder(const Folder &) = delete;
  Folder &operator=(const Folder &) = delete;
  ~Folder();

  // Opens the folder at `path`. With `private_folder` set, the last component must be a real
  // directory (a symlink in its place is refused, not followed) owned by this user; without
  // it the path may run through links (a folder a caller named). On failure returns false
  // with the reason: "it is a symbolic link", "it is not a directory",
  // "it belongs to another user" or the system's text.
  bool open(const std::string &path, bool private_folder, std::string &reason);
  bool is_open() const { return fd_ >= 0; }

  // Creates the file `name` afresh for binary writing. A leftover regular file or link of
  // that name is removed first (a link's target is never touched); anything else there (a
  // folder, a FIFO, a device) is left alone and refused. The file is created exclusively,
  // so a link planted between removal and creation makes the call fail instead of being
  // followed. Returns null with the reason on failure.
  FILE *create(const char *name, std::string &reason);

  // Removes `name` when it is a regular file or a link (the link, not its target).
  void remove(const char *name);

 private:
  int fd_ = -1;
};

// Whether the standard output goes to a terminal (rather than a file or a pipe).
bool stdout_is_terminal();
