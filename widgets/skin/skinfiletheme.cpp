#include "widgets/skin/skinfiletheme.h"

#include "widgets/skin/skinfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

#include <stdexcept>

namespace {

// The engine's view of a loaded theme file.
class ReaderSource : public ThemeSource {
 public:
  explicit ReaderSource(std::unique_ptr<TskThemeFileReader> reader) : reader_(std::move(reader)) {}

  std::optional<QByteArray> file(const std::string &key) const override {
    const QByteArray *bytes = reader_->FileBytes(QString::fromStdString(key));
    return bytes ? std::optional<QByteArray>(*bytes) : std::nullopt;
  }
  std::optional<int64_t> integer(const std::string &key) const override {
    const QString name = QString::fromStdString(key);
    return reader_->HasInteger(name) ? std::optional<int64_t>(reader_->GetInteger(name)) : std::nullopt;
  }
  std::optional<bool> boolean(const std::string &key) const override {
    const QString name = QString::fromStdString(key);
    return reader_->HasBool(name) ? std::optional<bool>(reader_->GetBool(name)) : std::nullopt;
  }

 private:
  std::unique_ptr<TskThemeFileReader> reader_;
};

// Where a theme named by a path is looked for: the path, the program's folder, then the
// installed themes folders (where the Windows original looked in its system folders).
QString resolve_theme(const QString &path) {
  if (QFileInfo::exists(path))
    return path;
  const QString name = QFileInfo(path).fileName();
  if (name.isEmpty())
    return {};
  const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
  if (!QCoreApplication::applicationDirPath().isEmpty() && QFileInfo::exists(beside))
    return beside;
  return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("zevavi/themes/") + name);
}

}  // namespace

bool TskFileTheme::OpenThemeFile(const QString &path) {
  if (path == theme_file_ && CanUse())
    return true;
  const QString found = resolve_theme(path);
  if (found.isEmpty()) {
    theme_error_ = QStringLiteral("%1: no such theme file").arg(path);
    return false;
  }
  if (!IsSkinThemeFile(found)) {
    QFile file(found);
    const QString why = file.open(QIODevice::ReadOnly)
                            ? QStringLiteral("it does not begin with a theme file's signature")
                            : QStringLiteral("it cannot be read: %1").arg(file.errorString());
    theme_error_ = QStringLiteral("Invalid skin file for DODIvez!\n%1: %2").arg(found, why);
    return false;
  }
  auto reader = std::make_unique<TskThemeFileReader>(found);
  const bool usable = reader->CanUse();
  theme_error_ = reader->Error();
  Load(found, usable ? std::make_unique<ReaderSource>(std::move(reader)) : nullptr);
  if (usable)
    RestyleFollowers();
  return usable;
}

void TskFileTheme::SetThemeFile(const QString &path) {
  if (OpenThemeFile(path) || resolve_theme(path).isEmpty())
    return;
  QString message = theme_error_;
  if (!message.startsWith(QLatin1String("Invalid skin file for DODIvez!")))
    message = QStringLiteral("Invalid skin file for DODIvez!\n") + message;
  throw std::invalid_argument(message.toStdString());
}

bool TskFileTheme::LoadThemeBytes(const QByteArray &bytes, const QString &origin) {
  auto reader = TskThemeFileReader::FromBytes(bytes, origin);
  const bool usable = reader->CanUse();
  theme_error_ = reader->Error();
  Load(theme_file_, usable ? std::make_unique<ReaderSource>(std::move(reader)) : nullptr);
  if (usable)
    RestyleFollowers();
  return usable;
}

void TskFileTheme::RestyleFollowers() {
  auto *owner = qobject_cast<QWidget *>(parent());
  if (!owner)
    return;
  QWidget *form = owner->window();
  // Assigning the same theme again makes a control reload every element it draws with.
  for (QObject *component : form->findChildren<QObject *>()) {
    if (!QByteArray(component->metaObject()->className()).startsWith("Tsk"))
      continue;
    const QVariant follows = component->property("FileTheme");
    if (follows.isValid() && qvariant_cast<TskFileTheme *>(follows) == this)
      component->setProperty("FileTheme", QVariant::fromValue(this));
  }
}

QByteArray TskBuiltInFileTheme::SkinData() const {
  if (!skin_data_.isEmpty() || ThemeFile().isEmpty())
    return skin_data_;
  QFile file(ThemeFile());
  if (!file.open(QIODevice::ReadOnly) || file.size() > skin_file::max_file_size)
    return {};
  return file.readAll();
}

bool TskBuiltInFileTheme::SetSkinData(const QByteArray &bytes) {
  skin_data_ = bytes;
  // The bytes are read where they lie; no temporary copy on disk is needed to load them.
  return LoadThemeBytes(bytes, QStringLiteral("the window's SkinData"));
}
