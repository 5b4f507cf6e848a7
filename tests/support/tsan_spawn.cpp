// Starting a child must not blind ThreadSanitizer to the starting thread's mutexes. This
// thread starts one through the tests' spawn helper, then hands a value to another thread
// under a mutex. The other thread waits on a relaxed flag, which orders nothing for
// ThreadSanitizer, so only the mutex orders the two: if this thread's lock and unlock went
// unseen, the other thread's access is reported every time, not now and then.
//
// A QProcess start in place of the helper fails this (its clone shares our memory until the
// child execs, and ThreadSanitizer's clone hook then spoils this thread's state), which is
// why the tests start their children with the helper.
#include "tests/support/process.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

int main() {
  zv_test::Child child;
  if (!child.start({"true"}) || child.wait_exit(std::chrono::seconds(30)) != 0) {
    std::fprintf(stderr, "could not run true\n");
    return 1;
  }
  std::mutex m;
  int value = 0;
  std::atomic<bool> handed{false};
  std::thread taker([&] {
    while (!handed.load(std::memory_order_relaxed))
      std::this_thread::yield();
    std::lock_guard lock(m);
    value += 1;
  });
  {
    std::lock_guard lock(m);
    value = 1;
  }
  handed.store(true, std::memory_order_relaxed);
  taker.join();
  return value == 2 ? 0 : 1;
}
