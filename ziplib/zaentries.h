// The library's own reading of an archive's central directory: just what extraction needs.
#pragma once

#include "ziplib/zipformat.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// An entry as the central directory describes it.
struct ZaEntry : zipformat::CentralHeader {
  std::string name;           // as stored, not converted
  uint64_t local_offset = 0;  // of the local header, moved by any stub in front of the archive
};

// Finds the end record, walks the directory. Offsets are taken relative to where the
// directory actually is, so an archive behind a stub whose offsets ignore the stub still
// extracts. False with a reason when the directory is damaged. `cd_start` receives where the
// central directory begins in the file: no entry's data may reach into it.
bool za_read_directory(std::istream &in, uint64_t file_size, std::vector<ZaEntry> &out, std::string &why,
                       uint64_t *cd_start = nullptr);
