// The output folder's half that is the same on every system.
#include "platform/outdir.h"

#include <cstdio>

std::string ZaOutFile::temp_name(unsigned random) {
  char name[16];
  std::snprintf(name, sizeof name, ".za%08x.tmp", random);
  return name;
}
