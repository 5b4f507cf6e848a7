#include "ziplib/zaentries.h"

#include <algorithm>

namespace zf = zipformat;

bool za_read_directory(std::istream &in, uint64_t file_size, std::vector<ZaEntry> &out, std::string &why,
                       uint64_t *cd_start_out) {
  out.clear();
  if (file_size < zf::kEndSize) {
    why = "shorter than an end record";
    return false;
  }
  uint64_t tail = std::min<uint64_t>(file_size, zf::kEndSearch);
  std::vector<unsigned char> buf(static_cast<size_t>(tail));
  in.clear();
  in.seekg(static_cast<std::streamoff>(file_size - tail));
  if (!in.read(reinterpret_cast<char *>(buf.data()), static_cast<std::streamsize>(tail))) {
    why = "read error";
    return false;
  }
  ptrdiff_t at = zf::find_end(buf.data(), buf.size());
  zf::EndRecord eoc;
  if (at < 0 || !zf::read_end(&buf[static_cast<size_t>(at)], eoc)) {
    why = "no end record";
    return false;
  }
  uint64_t eoc_pos = file_size - tail + static_cast<uint64_t>(at);
  if (eoc.multi_volume()) {
    why = "multi-volume archive";
    return false;
  }
  if (eoc.cd_size > eoc_pos) {
    why = "directory larger than the file";
    return false;
  }
  uint64_t cd_start = eoc_pos - eoc.cd_size;
  if (cd_start_out)
    *cd_start_out = cd_start;
  int64_t shift = static_cast<int64_t>(cd_start) - static_cast<int64_t>(eoc.cd_offset);
  std::vector<unsigned char> cd(eoc.cd_size);
  in.clear();
  in.seekg(static_cast<std::streamoff>(cd_start));
  if (eoc.cd_size && !in.read(reinterpret_cast<char *>(cd.data()), eoc.cd_size)) {
    why = "directory unreadable";
    return false;
  }
  size_t pos = 0;
  out.reserve(eoc.entries);
  for (uint32_t n = 0; n < eoc.entries; ++n) {
    zf::CentralHeader h;
    if (pos + zf::kCentralSize > cd.size() || !zf::read_central(&cd[pos], h)) {
      why = "central header " + std::to_string(n + 1) + " damaged";
      return false;
    }
    if (pos + h.size() > cd.size()) {
      why = "central header " + std::to_string(n + 1) + " runs past the directory";
      return false;
    }
    ZaEntry e;
    static_cast<zf::CentralHeader &>(e) = h;
    int64_t local = static_cast<int64_t>(h.stored_offset) + shift;
    if (local < 0 || static_cast<uint64_t>(local) + zf::kLocalSize > cd_start) {
      why = "local header offset of entry " + std::to_string(n + 1) + " outside the file";
      return false;
    }
    e.local_offset = static_cast<uint64_t>(local);
    e.name.assign(reinterpret_cast<const char *>(&cd[pos + zf::kCentralSize]), h.name_len);
    out.push_back(std::move(e));
    pos += h.size();
  }
  return true;
}
