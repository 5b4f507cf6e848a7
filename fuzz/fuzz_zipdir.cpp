// The archive component's own directory reader and name index on arbitrary files: no
// crash, and every entry it lists is found again by its name, through the index and
// through a pattern search.
#include "fuzz/fuzzutil.h"
#include "zip/ziparchiver.h"

#include <cctype>
#include <cstdint>

using namespace fuzzutil;

namespace {

bool same_folded(const std::string &a, const std::string &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  start_qt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fs::path archive = work_dir() / "dir.zip";
  write_bytes(archive, data, size);
  TZipArchiver zip;
  zip.SetUnattended(true);
  // Directory-only entries are kept on odd sizes, so both ways through the reader are run.
  zip.SetUseDirOnlyEntries(size & 1);
  zip.SetZipFileName(archive.string());
  zip.IsZipSFX(archive.string());
  for (int i = 0; i < zip.Count(); ++i) {
    const ZipDirEntry *e = zip.DirEntry(i);
    check(e != nullptr, "listed entry missing");
    const ZipDirEntry *found = zip.GetEntry(e->FileName);
    check(found != nullptr && same_folded(found->FileName, e->FileName), "index lost an entry");
    int at = zip.IndexOf(e->FileName);
    check(at >= 0 && at <= i, "pattern search lost an entry");
  }
  return 0;
}
