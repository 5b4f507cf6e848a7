#include "platform/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {

// "ZIP Files(*.zip)|*.zip|NFI Files(*.nfi)|*.nfi" -> Qt's "ZIP Files (*.zip)" entries.
// Qt matches on the pattern inside the parentheses, so the title's own pattern is kept.
QStringList qt_filters(const std::string &filter) {
  QStringList parts = QString::fromStdString(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString title = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    int open = title.indexOf('(');
    if (open >= 0)
      title = title.left(open).trimmed();
    out << QStringLiteral("%1 (%2)").arg(title, patterns);
  }
  return out;
}

class SystemDialogs final : public Dialogs {
 public:
  void message(QWidget *parent, const std::string &text) override {
    QMessageBox::information(parent, QString(), QString::fromStdString(text), QMessageBox::Ok);
  }

  bool ask_yes_no(QWidget *parent, const std::string &text) override {
    return QMessageBox::question(parent, QString(), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }

  bool open_file(QWidget *parent, const std::string &filter, const std::string &default_ext,
                 std::string &path) override {
    return file_dialog(parent, QFileDialog::AcceptOpen, filter, default_ext, path);
  }

  bool save_file(QWidget *parent, const std::string &filter, const std::string &default_ext,
                 std::string &path) override {
    return file_dialog(parent, QFileDialog::AcceptSave, filter, default_ext, path);
  }

 private:
  static bool file_dialog(QWidget *parent, QFileDialog::AcceptMode mode, const std::string &filter,
                          const std::string &default_ext, std::string &path) {
    QFileDialog dialog(parent);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setAcceptMode(mode);
    QStringList filters = qt_filters(filter);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
      dialog.selectNameFilter(filters.first());
    dialog.setDefaultSuffix(QString::fromStdString(default_ext));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
      return false;
    path = dialog.selectedFiles().first().toStdString();
    return true;
  }
};

}  // namespace

Dialogs &system_dialogs() {
  static SystemDialogs dialogs;
  return dialogs;
}
