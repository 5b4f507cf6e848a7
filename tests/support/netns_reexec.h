// Network tests run inside a private network namespace of their own (scripts/netns-run):
// port 69 is free there, and nothing they send reaches this machine's real network or a
// neighbour's test. CTest starts test programs directly, so a program that includes this
// header starts itself again through netns-run before any test runs, including the
// listing at discovery. When that cannot be done it stops rather than run outside.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace zevavi_test {

inline bool reexec_in_netns() {
  if (std::getenv("ZEVAVI_IN_NETNS"))
    return true;
  std::vector<std::string> args;
  {
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    for (std::string arg; std::getline(cmdline, arg, '\0');)
      args.push_back(arg);
  }
  std::string runner = std::string(ZEVAVI_SOURCE_DIR) + "/scripts/netns-run";
  std::vector<char *> argv = {runner.data()};
  std::string self = "/proc/self/exe";
  char exe[4096] = {};
  if (ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1); n > 0)
    self.assign(exe, size_t(n));
  argv.push_back(self.data());
  for (size_t i = 1; i < args.size(); ++i)
    argv.push_back(args[i].data());
  argv.push_back(nullptr);
  ::execv(runner.c_str(), argv.data());
  std::perror("netns-run");
  std::_Exit(127);
}

// Runs before main.
inline const bool in_netns = reexec_in_netns();

}  // namespace zevavi_test
