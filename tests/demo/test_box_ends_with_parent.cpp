// A simulated box must not outlive whoever started it: a demo or a test that is killed (kill -9
// leaves it no chance to clean up) takes its boxsim along, through boxsim's orderly shutdown
// (the pty link is removed). This process becomes the child subreaper, so that the orphaned
// box is re-parented here and its end can be waited for with a bound.
#include "tests/support/process.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kBin = ZEVAVI_BIN_DIR;

// The children of pid whose command name is boxsim.
std::vector<pid_t> boxsim_children(pid_t parent) {
  std::vector<pid_t> found;
  DIR *proc = ::opendir("/proc");
  if (!proc)
    return found;
  while (dirent *entry = ::readdir(proc)) {
    char *end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end)
      continue;
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // pid (comm) state ppid ...; comm may hold blanks and parentheses, so split at the last ')'.
    auto close = text.rfind(')');
    auto open = text.find('(');
    if (open == std::string::npos || close == std::string::npos)
      continue;
    std::string comm = text.substr(open + 1, close - open - 1);
    char state = 0;
    long ppid = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == parent &&
        comm == "boxsim")
      found.push_back(pid_t(pid));
  }
  ::closedir(proc);
  return found;
}

// Waits up to `bound` for the process to end; reaps it (it is our child by then).
bool ends_within(pid_t pid, std::chrono::milliseconds bound) { return zv_test::wait_pid(pid, bound) >= 0; }

struct Parent {
  const char *name;
  // The command that starts a box, given the folder for its files; the box's pty link is
  // <folder>/zevavi/demo/box-tty for the demo, <folder>/box-tty otherwise.
  std::vector<std::string> (*command)(const fs::path &dir);
  fs::path (*link)(const fs::path &dir);
};

const Parent kParents[] = {
    {"Demo", [](const fs::path &) { return std::vector<std::string>{(kBin / "zevavi-demo").string()}; },
     [](const fs::path &dir) { return dir / "zevavi" / "demo" / "box-tty"; }},
    // A shell stands for any program (the end-to-end tests' helper) that starts boxsim itself.
    {"PlainParent",
     [](const fs::path &dir) {
       return std::vector<std::string>{"/bin/sh",
                                       "-c",
                                       "\"$0\" --pty-link \"$1\" --report \"$2\" & wait",
                                       (kBin / "boxsim").string(),
                                       (dir / "box-tty").string(),
                                       (dir / "box.json").string()};
     },
     [](const fs::path &dir) { return dir / "box-tty"; }},
};

void PrintTo(const Parent &parent, std::ostream *out) { *out << parent.name; }

class KilledParent : public ::testing::TestWithParam<Parent> {
 protected:
  void SetUp() override {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    dir_ = fs::temp_directory_path() /
           ("zevavi-parent-" + std::string(GetParam().name) + "-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (pid_t pid : leftovers_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    fs::remove_all(dir_);
  }
  fs::path dir_;
  std::vector<pid_t> leftovers_;
};

TEST_P(KilledParent, TakesItsBoxAlong) {
  const Parent &parent = GetParam();
  zv_test::Child parent_process;
  zv_test::SpawnOptions options;
  options.env = {"QT_QPA_PLATFORM=offscreen", "XDG_CACHE_HOME=" + dir_.string()};
  ASSERT_TRUE(parent_process.start(parent.command(dir_), options));
  const pid_t pid = parent_process.pid();

  // The box is up once its pty link exists.
  const fs::path link = parent.link(dir_);
  std::vector<pid_t> boxes;
  zv_test::wait_until(
      [&] {
        boxes = boxsim_children(pid);
        return !boxes.empty() && fs::is_symlink(link);
      },
      std::chrono::seconds(60), std::chrono::milliseconds(20));
  ASSERT_EQ(boxes.size(), 1u) << "the parent started no box";
  ASSERT_TRUE(fs::is_symlink(link)) << "the box made no pty link";
  leftovers_.push_back(boxes[0]);

  ASSERT_EQ(parent_process.stop(SIGKILL), zv_test::kSignalled + SIGKILL);

  ASSERT_TRUE(ends_within(boxes[0], std::chrono::seconds(20))) << "boxsim outlived its parent";
  leftovers_.clear();
  EXPECT_FALSE(fs::is_symlink(link)) << "boxsim did not end in order (its pty link is left)";
}

INSTANTIATE_TEST_SUITE_P(Boxsim, KilledParent, ::testing::ValuesIn(kParents),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

}  // namespace
