#include "platform/selfpath.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <cstring>

const char *za_self_path() {
  static char path[PATH_MAX] = "";
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&za_self_path), &info) && info.dli_fname) {
    if (!realpath(info.dli_fname, path)) {
      std::strncpy(path, info.dli_fname, sizeof path - 1);
      path[sizeof path - 1] = 0;
    }
  }
  return path;
}
