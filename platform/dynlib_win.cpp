#include "platform/dynlib.h"

#include <windows.h>

bool DynLib::Open(const std::string &path, int &system_error, std::string &error_text) {
  Close();
  // No critical-error or open-file boxes while loading.
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE h = LoadLibraryA(path.c_str());
  DWORD err = h ? 0 : GetLastError();
  SetErrorMode(old_mode);
  if (!h) {
    system_error = static_cast<int>(err);
    char buf[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, buf,
                   sizeof buf, nullptr);
    error_text = buf;
    return false;
  }
  handle_ = h;
  return true;
}

void DynLib::Close() {
  if (handle_)
    FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void *DynLib::Symbol(const char *name) const {
  return handle_ ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

const char *DynLib::Suffix() { return ".dll"; }
