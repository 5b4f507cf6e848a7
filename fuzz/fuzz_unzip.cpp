// The unzip library on whole archives, extracting into a fresh folder: no crash, nothing
// lands outside the base folder, no temporary file or link is left, and no more files
// appear than the library reports extracted.
#include "fuzz/fuzzutil.h"
#include "ziplib/zarequest.h"

#include <cstdint>
#include <cstring>

using namespace fuzzutil;

// The library's sources are linked in; the export is called directly.
extern "C" int32_t ZA_CALL ZA_UnzExec(UnzipRequest *request);

namespace {

// Declines what needs an answer (passwords, overwriting), as an unattended caller does.
int32_t ZA_CALL callback(void *, ZCallBackStruct *info) {
  int action = info->ActionCode & 0x3F;
  if (action == ZA_ACT_PASSWORD || action == ZA_ACT_OVERWRITE || action == ZA_ACT_MEMORY_SIZE)
    info->ActionCode = ZA_ANS_NO;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fs::path archive = work_dir() / "in.zip";
  const fs::path jail = work_dir() / "jail";
  const fs::path base = jail / "base";
  std::error_code ec;
  fs::remove_all(jail, ec);
  fs::create_directories(base);
  write_bytes(archive, data, size);

  std::string archive_text = archive.string(), base_text = base.string() + "/";
  UnzipRequest req;
  std::memset(&req, 0, sizeof req);
  req.Version = ZA_INTERFACE_VERSION;
  req.Callback = &callback;
  req.PWord = "";
  req.ZipFileName = archive_text.c_str();
  req.ExtractDir = base_text.c_str();
  req.PwdReqCount = 1;
  req.fOverwrite = 1;
  // Folder names are kept on odd sizes, dropped on even ones: both ways of naming are run.
  req.fDirectories = size & 1;
  int32_t extracted = ZA_UnzExec(&req);

  size_t files = 0;
  for (auto it = fs::recursive_directory_iterator(jail); it != fs::recursive_directory_iterator(); ++it) {
    fs::path rel = fs::relative(it->path(), jail);
    check(*rel.begin() == "base", "something landed beside the base folder");
    check(!it->is_symlink(), "a link was made");
    std::string leaf = it->path().filename().string();
    check(!(leaf.rfind(".za", 0) == 0 && leaf.size() == 15), "a temporary file was left");
    if (it->is_regular_file())
      ++files;
  }
  check(files <= static_cast<size_t>(extracted < 0 ? 0 : extracted), "more files than entries extracted");
  for (auto &e : fs::directory_iterator(work_dir()))
    check(e.path() == archive || e.path() == jail, "something landed outside the jail");
  return 0;
}
