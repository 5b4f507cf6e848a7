#include "zip/zadbind.h"

#include "platform/paths.h"
#include "zip/ziputils.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

TZADynamicBind::~TZADynamicBind() {
  usage_ = 0;
  Unload();
}

std::string TZADynamicBind::LibraryName() { return std::string("KyUnzip179") + DynLib::Suffix(); }

std::string TZADynamicBind::FindLibrary() const {
  std::string program_dir = ZipDirName(executable_path());
  std::error_code ec;
  if (!DLLDirectory.empty() && DLLDirectory != "><") {
    fs::path dir(DLLDirectory);
    if (DLLDirectory[0] == '.' && !program_dir.empty())
      dir = fs::path(program_dir) / dir;
    fs::path candidate = dir / LibraryName();
    if (fs::is_regular_file(candidate, ec))
      return candidate.lexically_normal().string();
  }
  // Windows looks beside the program first on its own; other systems do not, and the
  // library is installed there, so look there before the system's search.
  if (!program_dir.empty()) {
    fs::path candidate = fs::path(program_dir) / LibraryName();
    if (fs::is_regular_file(candidate, ec))
      return candidate.string();
#ifdef ZEVAVI_PRIVATE_LIB_FROM_BIN
    // Installed, it lies in its private folder. The path is made here rather than left to
    // dlopen's search of the program's RUNPATH: that search follows the object that calls
    // dlopen, which in a sanitizer build is the sanitizer's interceptor, not the program.
    candidate = fs::path(program_dir) / ZEVAVI_PRIVATE_LIB_FROM_BIN / LibraryName();
    if (fs::is_regular_file(candidate, ec))
      return candidate.lexically_normal().string();
#endif
  }
  return LibraryName();
}

void TZADynamicBind::Load() {
  if (lib_.IsOpen())
    return;
  std::string path = FindLibrary();
  int syserr = 0;
  std::string why;
  // "><" asks for a copy carried inside the program; this program carries none.
  if (DLLDirectory == "><" || !lib_.Open(path, syserr, why)) {
    if (DLLDirectory == "><")
      why = "no built-in copy of the library";
    if (Verbose || Trace)
      ReportMessage(0, ZipFormat("Error [%d %s] loading %s ", {static_cast<long long>(syserr), why, path}));
    throw EZipArchiver(10650, {path});
  }
  unz_exec_ = reinterpret_cast<ZA_UnzExecFn>(lib_.Symbol("ZA_UnzExec"));
  zip_exec_ = unz_exec_ ? reinterpret_cast<ZA_ZipExecFn>(lib_.Symbol("ZA_ZipExec")) : nullptr;
  version_ = zip_exec_ ? reinterpret_cast<ZA_VersionFn>(lib_.Symbol("ZA_Version")) : nullptr;
  priv_version_ = version_ ? reinterpret_cast<ZA_PrivVersionFn>(lib_.Symbol("ZA_PrivVersion")) : nullptr;
  abort_ = priv_version_ ? reinterpret_cast<ZA_AbortFn>(lib_.Symbol("ZA_Abort")) : nullptr;
  path_ = abort_ ? reinterpret_cast<ZA_PathFn>(lib_.Symbol("ZA_Path")) : nullptr;
  int v = path_ ? version_() : 0;
  if (!path_ || v < ZA_VERSION_MIN || v > ZA_VERSION_MAX) {
    lib_.Close();
    unz_exec_ = nullptr;
    throw EZipArchiver(10651, {path});
  }
  const char *p = path_();
  loaded_path_ = p && *p ? p : path;
  if (Verbose)
    ReportMessage(0, ZipFmtLoadStr(10652, {loaded_path_}));
}

void TZADynamicBind::Unload() {
  if (!lib_.IsOpen())
    return;
  if (Verbose && !Closing)
    ReportMessage(0, ZipFmtLoadStr(10653, {loaded_path_}));
  lib_.Close();
  unz_exec_ = nullptr;
  zip_exec_ = nullptr;
  version_ = nullptr;
  priv_version_ = nullptr;
  abort_ = nullptr;
  path_ = nullptr;
}

void TZADynamicBind::Use(int bits) {
  if ((usage_ | bits) != 0 && !lib_.IsOpen()) {
    StartWaitCursor();
    try {
      Load();
    } catch (...) {
      EndWaitCursor();
      throw;
    }
    EndWaitCursor();
  }
  usage_ |= bits;
}

void TZADynamicBind::Release(int bits) {
  usage_ &= ~bits;
  if (usage_ == 0)
    Unload();
}

int TZADynamicBind::RaiseForResult(int result) {
  switch (result) {
    case -1:
      throw EZipArchiver(10120, true);
    case -2:
      throw EZipArchiver(10118, true);
    case -3:
      throw EZipArchiver(10123, true);
    case -4:
      throw EZipArchiver(10121, true);
    case -5:
      throw EZipArchiver(10122, true);
    default:
      throw EZipArchiver(10124, {ZipFmtArg(static_cast<long long>(result))});
  }
}

int TZADynamicBind::CallUnzExec(UnzipRequest *request) {
  Use(kUseCall);
  int result;
  try {
    result = unz_exec_(request);
  } catch (...) {
    result = -7;
  }
  abort_value_ = 0;
  Release(kUseCall);
  if (result < 0)
    RaiseForResult(result);
  return result;
}

void TZADynamicBind::AbortDll() {
  Cancel = true;
  if (lib_.IsOpen() && abort_)
    abort_(abort_value_);
}

int TZADynamicBind::DllBuild() {
  try {
    Use(kUseCall);
  } catch (const EZipArchiver &) {
    return 0;
  }
  int b = priv_version_();
  Release(kUseCall);
  return b;
}

std::string TZADynamicBind::DllPath() {
  try {
    Use(kUseCall);
  } catch (const EZipArchiver &) {
    return std::string();
  }
  std::string p = loaded_path_;
  Release(kUseCall);
  return p;
}

std::string TZADynamicBind::DllVersion() {
  bool was_loaded = lib_.IsOpen();
  try {
    Use(kUseCall);
  } catch (const EZipArchiver &) {
    return std::string();
  }
  int b = priv_version_();
  Release(kUseCall);
  char buf[64];
  std::snprintf(buf, sizeof buf, was_loaded ? " %d.%2.2d.%2.2d.%2.2d " : "[%d.%2.2d.%2.2d.%2.2d]",
                b / 1000000, b / 10000 % 100, b / 100 % 100, b % 100);
  return buf;
}
