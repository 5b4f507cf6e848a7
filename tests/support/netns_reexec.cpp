// Linked into the test programs that bind UDP port 69: before main() runs, the program
// re-executes itself through scripts/netns-run, so every case (whoever starts it: CTest,
// a developer, a debugger) binds 69 in a private network namespace and never the host's.
// netns-run marks the new namespace with ZEVAVI_IN_NETNS, which ends the recursion.
//
// Listing the cases (CTest's discovery at build time) binds nothing, so it stays on the host.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool only_lists_cases(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
      return true;
  return false;
}

// glibc passes the program's arguments to functions in .init_array.
void reexec_in_private_network(int argc, char **argv, char **) {
  const char *inside = std::getenv("ZEVAVI_IN_NETNS");
  if ((inside && *inside) || only_lists_cases(argc, argv))
    return;
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    std::fprintf(stderr, "cannot find this test program to run it in a network namespace: %s\n",
                 std::strerror(errno));
    std::_Exit(1);
  }
  self[n] = 0;
  const char *runner = ZEVAVI_NETNS_RUN;
  std::vector<char *> args;
  args.push_back(const_cast<char *>(runner));
  args.push_back(self);
  for (int i = 1; i < argc; ++i)
    args.push_back(argv[i]);
  args.push_back(nullptr);
  std::fflush(nullptr);
  ::execv(runner, args.data());
  // Running on without a namespace would take the host's port 69 (or fail on it), so stop.
  std::fprintf(stderr, "cannot run %s: %s\n", runner, std::strerror(errno));
  std::_Exit(1);
}

}  // namespace

__attribute__((section(".init_array"),
               used)) static void (*const run_in_private_network)(int, char **,
                                                                  char **) = reexec_in_private_network;
