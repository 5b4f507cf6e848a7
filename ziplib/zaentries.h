// The library's own reading of an archive's central directory: just what extraction needs.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

struct ZaEntry {
  std::string name;  // as stored, not converted
  uint16_t flags = 0, method = 0, time = 0, date = 0;
  uint8_t host = 0, made_by = 0;
  uint32_t crc = 0, csize = 0, usize = 0;
  uint64_t local_offset = 0;  // already moved by any stub in front of the archive
};

inline uint16_t za_le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t za_le32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Finds the end record, walks the directory. Offsets are taken relative to where the
// directory actually is, so an archive behind a stub whose offsets ignore the stub still
// extracts. False with a reason when the directory is damaged. `cd_start` receives where the
// central directory begins in the file: no entry's data may reach into it.
bool za_read_directory(std::istream &in, uint64_t file_size, std::vector<ZaEntry> &out, std::string &why,
                       uint64_t *cd_start = nullptr);
