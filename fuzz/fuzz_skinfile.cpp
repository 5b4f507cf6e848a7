// The theme file reader on arbitrary bytes: no crash, no hang, no read past the input; and
// whatever it accepts survives the writer: the records written again read back with the same
// names and values, kind by kind in the same order.
#include "fuzz/fuzzutil.h"
#include "widgets/skin/skinfile.h"

#include <cstdint>
#include <utility>
#include <vector>

using namespace fuzzutil;
using skin_file::Entry;
using skin_file::Kind;

namespace {

// The records of one kind in file order, flags as 0 or 1 (the writer stores no other byte).
std::vector<std::pair<QString, QByteArray>> of_kind(const std::vector<Entry> &entries, Kind kind) {
  std::vector<std::pair<QString, QByteArray>> out;
  for (const Entry &entry : entries)
    if (entry.kind == kind)
      out.emplace_back(entry.name,
                       kind == Kind::Boolean ? QByteArray(1, entry.data[0] ? '\1' : '\0') : entry.data);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
  auto reader = TskThemeFileReader::FromBytes(bytes, "fuzz");
  if (!reader->CanUse()) {
    check(reader->Entries().empty(), "a failed load kept records");
    check(!reader->Error().isEmpty(), "a failed load without a reason");
    return 0;
  }
  TskThemeFileWriter writer("unused");
  for (const Entry &entry : reader->Entries()) {
    switch (entry.kind) {
      case Kind::File:
        writer.AddFileBytes(entry.name, entry.data);
        break;
      case Kind::String:
        writer.AddStr(entry.name, QString::fromLatin1(entry.data));
        break;
      case Kind::Integer:
        writer.AddInteger(
            entry.name,
            int32_t(uint32_t(uint8_t(entry.data[0])) | uint32_t(uint8_t(entry.data[1])) << 8 |
                    uint32_t(uint8_t(entry.data[2])) << 16 | uint32_t(uint8_t(entry.data[3])) << 24));
        break;
      case Kind::Boolean:
        writer.AddBool(entry.name, entry.data[0] != 0);
        break;
    }
  }
  const QByteArray written = writer.Build();
  check(!written.isEmpty(), "the writer refused records the reader accepted");
  auto again = TskThemeFileReader::FromBytes(written, "again");
  check(again->CanUse(), "the reader refused what the writer wrote");
  for (Kind kind : {Kind::File, Kind::Integer, Kind::Boolean, Kind::String})
    check(of_kind(reader->Entries(), kind) == of_kind(again->Entries(), kind),
          "a record changed on its way through the writer");
  return 0;
}
