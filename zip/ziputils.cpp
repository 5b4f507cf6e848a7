#include "zip/ziputils.h"

#include "ziplib/zawild.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

size_t last_delim(const std::string &s) { return s.find_last_of("/\\"); }

}  // namespace

std::string slashes_to_backslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

bool FileNameMatch(const std::string &spec, const std::string &name) { return zawild::match(spec, name); }

std::string AppendSlash(const std::string &path) {
  if (!path.empty() && (path.back() == '/' || path.back() == '\\'))
    return path;
  size_t d = last_delim(path);
  char delim = d == std::string::npos ? '\\' : path[d];
  return path + delim;
}

std::string ZipFullDirPath(const std::string &dir) {
  std::string d = dir;
  for (char &c : d)
    if (c == '\\')
      c = '/';
  std::error_code ec;
  fs::path full = fs::absolute(fs::path(d), ec);
  std::string out = ec ? d : full.lexically_normal().generic_string();
  if (out.empty() || out.back() != '/')
    out += '/';
  return out;
}

bool ZipIsDirectory(const std::string &path) {
  std::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

bool ZipFileExists(const std::string &path) {
  std::error_code ec;
  return fs::is_regular_file(fs::path(path), ec);
}

std::string ZipDirName(const std::string &path) {
  size_t d = last_delim(path);
  return d == std::string::npos ? std::string() : path.substr(0, d);
}
