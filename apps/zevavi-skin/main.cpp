// zevavi-skin: makes and checks theme files without the program that reads them.
#include "apps/zevavi-skin/skintool.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
  // Pictures are only read and written as images: no display, no Gui application.
  QCoreApplication app(argc, argv);
  QStringList args = QCoreApplication::arguments();
  args.removeFirst();
  QTextStream out(stdout), err(stderr);
  return skintool::run(args, out, err);
}
