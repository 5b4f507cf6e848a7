// zevavi-station: the station window, for the operator at a line of fixtures.
#include "apps/zevavi-flash/flashargs.h"
#include "apps/zevavi-station/stationwindow.h"
#include "lib/log.h"
#include "platform/dialogs.h"
#include "platform/gui.h"
#include "platform/paths.h"
#include "src/boxmodels.h"
#include "src/upgradeengine.h"
#include "widgets/skin/skinedit.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zevavi-station"));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("The station window: many boxes flashed box after box, one fixture a unit."));
  parser.addHelpOption();
  parser.addPositionalArgument(
      QStringLiteral("units"),
      QStringLiteral("A units file: one \"DEVICE ADDRESS\" a line, as zevavi-flash --units."));
  const QCommandLineOption model(QStringLiteral("model"),
                                 QString::fromStdString(box_model_names(", ", " or ") + "."),
                                 QStringLiteral("model"));
  const QCommandLineOption image(QStringLiteral("image"), QStringLiteral("The image (.zip or .nfi)."),
                                 QStringLiteral("file"));
  const QCommandLineOption records(
      QStringLiteral("records"),
      QStringLiteral("The records file (default: records.sqlite in the data folder)."),
      QStringLiteral("file"));
  const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("The log file."),
                               QStringLiteral("file"));
  const QCommandLineOption http(QStringLiteral("http"),
                                QStringLiteral("Serve the station's page on this address and port only (the "
                                               "window's Web page field)."),
                                QStringLiteral("address:port"));
  const QCommandLineOption control(
      QStringLiteral("http-control"),
      QStringLiteral("The token on this file's first line lets the page start and stop units."),
      QStringLiteral("file"));
  parser.addOptions({model, image, records, log, http, control});
  parser.process(app);
  if (parser.positionalArguments().size() > 1) {
    std::fprintf(stderr, "zevavi-station: one units file at most\n");
    return exit_usage;
  }
  std::vector<StationUnit> units;
  if (!parser.positionalArguments().isEmpty()) {
    std::string error;
    if (!read_units_file(parser.positionalArguments().front().toStdString(), units, error) ||
        !units_distinct(units, error)) {
      std::fprintf(stderr, "zevavi-station: %s\n", error.c_str());
      return exit_usage;
    }
  }

  std::string page_address, page_token;
  int page_port = 0;
  if (std::string error;
      (parser.isSet(http) &&
       !parse_http_address(parser.value(http).toStdString(), page_address, page_port, error)) ||
      (parser.isSet(control) && !read_http_token(parser.value(control).toStdString(), page_token, error))) {
    std::fprintf(stderr, "zevavi-station: %s\n", error.c_str());
    return exit_usage;
  }

  gui_install();
  const std::string log_path =
      parser.isSet(log) ? parser.value(log).toStdString() : default_log_path("zevavi-station");
  FILE *log_file = nullptr;
  if (std::string refusal; !start_log_at(log_path, refusal, &log_file)) {
    std::fprintf(stderr, "zevavi-station: %s\n", refusal.c_str());
    return exit_usage;
  }
  log_open_stream(log_file, LOG_HEX);
  ZV_LOG(LOG_INFO, "main", "%s", apply_silence_setting(settings_file_path("zevavi.ini")).c_str());
  int result = 0;
  {
    StationWindow window(system_dialogs(), parser.value(records).toStdString());
    window.set_units(units);
    window.cbMachine->setCurrentText(parser.value(model));
    window.edtImage->setText(parser.value(image));
    window.edtPage->setText(parser.value(http));
    window.set_page_token(page_token);
    window.show();
    result = QApplication::exec();
  }
  gui_uninstall();
  log_close();
  return result;
}
