// The GUI hand-off against a running Qt event loop and real threads.
#include "platform/gui.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Runs the GUI thread's event loop until `done` or a generous safety limit; a deadlock in
// the code under test shows as a failed expectation rather than a hung suite.
bool run_gui_until(const std::function<bool()> &done, int limit_ms = 20000) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done())
      loop.quit();
  });
  QTimer::singleShot(limit_ms, &loop, &QEventLoop::quit);
  poll.start(1);
  loop.exec();
  return done();
}

// Bounds a wait of the GUI thread that a fault in the hand-off would make endless (a join, a
// wait_serving_synchronize): once `bound` runs out, the hand-off is taken down, which frees
// every thread blocked in synchronize and wakes every waiter, so the wait returns and the
// test fails instead of hanging the suite.
class HandOffWatchdog {
 public:
  explicit HandOffWatchdog(std::chrono::milliseconds bound)
      : thread_([this, bound] {
          std::unique_lock lock(mutex_);
          if (!wake_.wait_for(lock, bound, [this] { return done_; })) {
            fired_ = true;
            gui_uninstall();
          }
        }) {}
  ~HandOffWatchdog() { fired(); }
  HandOffWatchdog(const HandOffWatchdog &) = delete;
  HandOffWatchdog &operator=(const HandOffWatchdog &) = delete;

  // Stops watching: true when the bound ran out first (the hand-off is installed again for
  // the tests that follow).
  bool fired() {
    if (thread_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        done_ = true;
      }
      wake_.notify_all();
      thread_.join();
      if (fired_)
        gui_install();
    }
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;  // last: it reads the members above
};

TEST(PostToGui, RunsOnTheGuiThreadInEachPostersOrder) {
  constexpr int threads = 4, per_thread = 2000;
  std::vector<std::vector<int>> seen(threads);
  std::atomic<int> total{0};
  bool all_on_gui = true;
  std::vector<std::thread> posters;
  for (int t = 0; t < threads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < per_thread; ++i)
        post_to_gui([&, t, i] {
          all_on_gui = all_on_gui && on_gui_thread();
          seen[t].push_back(i);
          ++total;
        });
    });
  for (auto &p : posters)
    p.join();
  ASSERT_TRUE(run_gui_until([&] { return total == threads * per_thread; }));
  EXPECT_TRUE(all_on_gui);
  for (int t = 0; t < threads; ++t)
    for (int i = 0; i < per_thread; ++i)
      ASSERT_EQ(seen[t][i], i) << "poster " << t;
}

TEST(PostToGui, NeverWaitsForTheGuiThread) {
  // The GUI thread is not running its loop here; posting must still return at once.
  std::atomic<bool> posted{false};
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      post_to_gui([] {});
    posted = true;
  });
  poster.join();
  EXPECT_TRUE(posted);
  QCoreApplication::processEvents();
}

TEST(Synchronize, BlocksUntilTheGuiThreadHasRunIt) {
  int value = 0;  // written on the GUI thread, read by the worker after synchronize returns
  std::atomic<int> seen{-1};
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 1; i <= 200; ++i) {
      EXPECT_TRUE(synchronize([&, i] { value = i; }));
      if (value != i) {
        seen = value;
        break;
      }
    }
    if (seen == -1)
      seen = value;
    finished = true;
  });
  ASSERT_TRUE(run_gui_until([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(seen, 200);
}

TEST(Synchronize, RunsInlineOnTheGuiThread) {
  bool ran = false;
  EXPECT_TRUE(synchronize([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(Synchronize, ExceptionReachesTheCaller) {
  std::atomic<bool> caught{false}, finished{false};
  std::thread worker([&] {
    try {
      synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error &e) {
      caught = std::string(e.what()) == "handler failed";
    }
    finished = true;
  });
  ASSERT_TRUE(run_gui_until([&] { return finished.load(); }));
  worker.join();
  EXPECT_TRUE(caught);
}

// The case the hand-off exists for: the GUI thread joins a thread (closing the port)
// while that thread is synchronising with the GUI thread. A plain join would deadlock.
TEST(GuiJoinableThread, JoinServesSynchronizeOfTheJoinedThread) {
  for (int round = 0; round < 50; ++round) {
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    GuiJoinableThread events;
    events.start([&] {
      while (!stop)
        synchronize([&] { ++delivered; });
      // One more delivery after the stop request, as an event thread finishing its last event.
      synchronize([&] { ++delivered; });
    });
    const bool delivering = run_gui_until([&] { return delivered >= 3; });
    stop = true;
    HandOffWatchdog watchdog(std::chrono::seconds(30));
    events.join();  // must return although the thread still synchronises after `stop`
    ASSERT_FALSE(watchdog.fired()) << "GuiJoinableThread::join deadlocked with the thread it joins, round "
                                   << round;
    ASSERT_TRUE(delivering) << "round " << round;
    EXPECT_FALSE(events.running());
    EXPECT_GE(delivered.load(), 4) << "round " << round;
  }
}

TEST(GuiJoinableThread, JoinWithoutSynchronizeAndJoinTwice) {
  GuiJoinableThread worker;
  std::atomic<bool> ran{false};
  worker.start([&] { ran = true; });
  HandOffWatchdog watchdog(std::chrono::seconds(30));
  worker.join();
  ASSERT_FALSE(watchdog.fired()) << "GuiJoinableThread::join missed the end of its thread";
  EXPECT_TRUE(ran);
  worker.join();  // nothing left to join: returns at once
  EXPECT_FALSE(worker.joinable());
}

TEST(WaitServingSynchronize, ReturnsWhenTheConditionBecomesTrue) {
  std::atomic<bool> flag{false};
  std::thread setter([&] {
    synchronize([] {});
    flag = true;
    gui_wake_waiters();
  });
  HandOffWatchdog watchdog(std::chrono::seconds(30));
  wait_serving_synchronize([&] { return flag.load(); });
  EXPECT_FALSE(watchdog.fired()) << "wait_serving_synchronize missed the wake-up";
  setter.join();
  EXPECT_TRUE(flag);
}

}  // namespace
