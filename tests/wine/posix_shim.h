// The few POSIX calls that the core's shared tests use and mingw-w64's C library lacks,
// given their Windows meaning. Included first into every test program of the cross build.
#pragma once

#ifdef _WIN32
#include <direct.h>

#include <cstdlib>
#include <cstring>

inline int setenv(const char *name, const char *value, int overwrite) {
  if (!overwrite && std::getenv(name))
    return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char *name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// The X's become a name of no other folder; the folder is made at once.
inline char *mkdtemp(char *pattern) {
  if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0 || _mkdir(pattern) != 0)
    return nullptr;
  return pattern;
}
#endif
