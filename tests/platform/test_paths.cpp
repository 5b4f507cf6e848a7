// The partition folder: private, never reached through a planted link, cleaned by name only.
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const char *const partition_files[] = {"boot_cfe_auto.jffs2", "kernel_cfe_auto.bin", "splash_cfe_auto.bin",
                                       "root_cfe_auto.jffs2"};

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("zevavi-paths-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_);
    ::setenv("XDG_CACHE_HOME", base_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(base_); }
  static void touch(const fs::path &p) { std::ofstream(p) << "x"; }
  fs::path base_;
};

TEST_F(TempDir, PathEndsInKyTmpUnderTheCacheFolder) {
  EXPECT_EQ(temp_dir_path(), (base_ / "zevavi" / "ky_tmp").string());
}

TEST_F(TempDir, CreatedPrivate) {
  std::string error;
  ASSERT_TRUE(make_temp_dir(error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat(temp_dir_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(make_temp_dir(error)) << "second call on an existing folder: " << error;
  EXPECT_TRUE(temp_dir_exists());
}

TEST_F(TempDir, SymlinkInPlaceOfTheFolderIsRefused) {
  fs::path elsewhere = base_ / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directories(base_ / "zevavi");
  fs::create_directory_symlink(elsewhere, temp_dir_path());
  std::string error;
  EXPECT_FALSE(make_temp_dir(error));
  EXPECT_EQ(error,
            "The temporary folder " + temp_dir_path() + " is not safe to use (it is a symbolic link).");
  EXPECT_FALSE(temp_dir_exists());
}

TEST_F(TempDir, SymlinkInPlaceOfTheParentIsRefused) {
  fs::path elsewhere = base_ / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, base_ / "zevavi");
  std::string error;
  EXPECT_FALSE(make_temp_dir(error));
  EXPECT_FALSE(fs::exists(elsewhere / "ky_tmp"));
}

TEST_F(TempDir, FileInPlaceOfTheFolderIsRefused) {
  fs::create_directories(base_ / "zevavi");
  touch(temp_dir_path());
  std::string error;
  EXPECT_FALSE(make_temp_dir(error));
  EXPECT_EQ(error,
            "The temporary folder " + temp_dir_path() + " is not safe to use (it is not a directory).");
}

TEST_F(TempDir, RemovesOnlyThePartitionFilesThenTheFolder) {
  std::string error;
  ASSERT_TRUE(make_temp_dir(error));
  for (const char *name : partition_files)
    touch(fs::path(temp_dir_path()) / name);
  remove_temp_files(partition_files, 4);
  EXPECT_FALSE(fs::exists(temp_dir_path()));

  ASSERT_TRUE(make_temp_dir(error));
  touch(fs::path(temp_dir_path()) / "kernel_cfe_auto.bin");
  touch(fs::path(temp_dir_path()) / "notes.txt");
  remove_temp_files(partition_files, 4);
  EXPECT_FALSE(fs::exists(fs::path(temp_dir_path()) / "kernel_cfe_auto.bin"));
  EXPECT_TRUE(fs::exists(fs::path(temp_dir_path()) / "notes.txt")) << "a stranger's file was deleted";
}

TEST_F(TempDir, RemovalDoesNotFollowALinkedFolder) {
  fs::path elsewhere = base_ / "elsewhere";
  fs::create_directories(elsewhere);
  touch(elsewhere / "kernel_cfe_auto.bin");
  fs::create_directories(base_ / "zevavi");
  fs::create_directory_symlink(elsewhere, temp_dir_path());
  remove_temp_files(partition_files, 4);
  EXPECT_TRUE(fs::exists(elsewhere / "kernel_cfe_auto.bin"));
}

// A folder of another user in place of ours is none of ours to clean, even for root.
TEST_F(TempDir, RemovalLeavesAForeignFolderAlone) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "only root can make a folder of another user here";
  fs::create_directories(temp_dir_path());
  touch(fs::path(temp_dir_path()) / "kernel_cfe_auto.bin");
  ASSERT_EQ(::chown(temp_dir_path().c_str(), 4242, 4242), 0);
  remove_temp_files(partition_files, 4);
  EXPECT_TRUE(fs::exists(fs::path(temp_dir_path()) / "kernel_cfe_auto.bin"));
  std::string error;
  EXPECT_FALSE(make_temp_dir(error));
  EXPECT_EQ(error,
            "The temporary folder " + temp_dir_path() + " is not safe to use (it belongs to another user).");
}

TEST_F(TempDir, RemovalOfAMissingFolderIsQuiet) {
  remove_temp_files(partition_files, 4);
  EXPECT_FALSE(fs::exists(temp_dir_path()));
}

}  // namespace
