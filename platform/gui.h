// Hand-off from worker threads to the GUI thread.
//
// post_to_gui queues a function for the GUI thread and returns at once; functions posted
// from one thread run in the order they were posted. synchronize runs a function on the
// GUI thread and blocks the caller until it has run. A GUI thread that must wait for
// another thread (closing a port, stopping an upgrade) waits with wait_serving_synchronize,
// which keeps running synchronize requests, so a thread that synchronises while the GUI
// thread waits for it cannot deadlock.
//
// Before gui_install (plain unit tests, command-line tools) there is no GUI thread:
// both calls run the function at once on the caller's thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// Makes the calling thread the GUI thread. Needs a QCoreApplication; call once after it exists.
void gui_install();
// Ends the hand-off: pending and later synchronize calls return false without running.
void gui_uninstall();

bool on_gui_thread();

void post_to_gui(std::function<void()> fn);

// Returns true when fn ran (an exception it threw is rethrown here, on the caller's
// thread), false when the GUI hand-off ended before it could run.
bool synchronize(std::function<void()> fn);

// Blocks until done() is true. On the GUI thread it runs synchronize requests meanwhile.
// done() is checked again each time gui_wake_waiters is called, so whoever makes it true
// must call gui_wake_waiters afterwards.
void wait_serving_synchronize(const std::function<bool()> &done);
void gui_wake_waiters();

// A std::thread that the GUI thread can join without blocking synchronize requests.
// Owns its thread: destroying a joinable GuiJoinableThread detaches it.
class GuiJoinableThread {
 public:
  GuiJoinableThread() = default;
  GuiJoinableThread(const GuiJoinableThread &) = delete;
  GuiJoinableThread &operator=(const GuiJoinableThread &) = delete;
  ~GuiJoinableThread() { detach(); }

  void start(std::function<void()> body);
  bool running() const { return thread_.joinable() && !finished_->load(); }
  bool joinable() const { return thread_.joinable(); }
  std::thread::id id() const { return thread_.get_id(); }
  // Waits for the body to return, serving synchronize requests on the GUI thread.
  void join();
  void detach();

 private:
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(true);
};
