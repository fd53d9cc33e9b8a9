// SPDX-License-Identifier: MIT
#pragma once

#include <cmath>

namespace ticklark::ui {

// Window definitions and the stored window geometry are in twips. GTK works in
// logical pixels at 96 dpi (15 twips each); GDK's scale factor takes care of
// denser screens.
inline constexpr int kTwipsPerPixel = 15;

inline int PixelsFromTwips(double twips) {
  return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

inline double TwipsFromPixels(int pixels) {
  return static_cast<double>(pixels) * kTwipsPerPixel;
}

}  // namespace ticklark::ui
