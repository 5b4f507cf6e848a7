// The skinned demo window, shared by the demo program and the tests that take its pictures:
// a frameless window with a skinned form, a menu bar and a few skinned controls.
#pragma once

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class TskForm;

// The look named `name` ("MacOS", "WinXP", "DeepBlue", "Protein", "BlueGlass", any case), or
// nothing for another name.
std::optional<int> skin_style_named(const QString &name);
const char *skin_style_name(int style);

struct SkinDemo {
  std::unique_ptr<QWidget> window;
  TskForm *form = nullptr;  // owned by the window
};

// A window of `size` in the look `style`, with the View menu switching looks live.
SkinDemo make_skin_demo(int style, QSize size = QSize(420, 300));

// A picture of a top-level window as it shows on screen: outside the window's shape
// (its mask) the picture is see-through.
QImage window_picture(QWidget &window);
