// Files that hostile surroundings cannot turn against us: an input that may turn out to be a
// FIFO or a device, and a folder whose files a planted link must never redirect.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Opens `path` for binary reading when it is a regular file; a symlink to one is followed,
// since the user chose it. Anything else (a FIFO, a device, a folder) is refused without
// reading from it, so a FIFO with no writer cannot block the caller. Returns null and a
// reason such as "it is not a regular file" or "No such file or directory" otherwise;
// `not_regular` tells the first kind of refusal from a failure to open.
FILE *open_regular_file(const std::string &path, std::string &reason, bool &not_regular);

// Opens `path` for appending text, creating it when nothing is there. Only a regular file is
// written to: a symbolic link at that name is refused rather than followed, and anything else
// (a FIFO, a device, a folder) is refused without waiting on it. For a file checked earlier
// (a log), this is the open that a link planted since the check cannot redirect. Null with a
// reason otherwise.
FILE *open_for_append(const std::string &path, std::string &reason);

// Makes room for `more` open files (descriptors) beyond those open now. Where the soft
// limit is too low it is raised, up to the hard limit, which a user may do; the system's
// own "Too many open files" half-way through a job would otherwise leave its work undone.
// False when even the hard limit leaves too little room: `limit` is then that limit and
// `room` how many more fit. Always true where the system sets no such limit.
bool make_room_for_files(unsigned long more, unsigned long &limit, unsigned long &room);

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

// How a copy of part of one file into another ended.
enum class CopyEnd { done, source_ended, write_failed };

// Copies `count` bytes from `from`, starting at its current position, to the end of what was
// written to `to`, and leaves `from` just after them (just after what was read when the copy
// ends early) and `to` at its end. Between regular files whose bytes line up within their
// pages the kernel copies them without a trip through this process; otherwise, and where the
// kernel refuses (another file system, a stream that cannot seek), a plain loop with a large
// buffer carries on from the same place, with the same bytes.
// `source_ended`: `from` ended or could not be read before `count` bytes; `write_failed`: `to`
// refused them (a full disk, a size limit).
CopyEnd copy_file_part(FILE *from, FILE *to, uint64_t count);

// Whether the standard output goes to a terminal (rather than a file or a pipe).
bool stdout_is_terminal();
