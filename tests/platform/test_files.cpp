// Files under hostile surroundings: an input that is no regular file is refused unread, and
// files created in a held folder go where the folder really is, never through a link.
#include "platform/files.h"
#include "platform/filestestseam.h"

#include "tests/support/fifo_watchdog.h"
#include "tests/support/fs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
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

// Part of one file into another: whichever way the bytes go (inside the kernel, or through
// the plain loop where the kernel is refused or the source cannot seek), the target holds what
// was written to it before and then exactly the range, and the source stands right after it.
enum class Source { lined_up, shifted, kernel_refused, pipe };

struct CopyRow {
  const char *name;
  Source source;
  size_t count;       // bytes asked for
  size_t available;   // bytes the source holds from the copy's start
  rlim_t size_limit;  // largest file the target may grow to; 0: no limit
  CopyEnd end;
  friend void PrintTo(const CopyRow &r, std::ostream *os) { *os << r.name; }
};

class CopyPart : public Files, public ::testing::WithParamInterface<CopyRow> {
 protected:
  void TearDown() override { files_seam_refuse_kernel_copy(false); }
};

TEST_P(CopyPart, TargetGetsExactlyTheRangeAfterItsOwnBytes) {
  const CopyRow &row = GetParam();
  const size_t page = size_t(::sysconf(_SC_PAGESIZE));
  const std::string lead = "written through the stream before the copy";
  // The kernel copies only where both sides sit at the same place within a page.
  const size_t start = row.source == Source::shifted ? 20 : page + lead.size();
  std::string bytes(start + row.available, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = char((i * 131 + i / 4093) & 0xff);
  const std::string tail = bytes.substr(std::min(start + row.count, bytes.size()), 16);

  FILE *from = nullptr;
  if (row.source == Source::pipe) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_LT(bytes.size(), size_t(::fcntl(fds[1], F_GETPIPE_SZ)));
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fds[1]);
    from = ::fdopen(fds[0], "rb");
  } else {
    zv_test::write_file(base_ / "source", bytes);
    from = std::fopen((base_ / "source").c_str(), "rb");
  }
  ASSERT_NE(from, nullptr);
  // Read up to the start through the stream, so it holds bytes beyond it in its buffer.
  std::string skipped(start, '\0');
  ASSERT_EQ(std::fread(skipped.data(), 1, start, from), start);
  FILE *to = std::fopen((base_ / "target").c_str(), "wb");
  ASSERT_NE(to, nullptr);
  std::fputs(lead.c_str(), to);

  files_seam_refuse_kernel_copy(row.source == Source::kernel_refused);
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  if (row.size_limit) {
    struct rlimit limit = old;
    limit.rlim_cur = row.size_limit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  CopyEnd end = copy_file_part(from, to, row.count);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(end, row.end);

  if (end == CopyEnd::done) {
    std::fputs("after", to);  // the stream writes on at the end
    std::string next(tail.size(), '\0');
    EXPECT_EQ(std::fread(next.data(), 1, next.size(), from), tail.size());
    EXPECT_EQ(next, tail);
  }
  std::fclose(from);
  std::fclose(to);
  if (end == CopyEnd::done) {
    std::string got = zv_test::read_file(base_ / "target");
    EXPECT_EQ(got.size(), lead.size() + row.count + 5);
    EXPECT_TRUE(got == lead + bytes.substr(start, row.count) + "after");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CopyPart,
    ::testing::Values(
        CopyRow{"LinedUp", Source::lined_up, 300001, 300017, 0, CopyEnd::done},
        CopyRow{"Shifted", Source::shifted, 300001, 300001, 0, CopyEnd::done},
        CopyRow{"KernelRefused", Source::kernel_refused, 300001, 300017, 0, CopyEnd::done},
        CopyRow{"Pipe", Source::pipe, 40001, 40017, 0, CopyEnd::done},
        CopyRow{"NothingAsked", Source::lined_up, 0, 10, 0, CopyEnd::done},
        CopyRow{"LinedUpSourceShort", Source::lined_up, 300001, 300000, 0, CopyEnd::source_ended},
        CopyRow{"ShiftedSourceShort", Source::shifted, 300001, 1000, 0, CopyEnd::source_ended},
        CopyRow{"PipeSourceShort", Source::pipe, 40001, 40000, 0, CopyEnd::source_ended},
        CopyRow{"LinedUpTargetFull", Source::lined_up, 300001, 300001, 65536, CopyEnd::write_failed},
        CopyRow{"ShiftedTargetFull", Source::shifted, 300001, 300001, 65536, CopyEnd::write_failed},
        CopyRow{"PipeTargetFull", Source::pipe, 40001, 40001, 4096, CopyEnd::write_failed}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

// Room for a job's files: the soft limit is raised where the hard one allows, and where it
// does not, the answer says the limit and how many more fit. Each row runs in a child, whose
// limits it lowers for good.
TEST(FileLimit, TheSoftLimitIsRaisedWithinTheHardOneElseTheRoomIsTold) {
  struct Row {
    const char *name;
    rlim_t soft, hard;
    unsigned long more;
    bool ok;
  };
  const Row rows[] = {
      {"room already", 1024, 1024, 100, true},
      {"raised up to the hard limit", 64, 4096, 1000, true},
      {"not even the hard limit", 64, 256, 1000, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    auto child = [&row] {
      const rlimit set{row.soft, row.hard};
      if (::setrlimit(RLIMIT_NOFILE, &set) != 0)
        std::_Exit(2);
      unsigned long limit = 0, room = 0;
      const bool ok = make_room_for_files(row.more, limit, room);
      // The room promised is there: that many more files open.
      size_t opened = 0;
      while (ok && opened < row.more && ::open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0)
        ++opened;
      const bool right =
          ok == row.ok && (ok ? opened == row.more : limit == row.hard && room > 0 && room < row.more);
      std::fprintf(stderr, "ok %d limit %lu room %lu opened %zu\n", int(ok), limit, room, opened);
      std::_Exit(right ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace
