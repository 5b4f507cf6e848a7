// The window's two pictures, painted at start-up at the sizes the layout expects.
#pragma once

#include <QPixmap>

QPixmap banner_artwork();  // 352 x 66, behind the window's top
QPixmap bottom_artwork();  // 351 x 45, behind the buttons
