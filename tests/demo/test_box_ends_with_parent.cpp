// A simulated box must not outlive whoever started it: a demo or a test that is killed (kill -9
// leaves it no chance to clean up) takes its boxsim along, through boxsim's orderly shutdown
// (the pty link is removed). This process becomes the child subreaper, so that the orphaned
// box is re-parented here and its end can be waited for with a bound.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path kBin = ZEVAVI_BIN_DIR;

pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &extra_env) {
  std::vector<std::string> env_text(extra_env);
  for (char **e = environ; *e; ++e)
    env_text.emplace_back(*e);
  std::vector<char *> args, env;
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (auto &e : env_text)
    env.push_back(e.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

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
bool ends_within(pid_t pid, std::chrono::milliseconds bound) {
  int fd = int(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0)
    return false;
  pollfd p{fd, POLLIN, 0};
  int ready = ::poll(&p, 1, int(bound.count()));
  ::close(fd);
  if (ready != 1)
    return false;
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid;
}

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
  pid_t pid = spawn(parent.command(dir_), {"QT_QPA_PLATFORM=offscreen", "XDG_CACHE_HOME=" + dir_.string()});
  ASSERT_GT(pid, 0);
  leftovers_.push_back(pid);

  // The box is up once its pty link exists.
  const fs::path link = parent.link(dir_);
  std::vector<pid_t> boxes;
  for (auto deadline = Clock::now() + std::chrono::seconds(60); Clock::now() < deadline;) {
    boxes = boxsim_children(pid);
    if (!boxes.empty() && fs::is_symlink(link))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(boxes.size(), 1u) << "the parent started no box";
  ASSERT_TRUE(fs::is_symlink(link)) << "the box made no pty link";
  leftovers_.push_back(boxes[0]);

  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
  leftovers_.erase(leftovers_.begin());

  ASSERT_TRUE(ends_within(boxes[0], std::chrono::seconds(20))) << "boxsim outlived its parent";
  leftovers_.clear();
  EXPECT_FALSE(fs::is_symlink(link)) << "boxsim did not end in order (its pty link is left)";
}

INSTANTIATE_TEST_SUITE_P(Boxsim, KilledParent, ::testing::ValuesIn(kParents),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
