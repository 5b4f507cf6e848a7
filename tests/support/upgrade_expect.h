// What a whole upgrade must show and flash: shared by the window's and the command line's
// end-to-end tests, which drive the same worker and must agree line for line.
#pragma once

#include "tests/support/fs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace upgrade_expect {

using zv_test::read_file;

// One whole upgrade of the suites' model table: a model's image as a zip or as a container.
struct ModelRun {
  const char *model;
  bool zip;
  friend void PrintTo(const ModelRun &r, std::ostream *os) {
    *os << r.model << (r.zip ? " zip" : " container");
  }
};

// SHA-256 of `bytes` by a program nobody here wrote; `scratch` takes a copy of them.
inline std::string sha256_of(const std::string &bytes, const std::filesystem::path &scratch) {
  std::ofstream(scratch, std::ios::binary) << bytes;
  std::string command = "sha256sum '" + scratch.string() + "'";
  FILE *pipe = ::popen(command.c_str(), "r");
  char digest[65] = {};
  if (!pipe || std::fscanf(pipe, "%64s", digest) != 1)
    digest[0] = 0;
  if (pipe)
    ::pclose(pipe);
  return digest;
}

// A model or image without a splash step: the progress-only 90 % after the root image counts
// as number 8 without a line of its own.
inline const std::vector<std::string> lines_without_splash = {"1. Extract the image.",
                                                              "2. Enter into the CFE mode.",
                                                              "3. IP is set in the machine.",
                                                              "4. Upgrade the kernel image on the machine.",
                                                              "5. Erase memory area about FLASH2 and FLASH0.",
                                                              "6. Upgrade the boot image on the machine.",
                                                              "7. Upgrade the root image on the machine.",
                                                              "9. Finished, Reboot now!!"};

inline const std::vector<std::string> lines_with_splash = {"1. Extract the image.",
                                                           "2. Enter into the CFE mode.",
                                                           "3. IP is set in the machine.",
                                                           "4. Upgrade the kernel image on the machine.",
                                                           "5. Upgrade the splash image on the machine.",
                                                           "6. Erase memory area about FLASH2 and FLASH0.",
                                                           "7. Upgrade the boot image on the machine.",
                                                           "8. Upgrade the root image on the machine.",
                                                           "10. Finished, Reboot now!!"};

}  // namespace upgrade_expect
