// SPDX-License-Identifier: MIT
#pragma once

#include "canvas.hpp"
#include "typesetter.hpp"

namespace ticklark::artwork {

inline constexpr int kSplashWidth = 470;
inline constexpr int kSplashHeight = 256;
inline constexpr int kNavWidth = 64;
inline constexpr int kNavHeight = 61;

inline constexpr const char* kProductTitle = "Ticklark 2";
inline constexpr const char* kVersionLine = "Version 2.39.4";
inline constexpr const char* kSplashNotice =
    "Quotes and news come from the web sites you open and may be delayed.";

enum class NavPicture { kBack, kForward, kStop, kRefresh };

// The program icon, drawn for a square of |size| pixels: the emblem on a deep
// blue tile with rounded, transparent corners.
SurfacePtr PaintIcon(int size);

// The same icon as paths and gradients only, for a scalable picture: without
// the soft shadows and glows, which a raster picture alone can hold.
void DrawIconPaths(cairo_t* cr, int size);

// The splash artwork, opaque, kSplashWidth by kSplashHeight times |scale|:
// the same picture drawn for a screen with |scale| pixels to each one.
SurfacePtr PaintSplash(const Typesetter& type, int scale = 1);

// What lies behind a navigation picture: the light grey button face, or
// nothing, for a button whose face the desktop's theme colours.
enum class Ground { kFace, kClear };

// A navigation button's picture, kNavWidth by kNavHeight times |scale|: a
// black disc, raised with a soft shadow, or, |pressed|, pushed in without one.
SurfacePtr PaintNavButton(const Typesetter& type, NavPicture picture, bool pressed, int scale = 1,
                          Ground ground = Ground::kFace);

}  // namespace ticklark::artwork
