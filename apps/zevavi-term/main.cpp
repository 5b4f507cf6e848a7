// zevavi-term: a plain serial console for the bench, built from the program's own serial
// port component and terminal.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "apps/zevavi-term/termwindow.h"
#include "platform/gui.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zevavi-term"));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("A serial console: a terminal on one serial port."));
  parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("port"),
                               QStringLiteral("COM1..COM9 or a device path (default: the last one used)"));
  QCommandLineOption capture({QStringLiteral("c"), QStringLiteral("capture")},
                             QStringLiteral("Write each received line to <file> with a time stamp."),
                             QStringLiteral("file"));
  QCommandLineOption closed(QStringLiteral("closed"), QStringLiteral("Do not open the port at start."));
  parser.addOption(capture);
  parser.addOption(closed);
  parser.process(app);
  if (parser.positionalArguments().size() > 1) {
    std::fprintf(stderr, "zevavi-term: one port at most\n");
    return 2;
  }

  gui_install();
  int result = 0;
  {
    const std::string port = parser.positionalArguments().value(0).toStdString();
    TermWindow window(TermSettingsPath(), port);
    if (parser.isSet(capture) && !window.StartCapture(parser.value(capture))) {
      std::fprintf(stderr, "zevavi-term: %s\n", window.StatusText().toLocal8Bit().constData());
      return 1;
    }
    if (!parser.isSet(closed) && !window.Port().Port().empty())
      window.OpenPort();
    window.resize(window.sizeHint().expandedTo(QSize(900, 560)));
    window.show();
    result = QApplication::exec();
  }
  gui_uninstall();
  return result;
}
