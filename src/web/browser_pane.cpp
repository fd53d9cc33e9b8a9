// SPDX-License-Identifier: MIT
#include "web/browser_pane.hpp"

#include <chrono>
#include <string>

#include "web/browser_pane_impl.hpp"
#include "web/guarded.hpp"
#include "web/pane_browsing.hpp"
#include "web/web_session.hpp"

namespace ticklark::web {

BrowserPane::Impl::Impl(WebSession& session, PaneRole role, PaneBar bar, WebKitWebView* related)
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

BrowserPane::Impl::~Impl() {
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

void BrowserPane::Impl::IssueLoad(const PaneLoad& load) {
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

void BrowserPane::Impl::StopLoading() {
  webkit_web_view_stop_loading(View());
}

// The pane that asked remembers it until it hears of the end itself; the
// session tells the panes sharing the process that one asked.
void BrowserPane::Impl::EndWebProcess() {
  m_endingItsProcess = true;
  m_session.NoteProcessEndAsked();
  webkit_web_view_terminate_web_process(View());
}

// Asked while the engine tells of the ended process. WebKitGTK 2.52 drops a
// reload ordered inside that signal, and 2.42 has forgotten the page's
// address once it is over; the history has not, so the page comes back from
// its entry there, ordered from the main loop right after the signal.
void BrowserPane::Impl::ReloadPage() {
  m_reloadSoon.Reset(g_idle_add(OnReloadSoon, this));
}

gboolean BrowserPane::Impl::OnReloadSoon(gpointer data) {
  auto* pane = static_cast<Impl*>(data);
  pane->m_reloadSoon.Forget();  // this source ends when the callback returns
  Guarded("reload", 0, [&] {
    pane->IssueLoad(PaneLoad{PaneLoad::Kind::kCurrentEntry, {}});
    return 0;
  });
  return G_SOURCE_REMOVE;
}

void BrowserPane::Impl::KeepHistory() {
  if (!m_historyBeforeNotice) {
    m_historyBeforeNotice.reset(webkit_web_view_get_session_state(View()));
  }
}

void BrowserPane::Impl::LoadOwnPage(const std::string& html, const std::string& address) {
  webkit_web_view_load_alternate_html(View(), html.c_str(), address.c_str(), nullptr);
}

void BrowserPane::Impl::RestoreHistory() {
  if (m_historyBeforeNotice) {
    webkit_web_view_restore_session_state(View(), m_historyBeforeNotice.get());
    m_historyBeforeNotice.reset();
  }
}

void BrowserPane::Impl::SetHangNoticeVisible(bool visible) {
  if (m_hangNotice.get_visible() != visible) {
    m_hangNotice.set_visible(visible);
  }
}

void BrowserPane::Impl::CloseScriptDialog() {
  m_dialog.Close();
}

bool BrowserPane::Impl::IsResponsive() const {
  return webkit_web_view_get_is_web_process_responsive(View());
}

bool BrowserPane::Impl::Refuses(const std::string& address) const {
  return m_session.Refuses(address.c_str());
}

bool BrowserPane::Impl::CanGoBack() const {
  return webkit_web_view_can_go_back(View());
}

bool BrowserPane::Impl::CanGoForward() const {
  return webkit_web_view_can_go_forward(View());
}

std::string BrowserPane::Impl::CurrentAddress() const {
  const char* uri = webkit_web_view_get_uri(View());
  return uri ? uri : "";
}

bool BrowserPane::Impl::IsLoading() const {
  return webkit_web_view_is_loading(View());
}

void BrowserPane::Impl::StartTimer(Timer timer, std::chrono::milliseconds delay) {
  PaneTimer& slot = m_timers[static_cast<std::size_t>(timer)];
  if (timer == Timer::kLostLoad) {
    slot.source.Reset(g_idle_add(OnTimerSignal, &slot));
    return;
  }
  slot.source.Reset(g_timeout_add(static_cast<guint>(delay.count()), OnTimerSignal, &slot));
}

void BrowserPane::Impl::StopTimer(Timer timer) {
  m_timers[static_cast<std::size_t>(timer)].source.Reset();
}

gboolean BrowserPane::Impl::OnTimerSignal(gpointer data) {
  auto* slot = static_cast<PaneTimer*>(data);
  slot->source.Forget();  // this source ends when the callback returns
  Guarded("timer", 0, [&] {
    slot->pane->m_core.Fire(slot->timer);
    return 0;
  });
  return G_SOURCE_REMOVE;
}

// --- BrowserPane ----------------------------------------------------------

BrowserPane::BrowserPane(WebSession& session, PaneRole role, BrowserPane* sharesProcessWith,
                         PaneBar bar)
    : m_impl(std::make_unique<Impl>(
          session, role, bar, sharesProcessWith ? sharesProcessWith->m_impl->View() : nullptr)),
      m_browsing(std::make_unique<PaneBrowsing>(m_impl->Core(), m_impl->View(), m_impl->Frame(),
                                                session)) {}

BrowserPane::~BrowserPane() = default;

void BrowserPane::Navigate(const std::string& address) {
  m_impl->Core().Navigate(address);
}

void BrowserPane::GoBack() {
  m_impl->Core().GoBack();
}

void BrowserPane::GoForward() {
  m_impl->Core().GoForward();
}

void BrowserPane::Refresh() {
  m_impl->Core().Refresh();
}

void BrowserPane::Stop() {
  m_impl->Core().Stop();
}

Gtk::Widget& BrowserPane::Widget() {
  return m_impl->Frame();
}

PaneRole BrowserPane::Role() const {
  return m_impl->Core().Policy().Role();
}

PaneNotice BrowserPane::Notice() const {
  return m_impl->Core().Notice();
}

bool BrowserPane::ShowsScriptDialog() const {
  return m_impl->ShowsScriptDialog();
}

std::string BrowserPane::CurrentAddress() const {
  return m_impl->CurrentAddress();
}

bool BrowserPane::IsLoading() const {
  return m_impl->IsLoading();
}

bool BrowserPane::CanGoBack() const {
  return m_impl->CanGoBack();
}

bool BrowserPane::CanGoForward() const {
  return m_impl->CanGoForward();
}

}  // namespace ticklark::web
