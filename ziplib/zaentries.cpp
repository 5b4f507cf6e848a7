#include "ziplib/zaentries.h"

#include <algorithm>

bool za_read_directory(std::istream &in, uint64_t file_size, std::vector<ZaEntry> &out, std::string &why,
                       uint64_t *cd_start_out) {
  out.clear();
  if (file_size < 22) {
    why = "shorter than an end record";
    return false;
  }
  uint64_t tail = std::min<uint64_t>(file_size, 65535 + 22);
  std::vector<unsigned char> buf(static_cast<size_t>(tail));
  in.clear();
  in.seekg(static_cast<std::streamoff>(file_size - tail));
  if (!in.read(reinterpret_cast<char *>(buf.data()), static_cast<std::streamsize>(tail))) {
    why = "read error";
    return false;
  }
  long long at = -1;
  for (long long i = static_cast<long long>(tail) - 22; i >= 0; --i) {
    if (za_le32(&buf[static_cast<size_t>(i)]) == 0x06054B50u) {
      at = i;
      break;
    }
  }
  if (at < 0) {
    why = "no end record";
    return false;
  }
  const unsigned char *eoc = &buf[static_cast<size_t>(at)];
  uint64_t eoc_pos = file_size - tail + static_cast<uint64_t>(at);
  uint32_t entries = za_le16(eoc + 10);
  uint32_t cd_size = za_le32(eoc + 12);
  uint32_t cd_stored = za_le32(eoc + 16);
  if (za_le16(eoc + 4) != za_le16(eoc + 6)) {
    why = "multi-volume archive";
    return false;
  }
  if (cd_size > eoc_pos) {
    why = "directory larger than the file";
    return false;
  }
  uint64_t cd_start = eoc_pos - cd_size;
  if (cd_start_out)
    *cd_start_out = cd_start;
  int64_t shift = static_cast<int64_t>(cd_start) - static_cast<int64_t>(cd_stored);
  std::vector<unsigned char> cd(cd_size);
  in.clear();
  in.seekg(static_cast<std::streamoff>(cd_start));
  if (cd_size && !in.read(reinterpret_cast<char *>(cd.data()), cd_size)) {
    why = "directory unreadable";
    return false;
  }
  size_t pos = 0;
  out.reserve(entries);
  for (uint32_t n = 0; n < entries; ++n) {
    if (pos + 46 > cd.size() || za_le32(&cd[pos]) != 0x02014B50u) {
      why = "central header " + std::to_string(n + 1) + " damaged";
      return false;
    }
    const unsigned char *h = &cd[pos];
    size_t name_len = za_le16(h + 28), extra_len = za_le16(h + 30), comment_len = za_le16(h + 32);
    if (pos + 46 + name_len + extra_len + comment_len > cd.size()) {
      why = "central header " + std::to_string(n + 1) + " runs past the directory";
      return false;
    }
    ZaEntry e;
    e.made_by = h[4];
    e.host = h[5];
    e.flags = za_le16(h + 8);
    e.method = za_le16(h + 10);
    e.time = za_le16(h + 12);
    e.date = za_le16(h + 14);
    e.crc = za_le32(h + 16);
    e.csize = za_le32(h + 20);
    e.usize = za_le32(h + 24);
    int64_t local = static_cast<int64_t>(za_le32(h + 42)) + shift;
    if (local < 0 || static_cast<uint64_t>(local) + 30 > cd_start) {
      why = "local header offset of entry " + std::to_string(n + 1) + " outside the file";
      return false;
    }
    e.local_offset = static_cast<uint64_t>(local);
    e.name.assign(reinterpret_cast<const char *>(h + 46), name_len);
    out.push_back(std::move(e));
    pos += 46 + name_len + extra_len + comment_len;
  }
  return true;
}
