#include "platform/gui.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>

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

// The hand-off's state. The receiver object lives on the GUI thread; each event posted to
// it runs the next posted function there, so they run in posting order.
//
// The functions themselves pass through our own queue under our own mutex, and the event
// carries nothing: Qt hands its events over under a lock of its own, which ThreadSanitizer
// cannot see, so a function carried inside one would look like a race between the thread
// that posted it and the GUI thread that runs it. Through this queue the order is seen, and
// a true race between a worker and the function it posted is still reported.
struct Hub {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<SyncRequest *> pending;
  std::deque<std::function<void()>> posted;
  std::atomic<bool> installed{false};
  std::thread::id gui_thread;
  QPointer<QObject> receiver;
};

Hub &hub() {
  static Hub instance;
  return instance;
}

void serve_pending();

// Runs the next posted function, then whatever synchronize requests wait. customEvent is
// called by Qt for the event types it does not know, without our code reading the event.
class Receiver final : public QObject {
 public:
  using QObject::QObject;
  ~Receiver() override {
    std::deque<std::function<void()>> dropped;  // as Qt drops the calls to a receiver that goes
    Hub &h = hub();
    std::lock_guard lock(h.mutex);
    h.receiver.clear();
    dropped.swap(h.posted);
  }

 protected:
  void customEvent(QEvent *) override {
    Hub &h = hub();
    std::function<void()> fn;
    {
      std::lock_guard lock(h.mutex);
      if (!h.posted.empty()) {
        fn = std::move(h.posted.front());
        h.posted.pop_front();
      }
    }
    if (fn)
      fn();
    serve_pending();
  }
};

const QEvent::Type hand_off_event = static_cast<QEvent::Type>(QEvent::registerEventType());

// Posts the receiver the event that runs the next function. Called under the hub's mutex:
// the event is made, and Qt's queue of posted events grown, in an order ThreadSanitizer can
// see (Qt's own lock it cannot), and Qt deletes the event on the GUI thread only after the
// receiver has taken the mutex again. Qt takes no lock of ours, so nothing can deadlock.
void wake_receiver(Hub &h) { QCoreApplication::postEvent(h.receiver.data(), new QEvent(hand_off_event)); }

void serve_pending() {
  Hub &h = hub();
  for (;;) {
    SyncRequest *request;
    {
      std::lock_guard lock(h.mutex);
      if (h.pending.empty())
        return;
      request = h.pending.front();
      h.pending.pop_front();
    }
    try {
      request->fn();
    } catch (...) {
      request->error = std::current_exception();
    }
    std::lock_guard lock(h.mutex);
    request->ran = true;
    request->done = true;
    h.changed.notify_all();
  }
}

}  // namespace

void gui_install() {
  Hub &h = hub();
  std::lock_guard lock(h.mutex);
  h.gui_thread = std::this_thread::get_id();
  if (!h.receiver) {
    // Parented to the application, so it goes when the application goes.
    h.receiver = new Receiver(QCoreApplication::instance());
  }
  h.installed = true;
}

void gui_uninstall() {
  Hub &h = hub();
  std::lock_guard lock(h.mutex);
  h.installed = false;
  for (SyncRequest *request : h.pending)
    request->done = true;
  h.pending.clear();
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
    if (h.installed && h.receiver) {
      h.posted.push_back(std::move(fn));
      wake_receiver(h);
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
  {
    std::lock_guard lock(h.mutex);
    if (!h.installed || !h.receiver)
      return false;
    h.pending.push_back(&request);
    h.changed.notify_all();  // a GUI thread inside wait_serving_synchronize serves it
    wake_receiver(h);        // one in its event loop serves it at this event
  }
  std::unique_lock lock(h.mutex);
  h.changed.wait(lock, [&] { return request.done; });
  if (request.error)
    std::rethrow_exception(request.error);
  return request.ran;
}

void wait_serving_synchronize(const std::function<bool()> &done) {
  Hub &h = hub();
  bool serve = h.installed && std::this_thread::get_id() == h.gui_thread;
  for (;;) {
    if (serve)
      serve_pending();
    std::unique_lock lock(h.mutex);
    h.changed.wait(lock, [&] { return done() || (serve && !h.pending.empty()); });
    if (done() && (!serve || h.pending.empty()))
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
