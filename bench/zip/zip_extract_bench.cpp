// Extracting a four-partition zip image: the archive component (Extract, folder names dropped,
// overwrite) against Info-ZIP `unzip -o -j` on the same archive, alternating in one run.
// Prints the medians and the ratio unzip / ours (above 1.0: we are faster).
//
// Usage: zip_extract_bench [rounds]   (needs zip and unzip on PATH)
#include "zip/ziparchiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Firmware-like content: compressible runs and tables mixed with noise, so deflate works.
void write_partition(const fs::path &p, size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string block;
  std::ofstream out(p, std::ios::binary);
  size_t done = 0;
  while (done < size) {
    block.clear();
    while (block.size() < 65536) {
      unsigned kind = gen() % 4;
      if (kind == 0) {
        block.append(1 + gen() % 512, static_cast<char>(gen()));
      } else if (kind == 1) {
        for (int i = 0; i < 256; ++i)
          block += static_cast<char>(gen());
      } else {
        char line[64];
        int n = std::snprintf(line, sizeof line, "sym_%08x = 0x%08x; /* jffs2 node */\n",
                              static_cast<unsigned>(gen()), static_cast<unsigned>(gen()));
        block.append(line, static_cast<size_t>(n));
      }
    }
    size_t n = std::min(block.size(), size - done);
    out.write(block.data(), static_cast<std::streamsize>(n));
    done += n;
  }
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  fs::path dir = fs::temp_directory_path() / ("zvzip-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir / "parts");
  fs::create_directories(dir / "ours");
  fs::create_directories(dir / "theirs");
  const struct {
    const char *name;
    size_t size;
  } parts[] = {{"kernel_cfe_auto.bin", 5u << 20},
               {"splash_cfe_auto.bin", 1u << 20},
               {"boot_cfe_auto.jffs2", 3u << 20},
               {"root_cfe_auto.jffs2", 68u << 20}};
  unsigned seed = 1;
  for (auto &p : parts)
    write_partition(dir / "parts" / p.name, p.size, seed++);
  std::string archive = (dir / "image.zip").string();
  std::string cmd = "cd '" + (dir / "parts").string() + "' && zip -q -r '" + archive + "' .";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "zip failed\n");
    return 1;
  }
  std::printf("archive: %.1f MiB uncompressed, %.1f MiB compressed, %d rounds\n", 77.0,
              static_cast<double>(fs::file_size(archive)) / (1 << 20), rounds);

  TZipArchiver zip;
  zip.SetUnattended(true);
  zip.SetNoPump(true);
  std::vector<double> ours, theirs;
  std::string unzip_cmd = "unzip -qq -o -j '" + archive + "' -d '" + (dir / "theirs").string() + "'";
  for (int r = 0; r < rounds; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    zip.SetZipFileName(archive);
    zip.SetExtrBaseDir((dir / "ours").string());
    zip.SetExtrOptions(ExtrOpts{ExtrOverWrite});
    zip.FSpecArgs().clear();
    int rc = zip.Extract();
    ours.push_back(seconds_since(t0));
    if (rc != 0) {
      std::fprintf(stderr, "Extract failed: %d %s\n", rc, zip.ErrMessage().c_str());
      return 1;
    }
    t0 = std::chrono::steady_clock::now();
    if (std::system(unzip_cmd.c_str()) != 0) {
      std::fprintf(stderr, "unzip failed\n");
      return 1;
    }
    theirs.push_back(seconds_since(t0));
  }
  for (auto &p : parts) {
    std::string a = (dir / "ours" / p.name).string(), b = (dir / "theirs" / p.name).string();
    if (std::system(("cmp -s '" + a + "' '" + b + "'").c_str()) != 0) {
      std::fprintf(stderr, "outputs differ: %s\n", p.name);
      return 1;
    }
  }
  double mo = median(ours), mt = median(theirs);
  std::printf("Extract (ours)   median %.3f s  (%.0f MiB/s)\n", mo, 77.0 / mo);
  std::printf("unzip -o -j      median %.3f s  (%.0f MiB/s)\n", mt, 77.0 / mt);
  std::printf("ratio unzip/ours %.2f\n", mt / mo);
  fs::current_path(fs::temp_directory_path());
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
