#include "apps/zevavi-skin/skintool.h"

#include "widgets/skin/elementtable.h"
#include "widgets/skin/skinfile.h"
#include "widgets/skin/skinstyle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <vector>

using skin_file::Entry;
using skin_file::Kind;

namespace skintool {

namespace {

const char *const look_names[] = {"MacOS", "WinXP", "DeepBlue", "Protein", "BlueGlass"};
const char *const kind_prefixes[] = {nullptr, "integer:", "boolean:", "string:"};  // by Kind

Kind kind_by_name(const QString &name) {
  if (name.endsWith(QLatin1String("Bool")))
    return Kind::Boolean;
  if (name.endsWith(QLatin1String("Int")) || name.endsWith(QLatin1String("Color")))
    return Kind::Integer;
  return Kind::String;
}

const char *kind_word(Kind kind) {
  static const char *const words[] = {"file", "integer", "boolean", "string"};
  return words[int(kind)];
}

int32_t entry_integer(const Entry &entry) {
  const auto *p = reinterpret_cast<const uint8_t *>(entry.data.constData());
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

QString integer_text(const QString &name, int32_t value) {
  if (!name.endsWith(QLatin1String("Color")))
    return QString::number(value);
  const uint32_t bits = uint32_t(value);
  return QStringLiteral("0x") +
         QStringLiteral("%1").arg(bits, bits <= 0xFFFFFF ? 6 : 8, 16, QLatin1Char('0')).toUpper();
}

// Backslash, control characters and edge blanks as escapes, so any stored string survives
// a line of theme.txt (whose values are trimmed).
QString escape(const QString &text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    const bool edge_blank = c.isSpace() && (i == 0 || i == text.size() - 1);
    if (c == QLatin1Char('\\'))
      out += QLatin1String("\\\\");
    else if (c == QLatin1Char('\n'))
      out += QLatin1String("\\n");
    else if (c == QLatin1Char('\r'))
      out += QLatin1String("\\r");
    else if (c.unicode() < 0x20 || c.unicode() == 0x7F || edge_blank)
      out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out;
}

bool unescape(const QString &text, QString &out) {
  out.clear();
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != QLatin1Char('\\')) {
      out += text[i];
      continue;
    }
    if (++i == text.size())
      return false;
    const QChar c = text[i];
    if (c == QLatin1Char('\\'))
      out += QLatin1Char('\\');
    else if (c == QLatin1Char('n'))
      out += QLatin1Char('\n');
    else if (c == QLatin1Char('r'))
      out += QLatin1Char('\r');
    else if (c == QLatin1Char('x')) {
      bool ok = false;
      const uint code = text.mid(i + 1, 2).toUInt(&ok, 16);
      if (!ok || text.mid(i + 1, 2).size() != 2)
        return false;
      out += QChar(code);
      i += 2;
    } else
      return false;
  }
  return true;
}

bool parse_integer(const QString &text, int32_t &value) {
  bool ok = false;
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    const uint bits = text.mid(2).toUInt(&ok, 16);
    value = int32_t(bits);
    return ok && text.size() > 2;
  }
  value = text.toInt(&ok, 10);
  return ok;
}

bool parse_bool(const QString &text, bool &value) {
  const QString t = text.toLower();
  if (t == QLatin1String("1") || t == QLatin1String("true"))
    value = true;
  else if (t == QLatin1String("0") || t == QLatin1String("false"))
    value = false;
  else
    return false;
  return true;
}

// A record name that is also a safe file name inside the folder.
bool safe_file_name(const QString &name) {
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
    return false;
  return std::none_of(name.begin(), name.end(), [](QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F;
  });
}

// A folder that is made whole in a hidden sibling and then put in place, so a failure
// leaves no half-filled folder behind. The target must not exist or be an empty folder.
class StagedFolder {
 public:
  bool open(const QString &target, QString &error) {
    target_ = QFileInfo(target).absoluteFilePath();
    const QFileInfo info(target_);
    if (info.exists() &&
        (!info.isDir() || !QDir(target_).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))) {
      error = QStringLiteral("%1: already exists and is not an empty folder").arg(target);
      return false;
    }
    const QString parent = info.absolutePath();
    if (!QDir().mkpath(parent)) {
      error = QStringLiteral("%1: cannot make the folder").arg(parent);
      return false;
    }
    staging_ = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/.zevavi-skin-XXXXXX"));
    if (!staging_->isValid()) {
      error = QStringLiteral("%1: cannot make a folder there: %2").arg(parent, staging_->errorString());
      return false;
    }
    return true;
  }
  QString path(const QString &name) const { return staging_->filePath(name); }
  bool write(const QString &name, const QByteArray &bytes, QString &error) {
    QFile file(path(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
      error = QStringLiteral("%1: cannot write: %2").arg(QDir(target_).filePath(name), file.errorString());
      return false;
    }
    return true;
  }
  bool commit(QString &error) {
    if (QFileInfo::exists(target_))
      QDir().rmdir(target_);
    if (!QDir().rename(staging_->path(), target_)) {
      error = QStringLiteral("%1: cannot put the folder in place").arg(target_);
      return false;
    }
    staging_->setAutoRemove(false);
    return true;
  }

 private:
  QString target_;
  std::unique_ptr<QTemporaryDir> staging_;
};

// Whether an earlier entry has the same name and kind, which hides this one from lookups.
bool shadowed(const std::vector<Entry> &entries, size_t index) {
  for (size_t i = 0; i < index; ++i)
    if (entries[i].kind == entries[index].kind &&
        entries[i].name.compare(entries[index].name, Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

const ThemeElement *element_of(const QString &name) {
  for (const ThemeElement &element : theme_elements)
    if (name.compare(QLatin1String(element.key), Qt::CaseInsensitive) == 0)
      return &element;
  return nullptr;
}

Kind stored_kind(ElementKind kind) {
  switch (kind) {
    case ElementKind::Bitmap:
      return Kind::File;
    case ElementKind::Boolean:
      return Kind::Boolean;
    case ElementKind::Integer:
    case ElementKind::Colour:
      break;
  }
  return Kind::Integer;
}

}  // namespace

bool pack(const QString &folder, const QString &theme_file, QString &error) {
  const QDir dir(folder);
  if (!QFileInfo(folder).isDir()) {
    error = QStringLiteral("%1: no such folder").arg(folder);
    return false;
  }
  TskThemeFileWriter writer(theme_file);
  QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  std::sort(names.begin(), names.end());  // code-point order: the same file on every system
  for (const QString &name : names) {
    const QString path = dir.filePath(name);
    if (name == QLatin1String(values_file) && QFileInfo(path).isFile())
      continue;
    if (!name.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive) || !QFileInfo(path).isFile()) {
      error = QStringLiteral("%1: neither a .bmp bitmap nor %2").arg(path, QLatin1String(values_file));
      return false;
    }
    if (QImage(path, "BMP").isNull()) {
      error = QStringLiteral("%1: not a readable BMP bitmap").arg(path);
      return false;
    }
    writer.AddFile(name.chopped(4), path);
  }

  QFile values(dir.filePath(QLatin1String(values_file)));
  if (values.exists()) {
    if (!values.open(QIODevice::ReadOnly)) {
      error = QStringLiteral("%1: cannot read: %2").arg(values.fileName(), values.errorString());
      return false;
    }
    const QStringList lines = QString::fromUtf8(values.readAll()).split(QLatin1Char('\n'));
    std::map<std::pair<int, QString>, int> seen;  // (kind, lower-case name) -> line
    for (int number = 1; number <= int(lines.size()); ++number) {
      const QString line = lines[number - 1].trimmed();
      if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        continue;
      auto fail = [&](const QString &why) {
        error = QStringLiteral("%1:%2: %3").arg(values.fileName()).arg(number).arg(why);
        return false;
      };
      const qsizetype equals = line.indexOf(QLatin1Char('='));
      if (equals < 0)
        return fail(QStringLiteral("no NAME=VALUE"));
      QString name = line.left(equals).trimmed();
      const QString value = line.mid(equals + 1).trimmed();
      Kind kind = Kind::String;
      bool prefixed = false;
      for (Kind k : {Kind::Integer, Kind::Boolean, Kind::String})
        if (name.startsWith(QLatin1String(kind_prefixes[int(k)]))) {
          kind = k;
          name = name.mid(qsizetype(qstrlen(kind_prefixes[int(k)])));
          prefixed = true;
          break;
        }
      if (!prefixed)
        kind = kind_by_name(name);
      if (name.isEmpty())
        return fail(QStringLiteral("no name before the '='"));
      const auto [it, fresh] = seen.emplace(std::make_pair(int(kind), name.toLower()), number);
      if (!fresh)
        return fail(QStringLiteral("%1 given again (first on line %2)").arg(name).arg(it->second));
      if (kind == Kind::Integer) {
        int32_t number_value = 0;
        if (!parse_integer(value, number_value))
          return fail(QStringLiteral("%1: \"%2\" is not a 32-bit integer").arg(name, value));
        writer.AddInteger(name, number_value);
      } else if (kind == Kind::Boolean) {
        bool flag = false;
        if (!parse_bool(value, flag))
          return fail(QStringLiteral("%1: \"%2\" is not 0, 1, true or false").arg(name, value));
        writer.AddBool(name, flag);
      } else {
        QString text;
        if (!unescape(value, text))
          return fail(QStringLiteral("%1: a backslash that starts no \\\\, \\n, \\r or \\xHH").arg(name));
        writer.AddStr(name, text);
      }
    }
  }
  if (!writer.Write()) {
    error = writer.Error();
    return false;
  }
  return true;
}

bool list(const QString &theme_file, QTextStream &out, QString &error) {
  TskThemeFileReader reader(theme_file);
  if (!reader.CanUse()) {
    error = reader.Error();
    return false;
  }
  const std::vector<Entry> &entries = reader.Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry &entry = entries[i];
    QString line = QStringLiteral("%1 %2  %3")
                       .arg(QLatin1String(kind_word(entry.kind)), -7)
                       .arg(entry.data.size(), 8)
                       .arg(entry.name);
    if (entry.kind == Kind::Integer)
      line += QStringLiteral(" = ") + integer_text(entry.name, entry_integer(entry));
    else if (entry.kind == Kind::Boolean)
      line += QStringLiteral(" = %1").arg(int(uint8_t(entry.data[0])));
    else if (entry.kind == Kind::String)
      line += QStringLiteral(" = \"%1\"").arg(escape(QString::fromLatin1(entry.data)));
    const ThemeElement *element = element_of(entry.name);
    if (shadowed(entries, i))
      line += QStringLiteral("  (hidden by an earlier record of this name)");
    else if (!element)
      line += QStringLiteral("  (no element of the looks has this name)");
    else if (stored_kind(element->kind) != entry.kind)
      line += QStringLiteral("  (the looks read this element as a %1)")
                  .arg(QLatin1String(kind_word(stored_kind(element->kind))));
    out << line << '\n';
  }
  out << entries.size() << (entries.size() == 1 ? " record\n" : " records\n");
  return true;
}

bool unpack(const QString &theme_file, const QString &folder, QString &error) {
  TskThemeFileReader reader(theme_file);
  if (!reader.CanUse()) {
    error = reader.Error();
    return false;
  }
  StagedFolder staged;
  if (!staged.open(folder, error))
    return false;
  QString text = QStringLiteral("# Unpacked from %1 by zevavi-skin\n").arg(QFileInfo(theme_file).fileName());
  const std::vector<Entry> &entries = reader.Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry &entry = entries[i];
    if (shadowed(entries, i))
      continue;  // lookups never see it; packed again it would change nothing
    if (entry.kind == Kind::File) {
      if (!safe_file_name(entry.name)) {
        error = QStringLiteral("%1: the file record \"%2\" has no name usable as a file name")
                    .arg(theme_file, escape(entry.name));
        return false;
      }
      if (!staged.write(entry.name + QStringLiteral(".bmp"), entry.data, error))
        return false;
      continue;
    }
    const QString &name = entry.name;
    if (name.isEmpty() || name.contains(QLatin1Char('=')) || name.startsWith(QLatin1Char('#')) ||
        name != name.trimmed() || escape(name) != name) {
      error = QStringLiteral("%1: the record name \"%2\" cannot be written as a line of %3")
                  .arg(theme_file, escape(name), QLatin1String(values_file));
      return false;
    }
    bool needs_prefix = kind_by_name(name) != entry.kind;
    for (const char *prefix : kind_prefixes)
      needs_prefix = needs_prefix || (prefix && name.startsWith(QLatin1String(prefix)));
    QString value;
    if (entry.kind == Kind::Integer)
      value = integer_text(name, entry_integer(entry));
    else if (entry.kind == Kind::Boolean)
      value = entry.data[0] ? QStringLiteral("1") : QStringLiteral("0");
    else
      value = escape(QString::fromLatin1(entry.data));
    text += (needs_prefix ? QLatin1String(kind_prefixes[int(entry.kind)]) : QLatin1String()) + name +
            QLatin1Char('=') + value + QLatin1Char('\n');
  }
  return staged.write(QLatin1String(values_file), text.toUtf8(), error) && staged.commit(error);
}

bool export_look(const QString &look, const QString &folder, QString &error) {
  int style = 0;
  for (int i = 0; i < 5; ++i)
    if (look.compare(QLatin1String(look_names[i]), Qt::CaseInsensitive) == 0)
      style = MacOS + i;
  if (!style) {
    error = QStringLiteral("%1: no such look (MacOS, WinXP, DeepBlue, Protein, BlueGlass)").arg(look);
    return false;
  }
  StagedFolder staged;
  if (!staged.open(folder, error))
    return false;
  QString text = QStringLiteral("# The built-in %1 look, written by zevavi-skin export\n")
                     .arg(QLatin1String(look_names[style - MacOS]));
  for (int index = 1; index <= theme_element_count; ++index) {
    const ThemeElement &element = theme_elements[index - 1];
    const QString key = QLatin1String(element.key);
    switch (element.kind) {
      case ElementKind::Bitmap: {
        if (!element.looks[style - MacOS].bitmap)
          break;  // this look has no picture for the element
        QImage image;
        if (!GetInsideThemeBitmap(style, index, image)) {
          error = QStringLiteral("the program lacks the picture %1")
                      .arg(QLatin1String(element.looks[style - MacOS].bitmap));
          return false;
        }
        const QString file = key + QStringLiteral(".bmp");
        if (!image.convertToFormat(QImage::Format_RGB888).save(staged.path(file), "BMP")) {
          error = QStringLiteral("%1: cannot write").arg(QDir(folder).filePath(file));
          return false;
        }
        break;
      }
      case ElementKind::Colour:
        text += key + QLatin1Char('=') + integer_text(key, int32_t(GetInsideThemeColor(style, index))) +
                QLatin1Char('\n');
        break;
      case ElementKind::Integer:
        text += key + QLatin1Char('=') + QString::number(GetInsideThemeInt(style, index)) + QLatin1Char('\n');
        break;
      case ElementKind::Boolean:
        text += key + QLatin1Char('=') + (GetInsideThemeBool(style, index) ? "1" : "0") + QLatin1Char('\n');
        break;
    }
  }
  return staged.write(QLatin1String(values_file), text.toUtf8(), error) && staged.commit(error);
}

int run(const QStringList &args, QTextStream &out, QTextStream &err) {
  static const char usage[] =
      "Usage: zevavi-skin pack FOLDER THEME.skn     pack a folder of NAME.bmp files and theme.txt\n"
      "       zevavi-skin list THEME.skn            show every record of a theme file\n"
      "       zevavi-skin unpack THEME.skn FOLDER   write a theme file's records into a new folder\n"
      "       zevavi-skin export LOOK FOLDER        write a built-in look (MacOS, WinXP, DeepBlue,\n"
      "                                             Protein, BlueGlass) as a folder to start from\n";
  if (args.size() == 1 && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
    out << usage;
    return 0;
  }
  const QString command = args.value(0);
  const bool two = args.size() == 3, one = args.size() == 2;
  QString error;
  bool ok = false;
  if (command == QLatin1String("pack") && two)
    ok = pack(args[1], args[2], error);
  else if (command == QLatin1String("list") && one)
    ok = list(args[1], out, error);
  else if (command == QLatin1String("unpack") && two)
    ok = unpack(args[1], args[2], error);
  else if (command == QLatin1String("export") && two)
    ok = export_look(args[1], args[2], error);
  else {
    err << usage;
    return 2;
  }
  if (!ok)
    err << "zevavi-skin: " << error << '\n';
  return ok ? 0 : 1;
}

}  // namespace skintool
