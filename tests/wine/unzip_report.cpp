// Runs the unzip library on one archive and prints what it did, in a form that does not
// depend on the OS: the callback actions in order (the timer's ticks and progress counts
// left out), their names and codes, the result, and the tree it wrote with each file's
// size and checksum. Built for Linux and for Windows, so the two libraries' reports on the
// same archives can be compared line by line.
//   unzip_report ARCHIVE OUTDIR [PASSWORD]
#include "platform/dynlib.h"
#include "platform/paths.h"
#include "ziplib/zarequest.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string archive_arg, outdir_arg;

void replace_all(std::string &text, const std::string &from, const std::string &to) {
  if (from.empty())
    return;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// The archive's and the output folder's paths as each OS spells them become fixed words.
std::string neutral(const char *text) {
  std::string s = text ? text : "";
  std::replace(s.begin(), s.end(), '\\', '/');
  std::string archive = archive_arg, outdir = outdir_arg;
  std::replace(archive.begin(), archive.end(), '\\', '/');
  std::replace(outdir.begin(), outdir.end(), '\\', '/');
  replace_all(s, archive, "<archive>");
  replace_all(s, outdir, "<out>");
  return s;
}

int32_t ZA_CALL on_callback(void *, ZCallBackStruct *info) {
  const int action = info->ActionCode & ZA_ACT_MASK;
  switch (action) {
    case ZA_ACT_TICK:
    case ZA_ACT_PROGRESS:
    case ZA_ACT_EXTRA_PROGRESS:
    case ZA_ACT_ABORT_VALUE:  // a number of the run, different every time
      return ZA_CB_CONTINUE;
    default:
      break;
  }
  std::printf("action %d arg1 %" PRId32 " arg2 %" PRId32 " text \"%s\"\n", action, info->Arg1, info->Arg2,
              neutral(info->MsgP).c_str());
  return ZA_CB_CONTINUE;
}

uint64_t fnv1a(const std::string &data) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : data) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::string(argv[1]) == "--make-prefix")
    return 0;  // the harness's first run under Wine, which only makes the prefix
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: unzip_report ARCHIVE OUTDIR [PASSWORD]\n");
    return 2;
  }
  archive_arg = argv[1];
  outdir_arg = argv[2];
  const std::string password = argc == 4 ? argv[3] : "";
  const std::string lib_path =
      fs::path(executable_path()).parent_path().string() + "/KyUnzip179" + DynLib::Suffix();
  DynLib lib;
  int error = 0;
  std::string why;
  if (!lib.Open(lib_path, error, why)) {
    std::fprintf(stderr, "cannot load %s: %s\n", lib_path.c_str(), why.c_str());
    return 1;
  }
  auto exec = reinterpret_cast<ZA_UnzExecFn>(lib.Symbol("ZA_UnzExec"));
  if (!exec) {
    std::fprintf(stderr, "no ZA_UnzExec in %s\n", lib_path.c_str());
    return 1;
  }
  fs::create_directories(outdir_arg);
  const std::string base = outdir_arg + "/";
  UnzipRequest request;
  std::memset(&request, 0, sizeof request);
  request.Version = ZA_INTERFACE_VERSION;
  request.Callback = &on_callback;
  request.PWord = password.c_str();
  request.ZipFileName = archive_arg.c_str();
  request.ExtractDir = base.c_str();
  request.PwdReqCount = 1;
  request.fDirectories = 1;
  request.fOverwrite = 1;
  request.Flag44 = 1;
  request.Tail148 = 7;
  const int32_t result = exec(&request);
  std::printf("result %" PRId32 "\n", result);

  std::vector<std::string> lines;
  for (const auto &entry : fs::recursive_directory_iterator(outdir_arg)) {
    std::string rel = fs::relative(entry.path(), outdir_arg).generic_string();
    if (entry.is_directory()) {
      lines.push_back("dir " + rel);
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char sum[32];
    std::snprintf(sum, sizeof sum, "%016" PRIx64, fnv1a(data));
    lines.push_back("file " + rel + " " + std::to_string(data.size()) + " " + sum);
  }
  std::sort(lines.begin(), lines.end());
  for (const std::string &line : lines)
    std::printf("%s\n", line.c_str());
  return 0;
}
