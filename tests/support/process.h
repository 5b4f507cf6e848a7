// Child processes for tests: start a program with its standard streams where the test wants
// them, wait for its end with a bound (a hung child fails the test instead of hanging the
// suite), and kill it when the owner goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace zv_test {

// What wait_exit returns for a child killed by a signal: kSignalled + the signal number, so that
// it never reads as an exit code.
constexpr int kSignalled = 1000;
// What wait_exit returns for a child still running when the bound ran out (it is killed then).
constexpr int kStillRunning = -1;
// What wait_pid returns for a process that is not (or no longer) a child of ours.
constexpr int kNoChild = -2;

// Waits up to `bound` for child `pid` to end and reaps it: its exit code, kSignalled + signal,
// kStillRunning (without killing it) when the bound runs out, or kNoChild.
inline int wait_pid(pid_t pid, std::chrono::milliseconds bound) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + bound;
  const int fd = int(::syscall(SYS_pidfd_open, pid, 0));
  int result = kStillRunning;
  for (;;) {
    int status = 0;
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) {
      result = WIFEXITED(status) ? WEXITSTATUS(status) : kSignalled + WTERMSIG(status);
      break;
    }
    if (got < 0 && errno != EINTR) {
      result = kNoChild;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
      break;
    if (fd >= 0) {
      // Readable once the process has ended: no polling interval to pick.
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, int(left.count()));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
  if (fd >= 0)
    ::close(fd);
  return result;
}

struct SpawnOptions {
  std::filesystem::path in;      // standard input from this file (a FIFO the test writes); empty: /dev/null
  std::vector<std::string> env;  // "NAME=value", ahead of (and so winning over) the inherited ones
  std::filesystem::path cwd;     // empty: the test's own
  std::filesystem::path out;     // standard output into this file; empty: /dev/null
  std::filesystem::path err;     // standard error into this file; empty: the test's own
  bool capture_out = false;      // standard output into a pipe instead, read by read_line()
};

class Child {
 public:
  Child() = default;
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  ~Child() { stop(SIGKILL); }

  // Starts argv[0] (searched in PATH when it has no slash) with standard input from /dev/null
  // or options.in.
  bool start(const std::vector<std::string> &argv, const SpawnOptions &options = {}) {
    std::vector<std::string> env_text(options.env);
    for (char **e = environ; *e; ++e)
      env_text.emplace_back(*e);
    std::vector<char *> args, env;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (auto &e : env_text)
      env.push_back(e.data());
    env.push_back(nullptr);

    int pipe_fds[2] = {-1, -1};
    if (options.capture_out && ::pipe2(pipe_fds, O_CLOEXEC) != 0)
      return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, options.in.empty() ? "/dev/null" : options.in.c_str(),
                                     O_RDONLY, 0);
    if (options.capture_out)
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    else
      posix_spawn_file_actions_addopen(&actions, 1, options.out.empty() ? "/dev/null" : options.out.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.err.empty())
      posix_spawn_file_actions_addopen(&actions, 2, options.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.cwd.empty())
      posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    const int rc = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (options.capture_out) {
      ::close(pipe_fds[1]);
      out_fd_ = pipe_fds[0];
    }
    if (rc != 0)
      pid_ = -1;
    return rc == 0;
  }

  // One line of the captured standard output, without its end; what there is at its end.
  std::string read_line() {
    std::string line;
    char c;
    while (out_fd_ >= 0 && ::read(out_fd_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }

  // The exit code (or kSignalled + signal) once the child has ended. A child still running
  // after `bound` is killed and kStillRunning returned.
  int wait_exit(std::chrono::milliseconds bound) {
    if (pid_ <= 0) {
      forget();
      return kNoChild;
    }
    int code = wait_pid(pid_, bound);
    if (code == kStillRunning) {
      ::kill(pid_, SIGKILL);
      wait_pid(pid_, std::chrono::hours(1));
    }
    forget();
    return code;
  }
  // Sends `signo` and waits for the end (see wait_exit).
  int stop(int signo = SIGTERM, std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    signal(signo);
    return wait_exit(bound);
  }
  // Only ever the child's own id: kill(-1, ...) would reach every process we may signal.
  void signal(int signo) {
    if (pid_ > 0)
      ::kill(pid_, signo);
  }
  pid_t pid() const { return pid_; }

 private:
  void forget() {
    pid_ = -1;
    if (out_fd_ >= 0)
      ::close(out_fd_);
    out_fd_ = -1;
  }
  pid_t pid_ = -1;
  int out_fd_ = -1;
};

}  // namespace zv_test
