// SPDX-License-Identifier: MIT
#include "emblem.hpp"

#include <array>
#include <cmath>

namespace ticklark::artwork {
namespace {

struct ChevronColours {
  Colour light;
  Colour mid;
  Colour dark;
  Colour outline;
};

constexpr ChevronColours kGreen{Hex(0x7CEB66), Hex(0x22C244), Hex(0x086A20), Hex(0x03330E)};
constexpr ChevronColours kRed{Hex(0xFF5E50), Hex(0xEA222B), Hex(0x8C0913), Hex(0x420307)};

struct Chevron {
  double cx;
  double y;  // top of the chevron's box
  double width;
  double rise;
  double thickness;
  bool up;
};

void AddChevronPath(cairo_t* cr, const Chevron& c, double dy = 0) {
  const double left = c.cx - c.width / 2;
  const double right = c.cx + c.width / 2;
  const double y = c.y + dy;
  if (c.up) {
    cairo_move_to(cr, left, y + c.rise);
    cairo_line_to(cr, c.cx, y);
    cairo_line_to(cr, right, y + c.rise);
    cairo_line_to(cr, right, y + c.rise + c.thickness);
    cairo_line_to(cr, c.cx, y + c.thickness);
    cairo_line_to(cr, left, y + c.rise + c.thickness);
  } else {
    cairo_move_to(cr, left, y);
    cairo_line_to(cr, c.cx, y + c.rise);
    cairo_line_to(cr, right, y);
    cairo_line_to(cr, right, y + c.thickness);
    cairo_line_to(cr, c.cx, y + c.rise + c.thickness);
    cairo_line_to(cr, left, y + c.thickness);
  }
  cairo_close_path(cr);
}

double Measure(const EmblemShape& shape, double fraction, double width) {
  return shape.snap ? std::round(fraction * width) : fraction * width;
}

std::array<Chevron, 4> Layout(double cx, double top, double width, const EmblemShape& shape) {
  if (shape.snap) {
    top = std::round(top);
  }
  const double rise = Measure(shape, shape.rise, width);
  const double thickness = Measure(shape, shape.thickness, width);
  const double pitch = Measure(shape, shape.pitch, width);
  const double pair = pitch + rise + thickness;
  const double red_top = top + pair + Measure(shape, shape.gap, width);
  return {Chevron{cx, top, width, rise, thickness, true},
          Chevron{cx, top + pitch, width, rise, thickness, true},
          Chevron{cx, red_top, width, rise, thickness, false},
          Chevron{cx, red_top + pitch, width, rise, thickness, false}};
}

// Fills the part of the chevron that the chevron moved by |dy| does not cover:
// a band along its upper edge for positive |dy|, along its lower for negative.
void FillEdgeBand(cairo_t* cr, const Chevron& c, double dy, const Colour& colour) {
  cairo_save(cr);
  AddChevronPath(cr, c);
  cairo_clip(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  AddChevronPath(cr, c);
  AddChevronPath(cr, c, dy);
  const double height = c.rise + c.thickness;
  PatternPtr fade =
      dy > 0 ? LinearGradient(0, c.y, 0, c.y + height) : LinearGradient(0, c.y + height, 0, c.y);
  AddStop(fade.get(), 0, colour);
  AddStop(fade.get(), 1, Colour{colour.r, colour.g, colour.b, colour.a * 0.35});
  cairo_set_source(cr, fade.get());
  cairo_fill(cr);
  cairo_restore(cr);
}

void DrawChevron(cairo_t* cr, const Chevron& c, const ChevronColours& colours,
                 const EmblemFinish& finish) {
  const double height = c.rise + c.thickness;
  PatternPtr body = LinearGradient(0, c.y, 0, c.y + height);
  AddStop(body.get(), 0, colours.light);
  AddStop(body.get(), 0.5, colours.mid);
  AddStop(body.get(), 1, colours.dark);
  AddChevronPath(cr, c);
  cairo_set_source(cr, body.get());
  cairo_fill(cr);

  const double band = c.thickness * finish.bevel;
  if (finish.highlight > 0) {
    FillEdgeBand(cr, c, band, Hex(0xFFFFFF, finish.highlight));
  }
  if (finish.shade > 0) {
    FillEdgeBand(cr, c, -band, Hex(0x000000, finish.shade));
  }
  if (finish.outline_width > 0) {
    AddChevronPath(cr, c);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_width(cr, finish.outline_width);
    SetColour(cr, colours.outline);
    cairo_stroke(cr);
  }
}

}  // namespace

double EmblemHeight(const EmblemShape& shape, double width) {
  const std::array<Chevron, 4> chevrons = Layout(0, 0, width, shape);
  return chevrons[3].y + chevrons[3].rise + chevrons[3].thickness;
}

void DrawEmblem(cairo_t* cr, double cx, double top, double width, const EmblemShape& shape,
                const EmblemFinish& finish) {
  const std::array<Chevron, 4> chevrons = Layout(cx, top, width, shape);
  for (std::size_t i = 0; i < chevrons.size(); ++i) {
    DrawChevron(cr, chevrons[i], i < 2 ? kGreen : kRed, finish);
  }
}

void FillEmblemSilhouette(cairo_t* cr, double cx, double top, double width,
                          const EmblemShape& shape, double alpha,
                          const std::optional<Colour>& tint) {
  const std::array<Chevron, 4> chevrons = Layout(cx, top, width, shape);
  for (std::size_t i = 0; i < chevrons.size(); ++i) {
    AddChevronPath(cr, chevrons[i]);
    const Colour& c = tint ? *tint : (i < 2 ? kGreen.mid : kRed.mid);
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a * alpha);
    cairo_fill(cr);
  }
}

}  // namespace ticklark::artwork
