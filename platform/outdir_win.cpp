// Windows: links need privileges to plant and the base folder is checked by path, so the
// files are reached by their paths below it; each folder component is still checked not to
// be a link before it is used.
#include "platform/outdir.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

bool no_links_below(const fs::path &base, const std::string &rel_dir) {
  fs::path p = base;
  std::error_code ec;
  for (const auto &part : fs::path(rel_dir)) {
    p /= part;
    if (fs::is_symlink(fs::symlink_status(p, ec)))
      return false;
  }
  return true;
}

std::string folder_of(const std::string &rel) {
  size_t slash = rel.rfind('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

}  // namespace

ZaOutDir::~ZaOutDir() = default;

bool ZaOutDir::open(const std::string &base, bool &is_link) {
  shown_ = base;
  std::string path = base.empty() ? "." : base;
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
    path.pop_back();
  std::error_code ec;
  auto st = fs::symlink_status(path, ec);
  is_link = fs::is_symlink(st);
  if (is_link || !fs::is_directory(st))
    return false;
  base_ = path;
  return true;
}

ZaOutDir::Kind ZaOutDir::kind_of(const std::string &rel, std::time_t *mtime) const {
  std::error_code ec;
  fs::path p = fs::path(base_) / fs::path(rel);
  auto st = fs::symlink_status(p, ec);
  if (!fs::exists(st))
    return kNone;
  if (fs::is_directory(st))
    return kDir;
  if (mtime) {
    auto t = fs::last_write_time(p, ec);
    *mtime = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(t)));
  }
  return kFile;
}

bool ZaOutDir::make_dirs(const std::string &rel_dir) const {
  std::error_code ec;
  fs::create_directories(fs::path(base_) / fs::path(rel_dir), ec);
  return no_links_below(base_, rel_dir) && fs::is_directory(fs::path(base_) / fs::path(rel_dir), ec);
}

uint64_t ZaOutDir::free_bytes() const {
  std::error_code ec;
  auto info = fs::space(base_, ec);
  return ec ? UINT64_MAX : static_cast<uint64_t>(info.available);
}

bool ZaOutFile::create(const ZaOutDir &dir, const std::string &rel) {
  discard();
  std::string folder = folder_of(rel);
  if (!folder.empty() && !dir.make_dirs(folder))
    return false;
  final_ = (fs::path(dir.base_) / fs::path(rel)).string();
  std::random_device rd;
  for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
    temp_ = (fs::path(dir.base_) / fs::path(folder) / temp_name(rd())).string();
    file_ = std::fopen(temp_.c_str(), "wbx");
  }
  if (!file_)
    temp_.clear();
  return file_ != nullptr;
}

ZaOutFile::Result ZaOutFile::commit(std::time_t mtime) {
  if (!file_)
    return kWriteFailed;
  bool ok = std::fflush(file_) == 0;
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) {
    discard();
    return kWriteFailed;
  }
  std::error_code ec;
  fs::rename(temp_, final_, ec);
  if (ec) {
    discard();
    return kRenameFailed;
  }
  auto when = std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(mtime));
  fs::last_write_time(final_, when, ec);
  temp_.clear();
  return kOk;
}

void ZaOutFile::discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
  }
}
