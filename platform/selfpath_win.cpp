#include "platform/selfpath.h"

#include <windows.h>

const char *za_self_path() {
  static char path[MAX_PATH] = "";
  HMODULE self = nullptr;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&za_self_path), &self))
    GetModuleFileNameA(self, path, MAX_PATH);
  return path;
}
