// The container unpacker against containers built byte by byte here.
#include "src/imageprep.h"

#include "platform/paths.h"
#include "tests/lib/logcapture.h"
#include "tests/support/fs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Bytes = std::string;

namespace {

Bytes be32(uint32_t n) { return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; }

Bytes record(const Bytes &data) { return Bytes("\xA0\x50\x30\xA0", 4) + be32(uint32_t(data.size())) + data; }

Bytes header(const Bytes &flags) { return Bytes("KXB\0", 4) + Bytes("\x12\x34\x56\x78", 4) + flags; }

// Distinct, position-dependent bytes, so a swapped, shifted or short copy shows.
Bytes pattern(size_t n, int seed) {
  Bytes b(n, 0);
  for (size_t i = 0; i < n; ++i)
    b[i] = char((i * 31 + size_t(seed) * 7 + i / 251) & 0xff);
  return b;
}

std::optional<Bytes> read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class ImagePrep : public ::testing::Test {
 protected:
  void SetUp() override {
    cache_ = tmp_.str();
    ::setenv("XDG_CACHE_HOME", cache_.c_str(), 1);
    std::string error;
    ASSERT_TRUE(make_temp_dir(error)) << error;
    files_ = image_files();
  }

  std::string write_image(const Bytes &bytes) {
    std::string path = cache_ + "/image.nfi";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  zv_test::TempDir tmp_{"zv_img"};
  std::string cache_;
  std::array<std::string, IMAGE_FILE_COUNT> files_;
  LogCapture log_;
};

TEST_F(ImagePrep, PathsKeepTheNamesTheBootLoaderAsksFor) {
  EXPECT_EQ(files_[0], cache_ + "/zevavi/ky_tmp/kernel_cfe_auto.bin");
  EXPECT_EQ(files_[1], cache_ + "/zevavi/ky_tmp/splash_cfe_auto.bin");
  EXPECT_EQ(files_[2], cache_ + "/zevavi/ky_tmp/boot_cfe_auto.jffs2");
  EXPECT_EQ(files_[3], cache_ + "/zevavi/ky_tmp/root_cfe_auto.jffs2");
}

struct UnpackCase {
  const char *name;
  Bytes flags;                               // the four flag bytes
  std::vector<size_t> sizes;                 // record sizes, in container order
  std::array<int, IMAGE_FILE_COUNT> expect;  // per image file: record index, or -1 for none
  Bytes trailer = {};                        // bytes after the last record
};

class Unpack : public ImagePrep, public ::testing::WithParamInterface<UnpackCase> {};

TEST_P(Unpack, WritesThePartitionsTheFlagsName) {
  const UnpackCase &c = GetParam();
  Bytes image = header(c.flags);
  std::vector<Bytes> data;
  for (size_t i = 0; i < c.sizes.size(); ++i) {
    data.push_back(pattern(c.sizes[i], int(i) + 1));
    image += record(data.back());
  }
  image += c.trailer;

  ASSERT_EQ(unpack_nfi(write_image(image).c_str()), 1);
  for (int f = 0; f < IMAGE_FILE_COUNT; ++f) {
    SCOPED_TRACE(files_[f]);
    auto got = read_file(files_[f]);
    if (c.expect[f] < 0) {
      EXPECT_FALSE(got.has_value());
      continue;
    }
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(*got == data[size_t(c.expect[f])]) << "size " << got->size();
    EXPECT_TRUE(log_.has("INFO", "unpack_nfi", "Unpacked [" + files_[f] + "]"));
  }
  EXPECT_TRUE(log_.has("INFO", "unpack_nfi", "Finished unpack!!"));
  EXPECT_EQ(log_.count("ERROR", "write_file", "Fail to write file : [" + files_[0] + "]"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, Unpack,
    ::testing::Values(
        // Root, boot and kernel lie in that order in the container.
        UnpackCase{"AllThree", Bytes("\0\0\0\x0E", 4), {700, 1500, 300}, {2, -1, 1, 0}},
        UnpackCase{"KernelOnly", Bytes("\0\0\0\x02", 4), {1000}, {0, -1, -1, -1}},
        UnpackCase{"RootOnly", Bytes("\0\0\0\x08", 4), {2048}, {-1, -1, -1, 0}},
        UnpackCase{"BootAndKernel", Bytes("\0\0\0\x06", 4), {5, 6}, {1, -1, 0, -1}},
        // Only the last flag byte counts, and only its three bits.
        UnpackCase{"OtherBitsIgnored", Bytes("\xFF\xFF\xFF\xF3", 4), {4000}, {0, -1, -1, -1}},
        UnpackCase{"ZeroLengthPartition", Bytes("\0\0\0\x0A", 4), {0, 1}, {1, -1, -1, 0}},
        // Sizes that are no multiple of a block or a page.
        UnpackCase{"CopiedInPassesWithRemainder", Bytes("\0\0\0\x02", 4), {1500}, {0, -1, -1, -1}},
        // The boot record's data starts on a page boundary (20 + 8164 + 8), as its file
        // does: that one is copied inside the kernel, the others through the plain loop.
        UnpackCase{"RecordOnAPageBoundary", Bytes("\0\0\0\x0E", 4), {8164, 300001, 5}, {2, -1, 1, 0}},
        UnpackCase{"ExactMultipleOfPass", Bytes("\0\0\0\x04", 4), {3072}, {-1, -1, 0, -1}},
        UnpackCase{"TrailingBytesNotRead", Bytes("\0\0\0\x02", 4), {10}, {0, -1, -1, -1}, Bytes("garbage")}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

TEST_F(ImagePrep, UnpackReplacesTheFilesOfAnEarlierRun) {
  ASSERT_EQ(unpack_nfi(write_image(header(Bytes("\0\0\0\x02", 4)) + record(pattern(5000, 1))).c_str()), 1);
  ASSERT_EQ(unpack_nfi(write_image(header(Bytes("\0\0\0\x02", 4)) + record("abc")).c_str()), 1);
  EXPECT_EQ(read_file(files_[0]), Bytes("abc"));
}

struct BadCase {
  const char *name;
  Bytes image;
  std::string unpack_error;  // expected ERROR from unpack_nfi; "%s" stands for the image path
  std::string write_error;   // expected ERROR from write_file, "%t" stands for the target path
  int target;                // the file the failing record was for, -1 for none
};

class BadImage : public ImagePrep, public ::testing::WithParamInterface<BadCase> {};

std::string fill(std::string text, const char *key, const std::string &value) {
  size_t at = text.find(key);
  if (at != std::string::npos)
    text.replace(at, 2, value);
  return text;
}

TEST_P(BadImage, FailsWithItsErrorAndLeavesNoDamagedPartition) {
  const BadCase &c = GetParam();
  std::string path = write_image(c.image);
  EXPECT_EQ(unpack_nfi(path.c_str()), 0);
  std::string target = c.target >= 0 ? files_[c.target] : "";
  EXPECT_TRUE(log_.has("ERROR", "unpack_nfi", fill(fill(c.unpack_error, "%s", path), "%t", target)))
      << log_.text();
  if (!c.write_error.empty()) {
    EXPECT_TRUE(log_.has("ERROR", "write_file", fill(c.write_error, "%t", target))) << log_.text();
  }
  if (c.target >= 0) {
    EXPECT_FALSE(fs::exists(target)) << "a partial partition file was left behind";
  }
  EXPECT_FALSE(log_.has("INFO", "unpack_nfi", "Finished unpack!!"));
}

INSTANTIATE_TEST_SUITE_P(
    Images, BadImage,
    ::testing::Values(
        BadCase{"WrongMagic", Bytes("KXA\0\0\0\0\0\0\0\0\x02", 12) + record("x"), "Fail to open file : [%s]",
                "", -1},
        BadCase{"FourthByteNotZero", Bytes("KXB\x01\0\0\0\0\0\0\0\x02", 12) + record("x"),
                "Fail to open file : [%s]", "", -1},
        BadCase{"ShorterThanHeader", Bytes("KXB\0\0\0", 6), "Fail to open file : [%s]", "", -1},
        BadCase{"Empty", Bytes(), "Fail to open file : [%s]", "", -1},
        // A container that names no partition would let an upgrade erase the box for nothing.
        BadCase{"NoFlags", header(Bytes("\0\0\0\0", 4)), "The image holds no partition : [%s]", "", -1},
        BadCase{"FlagsInFirstByteOnly", header(Bytes("\x0E\0\0\0", 4)), "The image holds no partition : [%s]",
                "", -1},
        // The record magic is logged as the little-endian word of the four bytes read.
        BadCase{"BadRecordMagic", header(Bytes("\0\0\0\x02", 4)) + Bytes("\xA0\x50\x30\xA1\0\0\0\x01x", 9),
                "Fail to unpack file : [%t]", "Size of file is not 0xA03050A0 : [a13050a0]", 0},
        BadCase{"FlagWithoutRecord", header(Bytes("\0\0\0\x02", 4)), "Fail to unpack file : [%t]",
                "Size of file is not 0xA03050A0 : [0]", 0},
        BadCase{"TruncatedData",
                header(Bytes("\0\0\0\x08", 4)) + record(pattern(3000, 1)).substr(0, 8 + 2000),
                "Fail to unpack file : [%t]", "Image file ends before the end of the partition : [%t]", 3},
        BadCase{"TruncatedLength", header(Bytes("\0\0\0\x04", 4)) + Bytes("\xA0\x50\x30\xA0\0\0", 6),
                "Fail to unpack file : [%t]", "Image file ends before the end of the partition : [%t]", 2}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

TEST_F(ImagePrep, MissingImageFails) {
  std::string path = cache_ + "/none.nfi";
  EXPECT_EQ(unpack_nfi(path.c_str()), 0);
  EXPECT_TRUE(log_.has("ERROR", "unpack_nfi", "Fail to open file : [" + path + "]"));
}

TEST_F(ImagePrep, FilesBeforeATruncatedRecordStay) {
  Bytes root = pattern(2000, 1);
  Bytes boot = record(pattern(5000, 2));
  std::string path = write_image(header(Bytes("\0\0\0\x0E", 4)) + record(root) + boot.substr(0, 3000));
  EXPECT_EQ(unpack_nfi(path.c_str()), 0);
  EXPECT_EQ(read_file(files_[3]), root);
  EXPECT_FALSE(fs::exists(files_[2]));
  EXPECT_FALSE(fs::exists(files_[0]));
  EXPECT_TRUE(log_.has("ERROR", "unpack_nfi", "Fail to unpack file : [" + files_[2] + "]"));
}

TEST_F(ImagePrep, WriteFileLeavesTheImageAtTheNextRecord) {
  Bytes a = pattern(1500, 1), b = pattern(1024, 2);
  std::string path = write_image(record(a) + record(b) + "tail");
  FILE *image = std::fopen(path.c_str(), "rb");
  ASSERT_NE(image, nullptr);
  std::string ta = cache_ + "/a", tb = cache_ + "/b";
  EXPECT_EQ(write_file(image, ta.c_str()), 1);
  EXPECT_EQ(write_file(image, tb.c_str()), 1);
  char rest[8] = {};
  EXPECT_EQ(std::fread(rest, 1, sizeof rest, image), 4u);
  EXPECT_STREQ(rest, "tail");
  std::fclose(image);
  EXPECT_EQ(read_file(ta), a);
  EXPECT_EQ(read_file(tb), b);
}

TEST_F(ImagePrep, WriteFileRejectsNullArguments) {
  std::string path = write_image(record("x"));
  FILE *image = std::fopen(path.c_str(), "rb");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(write_file(nullptr, "/tmp/x"), 0);
  EXPECT_EQ(write_file(image, nullptr), 0);
  std::fclose(image);
  EXPECT_TRUE(log_.has("ERROR", "write_file", "Image file pointer is NULL"));
  EXPECT_TRUE(log_.has("ERROR", "write_file", "Target file name is NULL"));
}

TEST_F(ImagePrep, TargetThatCannotBeCreatedFails) {
  std::string path = write_image(record("x"));
  std::string target = cache_ + "/no/such/dir/file";
  FILE *image = std::fopen(path.c_str(), "rb");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(write_file(image, target.c_str()), 0);
  std::fclose(image);
  EXPECT_TRUE(log_.has("ERROR", "write_file", "Fail to open file : [" + target + "]"));
}

// Something other than a file at the target's name (here the device /dev/full, which
// would swallow or refuse every byte): refused before a byte is written, and never deleted
// to make room, though this process may have the right to.
TEST_F(ImagePrep, NonRegularTargetIsRefusedAndSpared) {
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "/dev/full is missing on this system";
  std::string path = write_image(record(pattern(300000, 3)));
  FILE *image = std::fopen(path.c_str(), "rb");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(write_file(image, "/dev/full"), 0);
  std::fclose(image);
  EXPECT_TRUE(log_.has("ERROR", "write_file", "Fail to open file : [/dev/full]")) << log_.text();
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// A write that fails part-way into a regular file (here the file size limit stands in for
// a full disk): the partial file is removed.
TEST_F(ImagePrep, WriteErrorRemovesThePartialFile) {
  Bytes data = pattern(2 * 1024 * 1024, 4);
  std::string path = write_image(header(Bytes("\0\0\0\x02", 4)) + record(data));
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1024 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  int rc = unpack_nfi(path.c_str());
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(log_.has("ERROR", "write_file", "Fail to write file : [" + files_[0] + "]")) << log_.text();
  EXPECT_FALSE(fs::exists(files_[0]));
}

// A link planted at a partition's name: the partition replaces the link, and whatever the
// link points to keeps every byte (or, for a link to nowhere, is never created).
struct PlantedLinkCase {
  const char *name;
  int file;       // the image file whose name carries the link
  bool dangling;  // the link points to nothing
  friend void PrintTo(const PlantedLinkCase &c, std::ostream *os) { *os << c.name; }
};

class PlantedLink : public ImagePrep, public ::testing::WithParamInterface<PlantedLinkCase> {};

TEST_P(PlantedLink, IsReplacedAndItsTargetUntouched) {
  const PlantedLinkCase &c = GetParam();
  const std::string victim = cache_ + (c.dangling ? "/created-elsewhere" : "/victim.bin");
  const Bytes precious = pattern(3000, 9);
  if (!c.dangling)
    std::ofstream(victim, std::ios::binary) << precious;
  fs::create_symlink(victim, files_[c.file]);

  const Bytes root = pattern(700, 1), boot = pattern(1500, 2), kernel = pattern(300, 3);
  ASSERT_EQ(
      unpack_nfi(
          write_image(header(Bytes("\0\0\0\x0E", 4)) + record(root) + record(boot) + record(kernel)).c_str()),
      1)
      << log_.text();
  if (c.dangling)
    EXPECT_FALSE(fs::exists(victim));
  else
    EXPECT_TRUE(read_file(victim) == precious) << "the link's target was written";
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(files_[c.file])));
  EXPECT_EQ(read_file(files_[0]), kernel);
  EXPECT_EQ(read_file(files_[2]), boot);
  EXPECT_EQ(read_file(files_[3]), root);
}

INSTANTIATE_TEST_SUITE_P(Names, PlantedLink,
                         ::testing::Values(PlantedLinkCase{"Kernel", 0, false},
                                           PlantedLinkCase{"Boot", 2, false},
                                           PlantedLinkCase{"Root", 3, false},
                                           PlantedLinkCase{"KernelToNowhere", 0, true}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// Something other than our own folder where the partition folder should be: the unpack
// writes nothing, neither there nor where a link points.
struct FolderCase {
  const char *name;
  bool link;  // a link to another folder; otherwise a regular file
  const char *reason;
  friend void PrintTo(const FolderCase &c, std::ostream *os) { *os << c.name; }
};

class UnsafeFolder : public ImagePrep, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(UnsafeFolder, UnpackWritesNothing) {
  const std::string dir = temp_dir_path(), elsewhere = cache_ + "/elsewhere";
  fs::remove_all(dir);
  fs::create_directories(elsewhere);
  if (GetParam().link)
    fs::create_directory_symlink(elsewhere, dir);
  else
    std::ofstream(dir) << "x";
  std::string path = write_image(header(Bytes("\0\0\0\x02", 4)) + record("kernel"));
  EXPECT_EQ(unpack_nfi(path.c_str()), 0);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(
      log_.has("ERROR", "unpack_nfi", "Fail to open directory : [" + dir + "] (" + GetParam().reason + ")"))
      << log_.text();
}

INSTANTIATE_TEST_SUITE_P(Folders, UnsafeFolder,
                         ::testing::Values(FolderCase{"Link", true, "it is a symbolic link"},
                                           FolderCase{"File", false, "it is not a directory"}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// The kind of an image comes from its bytes. Archives come from Info-ZIP's zip; a
// self-extractor is a stub put in front of one, with and without `zip -A` adjusting the
// archive's offsets to the stub.
enum class Built { bytes, zip, sfx_stub_in_front, sfx_adjusted };

struct KindCase {
  const char *name;
  Built built;
  Bytes bytes;  // the file itself for Built::bytes
  ImageKind kind;
  friend void PrintTo(const KindCase &c, std::ostream *os) { *os << c.name; }
};

class Kind : public ImagePrep, public ::testing::WithParamInterface<KindCase> {};

TEST_P(Kind, ToldByTheFilesOwnBytes) {
  const KindCase &c = GetParam();
  std::string path = cache_ + "/image";
  if (c.built == Built::bytes) {
    std::ofstream(path, std::ios::binary) << c.bytes;
  } else {
    std::ofstream(cache_ + "/kernel_cfe_auto.bin", std::ios::binary) << pattern(40000, 5);
    std::string zip = cache_ + "/plain.zip";
    ASSERT_EQ(std::system(("cd '" + cache_ + "' && zip -q plain.zip kernel_cfe_auto.bin").c_str()), 0)
        << "Info-ZIP zip is needed";
    if (c.built == Built::zip) {
      fs::rename(zip, path);
    } else {
      std::ofstream(path, std::ios::binary) << "#!/bin/sh\necho an extractor stub\nexit 0\n"
                                            << pattern(5000, 6) << *read_file(zip);
      if (c.built == Built::sfx_adjusted) {
        ASSERT_EQ(std::system(("zip -q -A '" + path + "'").c_str()), 0);
      }
    }
  }
  FILE *image = std::fopen(path.c_str(), "rb");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image_kind(image), c.kind);
  std::fclose(image);
}

Bytes le32(uint32_t n) { return {char(n), char(n >> 8), char(n >> 16), char(n >> 24)}; }

// An end record that names a central directory which is not there.
Bytes stray_end_record(const Bytes &before) {
  return before + "PK\x05\x06" + Bytes(8, '\0') + le32(100) + le32(10) + Bytes(2, '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Images, Kind,
    ::testing::Values(
        KindCase{"Zip", Built::zip, {}, ImageKind::zip_archive},
        KindCase{"EmptyArchive", Built::bytes, Bytes("PK\x05\x06", 4) + Bytes(18, '\0'),
                 ImageKind::zip_archive},
        KindCase{"SelfExtractorStubInFront", Built::sfx_stub_in_front, {}, ImageKind::zip_archive},
        KindCase{"SelfExtractorAdjusted", Built::sfx_adjusted, {}, ImageKind::zip_archive},
        KindCase{"Container", Built::bytes, header(Bytes("\0\0\0\x02", 4)) + record("k"),
                 ImageKind::container},
        KindCase{"Empty", Built::bytes, Bytes(), ImageKind::unknown},
        KindCase{"ShortPk", Built::bytes, Bytes("PK"), ImageKind::unknown},
        KindCase{"UnknownBytes", Built::bytes, pattern(70000, 7), ImageKind::unknown},
        KindCase{"ExecutableAlone", Built::bytes, "MZ" + pattern(9000, 8), ImageKind::unknown},
        KindCase{"StrayEndRecord", Built::bytes, stray_end_record(pattern(300, 4)), ImageKind::unknown}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

}  // namespace
