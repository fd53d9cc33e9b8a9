// SPDX-License-Identifier: MIT
#pragma once

#include <cairo.h>

#include <optional>

#include "canvas.hpp"

namespace ticklark::artwork {

// The shape of the emblem, in fractions of a chevron's width. The emblem is
// two green chevrons pointing up stacked above two red chevrons pointing down.
struct EmblemShape {
  double rise = 0.34;       // from a chevron's point to the ends of its arms
  double thickness = 0.18;  // of an arm, measured upright
  double pitch = 0.30;      // from one chevron to the next within a pair
  double gap = 0.14;        // added between the green pair and the red pair
  bool snap = false;        // round every measure to whole pixels, for small icons
};

// How much finish the chevrons get; small icons want less.
struct EmblemFinish {
  double outline_width = 0;  // in pixels; 0 draws none
  double bevel = 0.32;       // width of the lit and shaded edges, as a share of the thickness
  double highlight = 0.3;    // opacity of the lit upper edge
  double shade = 0.3;        // opacity of the shaded lower edge
};

// Height of the emblem whose chevrons are |width| wide.
double EmblemHeight(const EmblemShape& shape, double width);

// Draws the emblem with chevrons |width| wide, centred on |cx|, from |top| down.
void DrawEmblem(cairo_t* cr, double cx, double top, double width, const EmblemShape& shape,
                const EmblemFinish& finish);

// Fills the chevrons flat, green and red at |alpha|, or all in |tint| when it
// is given: the stuff glows and shadows are made of.
void FillEmblemSilhouette(cairo_t* cr, double cx, double top, double width,
                          const EmblemShape& shape, double alpha,
                          const std::optional<Colour>& tint = std::nullopt);

}  // namespace ticklark::artwork
