// SPDX-License-Identifier: MIT
#include "web/engine/pane_view.hpp"

#include <chrono>
#include <string>

#include "web/core/guarded.hpp"
#include "web/engine/web_session.hpp"

namespace ticklark::web {

PaneView::PaneView(WebSession& session, PaneRole role, PaneBar bar, WebKitWebView* related)
    : m_session(session),
      m_view(session.NewView(related)),
      m_handlers(m_view.get()),
      m_visibility(GTK_WIDGET(m_view.get())),
      m_core(*this, [] { return std::chrono::steady_clock::now(); }, session.Timings(), role, bar) {
  for (std::size_t i = 0; i < m_timers.size(); ++i) {
    m_timers[i].pane = this;
    m_timers[i].timer = static_cast<Timer>(i);
  }
  ConnectSignals();

  gtk_overlay_set_child(m_frame.gobj(), GTK_WIDGET(m_view.get()));
  m_hangNotice.set_text("This page is not responding. Stop ends it; Refresh loads it again.");
  m_hangNotice.set_wrap(true);
  m_hangNotice.set_valign(Gtk::Align::START);
  m_hangNotice.set_halign(Gtk::Align::FILL);
  m_hangNotice.add_css_class("osd");
  m_hangNotice.set_visible(false);
  m_frame.add_overlay(m_hangNotice);
  m_frame.add_overlay(m_dialog.Widget());
}

PaneView::~PaneView() {
  if (m_frame.get_parent()) {
    // Whoever put the pane in a container takes it out; an empty frame stays
    // there until the container goes.
    g_warning("Browser pane destroyed while still placed in a container");
  }
  // Nothing reaches the pane while it goes.
  for (PaneTimer& timer : m_timers) {
    timer.source.Reset();
  }
  m_reloadSoon.Reset();
  m_handlers.DisconnectAll();
  m_watchedRequests.clear();
  m_dialog.Close();
  m_historyBeforeNotice.reset();
  // The view goes with the pane, whatever holds the frame: no view outlives
  // its policies.
  gtk_overlay_set_child(m_frame.gobj(), nullptr);
}

// --- What the core decides -------------------------------------------------

void PaneView::IssueLoad(const PaneLoad& load) {
  m_watchedRequests.clear();
  switch (load.kind) {
    case PaneLoad::Kind::kAddress:
      webkit_web_view_load_uri(View(), load.address.c_str());
      return;
    case PaneLoad::Kind::kBack:
      webkit_web_view_go_back(View());
      return;
    case PaneLoad::Kind::kForward:
      webkit_web_view_go_forward(View());
      return;
    case PaneLoad::Kind::kReload:
      webkit_web_view_reload(View());
      return;
    case PaneLoad::Kind::kCurrentEntry:
      WebKitBackForwardList* history = webkit_web_view_get_back_forward_list(View());
      if (WebKitBackForwardListItem* current = webkit_back_forward_list_get_current_item(history)) {
        webkit_web_view_go_to_back_forward_list_item(View(), current);
      } else {
        webkit_web_view_reload(View());
      }
      return;
  }
}

void PaneView::StopLoading() {
  webkit_web_view_stop_loading(View());
}

// The pane that asked remembers it until it hears of the end itself; the
// session tells the panes sharing the process that one asked.
void PaneView::EndWebProcess() {
  m_endingItsProcess = true;
  m_session.NoteProcessEndAsked();
  webkit_web_view_terminate_web_process(View());
}

// Asked while the engine tells of the ended process. WebKitGTK 2.52 drops a
// reload ordered inside that signal, and 2.42 has forgotten the page's
// address once it is over; the history has not, so the page comes back from
// its entry there, ordered from the main loop right after the signal.
void PaneView::ReloadPage() {
  m_reloadSoon.Reset(g_idle_add(OnReloadSoon, this));
}

gboolean PaneView::OnReloadSoon(gpointer data) {
  auto* pane = static_cast<PaneView*>(data);
  pane->m_reloadSoon.Forget();  // this source ends when the callback returns
  Guarded("reload", 0, [&] {
    pane->IssueLoad(PaneLoad{PaneLoad::Kind::kCurrentEntry, {}});
    return 0;
  });
  return G_SOURCE_REMOVE;
}

void PaneView::KeepHistory() {
  if (!m_historyBeforeNotice) {
    m_historyBeforeNotice.reset(webkit_web_view_get_session_state(View()));
  }
}

void PaneView::LoadOwnPage(const std::string& html, const std::string& address) {
  webkit_web_view_load_alternate_html(View(), html.c_str(), address.c_str(), nullptr);
}

void PaneView::RestoreHistory() {
  if (m_historyBeforeNotice) {
    webkit_web_view_restore_session_state(View(), m_historyBeforeNotice.get());
    m_historyBeforeNotice.reset();
  }
}

void PaneView::SetHangNoticeVisible(bool visible) {
  if (m_hangNotice.get_visible() != visible) {
    m_hangNotice.set_visible(visible);
  }
}

void PaneView::CloseScriptDialog() {
  m_dialog.Close();
}

bool PaneView::IsResponsive() const {
  return webkit_web_view_get_is_web_process_responsive(View());
}

bool PaneView::Refuses(const std::string& address) const {
  return m_session.Refuses(address.c_str());
}

bool PaneView::CanGoBack() const {
  return webkit_web_view_can_go_back(View());
}

bool PaneView::CanGoForward() const {
  return webkit_web_view_can_go_forward(View());
}

std::string PaneView::CurrentAddress() const {
  const char* uri = webkit_web_view_get_uri(View());
  return uri ? uri : "";
}

bool PaneView::IsLoading() const {
  return webkit_web_view_is_loading(View());
}

void PaneView::StartTimer(Timer timer, std::chrono::milliseconds delay) {
  PaneTimer& slot = m_timers[static_cast<std::size_t>(timer)];
  if (timer == Timer::kLostLoad) {
    slot.source.Reset(g_idle_add(OnTimerSignal, &slot));
    return;
  }
  slot.source.Reset(g_timeout_add(static_cast<guint>(delay.count()), OnTimerSignal, &slot));
}

void PaneView::StopTimer(Timer timer) {
  m_timers[static_cast<std::size_t>(timer)].source.Reset();
}

gboolean PaneView::OnTimerSignal(gpointer data) {
  auto* slot = static_cast<PaneTimer*>(data);
  slot->source.Forget();  // this source ends when the callback returns
  Guarded("timer", 0, [&] {
    slot->pane->m_core.Fire(slot->timer);
    return 0;
  });
  return G_SOURCE_REMOVE;
}

}  // namespace ticklark::web
