#include "zip/eziparchiver.h"

#include <cstdio>
#include <cstring>

EZipArchiver::EZipArchiver(const std::string &text) : EZipArchiver(11049, text, true) {}

EZipArchiver::EZipArchiver(const std::string &text, bool display) : EZipArchiver(0, text, display) {}

EZipArchiver::EZipArchiver(int id, bool display) : EZipArchiver(id, ZipLoadStr(id), display) {}

EZipArchiver::EZipArchiver(int id, std::initializer_list<ZipFmtArg> args)
    : EZipArchiver(id, ZipFmtLoadStr(id, args), true) {}

EZipArchiver EZipArchiver::WithSystemError(int id, const std::string &text, int system_error) {
  std::string msg = ZipFmtLoadStr(id, {text});
  if (system_error >= 1) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "  <%X : ", static_cast<unsigned>(system_error));
    msg += buf;
    msg += std::strerror(system_error);
    msg += ">";
  }
  return EZipArchiver(id, msg, true);
}

EZipAbort::EZipAbort() : EZipArchiver(11007, ZipLoadStr(11007), false) {}
