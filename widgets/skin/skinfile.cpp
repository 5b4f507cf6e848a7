#include "widgets/skin/skinfile.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

using namespace skin_file;

namespace {

// Head layout: name, kind, data offset, data size, next head.
constexpr int kind_at = 64, data_at = 65, size_at = 69, next_at = 73;

uint32_t le32(const QByteArray &bytes, qint64 at) {
  const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData()) + at;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put32(QByteArray &bytes, qint64 at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

bool has_signature(const char *first12) {
  // The text up to the first zero byte of the 12-byte field.
  return ::strnlen(first12, 12) == sizeof(signature) - 1 &&
         std::memcmp(first12, signature, sizeof(signature) - 1) == 0;
}

const char *kind_word(Kind kind) {
  switch (kind) {
    case Kind::File:
      return "file";
    case Kind::Integer:
      return "integer";
    case Kind::Boolean:
      return "boolean";
    case Kind::String:
      return "string";
  }
  return "record";
}

}  // namespace

bool IsSkinThemeFile(const QString &file_name) {
  QFile file(file_name);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  char first[16];
  return file.read(first, sizeof first) == sizeof first && has_signature(first);
}

TskThemeFileReader::TskThemeFileReader(const QString &file_name) {
  QFile file(file_name);
  if (!file.open(QIODevice::ReadOnly)) {
    error_ = QStringLiteral("%1: cannot open the theme file: %2").arg(file_name, file.errorString());
    return;
  }
  // Read in pieces and stop past the limit: a device or pipe has no size to check up front.
  QByteArray bytes;
  char chunk[64 * 1024];
  for (;;) {
    const qint64 got = file.read(chunk, sizeof chunk);
    if (got < 0) {
      error_ = QStringLiteral("%1: cannot read the theme file: %2").arg(file_name, file.errorString());
      return;
    }
    if (got == 0)
      break;
    bytes.append(chunk, got);
    if (bytes.size() > max_file_size) {
      error_ = QStringLiteral("%1: longer than %2 bytes; no theme file is that big")
                   .arg(file_name)
                   .arg(max_file_size);
      return;
    }
  }
  Parse(bytes, file_name);
}

std::unique_ptr<TskThemeFileReader> TskThemeFileReader::FromBytes(const QByteArray &bytes,
                                                                  const QString &origin) {
  std::unique_ptr<TskThemeFileReader> reader(new TskThemeFileReader());
  reader->Parse(bytes, origin);
  return reader;
}

TskThemeFileReader::~TskThemeFileReader() = default;

void TskThemeFileReader::Parse(const QByteArray &bytes, const QString &origin) {
  const qint64 size = bytes.size();
  auto fail = [&](const QString &why) {
    error_ = origin + QStringLiteral(": ") + why;
    entries_.clear();
  };
  if (size > max_file_size)
    return fail(QStringLiteral("longer than %1 bytes; no theme file is that big").arg(max_file_size));
  if (size < header_size)
    return fail(QStringLiteral("only %1 bytes, too short for a theme file header").arg(size));
  if (!has_signature(bytes.constData()))
    return fail(QStringLiteral("not a theme file (no \"%1\" signature)").arg(QLatin1String(signature)));
  const qint64 header = le32(bytes, 12);
  if (header < header_size || header > size)
    return fail(QStringLiteral("header size %1 does not fit a file of %2 bytes").arg(header).arg(size));

  qint64 at = le32(bytes, 20);
  if (at < header)
    return fail(QStringLiteral("the first record at offset %1 lies inside the header").arg(at));
  // Every head starts at least one head's length after the one before, so the walk ends
  // within size / 77 steps whatever the offsets say. Records may point their data at the
  // same bytes; the copies together may not exceed the file, or a small file could ask for
  // gigabytes.
  qint64 copied = 0;
  for (;;) {
    if (at + head_size > size)
      return fail(QStringLiteral("the record head at offset %1 runs past the end of the file (%2 bytes)")
                      .arg(at)
                      .arg(size));
    const qint64 next = le32(bytes, at + next_at);
    if (next == 0)
      break;  // the terminating head: nothing in it is read
    // A name of all 64 bytes has no terminating zero; it ends with its field.
    const char *name_field = bytes.constData() + at;
    const QString name = QString::fromLatin1(name_field, qsizetype(::strnlen(name_field, name_size)));
    const uint8_t kind = uint8_t(bytes[at + kind_at]);
    const qint64 data = le32(bytes, at + data_at);
    const qint64 length = le32(bytes, at + size_at);
    const QString where = QStringLiteral("record \"%1\" at offset %2").arg(name).arg(at);
    if (data + length > size)
      return fail(QStringLiteral("%1 has %2 bytes of data at offset %3, past the end of the file (%4 bytes)")
                      .arg(where)
                      .arg(length)
                      .arg(data)
                      .arg(size));
    if (next < at + head_size)
      return fail(next <= at
                      ? QStringLiteral("%1 points back to offset %2").arg(where).arg(next)
                      : QStringLiteral("%1 points to offset %2, inside its own head").arg(where).arg(next));
    if ((kind == uint8_t(Kind::Integer) && length != 4) || (kind == uint8_t(Kind::Boolean) && length != 1))
      return fail(QStringLiteral("%1 is %2 with %3 data bytes instead of %4")
                      .arg(where, QLatin1String(kind == uint8_t(Kind::Integer) ? "an integer" : "a boolean"))
                      .arg(length)
                      .arg(kind == uint8_t(Kind::Integer) ? 4 : 1));
    // Records of a kind this reader does not know are passed over, as a newer writer's would be.
    if (kind <= uint8_t(Kind::String)) {
      copied += length;
      if (copied > size)
        return fail(
            QStringLiteral("%1 brings the records' data to %2 bytes, more than the file holds (%3 bytes)")
                .arg(where)
                .arg(copied)
                .arg(size));
      entries_.push_back({name, Kind(kind), bytes.mid(data, length)});
    }
    at = next;
  }
}

const Entry *TskThemeFileReader::Find(const QString &name, Kind kind) const {
  for (const Entry &entry : entries_)
    if (entry.kind == kind && entry.name.compare(name, Qt::CaseInsensitive) == 0)
      return &entry;
  return nullptr;
}

QIODevice *TskThemeFileReader::GetFile(const QString &name) {
  const Entry *entry = Find(name, Kind::File);
  if (!entry)
    return nullptr;
  streams_.resize(entries_.size());
  std::unique_ptr<QBuffer> &stream = streams_[size_t(entry - entries_.data())];
  if (!stream) {
    stream = std::make_unique<QBuffer>();
    stream->setData(entry->data);
    stream->open(QIODevice::ReadOnly);
  }
  stream->seek(0);
  return stream.get();
}

const QByteArray *TskThemeFileReader::FileBytes(const QString &name) const {
  const Entry *entry = Find(name, Kind::File);
  return entry ? &entry->data : nullptr;
}

int TskThemeFileReader::GetInteger(const QString &name) const {
  const Entry *entry = Find(name, Kind::Integer);
  return entry ? int32_t(le32(entry->data, 0)) : -1;
}

bool TskThemeFileReader::GetBool(const QString &name) const {
  const Entry *entry = Find(name, Kind::Boolean);
  return entry && entry->data[0] != 0;
}

QString TskThemeFileReader::GetStr(const QString &name) const {
  const Entry *entry = Find(name, Kind::String);
  return entry ? QString::fromLatin1(entry->data) : QString();
}

bool TskThemeFileReader::HasInteger(const QString &name) const {
  return Find(name, Kind::Integer) != nullptr;
}

bool TskThemeFileReader::HasBool(const QString &name) const { return Find(name, Kind::Boolean) != nullptr; }

QByteArray TskThemeFileWriter::Build() {
  error_.clear();
  auto bad_name = [](const QString &name) -> QString {
    if (name.size() > name_size)
      return QStringLiteral("the name \"%1\" is longer than %2 characters").arg(name).arg(name_size);
    for (QChar c : name)
      if (c.unicode() == 0 || c.unicode() > 0xFF)
        return QStringLiteral("the name \"%1\" has a character a theme file cannot store").arg(name);
    return {};
  };

  QByteArray out(header_size, '\0');
  std::memcpy(out.data(), signature, sizeof(signature) - 1);
  put32(out, 12, header_size);
  put32(out, 16, 1);
  put32(out, 20, header_size);

  auto append = [&](const QString &name, Kind kind, const QByteArray &data) {
    if (QString why = bad_name(name); !why.isEmpty()) {
      error_ = why;
      return false;
    }
    if (out.size() + head_size + data.size() + head_size > max_file_size) {
      error_ = QStringLiteral("the theme would be longer than %1 bytes (at %2 \"%3\")")
                   .arg(max_file_size)
                   .arg(QLatin1String(kind_word(kind)), name);
      return false;
    }
    QByteArray head(head_size, '\0');
    const QByteArray latin = name.toLatin1();
    std::memcpy(head.data(), latin.constData(), size_t(latin.size()));
    head[kind_at] = char(kind);
    const qint64 data_offset = out.size() + head_size;
    put32(head, data_at, uint32_t(data_offset));
    put32(head, size_at, uint32_t(data.size()));
    put32(head, next_at, uint32_t(data_offset + data.size()));
    out += head;
    out += data;
    return true;
  };

  for (const FileItem &item : files_) {
    QByteArray data = item.bytes;
    if (!item.in_memory) {
      QFile source(item.path);
      if (!source.open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("%1: cannot read the file for \"%2\": %3")
                     .arg(item.path, item.name, source.errorString());
        return {};
      }
      if (source.size() > max_file_size) {
        error_ = QStringLiteral("%1: longer than %2 bytes").arg(item.path).arg(max_file_size);
        return {};
      }
      data = source.readAll();
    }
    if (!append(item.name, Kind::File, data))
      return {};
  }
  for (const auto &item : strings_) {
    if (std::any_of(item.value.begin(), item.value.end(), [](QChar c) { return c.unicode() > 0xFF; })) {
      error_ = QStringLiteral("the string \"%1\" has a character a theme file cannot store").arg(item.name);
      return {};
    }
    if (!append(item.name, Kind::String, item.value.toLatin1()))
      return {};
  }
  for (const auto &item : integers_) {
    QByteArray data(4, '\0');
    put32(data, 0, uint32_t(item.value));
    if (!append(item.name, Kind::Integer, data))
      return {};
  }
  for (const auto &item : booleans_)
    if (!append(item.name, Kind::Boolean, QByteArray(1, item.value ? '\1' : '\0')))
      return {};

  QByteArray end(head_size, '\0');
  end[kind_at] = char(Kind::Boolean);
  out += end;
  return out;
}

bool TskThemeFileWriter::Write() {
  const QByteArray bytes = Build();
  if (bytes.isEmpty())
    return false;
  QSaveFile file(file_name_);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    error_ = QStringLiteral("%1: cannot write the theme file: %2").arg(file_name_, file.errorString());
    return false;
  }
  return true;
}
