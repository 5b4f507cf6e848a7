// A run-time loaded shared library, owned: closing happens in the destructor. One source
// per OS (dlopen or LoadLibrary) for the system's calls; callers never name either.
#pragma once

#include <string>

class DynLib {
 public:
  DynLib() = default;
  DynLib(const DynLib &) = delete;
  DynLib &operator=(const DynLib &) = delete;
  DynLib(DynLib &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  DynLib &operator=(DynLib &&other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }
  ~DynLib() { Close(); }

  // Loads `path` without any system dialog. On failure returns false with the system's
  // error number (0 when the system gives none) and its text.
  bool Open(const std::string &path, int &system_error, std::string &error_text);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  // The address of an export, or null.
  void *Symbol(const char *name) const;

  // The file-name suffix of shared libraries on this system (".so", ".dll").
  static const char *Suffix();

 private:
  void *handle_ = nullptr;
};
