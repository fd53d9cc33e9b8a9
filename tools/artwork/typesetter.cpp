// SPDX-License-Identifier: MIT
#include "typesetter.hpp"

#include <fontconfig/fontconfig.h>
#include <glib-object.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <array>
#include <filesystem>
#include <stdexcept>

namespace ticklark::artwork {
namespace {

constexpr std::array kFontFiles = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf",
                                   "DejaVuSansCondensed-Bold.ttf"};
constexpr double kFitStep = 0.25;

}  // namespace

void GObjectUnref::operator()(void* object) const {
  g_object_unref(object);
}

Typesetter::Typesetter(const std::string& font_dir) {
  FcConfig* config = FcConfigCreate();
  for (const char* name : kFontFiles) {
    const std::string path = (std::filesystem::path(font_dir) / name).string();
    if (!FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(path.c_str()))) {
      FcConfigDestroy(config);
      throw std::runtime_error("cannot load the font " + path);
    }
  }
  m_font_map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
  pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(m_font_map), config);
  FcConfigDestroy(config);  // the font map holds its own reference
}

Typesetter::~Typesetter() {
  g_object_unref(m_font_map);
}

LayoutPtr Typesetter::Layout(cairo_t* cr, const std::string& text, const TextStyle& style) const {
  PangoContext* context = pango_font_map_create_context(m_font_map);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_DEFAULT);
  cairo_font_options_set_hint_style(options,
                                    style.hinted ? CAIRO_HINT_STYLE_SLIGHT : CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(
      options, style.hinted ? CAIRO_HINT_METRICS_ON : CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
  pango_context_set_round_glyph_positions(context, style.hinted);
  pango_cairo_context_set_resolution(context, 96);
  pango_cairo_update_context(cr, context);

  LayoutPtr layout(pango_layout_new(context));
  g_object_unref(context);
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, style.family);
  pango_font_description_set_weight(font, style.weight);
  pango_font_description_set_absolute_size(font, style.pixel_size * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font);
  pango_font_description_free(font);
  pango_layout_set_text(layout.get(), text.c_str(), -1);
  return layout;
}

double Typesetter::FitPixelSize(cairo_t* cr, const std::string& text, TextStyle style,
                                double max_width) const {
  while (style.pixel_size > kFitStep) {
    LayoutPtr layout = Layout(cr, text, style);
    if (InkExtents(layout.get()).width <= max_width) {
      break;
    }
    style.pixel_size -= kFitStep;
  }
  return style.pixel_size;
}

InkBox InkExtents(PangoLayout* layout) {
  PangoRectangle ink;
  pango_layout_get_extents(layout, &ink, nullptr);
  constexpr double kScale = PANGO_SCALE;
  return InkBox{ink.x / kScale, ink.y / kScale, ink.width / kScale, ink.height / kScale};
}

void AddTextPath(cairo_t* cr, PangoLayout* layout, double x, double y) {
  const InkBox ink = InkExtents(layout);
  cairo_move_to(cr, x - ink.x, y - ink.y);
  pango_cairo_layout_path(cr, layout);
}

}  // namespace ticklark::artwork
