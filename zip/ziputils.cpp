#include "zip/ziputils.h"

#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

int fold(char c) {
  if (c == '\\')
    return '/';
  return std::toupper(static_cast<unsigned char>(c));
}

bool match_part(const char *p, const char *pe, const char *s, const char *se) {
  const char *star = nullptr, *resume = nullptr;
  while (s < se) {
    if (p < pe && *p == '*') {
      star = p++;
      resume = s;
    } else if (p < pe && *p == '?') {
      // A whole character: in UTF-8 a lead byte and its continuation bytes. Only a lead byte
      // takes bytes with it; a stray continuation byte after a plain one is a character of
      // its own, so a name with one still matches itself as a pattern.
      ++p;
      bool lead = (static_cast<unsigned char>(*s++) & 0xC0) == 0xC0;
      while (lead && s < se && (static_cast<unsigned char>(*s) & 0xC0) == 0x80)
        ++s;
    } else if (p < pe && fold(*p) == fold(*s)) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (p < pe && *p == '*')
    ++p;
  return p == pe;
}

size_t last_delim(const std::string &s) { return s.find_last_of("/\\"); }

}  // namespace

bool FileNameMatch(const std::string &spec, const std::string &name) {
  if (spec.empty() || name.empty())
    return false;
  size_t sd = last_delim(spec);
  size_t sdot = spec.rfind('.');
  if (sdot == std::string::npos || (sd != std::string::npos && sdot < sd))
    return match_part(spec.data(), spec.data() + spec.size(), name.data(), name.data() + name.size());
  size_t nd = last_delim(name);
  size_t ndot = name.rfind('.');
  if (ndot != std::string::npos && nd != std::string::npos && ndot < nd)
    ndot = std::string::npos;
  std::string spec_ext = spec.substr(sdot + 1);
  std::string name_base = ndot == std::string::npos ? name : name.substr(0, ndot);
  std::string name_ext = ndot == std::string::npos ? std::string() : name.substr(ndot + 1);
  if (!match_part(spec.data(), spec.data() + sdot, name_base.data(), name_base.data() + name_base.size()))
    return false;
  if (spec_ext == "*")
    return true;
  return match_part(spec_ext.data(), spec_ext.data() + spec_ext.size(), name_ext.data(),
                    name_ext.data() + name_ext.size());
}

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
