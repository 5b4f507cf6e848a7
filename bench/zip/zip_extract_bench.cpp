// Extracting a four-partition zip image: the archive component (Extract, folder names dropped,
// overwrite) against Info-ZIP `unzip -o -j` and libarchive's `bsdtar -x` on the same archive,
// interleaved in one run, twice: into an emptied folder (what the program does, its temporary
// folder cleared) and over the files of the previous round (every target replaced).
//
// Usage: zip_extract_bench [rounds]   (needs zip, unzip and bsdtar on PATH)
#include "bench/support/sidebyside.h"
#include "zip/ziparchiver.h"

#include <algorithm>
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

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  fs::path dir = fs::temp_directory_path() / ("zvzip-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir / "parts");
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
  const double mib = 77.0;
  std::string archive = (dir / "image.zip").string();
  std::string cmd = "cd '" + (dir / "parts").string() + "' && zip -q -r '" + archive + "' .";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "zip failed\n");
    return 1;
  }
  std::printf("archive: %.1f MiB uncompressed, %.1f MiB compressed\n", mib,
              static_cast<double>(fs::file_size(archive)) / (1 << 20));

  TZipArchiver zip;
  zip.SetUnattended(true);
  zip.SetNoPump(true);
  auto ours = [&](const fs::path &out) {
    zip.SetZipFileName(archive);
    zip.SetExtrBaseDir(out.string());
    zip.SetExtrOptions(ExtrOpts{ExtrOverWrite});
    zip.FSpecArgs().clear();
    int rc = zip.Extract();
    if (rc != 0)
      std::fprintf(stderr, "Extract: %d %s\n", rc, zip.ErrMessage().c_str());
    return rc == 0;
  };
  auto unzip = [&](const fs::path &out) {
    return bench::run_program({"unzip", "-qq", "-o", "-j", archive, "-d", out.string()});
  };
  auto bsdtar = [&](const fs::path &out) {
    return bench::run_program({"bsdtar", "-x", "-f", archive, "-C", out});
  };

  const std::vector<std::pair<const char *, std::function<bool(const fs::path &)>>> jobs = {
      {"ours (Extract)", ours}, {"unzip -o -j", unzip}, {"bsdtar -x", bsdtar}};
  int failures = 0;
  for (bool overwrite : {false, true}) {
    auto out_dir = [&](size_t job) { return dir / ((overwrite ? "over-" : "empty-") + std::to_string(job)); };
    std::vector<bench::Contender> contenders;
    for (size_t j = 0; j < jobs.size(); ++j) {
      fs::path out = out_dir(j);
      fs::create_directories(out);
      auto job = jobs[j].second;
      auto empty = [out] {
        std::error_code ec;
        for (const auto &e : fs::directory_iterator(out))
          fs::remove_all(e.path(), ec);
        return !ec;
      };
      // Overwriting needs the files there before the first timed round.
      if (overwrite && !job(out))
        return 1;
      contenders.push_back(
          {jobs[j].first, overwrite ? std::function<bool()>() : empty, [job, out] { return job(out); }});
    }
    if (!bench::race(contenders, rounds))
      return 1;
    bench::report(overwrite ? "over the previous round's files" : "into an emptied folder", contenders, mib);
    // The same bytes everywhere, or the times mean nothing.
    for (auto &p : parts)
      for (size_t j = 1; j < jobs.size(); ++j) {
        std::string a = (out_dir(0) / p.name).string(), b = (out_dir(j) / p.name).string();
        if (std::system(("cmp -s '" + a + "' '" + b + "'").c_str()) != 0) {
          std::fprintf(stderr, "outputs differ: %s (%s)\n", p.name, jobs[j].first);
          ++failures;
        }
      }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return failures ? 1 : 0;
}
