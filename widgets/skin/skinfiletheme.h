// A file theme kept inside a window's own data rather than in a file beside the program.
#pragma once

#include "widgets/skin/skinstyle.h"

#include <QByteArray>

// The theme's bytes travel with the window as "SkinData": reading the property gives the
// bytes of the theme in use (those last set, else the current theme file's), setting it
// loads them as the theme.
class TskBuiltInFileTheme : public TskFileTheme {
  Q_OBJECT
  Q_PROPERTY(QByteArray SkinData READ SkinData WRITE SetSkinData)

 public:
  explicit TskBuiltInFileTheme(QObject *owner = nullptr) : TskFileTheme(owner) {}

  QByteArray SkinData() const;
  // false (the theme unusable, ThemeError() saying why) for bytes that are no sound theme.
  bool SetSkinData(const QByteArray &bytes);

 private:
  QByteArray skin_data_;
};
