// SPDX-License-Identifier: MIT
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "image.hpp"

namespace ticklark::artwork {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct PatternDeleter {
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

// A colour with straight alpha, each channel 0..1.
struct Colour {
  double r = 0;
  double g = 0;
  double b = 0;
  double a = 1;
};

// 0xRRGGBB with the given alpha.
constexpr Colour Hex(std::uint32_t rgb, double alpha = 1.0) {
  return Colour{static_cast<double>((rgb >> 16) & 0xFFu) / 255.0,
                static_cast<double>((rgb >> 8) & 0xFFu) / 255.0,
                static_cast<double>(rgb & 0xFFu) / 255.0, alpha};
}

// A transparent ARGB surface; throws when cairo cannot make one.
SurfacePtr NewSurface(int width, int height);
ContextPtr NewContext(cairo_surface_t* surface);

void SetColour(cairo_t* cr, const Colour& c);
void AddStop(cairo_pattern_t* pattern, double offset, const Colour& c);
PatternPtr LinearGradient(double x0, double y0, double x1, double y1);
PatternPtr RadialGradient(double cx, double cy, double r0, double r1);

// Adds a rectangle with rounded corners of |radius| to the current path.
void RoundedRectangle(cairo_t* cr, double x, double y, double w, double h, double radius);

// Softens |surface| with three box-blur passes each way, close to a Gaussian
// of about |radius| pixels.
void Blur(cairo_surface_t* surface, int radius);

// Draws |shape| onto a scratch surface the size of |cr|'s target, blurs it by
// |radius| and paints it onto |cr| at |opacity|: glows and soft shadows.
void PaintSoftened(cairo_t* cr, int radius, double opacity,
                   const std::function<void(cairo_t*)>& shape);

// The pixels of |surface| with straight alpha.
Image ToImage(cairo_surface_t* surface);

}  // namespace ticklark::artwork
