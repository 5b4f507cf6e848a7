// Shared pieces of the fuzz targets: a private work folder per process, file helpers, and
// the check that ends a run with a crash report when an invariant breaks.
#pragma once

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fuzzutil {

namespace fs = std::filesystem;

// A libFuzzer run stops at the first abort and keeps the input that caused it.
inline void check(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
  }
}

// A fresh folder under the system's temporary folder, removed when the process ends.
inline const fs::path &work_dir() {
  static const fs::path dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "zvfuzz-XXXXXX").string();
    check(mkdtemp(tmpl.data()) != nullptr, "no work folder");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(work_dir(), ec);
    });
    return fs::path(tmpl);
  }();
  return dir;
}

inline void write_bytes(const fs::path &p, const uint8_t *data, size_t size) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  check(static_cast<bool>(out), "input not written");
}

inline std::string read_bytes(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The components under test need an application object; the offscreen platform needs no display.
inline void start_qt() {
  static int argc = 1;
  static char name[] = "fuzz";
  static char *argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static auto *app = new QApplication(argc, argv);
  (void)app;
}

}  // namespace fuzzutil
