#include "src/imageprep.h"

#include "lib/log.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "ziplib/zipformat.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

const char *const image_file_names[IMAGE_FILE_COUNT] = {
    "kernel_cfe_auto.bin",
    "splash_cfe_auto.bin",
    "boot_cfe_auto.jffs2",
    "root_cfe_auto.jffs2",
};

std::array<std::string, IMAGE_FILE_COUNT> image_files() {
  std::string dir = temp_dir_path();
  std::array<std::string, IMAGE_FILE_COUNT> paths;
  for (int i = 0; i < IMAGE_FILE_COUNT; ++i)
    paths[i] = dir + "/" + image_file_names[i];
  return paths;
}

namespace {

constexpr unsigned char record_magic[4] = {0xA0, 0x50, 0x30, 0xA0};

// A FILE closed here whatever path the caller leaves by; close() tells whether every byte
// reached the file.
class ClosingFile {
 public:
  explicit ClosingFile(FILE *file) : file_(file) {}
  ClosingFile(const ClosingFile &) = delete;
  ClosingFile &operator=(const ClosingFile &) = delete;
  ~ClosingFile() { close(); }

  FILE *get() const { return file_; }
  // 0 when every written byte reached the file; a full disk sometimes shows only here.
  int close() {
    int rc = 0;
    if (file_)
      rc = std::fclose(file_);
    file_ = nullptr;
    return rc;
  }

 private:
  FILE *file_ = nullptr;
};

// One record into `name` inside `folder`; `target` is the full path, for the log.
int write_record(FILE *image, Folder &folder, const char *name, const char *target) {
  unsigned char magic[4] = {};
  size_t got = std::fread(magic, 1, sizeof magic, image);
  if (got != sizeof magic || !std::equal(magic, magic + 4, record_magic)) {
    uint32_t word =
        uint32_t(magic[0]) | uint32_t(magic[1]) << 8 | uint32_t(magic[2]) << 16 | uint32_t(magic[3]) << 24;
    ZV_LOG(LOG_ERROR, "write_file", "Size of file is not 0xA03050A0 : [%x]", word);
    return 0;
  }

  // Created inside the folder opened before, never through a link at the name: a link
  // planted there would otherwise send the partition over whatever file it points to.
  std::string reason;
  ClosingFile out(folder.create(name, reason));
  if (!out.get()) {
    ZV_LOG(LOG_ERROR, "write_file", "Fail to open file : [%s]", target);
    ZV_LOG(LOG_DEBUG, "write_file", "%s : [%s]", reason.c_str(), target);
    return 0;
  }

  // A half-written partition file must not survive to be flashed.
  auto truncated = [&] {
    out.close();
    folder.remove(name);
    ZV_LOG(LOG_ERROR, "write_file", "Image file ends before the end of the partition : [%s]", target);
    return 0;
  };
  auto write_failed = [&] {
    out.close();
    folder.remove(name);
    ZV_LOG(LOG_ERROR, "write_file", "Fail to write file : [%s]", target);
    return 0;
  };

  unsigned char length[4];
  if (std::fread(length, 1, sizeof length, image) != sizeof length)
    return truncated();
  uint64_t remaining =
      uint64_t(length[0]) << 24 | uint64_t(length[1]) << 16 | uint64_t(length[2]) << 8 | uint64_t(length[3]);

  // Partitions run to tens of MiB: the copy stays in the kernel where it can.
  switch (copy_file_part(image, out.get(), remaining)) {
    case CopyEnd::done:
      break;
    case CopyEnd::source_ended:
      return truncated();
    case CopyEnd::write_failed:
      return write_failed();
  }
  if (out.close() != 0)
    return write_failed();
  return 1;
}

}  // namespace

int write_file(FILE *image, const char *target) {
  if (!image) {
    ZV_LOG(LOG_ERROR, "write_file", "Image file pointer is NULL");
    return 0;
  }
  if (!target) {
    ZV_LOG(LOG_ERROR, "write_file", "Target file name is NULL");
    return 0;
  }
  // The caller named the folder, so its path may run through links; only the file's own
  // name is never followed.
  std::string path(target);
  size_t cut = path.rfind('/');
  std::string dir = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  Folder folder;
  std::string reason;
  if (name.empty() || !folder.open(dir, false, reason)) {
    ZV_LOG(LOG_ERROR, "write_file", "Fail to open file : [%s]", target);
    return 0;
  }
  return write_record(image, folder, name.c_str(), target);
}

int unpack_nfi(const char *path) {
  std::string reason;
  bool not_regular = false;
  ClosingFile image(path ? open_regular_file(path, reason, not_regular) : nullptr);
  if (!path || !image.get()) {
    ZV_LOG(LOG_ERROR, "unpack_nfi", "Fail to open file : [%s]", path ? path : "");
    return 0;
  }

  // Magic, header word and flags word. A file too short to hold them is no container.
  unsigned char head[12];
  if (std::fread(head, 1, sizeof head, image.get()) != sizeof head || head[0] != 'K' || head[1] != 'X' ||
      head[2] != 'B' || head[3] != 0) {
    ZV_LOG(LOG_ERROR, "unpack_nfi", "Fail to open file : [%s]", path);
    return 0;
  }
  const unsigned char flags = head[11];
  // A container that names no partition is no image: unpacking it "successfully" would let
  // an upgrade go on to erase a box it has nothing to refill with.
  if (!(flags & 0x0E)) {
    ZV_LOG(LOG_ERROR, "unpack_nfi", "The image holds no partition : [%s]", path);
    return 0;
  }

  // The folder is opened once: swapped for a link later, it still takes the files itself.
  const std::string dir = temp_dir_path();
  Folder folder;
  if (!folder.open(dir, true, reason)) {
    ZV_LOG(LOG_ERROR, "unpack_nfi", "Fail to open directory : [%s] (%s)", dir.c_str(), reason.c_str());
    return 0;
  }
  const auto files = image_files();
  // Records lie in the order root, boot, kernel; each is read where the previous ended.
  const struct {
    unsigned char flag;
    int index;
  } partitions[] = {{0x08, 3}, {0x04, 2}, {0x02, 0}};
  for (const auto &part : partitions) {
    if (!(flags & part.flag))
      continue;
    const char *target = files[part.index].c_str();
    if (!write_record(image.get(), folder, image_file_names[part.index], target)) {
      ZV_LOG(LOG_ERROR, "unpack_nfi", "Fail to unpack file : [%s]", target);
      return 0;
    }
    ZV_LOG(LOG_INFO, "unpack_nfi", "Unpacked [%s]", target);
  }
  ZV_LOG(LOG_INFO, "unpack_nfi", "Finished unpack!!");
  return 1;
}

namespace {

bool read_at(FILE *file, long offset, unsigned char *to, size_t count) {
  return offset >= 0 && std::fseek(file, offset, SEEK_SET) == 0 && std::fread(to, 1, count, file) == count;
}

// A stub (an extractor program) followed by a zip archive: the archive's end record lies in
// the file's last zipformat::kEndSearch bytes and names the central directory, either where
// it really starts (offsets adjusted for the stub) or relative to the archive's own start
// (the stub simply put in front).
bool has_zip_directory(FILE *image, long size) {
  const long tail = std::min<long>(size, long(zipformat::kEndSearch));
  if (tail < long(zipformat::kEndSize))
    return false;
  std::vector<unsigned char> buffer(static_cast<size_t>(tail));
  if (!read_at(image, size - tail, buffer.data(), buffer.size()))
    return false;
  for (ptrdiff_t i = zipformat::find_end(buffer.data(), buffer.size()); i >= 0;
       i = zipformat::find_end(buffer.data(), buffer.size(), i - 1)) {
    zipformat::EndRecord end;
    zipformat::read_end(&buffer[size_t(i)], end);
    const long at = size - tail + long(i);
    const long candidates[] = {long(end.cd_offset), at - long(end.cd_size)};
    for (long start : candidates) {
      unsigned char sig[4];
      if (start >= 0 && start < at && read_at(image, start, sig, 4) &&
          zipformat::le32(sig) == zipformat::kCentralSig)
        return true;
    }
  }
  return false;
}

}  // namespace

ImageKind image_kind(FILE *image) {
  unsigned char head[4] = {};
  if (!image || std::fseek(image, 0, SEEK_SET) != 0)
    return ImageKind::unknown;
  size_t got = std::fread(head, 1, sizeof head, image);
  if (got >= 3 && std::memcmp(head, "KXB", 3) == 0)
    return ImageKind::container;
  if (got == 4 &&
      (zipformat::le32(head) == zipformat::kLocalSig || zipformat::le32(head) == zipformat::kEndSig))
    return ImageKind::zip_archive;
  if (got < 4 || std::fseek(image, 0, SEEK_END) != 0)
    return ImageKind::unknown;
  long size = std::ftell(image);
  return size > 0 && has_zip_directory(image, size) ? ImageKind::zip_archive : ImageKind::unknown;
}

bool identify_image(const std::string &path, ImageKind &kind, std::string &refusal) {
  std::string reason;
  bool not_regular = false;
  FILE *image = open_regular_file(path, reason, not_regular);
  if (!image) {
    refusal = not_regular ? "The image " + path + " is not a regular file."
                          : "The image " + path + " cannot be opened (" + reason + ").";
    return false;
  }
  kind = image_kind(image);
  std::fclose(image);
  if (kind == ImageKind::unknown) {
    refusal = "The image " + path + " is neither a zip archive nor an image container.";
    return false;
  }
  return true;
}
