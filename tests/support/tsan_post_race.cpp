// A deliberate data race for ThreadSanitizer builds: a worker posts a function to the GUI
// thread and goes on writing the counter that function writes, with nothing ordering the
// two. The post itself orders what came before it, not what comes after; the test that runs
// this passes only when ThreadSanitizer, using the project's suppression file, reports the
// race, so neither the hand-off nor the file can hide it.
#include "platform/gui.h"

#include <QCoreApplication>

#include <cstdio>
#include <thread>

namespace {

int posted_counter = 0;  // deliberately unguarded after the post

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  gui_install();
  std::thread worker([&app] {
    post_to_gui([&app] {
      posted_counter = posted_counter + 1;
      app.quit();
    });
    for (int i = 0; i < 1000; ++i)
      posted_counter = posted_counter + 1;
  });
  app.exec();
  worker.join();
  gui_uninstall();
  std::printf("posted call ran\n");
  return 0;
}
