// A guard for tests that hand a FIFO to code which must never wait on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

// A FIFO that the code under test might open and then wait on for ever for the other end.
// If the test has not finished within the bound, the watchdog opens the FIFO once for both
// ends (Linux lets that open complete at once), which lets a blocked open return, and
// records that it had to: a regression then fails instead of hanging the suite.
class FifoWatchdog {
 public:
  FifoWatchdog(std::filesystem::path fifo, std::chrono::seconds bound) : fifo_(std::move(fifo)) {
    thread_ = std::thread([this, bound] {
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, bound, [this] { return done_; }))
        return;
      fired_ = true;
      lock.unlock();
      for (int attempt = 0; attempt < 100 && !finished(); ++attempt) {
        int fd = ::open(fifo_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          ::close(fd);
          return;
        }
        std::unique_lock again(mutex_);
        wake_.wait_for(again, std::chrono::milliseconds(100), [this] { return done_; });
      }
    });
  }
  ~FifoWatchdog() { finish(); }
  // Call when the code under test has returned; true when the watchdog had to free it.
  bool finish() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
      thread_.join();
    return fired_;
  }

 private:
  bool finished() {
    std::lock_guard lock(mutex_);
    return done_;
  }
  std::filesystem::path fifo_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};
