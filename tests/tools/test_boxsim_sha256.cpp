// The box's SHA-256 is what the end-to-end tests trust to say a partition is byte-identical
// to the image, so it is checked against the FIPS 180-4 vectors and against sha256sum.
#include "tools/boxsim/sha256.h"

#include "tests/tools/boxsim_harness.h"

#include <gtest/gtest.h>

namespace {

using boxsim::Sha256;
using boxsim::sha256_hex;

struct Vector {
  const char *name;
  std::string message;
  const char *digest;
};

const Vector kVectors[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    // 56 bytes: the length no longer fits the first block, padding spills into a second.
    {"two_blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"million_a", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    // 55 and 64 bytes: the last lengths whose padding fits, and an exact block.
    {"len55", std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
    {"len64", std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
};

class BoxsimSha256Vectors : public ::testing::TestWithParam<Vector> {};

TEST_P(BoxsimSha256Vectors, OneShot) {
  const Vector &v = GetParam();
  EXPECT_EQ(sha256_hex(v.message.data(), v.message.size()), v.digest);
}

INSTANTIATE_TEST_SUITE_P(Fips, BoxsimSha256Vectors, ::testing::ValuesIn(kVectors),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// Transfers arrive in 512-byte blocks and the box could hash them as they come; any split
// of the input must give the same digest as sha256sum gives for the whole file.
TEST(BoxsimSha256, AnySplitMatchesSha256sum) {
  boxsim_test::TempDir dir;
  const std::string data = boxsim_test::random_bytes(100000, 7);
  boxsim_test::write_file(dir.path() / "data.bin", data);
  const std::string expected = boxsim_test::sha256sum(dir.path() / "data.bin");
  ASSERT_EQ(expected.size(), 64u);

  for (std::size_t chunk : {1u, 3u, 55u, 63u, 64u, 65u, 512u, 4097u, 100000u}) {
    SCOPED_TRACE("chunk " + std::to_string(chunk));
    Sha256 hash;
    for (std::size_t at = 0; at < data.size(); at += chunk)
      hash.update(data.data() + at, std::min(chunk, data.size() - at));
    EXPECT_EQ(hash.hex(), expected);
  }
}

}  // namespace
