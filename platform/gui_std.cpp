// The hand-off to the GUI thread on the standard library alone: posted functions and
// synchronize requests wait in one queue, in arrival order, for the GUI thread's loop
// (gui_process_events) or for a wait_serving_synchronize on that thread.
#include "platform/gui.h"
#include "platform/gui_loop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace {

struct SyncRequest {
  std::function<void()> fn;
  std::exception_ptr error;
  bool done = false;
  bool ran = false;
};

// A queued call: a posted function, or a waiting synchronize request.
struct Call {
  std::function<void()> posted;
  SyncRequest *sync = nullptr;
};

struct Hub {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Call> queue;
  std::atomic<bool> installed{false};
  std::thread::id gui_thread;
};

Hub &hub() {
  static Hub instance;
  return instance;
}

// Runs what is queued; `only_sync` leaves posted functions for the loop (a wait inside a
// posted function must not run later posts before it returns).
int serve(bool only_sync) {
  Hub &h = hub();
  int count = 0;
  for (;;) {
    Call call;
    {
      std::lock_guard lock(h.mutex);
      auto it = h.queue.begin();
      if (only_sync)
        while (it != h.queue.end() && !it->sync)
          ++it;
      if (it == h.queue.end())
        return count;
      call = std::move(*it);
      h.queue.erase(it);
    }
    ++count;
    if (!call.sync) {
      call.posted();
      continue;
    }
    try {
      call.sync->fn();
    } catch (...) {
      call.sync->error = std::current_exception();
    }
    std::lock_guard lock(h.mutex);
    call.sync->ran = true;
    call.sync->done = true;
    h.changed.notify_all();
  }
}

bool has_sync_locked(const Hub &h) {
  for (const Call &c : h.queue)
    if (c.sync)
      return true;
  return false;
}

}  // namespace

void gui_install() {
  Hub &h = hub();
  std::lock_guard lock(h.mutex);
  h.gui_thread = std::this_thread::get_id();
  h.installed = true;
}

void gui_uninstall() {
  Hub &h = hub();
  std::lock_guard lock(h.mutex);
  h.installed = false;
  for (Call &call : h.queue)
    if (call.sync)
      call.sync->done = true;
  h.queue.clear();
  h.changed.notify_all();
}

bool on_gui_thread() {
  Hub &h = hub();
  return h.installed && std::this_thread::get_id() == h.gui_thread;
}

void post_to_gui(std::function<void()> fn) {
  Hub &h = hub();
  {
    std::lock_guard lock(h.mutex);
    if (h.installed) {
      h.queue.push_back({std::move(fn), nullptr});
      h.changed.notify_all();
      return;
    }
  }
  fn();
}

bool synchronize(std::function<void()> fn) {
  Hub &h = hub();
  if (!h.installed || std::this_thread::get_id() == h.gui_thread) {
    fn();
    return true;
  }
  SyncRequest request;
  request.fn = std::move(fn);
  std::unique_lock lock(h.mutex);
  if (!h.installed)
    return false;
  h.queue.push_back({nullptr, &request});
  h.changed.notify_all();
  h.changed.wait(lock, [&] { return request.done; });
  if (request.error)
    std::rethrow_exception(request.error);
  return request.ran;
}

int gui_process_events(int timeout_ms) {
  Hub &h = hub();
  int ran = serve(false);
  if (ran > 0 || timeout_ms == 0)
    return ran;
  {
    std::unique_lock lock(h.mutex);
    auto ready = [&] { return !h.queue.empty(); };
    if (timeout_ms < 0)
      h.changed.wait(lock, ready);
    else
      h.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
  }
  return serve(false);
}

void wait_serving_synchronize(const std::function<bool()> &done) {
  Hub &h = hub();
  bool serve_here = h.installed && std::this_thread::get_id() == h.gui_thread;
  for (;;) {
    if (serve_here)
      serve(true);
    std::unique_lock lock(h.mutex);
    h.changed.wait(lock, [&] { return done() || (serve_here && has_sync_locked(h)); });
    if (done() && (!serve_here || !has_sync_locked(h)))
      return;
  }
}

void gui_wake_waiters() {
  Hub &h = hub();
  std::lock_guard lock(h.mutex);
  h.changed.notify_all();
}

void GuiJoinableThread::start(std::function<void()> body) {
  detach();
  finished_ = std::make_shared<std::atomic<bool>>(false);
  thread_ = std::thread([finished = finished_, body = std::move(body)] {
    body();
    finished->store(true);
    gui_wake_waiters();
  });
}

void GuiJoinableThread::join() {
  if (!thread_.joinable())
    return;
  if (thread_.get_id() != std::this_thread::get_id()) {
    auto finished = finished_;
    wait_serving_synchronize([&] { return finished->load(); });
  }
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();  // a thread cannot join itself; let it finish on its own
  else
    thread_.join();
}

void GuiJoinableThread::detach() {
  if (thread_.joinable())
    thread_.detach();
}
