// What the station's tests share: the user's folders moved into the test's own, and an image
// small enough for many boxes at once that still ends inside a block, on a block's end and
// after a hundred blocks.
#pragma once

#include "tools/demo/sampleimage.h"

#include <cstdlib>
#include <filesystem>

namespace zv_test {

inline void use_own_user_folders(const std::filesystem::path &dir) {
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
}

inline SamplePartitions station_partitions() {
  SamplePartitions full = make_sample_partitions(7);
  SamplePartitions image;
  image.kernel = full.kernel.substr(0, 30000);
  image.boot = full.boot.substr(0, 512 * 20);
  image.root = full.root.substr(0, 60001);
  return image;
}

}  // namespace zv_test
