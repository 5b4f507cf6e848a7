#include "widgets/lists/listcolor.h"

#include <QGuiApplication>
#include <QPalette>

QColor list_color(TColor color) {
  if (color == clNone)
    return {};
  if (color & 0x80000000u) {
    const QPalette palette = QGuiApplication::palette();
    switch (color & 0xFF) {
      case 5:
        return palette.color(QPalette::Base);  // window
      case 8:
        return palette.color(QPalette::Text);  // window text
      case 13:
        return palette.color(QPalette::Highlight);
      case 14:
        return palette.color(QPalette::HighlightedText);
      case 16:
        return palette.color(QPalette::Mid);  // button shadow
      case 18:
        return palette.color(QPalette::ButtonText);
      default:
        return palette.color(QPalette::Button);  // button face and the rest
    }
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}
