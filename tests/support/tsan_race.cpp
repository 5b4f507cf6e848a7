// A deliberate data race for ThreadSanitizer builds: a std::thread writes a counter that a
// QTimer slot on the main thread reads and writes, with nothing ordering the two. The test
// that runs it passes only when ThreadSanitizer, using the project's suppression file,
// reports the race, so the file cannot silence the kind of race our GUI-thread code can have.
// A whole QApplication, so that QtGui and QtWidgets take part as they do in the program.
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <thread>

namespace {

int shared_counter = 0;  // deliberately unguarded

}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  std::thread worker;
  int fired = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, &app, [&] {
    if (++fired == 1) {
      worker = std::thread([] {
        for (int i = 0; i < 1000; ++i)
          shared_counter = shared_counter + 1;
      });
      return;
    }
    shared_counter = shared_counter + 1;
    if (fired == 20) {
      timer.stop();
      app.quit();
    }
  });
  timer.start(1);
  app.exec();
  worker.join();
  std::printf("timer slot ran %d times\n", fired);
  return 0;
}
