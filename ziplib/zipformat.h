// The zip format's records as this program reads them. The component lists an archive's
// directory and the library extracts from it; both read the records through this one header,
// so they cannot disagree about where an entry is or what its header says.
//
// Only what the program reads: the local header's length, the central header and the end
// record. No Zip64, no data descriptors, nothing written. Every reader takes a buffer that
// already holds the whole fixed part of its record; bounds are the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zipformat {

constexpr uint32_t kLocalSig = 0x04034B50u;    // "PK\3\4": local header, in front of each entry's data
constexpr uint32_t kCentralSig = 0x02014B50u;  // "PK\1\2": one central header per entry
constexpr uint32_t kEndSig = 0x06054B50u;      // "PK\5\6": end of the central directory
constexpr uint32_t kSpanSig = 0x08074B50u;     // "PK\7\b": first bytes of a disk-spanned set

// The fixed parts of the records.
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEndSize = 22;
// The end record carries a comment of at most 65535 bytes after it, so it starts within this
// many bytes of the file's end.
constexpr size_t kEndSearch = kEndSize + 65535;

inline uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t le32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct CentralHeader {
  uint8_t made_by = 0;          // version of the archiver that wrote the entry
  uint8_t host = 0;             // its system: 0 DOS, 3 Unix, 6 OS/2, 11 NTFS, ...
  uint16_t needed = 0;          // version needed to extract
  uint16_t flags = 0;           // bit 0 encrypted, bit 3 sizes after the data, bit 11 UTF-8 name
  uint16_t method = 0;          // 0 stored, 8 deflated
  uint16_t time = 0, date = 0;  // DOS format
  uint32_t crc = 0, csize = 0, usize = 0;
  uint16_t name_len = 0, extra_len = 0, comment_len = 0;
  uint16_t start_disk = 0;
  uint16_t internal_attr = 0;
  uint32_t external_attr = 0;
  uint32_t stored_offset = 0;  // of the local header, as stored: a stub in front is not counted

  // The whole header: the fixed part, then name, extra field and comment.
  size_t size() const { return kCentralSize + name_len + extra_len + comment_len; }
};

// Decodes the kCentralSize bytes at `p`. False (h untouched) when they are not a central header.
inline bool read_central(const unsigned char *p, CentralHeader &h) {
  if (le32(p) != kCentralSig)
    return false;
  h.made_by = p[4];
  h.host = p[5];
  h.needed = le16(p + 6);
  h.flags = le16(p + 8);
  h.method = le16(p + 10);
  h.time = le16(p + 12);
  h.date = le16(p + 14);
  h.crc = le32(p + 16);
  h.csize = le32(p + 20);
  h.usize = le32(p + 24);
  h.name_len = le16(p + 28);
  h.extra_len = le16(p + 30);
  h.comment_len = le16(p + 32);
  h.start_disk = le16(p + 34);
  h.internal_attr = le16(p + 36);
  h.external_attr = le32(p + 38);
  h.stored_offset = le32(p + 42);
  return true;
}

struct EndRecord {
  uint16_t disk = 0;     // number of the volume this record is on
  uint16_t cd_disk = 0;  // volume on which the central directory starts
  uint16_t disk_entries = 0, entries = 0;
  uint32_t cd_size = 0, cd_offset = 0;
  uint16_t comment_len = 0;

  // A record of one volume of a multi-volume set.
  bool multi_volume() const { return disk != cd_disk; }
};

// Decodes the kEndSize bytes at `p`. False (e untouched) when they are not an end record.
inline bool read_end(const unsigned char *p, EndRecord &e) {
  if (le32(p) != kEndSig)
    return false;
  e.disk = le16(p + 4);
  e.cd_disk = le16(p + 6);
  e.disk_entries = le16(p + 8);
  e.entries = le16(p + 10);
  e.cd_size = le32(p + 12);
  e.cd_offset = le32(p + 16);
  e.comment_len = le16(p + 20);
  return true;
}

// Where the nearest end signature at or before `from` lies in buf[0, size), with a whole
// fixed record after it; -1 when there is none. Searching backwards finds the real record
// first even when a comment holds something that looks like one. Call again with the
// position less one to look further back.
inline ptrdiff_t find_end(const unsigned char *buf, size_t size, ptrdiff_t from) {
  if (size < kEndSize)
    return -1;
  ptrdiff_t last = static_cast<ptrdiff_t>(size - kEndSize);
  for (ptrdiff_t i = from < last ? from : last; i >= 0; --i)
    if (le32(buf + i) == kEndSig)
      return i;
  return -1;
}

inline ptrdiff_t find_end(const unsigned char *buf, size_t size) {
  return find_end(buf, size, static_cast<ptrdiff_t>(size));
}

// The length of the local header at `p` (kLocalSize bytes), name and extra field included:
// the entry's data follows it. 0 when `p` is not a local header.
inline size_t local_header_size(const unsigned char *p) {
  if (le32(p) != kLocalSig)
    return 0;
  return kLocalSize + le16(p + 26) + le16(p + 28);
}

}  // namespace zipformat
