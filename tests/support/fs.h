// Files for tests: a private temporary folder removed at the end, whole-file reads and writes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zv_test {

namespace fs = std::filesystem;

// A fresh folder (mkdtemp, so no two tests or processes share one), removed with everything
// in it when the owner goes.
class TempDir {
 public:
  explicit TempDir(const std::string &prefix = "zevavi-test") {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder from " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const fs::path &path() const { return path_; }
  std::string str(const std::string &sub = "") const {
    return sub.empty() ? path_.string() : (path_ / sub).string();
  }

 private:
  fs::path path_;
};

// The whole file; empty when it cannot be read.
inline std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A text file as the program reads text: on Windows its CR LF line ends become "\n".
inline std::string read_text_file(const fs::path &path) {
  std::ifstream in(path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Replaces the file, making the folders on its way.
inline void write_file(const fs::path &path, const std::string &data) {
  if (path.has_parent_path())
    fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

}  // namespace zv_test
