// Theme files (".skn"): a 24-byte header and a forward chain of 77-byte record heads, each
// followed by its data: whole bitmap files, integers, flags and strings stored under the
// element keys of the built-in looks. Plain Qt Core, so the theme tool and the fuzz target
// use the reader without any widget.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QBuffer;
class QIODevice;

namespace skin_file {

// The signature field (12 bytes, zero-padded) and the fixed sizes of the layout.
inline constexpr char signature[] = "DODIvez_TB";
constexpr int header_size = 24;
constexpr int head_size = 77;
constexpr int name_size = 64;
// No theme is anywhere near this; a bigger file is refused before it is read.
constexpr qint64 max_file_size = 64 * 1024 * 1024;

enum class Kind : uint8_t { File = 0, Integer = 1, Boolean = 2, String = 3 };

// One record as stored, in file order. `data` is the record's payload as it lies in the file
// (an integer is its four little-endian bytes, a flag its one byte).
struct Entry {
  QString name;  // the stored single-byte characters, one QChar each (Latin-1)
  Kind kind;
  QByteArray data;
};

}  // namespace skin_file

// true when the file can be read and its first 12 bytes, up to the first zero byte, read
// "DODIvez_TB"; false for every failure (missing, unreadable, shorter than 16 bytes).
bool IsSkinThemeFile(const QString &file_name);

// A whole theme file, loaded and checked at construction. The file is hostile input: every
// offset and size is checked against the bytes actually read before anything is copied, the
// chain must move strictly forward (so it ends), and the first fault ends the load with
// CanUse() false and Error() saying what and where. A failed load keeps no entries.
// Lookups ignore letter case; of two entries of one name and kind the first wins.
class TskThemeFileReader {
 public:
  explicit TskThemeFileReader(const QString &file_name);
  // The same checks on bytes already in memory (a theme kept inside a form's data);
  // `origin` names them in error texts.
  static std::unique_ptr<TskThemeFileReader> FromBytes(const QByteArray &bytes, const QString &origin);
  ~TskThemeFileReader();
  TskThemeFileReader(const TskThemeFileReader &) = delete;
  TskThemeFileReader &operator=(const TskThemeFileReader &) = delete;

  bool CanUse() const { return error_.isEmpty(); }
  const QString &Error() const { return error_; }

  // The stored file of that name, rewound to its start, or null. The stream belongs to the
  // reader and lives as long as it.
  QIODevice *GetFile(const QString &name);
  // The bytes of that stored file, or null.
  const QByteArray *FileBytes(const QString &name) const;
  // -1 when missing.
  int GetInteger(const QString &name) const;
  // false when missing; any non-zero byte is true.
  bool GetBool(const QString &name) const;
  // Empty when missing.
  QString GetStr(const QString &name) const;
  bool HasInteger(const QString &name) const;
  bool HasBool(const QString &name) const;

  // Every record in file order, duplicates included.
  const std::vector<skin_file::Entry> &Entries() const { return entries_; }

 private:
  TskThemeFileReader() = default;
  void Parse(const QByteArray &bytes, const QString &origin);
  const skin_file::Entry *Find(const QString &name, skin_file::Kind kind) const;

  QString error_;
  std::vector<skin_file::Entry> entries_;
  std::vector<std::unique_ptr<QBuffer>> streams_;  // made on first GetFile of an entry
};

// Collects named values and writes them as one theme file: all files, then strings, then
// integers, then flags, each group in the order added, then the terminating head. Write()
// checks everything first (names, source files, total size) and replaces the target only
// when the whole new file has been written, so a failure leaves any old file as it was.
class TskThemeFileWriter {
 public:
  explicit TskThemeFileWriter(const QString &file_name) : file_name_(file_name) {}

  // A name is at most 64 single-byte characters (one of exactly 64 is stored without a
  // terminating zero) and has no zero byte; Write() refuses others rather than cut them.
  void AddFile(const QString &name, const QString &path) { files_.push_back({name, path, {}, false}); }
  // A file entry whose bytes are already in memory; it takes its place among the files.
  void AddFileBytes(const QString &name, const QByteArray &bytes) {
    files_.push_back({name, {}, bytes, true});
  }
  void AddStr(const QString &name, const QString &text) { strings_.push_back({name, text}); }
  void AddInteger(const QString &name, int32_t value) { integers_.push_back({name, value}); }
  void AddBool(const QString &name, bool value) { booleans_.push_back({name, value}); }

  // The file's bytes, or an empty array with Error() set.
  QByteArray Build();
  bool Write();
  const QString &Error() const { return error_; }

 private:
  template <typename T>
  struct Named {
    QString name;
    T value;
  };
  struct FileItem {
    QString name, path;
    QByteArray bytes;
    bool in_memory;
  };
  QString file_name_;
  std::vector<FileItem> files_;
  std::vector<Named<QString>> strings_;
  std::vector<Named<int32_t>> integers_;
  std::vector<Named<bool>> booleans_;
  QString error_;
};
