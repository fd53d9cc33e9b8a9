// SPDX-License-Identifier: MIT
#include "web/pane_fixture.hpp"
#include "support/process_tree.hpp"

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include <unistd.h>

namespace ticklark::test {

namespace {

struct ScriptResult {
  std::optional<std::string> text;
};

std::string ValueText(JSCValue* value, GError* error) {
  if (!value) {
    std::string text = std::string("error: ") + (error ? error->message : "unknown");
    g_clear_error(&error);
    return text;
  }
  char* raw = jsc_value_to_string(value);
  std::string text = raw ? raw : "";
  g_free(raw);
  g_object_unref(value);
  return text;
}

// The callbacks own a reference, so a test that gives up waiting leaves
// nothing dangling.
using SharedResult = std::shared_ptr<ScriptResult>;

void OnEvaluated(GObject* view, GAsyncResult* result, gpointer data) {
  std::unique_ptr<SharedResult> target(static_cast<SharedResult*>(data));
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
  (*target)->text = ValueText(value, error);
}

void OnCalled(GObject* view, GAsyncResult* result, gpointer data) {
  std::unique_ptr<SharedResult> target(static_cast<SharedResult*>(data));
  GError* error = nullptr;
  JSCValue* value =
      webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), result, &error);
  (*target)->text = ValueText(value, error);
}

std::string Await(const SharedResult& result) {
  if (!PumpUntil([&] { return result->text.has_value(); })) {
    return "error: timed out";
  }
  return *result->text;
}

}  // namespace

std::vector<int> WebProcessIds() {
  std::vector<int> result;
  const std::vector<int> tree = ProcessTree(getpid());
  for (int pid : tree) {
    if (CommandName(pid).rfind("WebKitWebProces", 0) == 0) {
      result.push_back(pid);
    }
  }
  return result;
}

WebKitWebView* ViewOf(web::BrowserPane& pane) {
  return WEBKIT_WEB_VIEW(gtk_overlay_get_child(GTK_OVERLAY(pane.Widget().gobj())));
}

std::string TitleOf(web::BrowserPane& pane) {
  const char* title = webkit_web_view_get_title(ViewOf(pane));
  return title ? title : "";
}

void PaneTest::SetUpTestSuite() {
  GtkTest::SetUpTestSuite();
  Session();
}

web::WebSession& PaneTest::Session() {
  static web::WebSession* session = [] {
    InitGtkOnce();
    return new web::WebSession(Browser(), {web::WebSession::Storage::kEphemeral, std::nullopt});
  }();
  return *session;
}

RecordingBrowser& PaneTest::Browser() {
  static RecordingBrowser browser;
  return browser;
}

void PaneTest::SetUp() {
  Browser().opened.clear();
  Session().SetTimings(web::PaneTimings{});
  m_window = new Gtk::Window();
  m_window->set_default_size(820, 620);
  m_fixed = Gtk::make_managed<Gtk::Fixed>();
  m_window->set_child(*m_fixed);
  m_window->present();
}

void PaneTest::TearDown() {
  RemovePanes();
  m_window->destroy();
  delete m_window;
  m_window = nullptr;
}

web::BrowserPane& PaneTest::AddPane(web::PaneRole role, web::BrowserPane* sharesProcessWith,
                                    std::optional<web::PaneBar> bar) {
  auto pane = std::make_unique<web::BrowserPane>(
      Session(), role, sharesProcessWith,
      bar.value_or(role == web::PaneRole::kMain ? web::PaneBar::kNavigationBar
                                                : web::PaneBar::kNone));
  pane->Widget().set_size_request(400, 300);
  m_fixed->put(pane->Widget(), static_cast<double>(m_panes.size() % 2) * 410, 0);
  m_panes.push_back(std::move(pane));
  return *m_panes.back();
}

void PaneTest::RemovePanes() {
  while (!m_panes.empty()) {
    m_fixed->remove(m_panes.back()->Widget());
    m_panes.pop_back();
  }
}

void PaneTest::ServePage(const std::string& path, const std::string& title,
                         const std::string& body) {
  m_server.ServeHtml(path, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
                               "</title></head><body>" + body + "</body></html>");
}

bool PaneTest::WaitForTitle(web::BrowserPane& pane, const std::string& title,
                            std::chrono::milliseconds timeout) {
  return PumpUntil([&] { return TitleOf(pane) == title; }, timeout);
}

bool PaneTest::Open(web::BrowserPane& pane, const std::string& path, const std::string& title) {
  pane.Navigate(m_server.Address(path));
  return WaitForTitle(pane, title) && PumpUntil([&] { return !pane.IsLoading(); });
}

std::string PaneTest::Eval(web::BrowserPane& pane, const std::string& script) {
  auto result = std::make_shared<ScriptResult>();
  webkit_web_view_evaluate_javascript(ViewOf(pane), script.c_str(), -1, nullptr, nullptr, nullptr,
                                      OnEvaluated, new SharedResult(result));
  return Await(result);
}

std::string PaneTest::EvalAsync(web::BrowserPane& pane, const std::string& body) {
  auto result = std::make_shared<ScriptResult>();
  webkit_web_view_call_async_javascript_function(ViewOf(pane), body.c_str(), -1, nullptr, nullptr,
                                                 nullptr, nullptr, OnCalled,
                                                 new SharedResult(result));
  return Await(result);
}

}  // namespace ticklark::test
