// SPDX-License-Identifier: MIT
#include "web/pane_visibility.hpp"

#include <gtk/gtk.h>

#include "platform/x11_window_visibility.hpp"

namespace ticklark::web {

namespace {

void OnRealizeSignal(GtkWidget*, gpointer self) {
  static_cast<PaneVisibility*>(self)->Follow();
}

void OnUnrealizeSignal(GtkWidget*, gpointer self) {
  static_cast<PaneVisibility*>(self)->Leave();
}

}  // namespace

PaneVisibility::PaneVisibility(GtkWidget* view) : m_view(view), m_handlers(view) {
  // The view is realized once its window is, in whatever window holds it.
  m_handlers.Connect("realize", G_CALLBACK(OnRealizeSignal), this);
  m_handlers.Connect("unrealize", G_CALLBACK(OnUnrealizeSignal), this);
  if (gtk_widget_get_realized(m_view)) {
    Follow();
  }
}

PaneVisibility::~PaneVisibility() {
  m_handlers.DisconnectAll();
  m_watch.reset();
}

void PaneVisibility::Follow() {
  m_watch.reset();
  GtkRoot* root = gtk_widget_get_root(m_view);
  if (!root || !GTK_IS_WINDOW(root)) {
    return;
  }
  try {
    m_watch = platform::WatchWindowVisibility(GTK_WINDOW(root),
                                              [this](bool hidden) noexcept { Show(!hidden); });
  } catch (...) {
    g_warning("Browser pane: the window's visibility cannot be followed");
  }
}

void PaneVisibility::Leave() {
  m_watch.reset();
  Show(true);
}

// The view's container (the pane's frame) still gives the view its size and
// place while it is not a visible child: only its mapping changes.
void PaneVisibility::Show(bool shown) {
  if (static_cast<bool>(gtk_widget_get_child_visible(m_view)) == shown) {
    return;
  }
  GtkRoot* root = gtk_widget_get_root(m_view);
  if (!shown) {
    // GTK takes the focus away from a child that stops being visible.
    GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
    m_hadFocus = focus && (focus == m_view || gtk_widget_is_ancestor(focus, m_view));
    gtk_widget_set_child_visible(m_view, FALSE);
    return;
  }
  gtk_widget_set_child_visible(m_view, TRUE);
  if (m_hadFocus && root && !gtk_root_get_focus(root)) {
    gtk_widget_grab_focus(m_view);
  }
  m_hadFocus = false;
}

}  // namespace ticklark::web
