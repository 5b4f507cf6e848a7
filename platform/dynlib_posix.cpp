#include "platform/dynlib.h"

#include <dlfcn.h>

bool DynLib::Open(const std::string &path, int &system_error, std::string &error_text) {
  Close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char *e = dlerror();
    system_error = 0;
    error_text = e ? e : "unknown error";
    return false;
  }
  return true;
}

void DynLib::Close() {
  if (handle_)
    dlclose(handle_);
  handle_ = nullptr;
}

void *DynLib::Symbol(const char *name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

const char *DynLib::Suffix() { return ".so"; }
