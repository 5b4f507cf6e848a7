// Helpers for port tests that run on the GUI thread of a QApplication (zv_qt_test_main).
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <functional>
#include <thread>

// Runs the GUI thread's events (and so the event thread's synchronised deliveries) until
// done() holds; false if it never did within the limit, so a broken port fails instead of
// hanging the suite.
inline bool pump_until(const std::function<bool()> &done, int limit_ms = 20000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
