// Inside the GUI hand-off (platform/gui.h): the state and the steps that are the same for
// every event loop (gui.cpp), and what each loop's source (gui_qt.cpp, gui_std.cpp) gives
// them: how a call is queued for the GUI thread and how the GUI thread runs the synchronize
// requests that wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// One synchronize call, waiting on its caller's stack until the GUI thread has run it (or the
// hand-off ended).
struct GuiSyncRequest {
  std::function<void()> fn;
  std::exception_ptr error;
  bool done = false;
  bool ran = false;
};

struct GuiHub {
  std::mutex mutex;
  // Signalled whenever a request completes, a call is queued, or a waiter's condition may have
  // changed (gui_wake_waiters).
  std::condition_variable changed;
  std::atomic<bool> installed{false};
  std::thread::id gui_thread;
};

GuiHub &gui_hub();

// Runs a request on the GUI thread and hands its outcome to the caller waiting for it.
// Called without the hub's mutex held.
void gui_run_request(GuiSyncRequest &request);

// What each event loop's source defines. The *_locked calls are made with the hub's mutex held.
// Makes the loop ready on the calling (GUI) thread.
void gui_loop_install_locked(GuiHub &hub);
// Marks every waiting request done without running it and forgets it, as the hand-off ends.
void gui_loop_drop_locked(GuiHub &hub);
// Queues a posted function; false when the loop can take none (it is gone).
bool gui_loop_post_locked(GuiHub &hub, std::function<void()> &fn);
// Queues a request; false when the loop can take none.
bool gui_loop_queue_locked(GuiHub &hub, GuiSyncRequest &request);
bool gui_loop_has_request_locked(const GuiHub &hub);
// On the GUI thread: runs the waiting requests (not the posted functions: a wait inside a
// posted function must not run later posts before it returns).
void gui_loop_serve_requests();
