// The GUI hand-off's steps that do not depend on the event loop: the inline cases before
// gui_install, the synchronize wait, the wait that serves requests, and the joinable thread.
#include "platform/gui.h"

#include "platform/gui_hub.h"

GuiHub &gui_hub() {
  static GuiHub instance;
  return instance;
}

void gui_run_request(GuiSyncRequest &request) {
  try {
    request.fn();
  } catch (...) {
    request.error = std::current_exception();
  }
  GuiHub &h = gui_hub();
  std::lock_guard lock(h.mutex);
  request.ran = true;
  request.done = true;
  h.changed.notify_all();
}

void gui_install() {
  GuiHub &h = gui_hub();
  std::lock_guard lock(h.mutex);
  h.gui_thread = std::this_thread::get_id();
  gui_loop_install_locked(h);
  h.installed = true;
}

void gui_uninstall() {
  GuiHub &h = gui_hub();
  std::lock_guard lock(h.mutex);
  h.installed = false;
  gui_loop_drop_locked(h);
  h.changed.notify_all();
}

bool on_gui_thread() {
  GuiHub &h = gui_hub();
  return h.installed && std::this_thread::get_id() == h.gui_thread;
}

void post_to_gui(std::function<void()> fn) {
  GuiHub &h = gui_hub();
  {
    std::lock_guard lock(h.mutex);
    if (h.installed && gui_loop_post_locked(h, fn))
      return;
  }
  fn();
}

bool synchronize(std::function<void()> fn) {
  GuiHub &h = gui_hub();
  if (!h.installed || std::this_thread::get_id() == h.gui_thread) {
    fn();
    return true;
  }
  GuiSyncRequest request;
  request.fn = std::move(fn);
  std::unique_lock lock(h.mutex);
  if (!h.installed || !gui_loop_queue_locked(h, request))
    return false;
  h.changed.notify_all();  // a GUI thread inside wait_serving_synchronize serves it
  h.changed.wait(lock, [&] { return request.done; });
  if (request.error)
    std::rethrow_exception(request.error);
  return request.ran;
}

void wait_serving_synchronize(const std::function<bool()> &done) {
  GuiHub &h = gui_hub();
  const bool serve = h.installed && std::this_thread::get_id() == h.gui_thread;
  for (;;) {
    if (serve)
      gui_loop_serve_requests();
    std::unique_lock lock(h.mutex);
    h.changed.wait(lock, [&] { return done() || (serve && gui_loop_has_request_locked(h)); });
    if (done() && (!serve || !gui_loop_has_request_locked(h)))
      return;
  }
}

void gui_wake_waiters() {
  GuiHub &h = gui_hub();
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
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // a thread cannot join itself; let it finish on its own
    return;
  }
  auto finished = finished_;
  wait_serving_synchronize([&] { return finished->load(); });
  thread_.join();
}

void GuiJoinableThread::detach() {
  if (thread_.joinable())
    thread_.detach();
}
