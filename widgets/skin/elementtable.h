// The built-in looks as data: one row per theme element, one column per look. Plain data
// with no Qt, so that the artwork generator reads the same resource names as the engine.
#pragma once

#include <cstdint>

enum class ElementKind : uint8_t { Integer, Colour, Bitmap, Boolean };

// One look's value of an element: `number` for integers, colours (0x00BBGGRR) and booleans;
// `bitmap` names the resource for bitmap elements (null where the look has none).
struct ElementValue {
  int64_t number;
  const char *bitmap;
};

struct ThemeElement {
  const char *key;  // the element's name inside a theme file
  ElementKind kind;
  ElementValue looks[5];  // MacOS, WinXP, DeepBlue, Protein, BlueGlass
};

constexpr int theme_element_count = 48;

// Row i - 1 describes element i (elements are numbered from 1).
extern const ThemeElement theme_elements[theme_element_count];

// The look words of the resource names, in look order ("MACOS", "WINXP", ...).
extern const char *const look_words[5];
