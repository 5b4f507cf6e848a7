// Where extracted entries land: the base folder, opened once, and the files written below it.
// Nothing below the base folder is reached through a symbolic link: folders are opened one
// component at a time without following links, a file is written to a fresh temporary name
// that cannot already exist, and it is renamed over its final name, which replaces a link
// planted there instead of writing through it. A base folder that is itself a link is refused.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

class ZaOutDir {
 public:
  enum Kind { kNone, kFile, kDir };

  ZaOutDir() = default;
  ~ZaOutDir();
  ZaOutDir(const ZaOutDir &) = delete;
  ZaOutDir &operator=(const ZaOutDir &) = delete;

  // `base` empty means the current folder. False with a reason when it is missing, not a
  // folder, or a symbolic link (`is_link` tells the last case apart).
  bool open(const std::string &base, bool &is_link);
  bool is_open() const { return !base_.empty(); }
  // The folder's text as given, for messages.
  const std::string &shown() const { return shown_; }

  // What `rel` ("a/b/name", "/" delimited, already checked to stay below the base) is,
  // without following a link; a link counts as a file. `mtime` is set for files.
  Kind kind_of(const std::string &rel, std::time_t *mtime) const;
  // Creates the folders of `rel_dir` (every component is a folder); false when one of them
  // is a link or something else than a folder.
  bool make_dirs(const std::string &rel_dir) const;
  // Bytes the folder's file system still has for this user; UINT64_MAX when unknown.
  uint64_t free_bytes() const;

 private:
  friend class ZaOutFile;
  std::string base_;  // the folder's path once it is open
  // Where the system can hold a folder open (Linux), the folder's descriptor, through which
  // everything below it is reached; -1 where entries are reached by their paths (Windows).
  int fd_ = -1;
  std::string shown_;
};

// One entry's output: a temporary file beside the final name until commit() renames it there.
// Whatever is not committed is removed again.
class ZaOutFile {
 public:
  ZaOutFile() = default;
  ~ZaOutFile() { discard(); }
  ZaOutFile(const ZaOutFile &) = delete;
  ZaOutFile &operator=(const ZaOutFile &) = delete;

  // Creates the folders of `rel` and a temporary file beside it.
  bool create(const ZaOutDir &dir, const std::string &rel);
  std::FILE *stream() const { return file_; }
  enum Result { kOk, kWriteFailed, kRenameFailed };
  // Flushes, stamps the modification time, closes and renames over the final name. On a
  // failure the temporary file is removed.
  Result commit(std::time_t mtime);
  void discard();

 private:
  // ".za" and eight hex digits of `random`: short and of fixed length, so it fits wherever
  // the final name fits.
  static std::string temp_name(unsigned random);

  std::FILE *file_ = nullptr;
  // Where the system holds folders open, the entry's folder, and the temporary and final
  // names in it; -1 and full paths where it does not (as ZaOutDir).
  int dir_fd_ = -1;
  std::string temp_, final_;
};
