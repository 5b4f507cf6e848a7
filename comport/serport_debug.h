// The debug output of the serial port component, shared by its source files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// The stand-in for OutputDebugString: a debugger's output window, here stderr when
// ZEVAVI_DEBUG_OUTPUT is set. Never the program's log, whose entries are fixed: a line for
// every command the upgrade writes would bury them.
inline void OutputDebugLine(const std::string &text) {
  static const bool enabled = std::getenv("ZEVAVI_DEBUG_OUTPUT") != nullptr;
  if (enabled)
    std::fprintf(stderr, "%s\n", text.c_str());
}
