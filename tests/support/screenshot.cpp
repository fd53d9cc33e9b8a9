// SPDX-License-Identifier: MIT
#include "support/screenshot.hpp"

#include <cstdlib>
#include <filesystem>

#include <gtkmm/snapshot.h>
#include <gtkmm/widget.h>
#include <gtkmm/widgetpaintable.h>

#include <gsk/gsk.h>
#include <gtk/gtk.h>

namespace ticklark::test {

std::string ShotsDir() {
  const char* env = std::getenv("TICKLARK_SHOTS_DIR");
  std::filesystem::path dir = env && *env ? env : "shots";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return std::filesystem::absolute(dir).string();
}

namespace {

// Renders |widget| with the cairo renderer; null when it has no size yet.
GdkTexture* RenderTexture(Gtk::Widget& widget) {
  const int width = widget.get_width();
  const int height = widget.get_height();
  if (width <= 0 || height <= 0) {
    return nullptr;
  }
  GdkPaintable* paintable = gtk_widget_paintable_new(widget.gobj());
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  GdkTexture* texture = nullptr;
  if (node) {
    GskRenderer* renderer = gsk_cairo_renderer_new();
    if (gsk_renderer_realize(renderer, nullptr, nullptr)) {
      graphene_rect_t bounds =
          GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
      texture = gsk_renderer_render_texture(renderer, node, &bounds);
      gsk_renderer_unrealize(renderer);
    }
    g_object_unref(renderer);
    gsk_render_node_unref(node);
  }
  g_object_unref(paintable);
  return texture;
}

}  // namespace

std::string SaveScreenshot(Gtk::Widget& widget, const std::string& name) {
  GdkTexture* texture = RenderTexture(widget);
  if (!texture) {
    return {};
  }
  std::string path = ShotsDir() + "/" + name + ".png";
  if (!gdk_texture_save_to_png(texture, path.c_str())) {
    path.clear();
  }
  g_object_unref(texture);
  return path;
}

Pixels RenderPixels(Gtk::Widget& widget) {
  Pixels pixels;
  GdkTexture* texture = RenderTexture(widget);
  if (!texture) {
    return pixels;
  }
  pixels.width = gdk_texture_get_width(texture);
  pixels.height = gdk_texture_get_height(texture);
  pixels.argb.resize(static_cast<std::size_t>(pixels.width) *
                     static_cast<std::size_t>(pixels.height));
  gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.argb.data()),
                       static_cast<gsize>(pixels.width) * 4);
  g_object_unref(texture);
  return pixels;
}

std::string SaveScreenScreenshot(const std::string& name) {
  const std::string path = ShotsDir() + "/" + name + ".png";
  const std::string command = "import -window root '" + path + "' 2>/dev/null";
  return std::system(command.c_str()) == 0 ? path : std::string{};
}

}  // namespace ticklark::test
