// Test helper: a private log file for one test and a reader that splits it into entries,
// so a test can ask "was there an ERROR entry from write_file saying X".
#pragma once

#include "lib/log.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

struct LogEntry {
  std::string level;     // "ERROR", "DEBUG", ...
  std::string function;  // the writer's fixed name
  std::string message;   // the text after the tab, without the final line end
};

// Opens a fresh log (all levels) in a temp file for the lifetime of the object.
class LogCapture {
 public:
  LogCapture() {
    char name[] = "/tmp/zv_logXXXXXX";
    int fd = ::mkstemp(name);
    if (fd >= 0)
      ::close(fd);
    path_ = name;
    log_open(path_.c_str(), LOG_HEX);
  }
  ~LogCapture() {
    log_close();
    std::remove(path_.c_str());
  }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<LogEntry> entries() const {
    std::ifstream in(path_);
    std::vector<LogEntry> out;
    std::string line;
    while (std::getline(in, line)) {
      // Header line: "[%5s][time] [func:line] [file]", then "\t" and the message.
      if (line.size() < 8 || line[0] != '[')
        continue;
      LogEntry e;
      size_t close = line.find(']');
      e.level = line.substr(1, close - 1);
      e.level.erase(0, e.level.find_first_not_of(' '));
      size_t func = line.find(" [", close);
      size_t colon = line.find(':', func + 2);
      if (func == std::string::npos || colon == std::string::npos)
        continue;
      e.function = line.substr(func + 2, colon - func - 2);
      std::string body;
      if (std::getline(in, body) && !body.empty() && body[0] == '\t')
        e.message = body.substr(1);
      out.push_back(e);
    }
    return out;
  }

  int count(const std::string &level, const std::string &function, const std::string &message) const {
    int n = 0;
    for (const auto &e : entries())
      n += e.level == level && e.function == function && e.message == message;
    return n;
  }
  bool has(const std::string &level, const std::string &function, const std::string &message) const {
    return count(level, function, message) > 0;
  }
  // Messages that start with `prefix`, at any level, from `function`.
  int count_prefix(const std::string &function, const std::string &prefix) const {
    int n = 0;
    for (const auto &e : entries())
      n += e.function == function && e.message.rfind(prefix, 0) == 0;
    return n;
  }
  std::string text() const {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_;
};
