// Colour values as the widgets' properties hold them: 0x00BBGGRR, 0x80000000 + n for the
// system colour n, and 0x1FFFFFFF for "none".
#pragma once

#include <QColor>

#include <cstdint>

using TColor = std::uint32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;

// The colour to paint with; an invalid QColor for clNone. System colours come from the
// application's palette.
QColor list_color(TColor color);
