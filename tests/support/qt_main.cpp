// main() for tests that need a running Qt application: a QApplication on the main thread,
// installed as the GUI thread of the hand-off layer, then all GoogleTest cases.
#include "platform/gui.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  // Test discovery runs the binary at build time, where there may be no display at all.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  gui_install();
  int result = RUN_ALL_TESTS();
  gui_uninstall();
  return result;
}
