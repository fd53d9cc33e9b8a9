// SPDX-License-Identifier: MIT
#include "pictures.hpp"

#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string_view>

#include "emblem.hpp"

namespace ticklark::artwork {
namespace {

constexpr double kFullCircle = 2 * std::numbers::pi;

// ---- program icon ---------------------------------------------------------

constexpr Colour kTileTop = Hex(0x1A4CB8);
constexpr Colour kTileMiddle = Hex(0x0A256C);
constexpr Colour kTileBottom = Hex(0x05143C);
constexpr Colour kTileEdge = Hex(0x020A26);
constexpr std::uint32_t kTileGlow = 0x5A96FF;

// Small icons get flatter chevrons on whole pixels, so that four of them fit
// with air between and their ends stay crisp.
constexpr EmblemShape kSmallIconShape{0.2, 0.15, 0.25, 0.1, true};
constexpr EmblemShape kLargeIconShape{0.28, 0.18, 0.28, 0.11};
constexpr double kSmallEmblemWidth = 0.3;  // half the chevron width, as a share of the icon

}  // namespace

namespace {

// The icon for a square of |size|; |soft| adds the blurred shadows and glows,
// which need a raster target.
void DrawIcon(cairo_t* cr, int size, bool soft) {
  const double s = size;
  const bool large = size >= 128;
  const double margin = large ? s / 32 : 0;
  const double tile = s - 2 * margin;
  // At least three and a half pixels, so that the smallest icon keeps clear corners.
  const double corner = std::max(tile * 0.18, 3.5);
  const auto add_tile = [&](cairo_t* c) {
    RoundedRectangle(c, margin, margin, tile, tile, corner);
  };

  if (large && soft) {
    PaintSoftened(cr, static_cast<int>(s / 80), 0.55, [&](cairo_t* c) {
      cairo_translate(c, 0, s / 96);
      add_tile(c);
      cairo_set_source_rgb(c, 0, 0, 0);
      cairo_fill(c);
    });
  }

  PatternPtr body = LinearGradient(0, margin, 0, margin + tile);
  AddStop(body.get(), 0, kTileTop);
  AddStop(body.get(), 0.55, kTileMiddle);
  AddStop(body.get(), 1, kTileBottom);
  add_tile(cr);
  cairo_set_source(cr, body.get());
  cairo_fill(cr);

  cairo_save(cr);
  add_tile(cr);
  cairo_clip(cr);
  PatternPtr glow = RadialGradient(s / 2, s * 0.5, 0, tile * 0.55);
  AddStop(glow.get(), 0, Hex(kTileGlow, 0.45));
  AddStop(glow.get(), 1, Hex(kTileGlow, 0));
  cairo_set_source(cr, glow.get());
  cairo_paint(cr);
  if (size >= 48) {
    // A soft sheen over the upper part of the tile.
    cairo_save(cr);
    cairo_translate(cr, s / 2, margin - tile * 0.2);
    cairo_scale(cr, tile * 0.8, tile * 0.62);
    cairo_arc(cr, 0, 0, 1, 0, kFullCircle);
    cairo_restore(cr);
    PatternPtr sheen = LinearGradient(0, margin, 0, margin + tile * 0.42);
    AddStop(sheen.get(), 0, Hex(0xFFFFFF, 0.20));
    AddStop(sheen.get(), 1, Hex(0xFFFFFF, 0.03));
    cairo_set_source(cr, sheen.get());
    cairo_fill(cr);
  }
  cairo_restore(cr);

  // Emblem, with a shadow beneath it and a glow around it on larger sizes.
  const bool small = size <= 48;
  const EmblemShape& shape = small ? kSmallIconShape : kLargeIconShape;
  const double emblem_width =
      small ? 2 * std::round(s * kSmallEmblemWidth) : tile * 0.74 / EmblemHeight(shape, 1);
  const double top = (s - EmblemHeight(shape, emblem_width)) / 2;
  if (size >= 48 && soft) {
    PaintSoftened(cr, static_cast<int>(std::max(2.0, s / 24)), 0.55,
                  [&](cairo_t* c) { FillEmblemSilhouette(c, s / 2, top, emblem_width, shape, 1); });
  }
  if (soft) {
    cairo_save(cr);
    if (size < 24) {
      // On the smallest icon the shadow would reach into the clear corners.
      add_tile(cr);
      cairo_clip(cr);
    }
    PaintSoftened(cr, static_cast<int>(std::max(1.0, s / 64)), 0.6, [&](cairo_t* c) {
      FillEmblemSilhouette(c, s / 2, top + std::max(1.0, s / 64), emblem_width, shape, 1,
                           Hex(0x000000));
    });
    cairo_restore(cr);
  }
  EmblemFinish finish;
  finish.outline_width = large ? s / 128 : 0;
  finish.highlight = size <= 32 ? 0.3 : 0.35;
  finish.shade = size <= 32 ? 0.2 : 0.3;
  DrawEmblem(cr, s / 2, top, emblem_width, shape, finish);

  // A light rim inside a dark edge gives the tile its border.
  const double line = std::max(1.0, s / 128);
  RoundedRectangle(cr, margin + line * 1.5, margin + line * 1.5, tile - line * 3, tile - line * 3,
                   corner - line * 1.5);
  PatternPtr rim = LinearGradient(0, margin, 0, margin + tile);
  AddStop(rim.get(), 0, Hex(0xFFFFFF, 0.40));
  AddStop(rim.get(), 0.5, Hex(0xFFFFFF, 0.08));
  AddStop(rim.get(), 1, Hex(0xFFFFFF, 0.15));
  cairo_set_source(cr, rim.get());
  cairo_set_line_width(cr, line);
  cairo_stroke(cr);
  RoundedRectangle(cr, margin + line / 2, margin + line / 2, tile - line, tile - line,
                   corner - line / 2);
  SetColour(cr, kTileEdge);
  cairo_stroke(cr);
}

}  // namespace

SurfacePtr PaintIcon(int size) {
  SurfacePtr surface = NewSurface(size, size);
  ContextPtr cr = NewContext(surface.get());
  DrawIcon(cr.get(), size, true);
  return surface;
}

void DrawIconPaths(cairo_t* cr, int size) {
  DrawIcon(cr, size, false);
}

namespace {

// ---- splash artwork -------------------------------------------------------

constexpr double kTextRight = 448;
constexpr double kNoticeBandTop = 231;

// A made-up price line that climbs, for the chart behind the title.
constexpr std::array kChartPoints = {0.30, 0.34, 0.28, 0.36, 0.41, 0.38, 0.47, 0.44,
                                     0.52, 0.49, 0.58, 0.55, 0.63, 0.60, 0.57, 0.66,
                                     0.72, 0.69, 0.77, 0.74, 0.82, 0.86, 0.83, 0.91};

void PaintSplashBackground(cairo_t* cr) {
  PatternPtr sky = LinearGradient(0, 0, 0, kSplashHeight);
  AddStop(sky.get(), 0, Hex(0x0C2660));
  AddStop(sky.get(), 0.6, Hex(0x071A48));
  AddStop(sky.get(), 1, Hex(0x030C26));
  cairo_set_source(cr, sky.get());
  cairo_paint(cr);

  PatternPtr glow = RadialGradient(116, 122, 0, 250);
  AddStop(glow.get(), 0, Hex(0x3F82F5, 0.60));
  AddStop(glow.get(), 0.35, Hex(0x2358C0, 0.30));
  AddStop(glow.get(), 1, Hex(0x2358C0, 0));
  cairo_set_source(cr, glow.get());
  cairo_paint(cr);

  PatternPtr title_glow = RadialGradient(360, 62, 0, 190);
  AddStop(title_glow.get(), 0, Hex(0x6A9CFF, 0.18));
  AddStop(title_glow.get(), 1, Hex(0x6A9CFF, 0));
  cairo_set_source(cr, title_glow.get());
  cairo_paint(cr);

  // A faint grid, strongest towards the right where the chart runs.
  PatternPtr grid = LinearGradient(150, 0, kSplashWidth, 0);
  AddStop(grid.get(), 0, Hex(0x8AB4FF, 0));
  AddStop(grid.get(), 1, Hex(0x8AB4FF, 0.09));
  for (int x = 182; x < kSplashWidth; x += 24) {
    cairo_move_to(cr, x + 0.5, 0);
    cairo_line_to(cr, x + 0.5, kNoticeBandTop);
  }
  for (int y = 14; y < kNoticeBandTop; y += 24) {
    cairo_move_to(cr, 150, y + 0.5);
    cairo_line_to(cr, kSplashWidth, y + 0.5);
  }
  cairo_set_source(cr, grid.get());
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);

  const double left = 196;
  const double step = (kSplashWidth + 6 - left) / static_cast<double>(kChartPoints.size() - 1);
  const auto chart_y = [](double v) { return 214 - v * 96; };
  for (std::size_t i = 0; i < kChartPoints.size(); ++i) {
    cairo_line_to(cr, left + step * static_cast<double>(i), chart_y(kChartPoints[i]));
  }
  cairo_path_t* line = cairo_copy_path(cr);
  cairo_line_to(cr, kSplashWidth + 6, kNoticeBandTop);
  cairo_line_to(cr, left, kNoticeBandTop);
  cairo_close_path(cr);
  PatternPtr area = LinearGradient(0, 110, 0, kNoticeBandTop);
  AddStop(area.get(), 0, Hex(0x4C8DFF, 0.20));
  AddStop(area.get(), 1, Hex(0x4C8DFF, 0));
  cairo_set_source(cr, area.get());
  cairo_fill(cr);
  cairo_append_path(cr, line);
  cairo_path_destroy(line);
  PatternPtr stroke = LinearGradient(left, 0, kSplashWidth, 0);
  AddStop(stroke.get(), 0, Hex(0x7FB2FF, 0));
  AddStop(stroke.get(), 0.3, Hex(0x7FB2FF, 0.45));
  AddStop(stroke.get(), 1, Hex(0x9FD0FF, 0.6));
  cairo_set_source(cr, stroke.get());
  cairo_set_line_width(cr, 1.5);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}

void PaintSplashEmblem(cairo_t* cr) {
  const EmblemShape shape;
  const double height = 190;
  const double width = height / EmblemHeight(shape, 1);
  const double cx = 112;
  const double top = (kNoticeBandTop - height) / 2;
  PaintSoftened(cr, 9, 0.8, [&](cairo_t* c) { FillEmblemSilhouette(c, cx, top, width, shape, 1); });
  PaintSoftened(cr, 3, 0.65, [&](cairo_t* c) {
    FillEmblemSilhouette(c, cx + 2, top + 4, width, shape, 1, Hex(0x000000));
  });
  EmblemFinish finish;
  finish.outline_width = 1.5;
  DrawEmblem(cr, cx, top, width, shape, finish);
}

// Fills the current path with a top-to-bottom gradient over |top| to |bottom|.
void FillVertical(cairo_t* cr, double top, double bottom, const Colour& upper, const Colour& middle,
                  const Colour& lower) {
  PatternPtr fill = LinearGradient(0, top, 0, bottom);
  AddStop(fill.get(), 0, upper);
  AddStop(fill.get(), 0.55, middle);
  AddStop(fill.get(), 1, lower);
  cairo_set_source(cr, fill.get());
  cairo_fill(cr);
}

void PaintSplashTexts(cairo_t* cr, const Typesetter& type) {
  const TextStyle title_style{"DejaVu Sans", PANGO_WEIGHT_BOLD, 46, false};
  LayoutPtr title = type.Layout(cr, kProductTitle, title_style);
  const InkBox title_ink = InkExtents(title.get());
  const double title_x = kTextRight - title_ink.width;
  const double title_y = 30;
  const double title_bottom = title_y + title_ink.height;

  PaintSoftened(cr, 3, 0.75, [&](cairo_t* c) {
    AddTextPath(c, title.get(), title_x + 2, title_y + 3);
    cairo_set_source_rgb(c, 0, 0, 0);
    cairo_fill(c);
  });
  // The major version takes the green of the rising chevrons.
  PangoRectangle two;
  const auto two_index = static_cast<int>(std::string_view(kProductTitle).rfind('2'));
  pango_layout_index_to_pos(title.get(), two_index, &two);
  const double split = title_x - title_ink.x + two.x / static_cast<double>(PANGO_SCALE);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, split, kSplashHeight);
  cairo_clip(cr);
  AddTextPath(cr, title.get(), title_x, title_y);
  FillVertical(cr, title_y, title_bottom, Hex(0xFFFFFF), Hex(0xE2ECFF), Hex(0xA4C2F7));
  cairo_restore(cr);
  cairo_save(cr);
  cairo_rectangle(cr, split, 0, kSplashWidth - split, kSplashHeight);
  cairo_clip(cr);
  AddTextPath(cr, title.get(), title_x, title_y);
  FillVertical(cr, title_y, title_bottom, Hex(0xC8FFB8), Hex(0x4BE063), Hex(0x1E9E3A));
  cairo_restore(cr);

  const double rule_y = title_bottom + 12.5;
  PatternPtr rule = LinearGradient(228, 0, kTextRight, 0);
  AddStop(rule.get(), 0, Hex(0x6FA8FF, 0));
  AddStop(rule.get(), 0.6, Hex(0x8CBBFF, 0.85));
  AddStop(rule.get(), 1, Hex(0xBFD8FF, 0.95));
  cairo_move_to(cr, 228, rule_y);
  cairo_line_to(cr, kTextRight, rule_y);
  cairo_set_source(cr, rule.get());
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);

  const TextStyle version_style{"DejaVu Sans", PANGO_WEIGHT_NORMAL, 16, false};
  LayoutPtr version = type.Layout(cr, kVersionLine, version_style);
  const InkBox version_ink = InkExtents(version.get());
  AddTextPath(cr, version.get(), kTextRight - version_ink.width, rule_y + 10);
  SetColour(cr, Hex(0xBCD2F5));
  cairo_fill(cr);

  // The notice sits on a darker band along the bottom edge.
  cairo_rectangle(cr, 0, kNoticeBandTop, kSplashWidth, kSplashHeight - kNoticeBandTop);
  SetColour(cr, Hex(0x020818, 0.55));
  cairo_fill(cr);
  PatternPtr edge = LinearGradient(0, 0, kSplashWidth, 0);
  AddStop(edge.get(), 0, Hex(0x6FA8FF, 0.05));
  AddStop(edge.get(), 0.5, Hex(0x6FA8FF, 0.45));
  AddStop(edge.get(), 1, Hex(0x6FA8FF, 0.05));
  cairo_move_to(cr, 0, kNoticeBandTop + 0.5);
  cairo_line_to(cr, kSplashWidth, kNoticeBandTop + 0.5);
  cairo_set_source(cr, edge.get());
  cairo_stroke(cr);

  TextStyle notice_style{"DejaVu Sans", PANGO_WEIGHT_NORMAL, 11, true};
  notice_style.pixel_size = type.FitPixelSize(cr, kSplashNotice, notice_style, kSplashWidth - 24);
  LayoutPtr notice = type.Layout(cr, kSplashNotice, notice_style);
  PangoRectangle logical;
  pango_layout_get_pixel_extents(notice.get(), nullptr, &logical);
  const double band_middle = (kNoticeBandTop + 1 + kSplashHeight) / 2;
  cairo_move_to(cr, std::round((kSplashWidth - logical.width) / 2.0),
                std::round(band_middle - logical.height / 2.0));
  pango_cairo_layout_path(cr, notice.get());
  SetColour(cr, Hex(0xA6BCE0));
  cairo_fill(cr);
}

// ---- navigation buttons ---------------------------------------------------

constexpr Colour kButtonFace = Hex(0xC0C0C0);
constexpr double kDiscRadius = 27.5;
constexpr double kDiscX = 30.5;
constexpr double kDiscY = 28.5;
constexpr double kShadowOffset = 2.5;

struct Ink {
  Colour light;
  Colour mid;
  Colour dark;
};
constexpr Ink kBlueInk{Hex(0x9ED2FF), Hex(0x3D8EFF), Hex(0x1656D8)};
constexpr Ink kRedInk{Hex(0xFF8A7E), Hex(0xFF2B24), Hex(0xC40E0E)};

void AddDisc(cairo_t* cr, double cx, double cy) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, kDiscRadius, 0, kFullCircle);
}

void PaintDisc(cairo_t* cr, double cx, double cy, bool pressed) {
  PatternPtr body = RadialGradient(cx - 7, cy - 10, 0, kDiscRadius * 1.45);
  AddStop(body.get(), 0, Hex(pressed ? 0x222222 : 0x333333));
  AddStop(body.get(), 0.55, Hex(0x0A0A0A));
  AddStop(body.get(), 1, Hex(0x000000));
  AddDisc(cr, cx, cy);
  cairo_set_source(cr, body.get());
  cairo_fill(cr);

  cairo_save(cr);
  AddDisc(cr, cx, cy);
  cairo_clip(cr);
  // Sheen on the upper half, dimmer when the disc is pushed in.
  cairo_save(cr);
  cairo_translate(cr, cx, cy - kDiscRadius * 0.42);
  cairo_scale(cr, kDiscRadius * 0.74, kDiscRadius * 0.5);
  cairo_arc(cr, 0, 0, 1, 0, kFullCircle);
  cairo_restore(cr);
  PatternPtr sheen = LinearGradient(0, cy - kDiscRadius, 0, cy);
  AddStop(sheen.get(), 0, Hex(0xFFFFFF, pressed ? 0.16 : 0.30));
  AddStop(sheen.get(), 1, Hex(0xFFFFFF, 0));
  cairo_set_source(cr, sheen.get());
  cairo_fill(cr);
  if (pressed) {
    // The face's shade falls into the hollow from the upper left.
    PaintSoftened(cr, 2, 0.7, [&](cairo_t* c) {
      cairo_rectangle(c, 0, 0, kNavWidth, kNavHeight);
      cairo_new_sub_path(c);
      cairo_arc_negative(c, cx + 1.5, cy + 1.5, kDiscRadius, 0, -kFullCircle);
      cairo_set_source_rgb(c, 0, 0, 0);
      cairo_fill(c);
    });
  }
  cairo_restore(cr);

  // A fine rim, lit from the upper left.
  cairo_arc(cr, cx, cy, kDiscRadius - 0.6, 0, kFullCircle);
  PatternPtr rim =
      LinearGradient(cx - kDiscRadius, cy - kDiscRadius, cx + kDiscRadius, cy + kDiscRadius);
  AddStop(rim.get(), 0, Hex(0x8A8A8A, pressed ? 0.5 : 0.85));
  AddStop(rim.get(), 0.5, Hex(0x3A3A3A, 0.4));
  AddStop(rim.get(), 1, Hex(0x000000, 0));
  cairo_set_source(cr, rim.get());
  cairo_set_line_width(cr, 1.2);
  cairo_stroke(cr);
}

// Chevron pointing left (|direction| -1) or right (+1), centred on (cx, cy).
void AddArrowPath(cairo_t* cr, double cx, double cy, int direction, double dx = 0, double dy = 0) {
  constexpr double kHalfHeight = 14;
  constexpr double kDepth = 14;     // from the tip to the back of the arms
  constexpr double kStroke = 10.5;  // measured across, level with the tip
  const double d = direction;
  const double tip = cx + d * (kDepth + kStroke) / 2 + dx;
  const double y = cy + dy;
  cairo_move_to(cr, tip, y);
  cairo_line_to(cr, tip - d * kDepth, y - kHalfHeight);
  cairo_line_to(cr, tip - d * (kDepth + kStroke), y - kHalfHeight);
  cairo_line_to(cr, tip - d * kStroke, y);
  cairo_line_to(cr, tip - d * (kDepth + kStroke), y + kHalfHeight);
  cairo_line_to(cr, tip - d * kDepth, y + kHalfHeight);
  cairo_close_path(cr);
}

void FillInk(cairo_t* cr, const Ink& ink, double top, double bottom) {
  FillVertical(cr, top, bottom, ink.light, ink.mid, ink.dark);
}

void PaintArrow(cairo_t* cr, double cx, double cy, int direction) {
  PaintSoftened(cr, 2, 0.55, [&](cairo_t* c) {
    AddArrowPath(c, cx, cy, direction);
    SetColour(c, kBlueInk.mid);
    cairo_fill(c);
  });
  AddArrowPath(cr, cx, cy, direction);
  FillInk(cr, kBlueInk, cy - 14, cy + 14);
  // Lit upper edges.
  cairo_save(cr);
  AddArrowPath(cr, cx, cy, direction);
  cairo_clip(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  AddArrowPath(cr, cx, cy, direction);
  AddArrowPath(cr, cx, cy, direction, 0, 1.5);
  SetColour(cr, Hex(0xFFFFFF, 0.45));
  cairo_fill(cr);
  cairo_restore(cr);
}

void PaintWord(cairo_t* cr, const Typesetter& type, double cx, double cy, const char* word,
               const TextStyle& start, double max_width, const Ink& ink) {
  TextStyle style = start;
  style.pixel_size = type.FitPixelSize(cr, word, style, max_width);
  LayoutPtr layout = type.Layout(cr, word, style);
  const InkBox box = InkExtents(layout.get());
  const double x = std::round(cx - box.width / 2);
  const double y = std::round(cy - box.height / 2);
  PaintSoftened(cr, 2, 0.5, [&](cairo_t* c) {
    AddTextPath(c, layout.get(), x, y);
    SetColour(c, ink.mid);
    cairo_fill(c);
  });
  AddTextPath(cr, layout.get(), x, y);
  FillInk(cr, ink, y, y + box.height);
}

}  // namespace

SurfacePtr PaintSplash(const Typesetter& type, int scale) {
  SurfacePtr surface = NewSurface(kSplashWidth * scale, kSplashHeight * scale);
  ContextPtr cr = NewContext(surface.get());
  cairo_scale(cr.get(), scale, scale);
  PaintSplashBackground(cr.get());
  PaintSplashEmblem(cr.get());
  PaintSplashTexts(cr.get(), type);
  return surface;
}

SurfacePtr PaintNavButton(const Typesetter& type, NavPicture picture, bool pressed, int scale,
                          Ground ground) {
  SurfacePtr surface = NewSurface(kNavWidth * scale, kNavHeight * scale);
  ContextPtr owner = NewContext(surface.get());
  cairo_t* cr = owner.get();
  cairo_scale(cr, scale, scale);
  if (ground == Ground::kFace) {
    SetColour(cr, kButtonFace);
    cairo_paint(cr);
  }

  const double cx = kDiscX + (pressed ? 1 : 0);
  const double cy = kDiscY + (pressed ? 1 : 0);
  if (!pressed) {
    PaintSoftened(cr, 2, 0.6, [&](cairo_t* c) {
      AddDisc(c, cx + kShadowOffset, cy + kShadowOffset);
      cairo_set_source_rgb(c, 0, 0, 0);
      cairo_fill(c);
    });
  }
  PaintDisc(cr, cx, cy, pressed);

  switch (picture) {
    case NavPicture::kBack:
      PaintArrow(cr, cx, cy, -1);
      break;
    case NavPicture::kForward:
      PaintArrow(cr, cx, cy, 1);
      break;
    case NavPicture::kStop:
      PaintWord(cr, type, cx, cy, "Stop", {"DejaVu Sans", PANGO_WEIGHT_BOLD, 18, true}, 42,
                kRedInk);
      break;
    case NavPicture::kRefresh:
      PaintWord(cr, type, cx, cy, "Refresh", {"DejaVu Sans Condensed", PANGO_WEIGHT_BOLD, 15, true},
                45, kBlueInk);
      break;
  }
  return surface;
}

}  // namespace ticklark::artwork
