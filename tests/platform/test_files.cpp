// Files under hostile surroundings: an input that is no regular file is refused unread, and
// files created in a held folder go where the folder really is, never through a link.
#include "platform/files.h"

#include "tests/support/fifo_watchdog.h"
#include "tests/support/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class Files : public ::testing::Test {
 protected:
  zv_test::TempDir tmp_{"zevavi-files"};
  fs::path base_ = tmp_.path();
};

// What the chosen input is.
enum class Input { regular, link_to_regular, fifo, folder, dev_null, missing, dangling_link };

struct InputRow {
  const char *name;
  Input input;
  bool opened;
  bool not_regular;    // refused for its kind rather than failing to open
  const char *reason;  // expected reason when not opened
  friend void PrintTo(const InputRow &r, std::ostream *os) { *os << r.name; }
};

class RegularInput : public Files, public ::testing::WithParamInterface<InputRow> {};

TEST_P(RegularInput, OnlyARegularFileIsOpenedAndNothingElseIsWaitedOn) {
  const InputRow &row = GetParam();
  fs::path path = base_ / "input";
  switch (row.input) {
    case Input::regular:
      std::ofstream(path) << "content";
      break;
    case Input::link_to_regular:
      std::ofstream(base_ / "real") << "content";
      fs::create_symlink(base_ / "real", path);
      break;
    case Input::fifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      break;
    case Input::folder:
      fs::create_directory(path);
      break;
    case Input::dev_null:
      path = "/dev/null";
      break;
    case Input::missing:
      break;
    case Input::dangling_link:
      fs::create_symlink(base_ / "nowhere", path);
      break;
  }
  std::string reason;
  bool not_regular = true;
  FifoWatchdog watchdog(path, std::chrono::seconds(10));
  FILE *file = open_regular_file(path.string(), reason, not_regular);
  ASSERT_FALSE(watchdog.finish()) << "the open waited on the FIFO until the watchdog wrote to it";
  EXPECT_EQ(file != nullptr, row.opened);
  if (file) {
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 7u);
    EXPECT_STREQ(text, "content");
    std::fclose(file);
    return;
  }
  EXPECT_EQ(not_regular, row.not_regular);
  EXPECT_EQ(reason, row.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RegularInput,
    ::testing::Values(InputRow{"Regular", Input::regular, true, false, ""},
                      InputRow{"LinkToRegular", Input::link_to_regular, true, false, ""},
                      InputRow{"Fifo", Input::fifo, false, true, "it is not a regular file"},
                      InputRow{"Folder", Input::folder, false, true, "it is not a regular file"},
                      InputRow{"DevNull", Input::dev_null, false, true, "it is not a regular file"},
                      InputRow{"Missing", Input::missing, false, false, "No such file or directory"},
                      InputRow{"DanglingLink", Input::dangling_link, false, false,
                               "No such file or directory"}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

// What is already at the name a file is created under.
enum class AtName { nothing, regular, link_to_file, dangling_link, folder, fifo };

struct CreateRow {
  const char *name;
  AtName at_name;
  bool created;
  friend void PrintTo(const CreateRow &r, std::ostream *os) { *os << r.name; }
};

class CreateInFolder : public Files, public ::testing::WithParamInterface<CreateRow> {};

TEST_P(CreateInFolder, ReplacesFilesAndLinksAndRefusesTheRest) {
  const CreateRow &row = GetParam();
  fs::path dir = base_ / "dir", name = dir / "kernel_cfe_auto.bin", victim = base_ / "victim";
  fs::create_directories(dir);
  std::ofstream(victim, std::ios::binary) << "the victim's own bytes";
  switch (row.at_name) {
    case AtName::nothing:
      break;
    case AtName::regular:
      std::ofstream(name) << "left from an earlier run, longer than the new content";
      break;
    case AtName::link_to_file:
      fs::create_symlink(victim, name);
      break;
    case AtName::dangling_link:
      fs::create_symlink(base_ / "created-elsewhere", name);
      break;
    case AtName::folder:
      fs::create_directory(name);
      break;
    case AtName::fifo:
      ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
      break;
  }

  Folder folder;
  std::string reason;
  ASSERT_TRUE(folder.open(dir.string(), true, reason)) << reason;
  FifoWatchdog watchdog(name, std::chrono::seconds(10));
  FILE *file = folder.create("kernel_cfe_auto.bin", reason);
  ASSERT_FALSE(watchdog.finish()) << "the create waited on the FIFO until the watchdog read from it";
  EXPECT_EQ(file != nullptr, row.created) << reason;
  if (file) {
    std::fputs("new", file);
    std::fclose(file);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
    EXPECT_EQ(zv_test::read_file(name), "new");
  } else {
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(fs::is_directory(fs::symlink_status(name)), row.at_name == AtName::folder);
    EXPECT_EQ(fs::is_fifo(fs::symlink_status(name)), row.at_name == AtName::fifo);
  }
  EXPECT_EQ(zv_test::read_file(victim), "the victim's own bytes");
  EXPECT_FALSE(fs::exists(fs::symlink_status(base_ / "created-elsewhere")));
}

INSTANTIATE_TEST_SUITE_P(Kinds, CreateInFolder,
                         ::testing::Values(CreateRow{"Nothing", AtName::nothing, true},
                                           CreateRow{"Regular", AtName::regular, true},
                                           CreateRow{"LinkToFile", AtName::link_to_file, true},
                                           CreateRow{"DanglingLink", AtName::dangling_link, true},
                                           CreateRow{"Folder", AtName::folder, false},
                                           CreateRow{"Fifo", AtName::fifo, false}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// The folder is checked once and held: swapped for a link afterwards, it still takes the
// files itself and the link's target gets nothing.
TEST_F(Files, FolderSwappedForALinkAfterTheCheckStillTakesTheFiles) {
  fs::path dir = base_ / "ky_tmp", moved = base_ / "moved", elsewhere = base_ / "elsewhere";
  fs::create_directories(dir);
  fs::create_directories(elsewhere);
  Folder folder;
  std::string reason;
  ASSERT_TRUE(folder.open(dir.string(), true, reason)) << reason;
  fs::rename(dir, moved);
  fs::create_directory_symlink(elsewhere, dir);

  FILE *file = folder.create("root_cfe_auto.jffs2", reason);
  ASSERT_NE(file, nullptr) << reason;
  std::fputs("root", file);
  std::fclose(file);
  EXPECT_EQ(zv_test::read_file(moved / "root_cfe_auto.jffs2"), "root");
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

struct FolderRow {
  const char *name;
  int kind;  // 0 link to a folder, 1 regular file, 2 folder of another user
  bool private_folder;
  bool opened;
  const char *reason;
  friend void PrintTo(const FolderRow &r, std::ostream *os) { *os << r.name; }
};

class OpenFolder : public Files, public ::testing::WithParamInterface<FolderRow> {};

TEST_P(OpenFolder, APrivateFolderIsARealDirectoryOfOurs) {
  const FolderRow &row = GetParam();
  fs::path path = base_ / "ky_tmp", elsewhere = base_ / "elsewhere";
  fs::create_directories(elsewhere);
  if (row.kind == 0) {
    fs::create_directory_symlink(elsewhere, path);
  } else if (row.kind == 1) {
    std::ofstream(path) << "x";
  } else {
    if (::geteuid() != 0)
      GTEST_SKIP() << "only root can make a folder of another user here";
    fs::create_directory(path);
    ASSERT_EQ(::chown(path.c_str(), 4242, 4242), 0);
  }
  Folder folder;
  std::string reason;
  EXPECT_EQ(folder.open(path.string(), row.private_folder, reason), row.opened);
  EXPECT_EQ(folder.is_open(), row.opened);
  if (!row.opened) {
    EXPECT_EQ(reason, row.reason);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, OpenFolder,
    ::testing::Values(FolderRow{"PrivateLink", 0, true, false, "it is a symbolic link"},
                      FolderRow{"PrivateFile", 1, true, false, "it is not a directory"},
                      FolderRow{"PrivateForeign", 2, true, false, "it belongs to another user"},
                      // A folder the caller named may be reached through a link and be anyone's.
                      FolderRow{"NamedLink", 0, false, true, ""},
                      FolderRow{"NamedFile", 1, false, false, "it is not a directory"},
                      FolderRow{"NamedForeign", 2, false, true, ""}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

}  // namespace
