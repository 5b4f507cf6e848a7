// The image container reader on arbitrary files: no crash, and a container it accepts is
// unpacked exactly as the format says (each set flag's record data, in the order root,
// boot, kernel), while one it refuses is one the format does not allow (or one that names
// no partition at all).
#include "fuzz/fuzzutil.h"
#include "platform/paths.h"
#include "src/imageprep.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

using namespace fuzzutil;

namespace {

// The container as the format describes it: the partition data per image_files() index.
std::optional<std::vector<std::pair<int, std::string>>> expected(const uint8_t *d, size_t n) {
  if (n < 12 || std::memcmp(d, "KXB", 4) != 0)
    return std::nullopt;
  std::vector<std::pair<int, std::string>> parts;
  size_t pos = 12;
  const std::pair<uint8_t, int> order[] = {{0x08, 3}, {0x04, 2}, {0x02, 0}};
  for (auto [flag, index] : order) {
    if (!(d[11] & flag))
      continue;
    if (n - pos < 8 || std::memcmp(d + pos, "\xA0\x50\x30\xA0", 4) != 0)
      return std::nullopt;
    uint64_t len = (uint64_t(d[pos + 4]) << 24) | (d[pos + 5] << 16) | (d[pos + 6] << 8) | d[pos + 7];
    pos += 8;
    if (n - pos < len)
      return std::nullopt;
    parts.emplace_back(index, std::string(reinterpret_cast<const char *>(d + pos), len));
    pos += len;
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("XDG_CACHE_HOME", (work_dir() / "cache").c_str(), 1);
  std::string why;
  check(make_temp_dir(why), "partition folder not made");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fs::path image = work_dir() / "image.nfi";
  write_bytes(image, data, size);
  auto files = image_files();
  std::error_code ec;
  for (auto &f : files)
    fs::remove(f, ec);
  int ok = unpack_nfi(image.c_str());
  auto want = expected(data, size);
  // A container that names no partition may be refused: it cannot upgrade anything.
  check(ok == (want ? 1 : 0) || (!ok && want && want->empty()),
        "accepted a container the format refuses, or the reverse");
  if (ok) {
    for (auto &[index, bytes] : *want)
      check(read_bytes(files[static_cast<size_t>(index)]) == bytes, "partition data differs");
  }
  check(!fs::exists(files[1]), "a container wrote a splash file");
  return 0;
}
