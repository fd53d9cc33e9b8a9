// SPDX-License-Identifier: MIT
#include "web/engine/pane_visibility.hpp"

#include <memory>

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
  m_settle.Reset();
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
  if (m_watch) {
    // Not while GTK realizes and maps the view.
    m_settle.Reset(g_idle_add_full(G_PRIORITY_DEFAULT, &PaneVisibility::OnSettle, this, nullptr));
  }
}

gboolean PaneVisibility::OnSettle(gpointer self) {
  auto* visibility = static_cast<PaneVisibility*>(self);
  visibility->m_settle.Forget();
  if (visibility->m_watch) {
    visibility->Show(!visibility->m_watch->IsHidden());
  }
  return G_SOURCE_REMOVE;
}

// A view taken off the screen is shown again once GTK has taken it down: in
// another window, it would otherwise never be mapped, nor realized, again.
// Mapped now, it would be mapped in the middle of being unrealized.
void PaneVisibility::Leave() {
  m_settle.Reset();
  m_watch.reset();
  m_hadFocus = false;
  if (!gtk_widget_get_child_visible(m_view)) {
    auto view = std::make_shared<platform::WeakRef<GtkWidget>>(m_view);
    platform::RunWhenIdle(
        [view] {
          if (const auto held = view->Get()) {
            gtk_widget_set_child_visible(held.get(), TRUE);
          }
        },
        G_PRIORITY_HIGH_IDLE);
  }
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
