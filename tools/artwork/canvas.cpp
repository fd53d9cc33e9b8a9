// SPDX-License-Identifier: MIT
#include "canvas.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace ticklark::artwork {
namespace {

constexpr int kBlurPasses = 3;

// One box-blur pass over |count| premultiplied ARGB values spaced |step| apart.
void BoxBlurLine(std::uint32_t* line, int count, int step, int radius,
                 std::vector<std::uint32_t>& scratch) {
  scratch.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    scratch[static_cast<std::size_t>(i)] = line[i * step];
  }
  const int window = 2 * radius + 1;
  std::uint32_t sums[4] = {0, 0, 0, 0};
  auto channel = [&](int index, int shift) -> std::uint32_t {
    if (index < 0 || index >= count) {
      return 0;  // outside is transparent
    }
    return (scratch[static_cast<std::size_t>(index)] >> shift) & 0xFFu;
  };
  for (int i = -radius; i <= radius; ++i) {
    for (int c = 0; c < 4; ++c) {
      sums[c] += channel(i, c * 8);
    }
  }
  const auto divisor = static_cast<std::uint32_t>(window);
  for (int i = 0; i < count; ++i) {
    std::uint32_t value = 0;
    for (int c = 0; c < 4; ++c) {
      value |= ((sums[c] + divisor / 2) / divisor) << (c * 8);
      sums[c] += channel(i + radius + 1, c * 8);
      sums[c] -= channel(i - radius, c * 8);
    }
    line[i * step] = value;
  }
}

}  // namespace

SurfacePtr NewSurface(int width, int height) {
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error("cairo could not create a surface");
  }
  return surface;
}

ContextPtr NewContext(cairo_surface_t* surface) {
  return ContextPtr(cairo_create(surface));
}

void SetColour(cairo_t* cr, const Colour& c) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void AddStop(cairo_pattern_t* pattern, double offset, const Colour& c) {
  cairo_pattern_add_color_stop_rgba(pattern, offset, c.r, c.g, c.b, c.a);
}

PatternPtr LinearGradient(double x0, double y0, double x1, double y1) {
  return PatternPtr(cairo_pattern_create_linear(x0, y0, x1, y1));
}

PatternPtr RadialGradient(double cx, double cy, double r0, double r1) {
  return PatternPtr(cairo_pattern_create_radial(cx, cy, r0, cx, cy, r1));
}

void RoundedRectangle(cairo_t* cr, double x, double y, double w, double h, double radius) {
  constexpr double kQuarter = std::numbers::pi / 2;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - radius, y + radius, radius, -kQuarter, 0);
  cairo_arc(cr, x + w - radius, y + h - radius, radius, 0, kQuarter);
  cairo_arc(cr, x + radius, y + h - radius, radius, kQuarter, 2 * kQuarter);
  cairo_arc(cr, x + radius, y + radius, radius, 2 * kQuarter, 3 * kQuarter);
  cairo_close_path(cr);
}

void Blur(cairo_surface_t* surface, int radius) {
  if (radius <= 0) {
    return;
  }
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface) / 4;
  auto* data = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface));
  std::vector<std::uint32_t> scratch;
  for (int pass = 0; pass < kBlurPasses; ++pass) {
    for (int y = 0; y < height; ++y) {
      BoxBlurLine(data + y * stride, width, 1, radius, scratch);
    }
    for (int x = 0; x < width; ++x) {
      BoxBlurLine(data + x, height, stride, radius, scratch);
    }
  }
  cairo_surface_mark_dirty(surface);
}

void PaintSoftened(cairo_t* cr, int radius, double opacity,
                   const std::function<void(cairo_t*)>& shape) {
  cairo_surface_t* target = cairo_get_target(cr);
  SurfacePtr scratch =
      NewSurface(cairo_image_surface_get_width(target), cairo_image_surface_get_height(target));
  // The shape is drawn and blurred at the target's own scale: a picture drawn
  // at twice the size gets twice the blur, not a sharper one.
  cairo_matrix_t matrix;
  cairo_get_matrix(cr, &matrix);
  {
    ContextPtr scr = NewContext(scratch.get());
    cairo_set_matrix(scr.get(), &matrix);
    shape(scr.get());
  }
  Blur(scratch.get(), static_cast<int>(std::lround(radius * matrix.xx)));
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_set_source_surface(cr, scratch.get(), 0, 0);
  cairo_paint_with_alpha(cr, opacity);
  cairo_restore(cr);
}

Image ToImage(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  Image image(width, height);
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t argb = row[x];
      const std::uint32_t a = argb >> 24;
      auto straight = [a](std::uint32_t premultiplied) {
        return static_cast<std::uint8_t>(a == 0 ? 0 : (premultiplied * 255u + a / 2) / a);
      };
      image.at(x, y) = Rgba{straight((argb >> 16) & 0xFFu), straight((argb >> 8) & 0xFFu),
                            straight(argb & 0xFFu), static_cast<std::uint8_t>(a)};
    }
  }
  return image;
}

}  // namespace ticklark::artwork
