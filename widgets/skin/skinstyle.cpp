#include "widgets/skin/skinstyle.h"

#include "widgets/skin/skindraw.h"

#include <QFile>
#include <QMetaProperty>
#include <QWidget>

#include <utility>

// The artwork is compiled into this static library; its registration must be pulled in
// by name from outside any namespace.
static void init_skin_artwork() { Q_INIT_RESOURCE(skinart); }

namespace {

const ThemeElement *element(int style, int index) {
  if (style < MacOS || style > BlueGlass || index < 1 || index > theme_element_count)
    return nullptr;
  return &theme_elements[index - 1];
}

const ElementValue &value_of(const ThemeElement &entry, int style) { return entry.looks[style - MacOS]; }

}  // namespace

QColor skin_color(uint32_t value) { return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF); }

uint32_t skin_color_value(const QColor &color) {
  return uint32_t(color.red()) | uint32_t(color.green()) << 8 | uint32_t(color.blue()) << 16;
}

bool load_skin_resource(const char *name, QImage &image) {
  static const bool registered = (init_skin_artwork(), true);
  (void)registered;
  QImage loaded(QStringLiteral(":/skin/%1.bmp").arg(QLatin1String(name)));
  if (loaded.isNull())
    return false;
  image = loaded.convertToFormat(QImage::Format_RGB32);
  return true;
}

bool GetInsideThemeBitmap(int style, int index, QImage &bmp, int spit_count, int spit_index) {
  const ThemeElement *entry = element(style, index);
  if (!entry || entry->kind != ElementKind::Bitmap || !value_of(*entry, style).bitmap) {
    if (spit_count > 0)
      bmp = QImage();
    return entry && entry->kind == ElementKind::Bitmap;
  }
  QImage whole;
  if (!load_skin_resource(value_of(*entry, style).bitmap, whole))
    return false;
  bmp = spit_count > 0 ? SpitBitmap(whole, spit_count, spit_index) : whole;
  return true;
}

uint32_t GetInsideThemeColor(int style, int index) {
  const ThemeElement *entry = element(style, index);
  return entry && entry->kind == ElementKind::Colour ? uint32_t(value_of(*entry, style).number) : 0;
}

int GetInsideThemeInt(int style, int index) {
  const ThemeElement *entry = element(style, index);
  return entry && entry->kind == ElementKind::Integer ? int(value_of(*entry, style).number) : -1;
}

bool GetInsideThemeBool(int style, int index) {
  const ThemeElement *entry = element(style, index);
  return entry && entry->kind == ElementKind::Boolean && value_of(*entry, style).number != 0;
}

TskFileTheme::~TskFileTheme() = default;

void TskFileTheme::Load(const QString &path, std::unique_ptr<ThemeSource> source) {
  theme_file_ = path;
  source_ = std::move(source);
}

bool TskFileTheme::GetBitmap(int index, QImage &bmp) const {
  if (!source_ || index < 1 || index > theme_element_count)
    return false;
  std::optional<QByteArray> bytes = source_->file(theme_elements[index - 1].key);
  QImage loaded;
  if (!bytes || !loaded.loadFromData(*bytes))
    return false;
  bmp = loaded.convertToFormat(QImage::Format_RGB32);
  return true;
}

bool TskFileTheme::GetBitmap(int index, QImage &bmp, int spit_count, int spit_index) const {
  QImage whole;
  bool found = GetBitmap(index, whole);
  bmp = found ? SpitBitmap(whole, spit_count < 1 ? 1 : spit_count, spit_index) : QImage();
  return found;
}

uint32_t TskFileTheme::GetColor(int index) const {
  if (!source_ || index < 1 || index > theme_element_count)
    return 0;
  return uint32_t(source_->integer(theme_elements[index - 1].key).value_or(-1));
}

int TskFileTheme::GetInt(int index) const {
  if (!source_ || index < 1 || index > theme_element_count)
    return 0;
  return int(source_->integer(theme_elements[index - 1].key).value_or(-1));
}

bool TskFileTheme::GetBool(int index) const {
  if (!source_ || index < 1 || index > theme_element_count)
    return false;
  return source_->boolean(theme_elements[index - 1].key).value_or(false);
}

bool UsingFileTheme(const TskFileTheme *file_theme, int style, int &resolved) {
  resolved = style;
  if (style != FromThemeFile)
    return false;
  if (file_theme && file_theme->CanUse())
    return true;
  resolved = DeepBlue;
  return false;
}

bool skin_bitmap(const TskFileTheme *file_theme, int style, int index, QImage &bmp, int spit_count,
                 int spit_index) {
  int resolved = style;
  if (UsingFileTheme(file_theme, style, resolved))
    return spit_count > 0 ? file_theme->GetBitmap(index, bmp, spit_count, spit_index)
                          : file_theme->GetBitmap(index, bmp);
  return GetInsideThemeBitmap(resolved, index, bmp, spit_count, spit_index);
}

uint32_t skin_color_of(const TskFileTheme *file_theme, int style, int index) {
  int resolved = style;
  if (UsingFileTheme(file_theme, style, resolved))
    return file_theme->GetColor(index);
  return GetInsideThemeColor(resolved, index);
}

bool skin_bool_of(const TskFileTheme *file_theme, int style, int index) {
  int resolved = style;
  if (UsingFileTheme(file_theme, style, resolved))
    return file_theme->GetBool(index);
  return GetInsideThemeBool(resolved, index);
}

TskUIStyle GetSkinFormStyle(const QObject *owner) {
  auto *form = qobject_cast<const QWidget *>(owner);
  if (!form || !form->isWindow())
    return DeepBlue;
  for (const QObject *child : form->children())
    if (child->inherits("TskForm")) {
      int style = child->property("UIStyle").toInt();
      return style >= FromThemeFile && style <= BlueGlass ? TskUIStyle(style) : DeepBlue;
    }
  return DeepBlue;
}

void ContainerApplyUIStyle(QWidget *container, int style, TskFileTheme *file_theme) {
  if (!container)
    return;
  for (QObject *child : container->children()) {
    const QMetaObject *meta = child->metaObject();
    if (!child->isWidgetType() || meta->indexOfProperty("FileTheme") < 0 ||
        meta->indexOfProperty("UIStyle") < 0)
      continue;
    child->setProperty("FileTheme", QVariant::fromValue(file_theme));
    child->setProperty("UIStyle", style);
  }
}

TskThemeManager::TskThemeManager(QObject *owner) : QObject(owner) {}

void TskThemeManager::SetUIStyle(int style) {
  bool changed = style != style_;
  style_ = style;
  UpdateAll();
  if (changed)
    emit UIStyleChanged(this);
}

void FollowFileTheme(QObject *control, QMetaObject::Connection &watch, TskFileTheme *theme,
                     std::function<void()> gone) {
  QObject::disconnect(watch);
  watch = theme ? QObject::connect(theme, &QObject::destroyed, control, std::move(gone))
                : QMetaObject::Connection();
}

void TskThemeManager::SetFileTheme(TskFileTheme *theme) {
  disconnect(theme_gone_);
  file_theme_ = theme;
  if (theme)
    // A destroyed file theme is forgotten without touching the listed controls: each of
    // them drops it on its own.
    theme_gone_ = connect(theme, &QObject::destroyed, this, [this] {
      file_theme_ = nullptr;
      style_ = DeepBlue;
    });
  UpdateAll();
}

void TskThemeManager::UpdateAll() {
  auto *owner = qobject_cast<QWidget *>(parent());
  if (!owner || !owner->isWindow())
    return;
  for (auto name = components_.begin(); name != components_.end();) {
    QObject *component = owner->findChild<QObject *>(*name);
    if (!component) {  // gone: its name leaves the list
      name = components_.erase(name);
      continue;
    }
    component->setProperty("UIStyle", style_);
    component->setProperty("FileTheme", QVariant::fromValue(file_theme_));
    ++name;
  }
}
