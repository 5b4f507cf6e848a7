// The partition folder: private, never reached through a planted link, cleaned by name only.
// The log's place: beside the program where a fresh log can start there, found without
// leaving a file behind or touching anything that is not a regular file.
#include "platform/files.h"
#include "platform/paths.h"
#include "tests/support/fifo_watchdog.h"
#include "tests/support/fs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using zv_test::read_file;

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

// Everything in `dir` by name, so a test can say that a probe left nothing behind.
std::set<std::string> names_in(const fs::path &dir) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

enum class Place { nothing, regular_file, link_to_file, dangling_link, folder, fifo, device, missing_folder };

struct PlaceRow {
  const char *name;
  Place place;
  bool startable;
  const char *kind;  // what a refused log names, "" where the log starts
  friend void PrintTo(const PlaceRow &r, std::ostream *os) { *os << r.name; }
};

class LogPlace : public TempDir, public ::testing::WithParamInterface<PlaceRow> {};

TEST_P(LogPlace, AFreshLogStartsOnlyInPlaceOfNothingOrARegularFile) {
  const PlaceRow &row = GetParam();
  fs::path log = base_ / "zevavi.log";
  fs::path target = base_ / "target";
  std::ofstream(target) << "not ours";
  switch (row.place) {
    case Place::nothing:
      break;
    case Place::regular_file:
      std::ofstream(log) << "the last run";
      break;
    case Place::link_to_file:
      fs::create_symlink(target, log);
      break;
    case Place::dangling_link:
      fs::create_symlink(base_ / "nowhere", log);
      break;
    case Place::folder:
      fs::create_directory(log);
      break;
    case Place::fifo:
      ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
      break;
    case Place::device:
      log = "/dev/null";  // stands for any device node; only looked at, as everything here
      break;
    case Place::missing_folder:
      log = base_ / "missing" / "zevavi.log";
      break;
  }
  const std::set<std::string> before = names_in(base_);
  FifoWatchdog watchdog(log, std::chrono::seconds(10));
  EXPECT_EQ(can_start_file_at(log.string()), row.startable);
  EXPECT_FALSE(watchdog.finish()) << "the probe waited on a FIFO";
  EXPECT_EQ(names_in(base_), before) << "the probe left something behind";
  EXPECT_EQ(read_file(target), "not ours");
  if (row.place == Place::regular_file) {
    EXPECT_EQ(read_file(log), "the last run");
  }

  // The log is opened as what it was looked at as: the same places, planted at its name after
  // the look, are refused (a link not followed, a FIFO not waited on).
  auto open_as_planted = [&] {
    FifoWatchdog open_watch(log, std::chrono::seconds(10));
    std::string reason;
    FILE *file = open_for_append(log.string(), reason);
    EXPECT_FALSE(open_watch.finish()) << "the open waited on a FIFO";
    EXPECT_EQ(file != nullptr, row.place == Place::nothing || row.place == Place::regular_file) << reason;
    if (file)
      std::fclose(file);
    EXPECT_EQ(read_file(target), "not ours");
  };

  // Starting the log moves only a regular file aside; whatever else stands there is refused
  // by name and left as it is, and so is whatever a link points at.
  if (row.place == Place::device) {
    std::string error;
    EXPECT_FALSE(start_log_at(log.string(), error));
    EXPECT_EQ(
        error,
        "The log /dev/null is a device, not a regular file; it is left as it is. Name a file for the log.");
    EXPECT_TRUE(fs::is_character_file(log));
    open_as_planted();
    return;
  }
  std::ofstream(log.string() + ".1") << "two runs back";
  const std::set<std::string> before_start = names_in(base_);
  std::string error;
  EXPECT_EQ(start_log_at(log.string(), error), *row.kind == 0);
  if (row.place == Place::regular_file) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(log)));
    EXPECT_EQ(read_file(log.string() + ".1"), "the last run");
    EXPECT_EQ(read_file(log.string() + ".2"), "two runs back");
  } else if (row.place != Place::missing_folder) {
    EXPECT_EQ(names_in(base_), before_start) << "something was moved or made";
    EXPECT_EQ(read_file(log.string() + ".1"), "two runs back");
    EXPECT_EQ(fs::exists(fs::symlink_status(log)), row.place != Place::nothing);
  }
  if (*row.kind) {
    EXPECT_EQ(error, "The log " + log.string() + " is " + row.kind +
                         ", not a regular file; it is left as it is. Name a file for the log.");
  }
  EXPECT_EQ(read_file(target), "not ours");
  open_as_planted();
}

INSTANTIATE_TEST_SUITE_P(
    Places, LogPlace,
    ::testing::Values(PlaceRow{"Nothing", Place::nothing, true, ""},
                      PlaceRow{"RegularFile", Place::regular_file, true, ""},
                      PlaceRow{"LinkToAFile", Place::link_to_file, false, "a symbolic link"},
                      PlaceRow{"DanglingLink", Place::dangling_link, false, "a symbolic link"},
                      PlaceRow{"Folder", Place::folder, false, "a folder"},
                      PlaceRow{"Fifo", Place::fifo, false, "a FIFO (named pipe)"},
                      PlaceRow{"Device", Place::device, false, "a device"},
                      PlaceRow{"MissingFolder", Place::missing_folder, false, ""}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

// Each start keeps the runs before it, the last five, newest first; a run that wrote nothing
// is no run to keep and pushes none out.
TEST_F(TempDir, SixStartsKeepTheLastFiveRunsAndNoEmptyOne) {
  const std::string log = (base_ / "zevavi.log").string();
  auto start = [&](const std::string &writes) {
    std::string error;
    ASSERT_TRUE(start_log_at(log, error)) << error;
    std::ofstream(log, std::ios::app) << writes;  // the log opens for appending
  };
  start("");  // the very first run, refused before it logged anything
  for (int run = 1; run <= 6; ++run)
    start("run " + std::to_string(run));
  start("");
  start("run 7");

  EXPECT_EQ(read_file(log), "run 7");
  for (int n = 1; n <= kept_logs; ++n)
    EXPECT_EQ(read_file(log + "." + std::to_string(n)), "run " + std::to_string(7 - n)) << n;
  EXPECT_FALSE(fs::exists(log + ".6"));
  EXPECT_EQ(names_in(base_).size(), size_t(1 + kept_logs));
}

// Beside this program when its folder takes the log; where the rule points at a folder that
// takes no file (here a working folder that has been deleted, which even root cannot write
// in), the user's own folder instead. Finding out creates no zevavi.log anywhere.
TEST_F(TempDir, DefaultLogBesideTheProgramElseInTheUsersFolder) {
  ::setenv("XDG_STATE_HOME", base_.c_str(), 1);
  const fs::path bin = fs::path(executable_path()).parent_path();
  fs::remove(bin / "zevavi.log");
  EXPECT_EQ(default_log_path(fs::path(executable_path()).stem().string()), (bin / "zevavi.log").string());
  EXPECT_FALSE(fs::exists(bin / "zevavi.log"));

  const fs::path was = fs::current_path();
  fs::create_directory(base_ / "gone");
  fs::current_path(base_ / "gone");
  fs::remove(base_ / "gone");
  const std::string fallback = default_log_path("ZeVavi");  // not this program's name: the working folder
  fs::current_path(was);
  EXPECT_EQ(fallback, (base_ / "zevavi" / "zevavi.log").string());
  EXPECT_FALSE(fs::exists(fallback));
}

}  // namespace
