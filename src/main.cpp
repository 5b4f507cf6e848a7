// ZeVavi: re-flashes set-top boxes through their CFE boot loader. Takes no arguments.
#include "platform/dialogs.h"
#include "lib/log.h"
#include "platform/gui.h"
#include "platform/paths.h"
#include "src/formkymain.h"
#include "src/upgradeengine.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <memory>

namespace {

void show_exception(const QString &message) {
  QMessageBox::critical(nullptr, QApplication::applicationName(), message);
}

// An exception that escapes an event handler is shown, and the window stays open.
class ZeVaviApplication final : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject *receiver, QEvent *event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
      show_exception(QString::fromLocal8Bit(error.what()));
    } catch (...) {
      show_exception(QString());
    }
    return false;
  }
};

}  // namespace

int main(int argc, char **argv) {
  ZeVaviApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("ZeVavi"));
  gui_install();
  try {
    // Read before the window, said once its log is open.
    const std::string silence = apply_silence_setting(settings_file_path("zevavi.ini"));
    auto window = std::make_unique<VAzOdor>(system_dialogs());
    ZV_LOG(LOG_INFO, "main", "%s", silence.c_str());
    window->show();
    app.exec();
  } catch (const std::exception &error) {
    show_exception(QString::fromLocal8Bit(error.what()));
  } catch (...) {
    show_exception(QString());
  }
  gui_uninstall();
  return 0;
}
