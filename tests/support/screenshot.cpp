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

std::string SaveScreenshot(Gtk::Widget& widget, const std::string& name) {
  const int width = widget.get_width();
  const int height = widget.get_height();
  if (width <= 0 || height <= 0) {
    return {};
  }
  GdkPaintable* paintable = gtk_widget_paintable_new(widget.gobj());
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  std::string path;
  if (node) {
    GskRenderer* renderer = gsk_cairo_renderer_new();
    if (gsk_renderer_realize(renderer, nullptr, nullptr)) {
      graphene_rect_t bounds =
          GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
      GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
      path = ShotsDir() + "/" + name + ".png";
      if (!gdk_texture_save_to_png(texture, path.c_str())) {
        path.clear();
      }
      g_object_unref(texture);
      gsk_renderer_unrealize(renderer);
    }
    g_object_unref(renderer);
    gsk_render_node_unref(node);
  }
  g_object_unref(paintable);
  return path;
}

std::string SaveScreenScreenshot(const std::string& name) {
  const std::string path = ShotsDir() + "/" + name + ".png";
  const std::string command = "import -window root '" + path + "' 2>/dev/null";
  return std::system(command.c_str()) == 0 ? path : std::string{};
}

}  // namespace ticklark::test
