// Ours against peer programs on the same bytes in one run: every contender runs once per
// round, the order turning each round, so a busy moment of a shared machine falls on all of
// them alike; the report gives medians and each peer's ratio (our speed over theirs, above
// 1.0: we are faster).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

extern char **environ;

namespace bench {

// Starts a program found on PATH (or given by path), its output thrown away. With `pid_out`
// it is left running and its pid given (0 returned); otherwise it is waited for and its exit
// status returned. -1 when it could not be started or did not exit normally.
inline int spawn_program(const std::vector<std::string> &argv, pid_t *pid_out = nullptr) {
  std::vector<char *> args;
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return -1;
  if (pid_out) {
    *pid_out = pid;
    return 0;
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a program to its end; true when it exited with 0.
inline bool run_program(const std::vector<std::string> &argv) { return spawn_program(argv) == 0; }

struct Contender {
  std::string name;
  std::function<bool()> prepare;  // untimed, before each run (e.g. empty the output)
  std::function<bool()> run;      // the timed job
  std::vector<double> seconds = {};
};

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs `rounds` rounds; false (with a message) as soon as a contender fails.
inline bool race(std::vector<Contender> &contenders, int rounds) {
  for (int r = 0; r < rounds; ++r) {
    for (size_t k = 0; k < contenders.size(); ++k) {
      Contender &c = contenders[(k + size_t(r)) % contenders.size()];
      if (c.prepare && !c.prepare()) {
        std::fprintf(stderr, "%s: preparing failed\n", c.name.c_str());
        return false;
      }
      auto t0 = std::chrono::steady_clock::now();
      bool ok = c.run();
      c.seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      if (!ok) {
        std::fprintf(stderr, "%s failed\n", c.name.c_str());
        return false;
      }
    }
  }
  return true;
}

// The first contender is ours; every other one is a peer.
inline void report(const char *title, const std::vector<Contender> &contenders, double mib) {
  std::printf("%s (%.0f MiB, median of %zu)\n", title, mib, contenders.front().seconds.size());
  for (const auto &c : contenders) {
    double m = median(c.seconds);
    std::printf("  %-28s %8.1f ms %8.1f MiB/s\n", c.name.c_str(), m * 1000, mib / m);
  }
  double ours = median(contenders.front().seconds);
  for (size_t i = 1; i < contenders.size(); ++i)
    std::printf("  ratio %s / %s = %.2f\n", contenders.front().name.c_str(), contenders[i].name.c_str(),
                median(contenders[i].seconds) / ours);
}

}  // namespace bench
