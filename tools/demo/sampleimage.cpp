#include "tools/demo/sampleimage.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char &c : bytes)
    c = char(generator());
  return bytes;
}

bool write_bytes(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return bool(out.flush());
}

void put_record(std::string &out, const std::string &data) {
  out += std::string("\xA0\x50\x30\xA0", 4);
  uint32_t n = uint32_t(data.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    out += char(n >> shift);
  out += data;
}

}  // namespace

SamplePartitions make_sample_partitions(unsigned seed) {
  return {random_bytes(640 * 1024 + 123, seed), random_bytes(48 * 1024 + 7, seed + 1),
          random_bytes(256 * 1024, seed + 2), random_bytes(1536 * 1024 + 300, seed + 3)};
}

bool write_sample_container(const std::string &path, const SamplePartitions &parts) {
  // Magic, zero byte, header word, flags 0x0E (root, boot, kernel), then the records.
  std::string out = std::string("KXB\0", 4) + std::string("\0\0\0\1", 4) + std::string("\0\0\0\x0E", 4);
  put_record(out, parts.root);
  put_record(out, parts.boot);
  put_record(out, parts.kernel);
  return write_bytes(path, out);
}

bool write_sample_zip(const std::string &path, const std::string &work_dir, const SamplePartitions &parts) {
  fs::path staging = fs::path(work_dir) / "zip-staging";
  std::error_code ignored;
  fs::remove_all(staging, ignored);
  fs::create_directories(staging / "image", ignored);
  if (!write_bytes(staging / "image" / "kernel_cfe_auto.bin", parts.kernel) ||
      !write_bytes(staging / "image" / "splash_cfe_auto.bin", parts.splash) ||
      !write_bytes(staging / "image" / "boot_cfe_auto.jffs2", parts.boot) ||
      !write_bytes(staging / "image" / "root_cfe_auto.jffs2", parts.root))
    return false;
  fs::remove(path, ignored);
  std::string command = "cd '" + staging.string() + "' && zip -q -r '" + path + "' image";
  bool made = std::system(command.c_str()) == 0;
  fs::remove_all(staging, ignored);
  return made;
}

std::string box_address_beside(const char *pc) {
  in_addr address{};
  if (::inet_pton(AF_INET, pc, &address) != 1)
    return "192.168.102.45";
  uint32_t host = ntohl(address.s_addr);
  host = (host & 0xFFFFFF00u) | ((host & 0xFF) == 45 ? 46 : 45);
  address.s_addr = htonl(host);
  char text[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}
