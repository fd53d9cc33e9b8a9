// SPDX-License-Identifier: MIT
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <memory>
#include <string>

namespace ticklark::artwork {

struct GObjectUnref {
  void operator()(void* object) const;
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

struct TextStyle {
  const char* family = "DejaVu Sans";
  PangoWeight weight = PANGO_WEIGHT_NORMAL;
  double pixel_size = 12;
  // Hinted glyphs on whole pixels read better at button sizes; unhinted
  // glyphs at fractional positions keep large titles true to their outlines.
  bool hinted = false;
};

// Where the ink of a laid-out text lies, in pixels from the layout's origin.
struct InkBox {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// Lays out text in the DejaVu fonts found in one folder and in nothing else:
// the user's font configuration (substitutions, hinting, subpixel order) does
// not reach it, so the same fonts give the same pixels on every machine.
class Typesetter {
 public:
  // Throws std::runtime_error when a font file is missing from |font_dir|.
  explicit Typesetter(const std::string& font_dir);
  ~Typesetter();
  Typesetter(const Typesetter&) = delete;
  Typesetter& operator=(const Typesetter&) = delete;

  LayoutPtr Layout(cairo_t* cr, const std::string& text, const TextStyle& style) const;

  // The largest size, in quarter pixels, up to |style|'s, at which |text| is
  // at most |max_width| pixels wide.
  double FitPixelSize(cairo_t* cr, const std::string& text, TextStyle style,
                      double max_width) const;

 private:
  PangoFontMap* m_font_map;
};

InkBox InkExtents(PangoLayout* layout);

// Adds the outlines of |layout| to |cr|'s path with the top-left corner of
// its ink at (|x|, |y|).
void AddTextPath(cairo_t* cr, PangoLayout* layout, double x, double y);

}  // namespace ticklark::artwork
