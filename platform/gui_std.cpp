// The hand-off's queue on the standard library alone (the steps every loop shares are in
// gui.cpp): posted functions and synchronize requests wait in one queue, in arrival order,
// for the GUI thread's loop (gui_process_events) or for a wait_serving_synchronize on that
// thread.
#include "platform/gui.h"

#include "platform/gui_hub.h"
#include "platform/gui_loop.h"

#include <chrono>
#include <deque>

namespace {

// A queued call: a posted function, or a waiting synchronize request.
struct Call {
  std::function<void()> posted;
  GuiSyncRequest *sync = nullptr;
};

std::deque<Call> &queue() {
  static std::deque<Call> instance;
  return instance;
}

// Runs what is queued; `only_sync` leaves posted functions for the loop.
int serve(bool only_sync) {
  GuiHub &h = gui_hub();
  int count = 0;
  for (;;) {
    Call call;
    {
      std::lock_guard lock(h.mutex);
      auto it = queue().begin();
      if (only_sync)
        while (it != queue().end() && !it->sync)
          ++it;
      if (it == queue().end())
        return count;
      call = std::move(*it);
      queue().erase(it);
    }
    ++count;
    if (call.sync)
      gui_run_request(*call.sync);
    else
      call.posted();
  }
}

}  // namespace

void gui_loop_install_locked(GuiHub &) {}

void gui_loop_drop_locked(GuiHub &) {
  for (Call &call : queue())
    if (call.sync)
      call.sync->done = true;
  queue().clear();
}

bool gui_loop_post_locked(GuiHub &h, std::function<void()> &fn) {
  queue().push_back({std::move(fn), nullptr});
  h.changed.notify_all();
  return true;
}

bool gui_loop_queue_locked(GuiHub &, GuiSyncRequest &request) {
  queue().push_back({nullptr, &request});
  return true;
}

bool gui_loop_has_request_locked(const GuiHub &) {
  for (const Call &c : queue())
    if (c.sync)
      return true;
  return false;
}

void gui_loop_serve_requests() { serve(true); }

int gui_process_events(int timeout_ms) {
  GuiHub &h = gui_hub();
  int ran = serve(false);
  if (ran > 0 || timeout_ms == 0)
    return ran;
  {
    std::unique_lock lock(h.mutex);
    auto ready = [&] { return !queue().empty(); };
    if (timeout_ms < 0)
      h.changed.wait(lock, ready);
    else
      h.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
  }
  return serve(false);
}
