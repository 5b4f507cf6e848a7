// The hand-off's queue on Qt's event loop (the steps every loop shares are in gui.cpp).
#include "platform/gui.h"

#include "platform/gui_hub.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>

#include <deque>

namespace {

// The receiver object lives on the GUI thread; each event posted to it runs the next posted
// function there, so they run in posting order.
//
// The functions themselves pass through our own queue under the hub's mutex, and the event
// carries nothing: Qt hands its events over under a lock of its own, which ThreadSanitizer
// cannot see, so a function carried inside one would look like a race between the thread
// that posted it and the GUI thread that runs it. Through this queue the order is seen, and
// a true race between a worker and the function it posted is still reported.
struct QtLoop {
  std::deque<GuiSyncRequest *> pending;
  std::deque<std::function<void()>> posted;
  QPointer<QObject> receiver;
};

QtLoop &loop() {
  static QtLoop instance;
  return instance;
}

// Runs the next posted function, then whatever synchronize requests wait. customEvent is
// called by Qt for the event types it does not know, without our code reading the event.
class Receiver final : public QObject {
 public:
  using QObject::QObject;
  ~Receiver() override {
    std::deque<std::function<void()>> dropped;  // as Qt drops the calls to a receiver that goes
    std::lock_guard lock(gui_hub().mutex);
    loop().receiver.clear();
    dropped.swap(loop().posted);
  }

 protected:
  void customEvent(QEvent *) override {
    std::function<void()> fn;
    {
      std::lock_guard lock(gui_hub().mutex);
      QtLoop &l = loop();
      if (!l.posted.empty()) {
        fn = std::move(l.posted.front());
        l.posted.pop_front();
      }
    }
    if (fn)
      fn();
    gui_loop_serve_requests();
  }
};

const QEvent::Type hand_off_event = static_cast<QEvent::Type>(QEvent::registerEventType());

// Posts the receiver the event that runs the next function. Called under the hub's mutex:
// the event is made, and Qt's queue of posted events grown, in an order ThreadSanitizer can
// see (Qt's own lock it cannot), and Qt deletes the event on the GUI thread only after the
// receiver has taken the mutex again. Qt takes no lock of ours, so nothing can deadlock.
void wake_receiver() { QCoreApplication::postEvent(loop().receiver.data(), new QEvent(hand_off_event)); }

}  // namespace

void gui_loop_install_locked(GuiHub &) {
  if (!loop().receiver) {
    // Parented to the application, so it goes when the application goes.
    loop().receiver = new Receiver(QCoreApplication::instance());
  }
}

void gui_loop_drop_locked(GuiHub &) {
  for (GuiSyncRequest *request : loop().pending)
    request->done = true;
  loop().pending.clear();
}

bool gui_loop_post_locked(GuiHub &, std::function<void()> &fn) {
  if (!loop().receiver)
    return false;
  loop().posted.push_back(std::move(fn));
  wake_receiver();
  return true;
}

bool gui_loop_queue_locked(GuiHub &, GuiSyncRequest &request) {
  if (!loop().receiver)
    return false;
  loop().pending.push_back(&request);
  wake_receiver();  // a GUI thread in its event loop serves it at this event
  return true;
}

bool gui_loop_has_request_locked(const GuiHub &) { return !loop().pending.empty(); }

void gui_loop_serve_requests() {
  GuiHub &h = gui_hub();
  for (;;) {
    GuiSyncRequest *request;
    {
      std::lock_guard lock(h.mutex);
      if (loop().pending.empty())
        return;
      request = loop().pending.front();
      loop().pending.pop_front();
    }
    gui_run_request(*request);
  }
}
