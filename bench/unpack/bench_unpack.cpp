// Unpacking a three-partition container (root 68 MiB, boot 3 MiB, kernel 5 MiB) with
// unpack_nfi against `dd` cutting the same three ranges out by their offsets, and against `cp`
// of the whole container (one copy of the same bytes, the floor of what a copy costs here).
// All read the container from the page cache and write into folders emptied before each run,
// as the program's temporary folder is; the rounds interleave.
//
// Usage: bench_unpack [rounds]   (needs dd and cp on PATH)
#include "bench/support/sidebyside.h"
#include "platform/paths.h"
#include "src/imageprep.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string be32(uint32_t n) { return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; }

// Partition-like content: not all zero, not all noise.
void append_partition(std::ofstream &out, size_t size, uint32_t seed) {
  std::string block(1 << 20, '\0');
  uint32_t x = seed;
  for (size_t done = 0; done < size; done += block.size()) {
    for (size_t i = 0; i < block.size(); i += 4) {
      x = x * 1664525u + 1013904223u;
      block[i] = char(x >> 24);
      block[i + 1] = char(i >> 8);
    }
    out.write(block.data(), std::streamsize(std::min(block.size(), size - done)));
  }
}

bool empty_folder(const fs::path &dir) {
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(dir, ec))
    fs::remove(e.path(), ec);
  return !ec;
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  fs::path dir = fs::temp_directory_path() / ("zvunpack-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  ::setenv("XDG_CACHE_HOME", dir.c_str(), 1);
  std::string error;
  if (!make_temp_dir(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const fs::path ours_dir = temp_dir_path(), dd_dir = dir / "dd", cp_dir = dir / "cp";
  fs::create_directories(dd_dir);
  fs::create_directories(cp_dir);

  // Records in the container's order: root, boot, kernel.
  const struct {
    int file;
    size_t size;
  } records[] = {{3, 68u << 20}, {2, 3u << 20}, {0, 5u << 20}};
  const std::string image = (dir / "image.nfi").string();
  struct Range {
    std::string name;
    uint64_t offset, size;
  };
  std::vector<Range> ranges;
  {
    std::ofstream out(image, std::ios::binary);
    out << std::string("KXB\0\0\0\0\0\0\0\0\x0E", 12);
    uint64_t at = 12;
    uint32_t seed = 1;
    for (auto r : records) {
      out << std::string("\xA0\x50\x30\xA0", 4) << be32(uint32_t(r.size));
      at += 8;
      append_partition(out, r.size, seed++);
      ranges.push_back({image_file_names[r.file], at, r.size});
      at += r.size;
    }
  }
  const double mib = 76.0;

  std::vector<bench::Contender> contenders = {
      {"ours (unpack_nfi)", [&] { return empty_folder(ours_dir); },
       [&] { return unpack_nfi(image.c_str()) == 1; }},
      {"dd by offsets (bs=1M)", [&] { return empty_folder(dd_dir); },
       [&] {
         for (const auto &r : ranges)
           if (!bench::run_program({"dd", "if=" + image, "of=" + (dd_dir / r.name).string(), "bs=1M",
                                    "iflag=skip_bytes,count_bytes", "skip=" + std::to_string(r.offset),
                                    "count=" + std::to_string(r.size), "status=none"}))
             return false;
         return true;
       }},
      {"cp (whole container)", [&] { return empty_folder(cp_dir); },
       [&] {
         return bench::run_program({"cp", image, (cp_dir / "image.nfi").string()});
       }},
  };
  if (!bench::race(contenders, rounds))
    return 1;
  bench::report("container unpack", contenders, mib);

  int failures = 0;
  for (const auto &r : ranges) {
    std::string a = (ours_dir / r.name).string(), b = (dd_dir / r.name).string();
    if (std::system(("cmp -s '" + a + "' '" + b + "'").c_str()) != 0) {
      std::fprintf(stderr, "outputs differ: %s\n", r.name.c_str());
      ++failures;
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return failures ? 1 : 0;
}
