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

// The splash artwork, opaque, kSplashWidth by kSplashHeight.
SurfacePtr PaintSplash(const Typesetter& type);

// A navigation button's picture, opaque, kNavWidth by kNavHeight: a black disc
// on the light grey button face, raised with a soft shadow, or, |pressed|,
// pushed in without one.
SurfacePtr PaintNavButton(const Typesetter& type, NavPicture picture, bool pressed);

}  // namespace ticklark::artwork
