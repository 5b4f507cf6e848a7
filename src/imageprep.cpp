#include "src/imageprep.h"

#include "lib/log.h"
#include "platform/paths.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

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
constexpr size_t copy_chunk = 1024;
// Partitions run to tens of MiB; stdio's default 4 KiB buffers would turn the 1 KiB copy
// passes into one system call per 4 KiB. Larger buffers keep the unpack near `cp` speed.
constexpr size_t stream_buffer = 256 * 1024;

// A FILE with a buffer of our own that outlives it: closing happens here, before the
// buffer goes, whatever path the caller leaves by.
class BufferedFile {
 public:
  BufferedFile(const char *path, const char *mode) : file_(std::fopen(path, mode)) {
    if (!file_)
      return;
    try {
      buffer_ = std::make_unique_for_overwrite<char[]>(stream_buffer);
      std::setvbuf(file_, buffer_.get(), _IOFBF, stream_buffer);
    } catch (const std::bad_alloc &) {
      // stdio's own small buffer still works, only slower.
    }
  }
  BufferedFile(const BufferedFile &) = delete;
  BufferedFile &operator=(const BufferedFile &) = delete;
  ~BufferedFile() { close(); }

  FILE *get() const { return file_; }
  // 0 when every buffered byte reached the file; a full disk often shows only here.
  int close() {
    int rc = 0;
    if (file_)
      rc = std::fclose(file_);
    file_ = nullptr;
    return rc;
  }

 private:
  FILE *file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
};

// A half-written partition file must not survive to be flashed. Only a regular file is
// removed: a target such as a device node is left alone.
void remove_partial(const char *target) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(target, ec)))
    std::filesystem::remove(target, ec);
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

  unsigned char magic[4] = {};
  size_t got = std::fread(magic, 1, sizeof magic, image);
  if (got != sizeof magic || !std::equal(magic, magic + 4, record_magic)) {
    uint32_t word = uint32_t(magic[0]) | uint32_t(magic[1]) << 8 | uint32_t(magic[2]) << 16 |
                    uint32_t(magic[3]) << 24;
    ZV_LOG(LOG_ERROR, "write_file", "Size of file is not 0xA03050A0 : [%x]", word);
    return 0;
  }

  BufferedFile out(target, "wb");
  if (!out.get()) {
    ZV_LOG(LOG_ERROR, "write_file", "Fail to open file : [%s]", target);
    return 0;
  }

  auto truncated = [&] {
    out.close();
    remove_partial(target);
    ZV_LOG(LOG_ERROR, "write_file", "Image file ends before the end of the partition : [%s]", target);
    return 0;
  };
  auto write_failed = [&] {
    out.close();
    remove_partial(target);
    ZV_LOG(LOG_ERROR, "write_file", "Fail to write file : [%s]", target);
    return 0;
  };

  unsigned char length[4];
  if (std::fread(length, 1, sizeof length, image) != sizeof length)
    return truncated();
  uint64_t remaining = uint64_t(length[0]) << 24 | uint64_t(length[1]) << 16 | uint64_t(length[2]) << 8 |
                       uint64_t(length[3]);

  char buffer[copy_chunk];
  while (remaining > 0) {
    size_t chunk = size_t(std::min<uint64_t>(remaining, copy_chunk));
    if (std::fread(buffer, 1, chunk, image) != chunk)
      return truncated();
    if (std::fwrite(buffer, 1, chunk, out.get()) != chunk)
      return write_failed();
    remaining -= chunk;
  }
  if (out.close() != 0)
    return write_failed();
  return 1;
}

int unpack_nfi(const char *path) {
  BufferedFile image(path ? path : "", "rb");
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
    if (!write_file(image.get(), target)) {
      ZV_LOG(LOG_ERROR, "unpack_nfi", "Fail to unpack file : [%s]", target);
      return 0;
    }
    ZV_LOG(LOG_INFO, "unpack_nfi", "Unpacked [%s]", target);
  }
  ZV_LOG(LOG_INFO, "unpack_nfi", "Finished unpack!!");
  return 1;
}
