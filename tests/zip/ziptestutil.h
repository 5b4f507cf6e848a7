// Helpers for the archive tests: private temporary folders, real archivers (Info-ZIP zip
// and unzip, python3's zipfile, bsdtar) run as peers, and file comparison.
#pragma once

#include "tests/support/fs.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace ziptest {

namespace fs = std::filesystem;

// A fresh folder removed with everything in it at the end of the test.
class TempDir : public zv_test::TempDir {
 public:
  TempDir() : zv_test::TempDir("zvzip") {}
};

using zv_test::read_file;
using zv_test::write_file;

inline std::string quote(const std::string &s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// Runs a shell command; returns its exit status and fills `output` with stdout.
inline int run(const std::string &cmd, std::string *output = nullptr) {
  FILE *p = popen((cmd + " 2>/dev/null").c_str(), "r");
  if (!p)
    return -1;
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
    out.append(buf.data(), n);
  int status = pclose(p);
  if (output)
    *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Bytes that compress somewhat, like firmware: runs, text and noise.
inline std::string sample_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s;
  s.reserve(n);
  while (s.size() < n) {
    switch (gen() % 3) {
      case 0:
        s.append(std::min<size_t>(n - s.size(), 1 + gen() % 300), static_cast<char>(gen()));
        break;
      case 1:
        s.append("CFE bootloader partition data 0123456789 ").resize(std::min(s.size(), n));
        break;
      default:
        for (int i = 0; i < 200 && s.size() < n; ++i)
          s += static_cast<char>(gen());
    }
  }
  s.resize(n);
  return s;
}

// Relative path -> content of every regular file below `root`.
inline std::map<std::string, std::string> tree(const fs::path &root) {
  std::map<std::string, std::string> out;
  if (!fs::exists(root))
    return out;
  for (auto &e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file())
      out[fs::relative(e.path(), root).generic_string()] = read_file(e.path());
  return out;
}

// One entry of `unzip -l`: size and name (directories end in "/").
struct Listed {
  uint64_t size;
  std::string name;
};

inline std::vector<Listed> unzip_list(const std::string &archive) {
  std::string out;
  run("unzip -l " + quote(archive), &out);
  std::vector<Listed> list;
  std::istringstream in(out);
  std::string line;
  int dashes = 0;
  while (std::getline(in, line)) {
    if (line.rfind("---------", 0) == 0) {
      ++dashes;
      continue;
    }
    if (dashes != 1)
      continue;
    // "%9lu  MM-DD-YYYY HH:MM   name"
    std::istringstream ls(line);
    Listed l;
    std::string date, time;
    ls >> l.size >> date >> time;
    std::getline(ls, l.name);
    l.name.erase(0, l.name.find_first_not_of(' '));
    list.push_back(l);
  }
  return list;
}

inline bool have_tools() {
  return run("command -v zip && command -v unzip && command -v python3 && command -v bsdtar") == 0;
}

}  // namespace ziptest
