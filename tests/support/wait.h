// Waiting in tests is for a condition, never for a time: wait_until polls `done` until it holds
// or `bound` runs out, and says which. The bound only stops a broken run from hanging.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace zv_test {

template <class Done>
bool wait_until(Done done, std::chrono::milliseconds bound,
                std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return done();
    std::this_thread::sleep_for(step);
  }
  return true;
}

// For a call that cannot be given a time-out of its own (a join that a deadlock would keep
// for ever): unless the guard is gone within `bound`, the test program ends with `what` as
// its failure message, instead of hanging until the test runner's time-out.
class HangGuard {
 public:
  HangGuard(std::chrono::milliseconds bound, std::string what) : what_(std::move(what)) {
    thread_ = std::thread([this, bound] {
      std::unique_lock lock(mutex_);
      if (!wake_.wait_for(lock, bound, [this] { return done_; })) {
        std::fprintf(stderr, "FAILED: %s (still waiting after %lld ms)\n", what_.c_str(),
                     static_cast<long long>(bound.count()));
        std::fflush(stderr);
        std::_Exit(1);
      }
    });
  }
  ~HangGuard() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  HangGuard(const HangGuard &) = delete;
  HangGuard &operator=(const HangGuard &) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace zv_test
