// SHA-256 (FIPS 180-4), so the box can say exactly which bytes it wrote to each partition.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace boxsim {

// Incremental hash: feed any number of update() calls, then hex() once.
class Sha256 {
 public:
  Sha256();
  void update(const void *data, std::size_t size);
  void update(std::string_view text) { update(text.data(), text.size()); }
  // Finishes the hash; the object must not be updated afterwards.
  std::array<std::uint8_t, 32> digest();
  // Lower-case hex of digest(), the form sha256sum prints.
  std::string hex();

 private:
  void compress(const std::uint8_t *block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t total_bytes_ = 0;
};

std::string sha256_hex(const void *data, std::size_t size);

}  // namespace boxsim
