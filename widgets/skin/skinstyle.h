// The skin engine's styles: the five built-in looks and the file-theme seam, the lookups
// of theme elements, and the rules that pick and hand on a control's style.
#pragma once

#include "widgets/skin/elementtable.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

// One byte, in this order; the numbering is that of the element table's look columns + 1.
enum TskUIStyle : uint8_t {
  FromThemeFile = 0,
  MacOS = 1,
  WinXP = 2,
  DeepBlue = 3,
  Protein = 4,
  BlueGlass = 5
};

// Element numbers (1-based) of the entries the controls read.
namespace skin_element {
constexpr int ButtonImage = 1, ButtonTransparentBool = 2, CheckBoxImage = 3, RadioButtonImage = 4,
              FormBackgroundColor = 15, ProgressBarImage = 24, ControlBorderColor = 25,
              ControlBackgroundColor = 26, ControlFontColor = 27, ScrollButtonImage = 38,
              TabControlTabImage = 39, TabControlBarImage = 40;
// Read by the button, edit and mark family beyond the main window's controls.
constexpr int TitleBarButtonImage = 5, ScrollBarButtonImage = 32, ToolBarButtonBorderColor = 35,
              ToolBarButtonBackgroundColor = 36, ToolBarButtonDownBackgroundColor = 37;
}  // namespace skin_element

// Colour values are 0x00BBGGRR (red in the low byte), the transparency key is fuchsia.
constexpr uint32_t skin_key_value = 0xFF00FF;
QColor skin_color(uint32_t value);
uint32_t skin_color_value(const QColor &color);

// Loads a bitmap of the compiled-in artwork by its resource name ("WINXP_BUTTON") as a
// 32-bit image; false (and `image` left alone) when there is no such resource.
bool load_skin_resource(const char *name, QImage &image);

// Built-in table lookups; `style` 1..5, `index` 1..48. Out-of-range styles or indices and
// entries of another kind give the documented defaults: bitmap unchanged (emptied when a
// frame was asked for), colour 0, integer -1, boolean false. The bitmap lookup is false
// when the entry names a resource the executable lacks.
bool GetInsideThemeBitmap(int style, int index, QImage &bmp, int spit_count = 0, int spit_index = 0);
uint32_t GetInsideThemeColor(int style, int index);
int GetInsideThemeInt(int style, int index);
bool GetInsideThemeBool(int style, int index);

// What a theme file offers the engine: its entries by element key. Loading a theme file
// (skinfiletheme.cpp) puts its reader behind this; tests may plug in any source.
class ThemeSource {
 public:
  virtual ~ThemeSource() = default;
  // The stored bitmap file image of `key`, or nothing.
  virtual std::optional<QByteArray> file(const std::string &key) const = 0;
  virtual std::optional<int64_t> integer(const std::string &key) const = 0;
  virtual std::optional<bool> boolean(const std::string &key) const = 0;
};

// A style read from a theme file: the elements by the same index as the built-in table.
// Without a loaded file bitmaps stay unchanged, colours and integers give 0, booleans false.
class TskFileTheme : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString ThemeFile READ ThemeFile WRITE SetThemeFile)

 public:
  explicit TskFileTheme(QObject *owner = nullptr) : QObject(owner) {}
  ~TskFileTheme() override;

  const QString &ThemeFile() const { return theme_file_; }
  // true when the last load succeeded.
  bool CanUse() const { return source_ != nullptr; }
  // Takes a loaded theme (null: the load failed) read from `path`.
  void Load(const QString &path, std::unique_ptr<ThemeSource> source);

  // Finds the file (as given; else its name beside the program; else in the installed
  // themes folders), checks its signature and loads it. A file found nowhere or without the
  // signature changes nothing and is false with ThemeError() set; a damaged file is loaded
  // as unusable (CanUse() false, ThemeError() says where it breaks). After a usable load
  // every skinned control of the owning window that follows this theme redraws from it.
  bool OpenThemeFile(const QString &path);
  // The property's setter, used where no result is looked at (stored window data, a theme
  // manager): a missing file is ignored, but a file that is no theme, or a damaged one,
  // throws std::invalid_argument with "Invalid skin file for DODIvez!", the file and why.
  void SetThemeFile(const QString &path);
  // The same from a theme's bytes, `origin` naming them in error texts.
  bool LoadThemeBytes(const QByteArray &bytes, const QString &origin);
  // Why the last open or load failed; empty after a success.
  const QString &ThemeError() const { return theme_error_; }

  // The whole bitmap of element `index`; false (bmp unchanged) when the file lacks it.
  bool GetBitmap(int index, QImage &bmp) const;
  // Frame `spit_index` of `spit_count` (at least 1) of element `index`.
  bool GetBitmap(int index, QImage &bmp, int spit_count, int spit_index) const;
  uint32_t GetColor(int index) const;
  int GetInt(int index) const;
  bool GetBool(int index) const;

 private:
  void RestyleFollowers();

  QString theme_file_;
  QString theme_error_;
  std::unique_ptr<ThemeSource> source_;
};

// The style a control really draws with: the given one, except that FromThemeFile reads
// from `file_theme` when that has a usable file (true) and falls back to DeepBlue otherwise.
bool UsingFileTheme(const TskFileTheme *file_theme, int style, int &resolved);

// Element lookups through the resolution above, as every control makes them.
bool skin_bitmap(const TskFileTheme *file_theme, int style, int index, QImage &bmp, int spit_count = 0,
                 int spit_index = 0);
uint32_t skin_color_of(const TskFileTheme *file_theme, int style, int index);
bool skin_bool_of(const TskFileTheme *file_theme, int style, int index);

// A control's hold on its file theme: `watch` now follows `theme` instead of the theme it
// followed before, and `gone` runs when `theme` is destroyed (the control forgets it and
// falls back to DeepBlue), so no control ever draws from a destroyed theme.
void FollowFileTheme(QObject *control, QMetaObject::Connection &watch, TskFileTheme *theme,
                     std::function<void()> gone);

// The starting style of a skinned control owned by `owner`: the UIStyle of the first
// TskForm among a form's children, else DeepBlue.
TskUIStyle GetSkinFormStyle(const QObject *owner);

// Hands a style to every direct child that has both a "FileTheme" and a "UIStyle"
// property, FileTheme first.
void ContainerApplyUIStyle(QWidget *container, int style, TskFileTheme *file_theme);

// Pushes one style to the components of its owner named in its list.
class TskThemeManager : public QObject {
  Q_OBJECT

 public:
  explicit TskThemeManager(QObject *owner);

  int UIStyle() const { return style_; }
  void SetUIStyle(int style);
  TskFileTheme *FileTheme() const { return file_theme_; }
  void SetFileTheme(TskFileTheme *theme);
  QStringList &Components() { return components_; }
  // Sets UIStyle and FileTheme of each listed component of the owner (a top-level widget).
  void UpdateAll();

 signals:
  void UIStyleChanged(QObject *sender);

 private:
  int style_ = DeepBlue;
  TskFileTheme *file_theme_ = nullptr;
  QMetaObject::Connection theme_gone_;
  QStringList components_;
};
