// SPDX-License-Identifier: MIT
#include "web/core/pane_pages.hpp"

#include <gio/gio.h>

#include "endpoint/paths.hpp"
#include "platform/web_address.hpp"

namespace ticklark::web {

namespace {

// The engine's own error domains, by name (g_quark_to_string), and the codes
// of failures it shows no page for.
constexpr std::string_view kNetworkErrors = "WebKitNetworkError";
constexpr int kNetworkCancelled = 302;
constexpr std::string_view kPolicyErrors = "WebKitPolicyError";
constexpr int kInterruptedByPolicy = 102;
constexpr std::string_view kMediaErrors = "WebKitMediaError";
constexpr int kMediaWillHandleLoad = 204;

bool IsDomain(std::string_view domain, GQuark quark) {
  return domain == g_quark_to_string(quark);
}

// "host" or "host:port" of an address; the address itself when it has none.
std::string_view HostOf(std::string_view address) {
  const auto scheme = address.find("://");
  if (scheme == std::string_view::npos) {
    return address;
  }
  std::string_view rest = address.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const auto user = rest.rfind('@');
  return user == std::string_view::npos ? rest : rest.substr(user + 1);
}

std::string_view PathOf(std::string_view address) {
  const auto scheme = address.find("://");
  if (scheme == std::string_view::npos) {
    return {};
  }
  const auto path = address.find('/', scheme + 3);
  return path == std::string_view::npos ? std::string_view() : address.substr(path);
}

struct Words {
  const char* title;
  std::string explanation;
};

// |host| is markup, escaped already; the explanations are markup too.
Words WordsFor(LoadProblem problem, const std::string& host, std::string_view detail) {
  switch (problem) {
    case LoadProblem::kNoConnection:
      return {"No connection",
              "This computer is not connected to a network, so the page could not be loaded."};
    case LoadProblem::kNameNotFound:
      return {"Server not found", "The name " + host +
                                      " cannot be found. The address may be mistyped, or this "
                                      "computer may not be connected to a network."};
    case LoadProblem::kRefused:
      return {"Connection refused",
              "The server at " + host + " refused the connection. The site may be down."};
    case LoadProblem::kTimedOut:
      return {"The server did not answer", host + " took too long to answer."};
    case LoadProblem::kEndpointUnavailable:
      return {"Ticklark 2's web endpoint is not available",
              "This page comes from the program's own web endpoint at " + host +
                  ", which is not running or did not answer."};
    case LoadProblem::kUntrusted:
      return {"The site's identity could not be verified",
              "The certificate of " + host + " is not trusted, so nothing was loaded from it."};
    case LoadProblem::kOther:
      break;
  }
  return {"The page could not be loaded", detail.empty() ? std::string() : HtmlEscaped(detail)};
}

Words WordsFor(PaneNotice notice) {
  switch (notice) {
    case PaneNotice::kCrashed:
      return {"This page stopped working", "The process that showed it crashed."};
    case PaneNotice::kMemoryLimit:
      return {"This page was closed", "It used too much memory."};
    case PaneNotice::kUnresponsive:
      return {"This page is not responding", ""};
    case PaneNotice::kRefused:
      return {"This page is not loaded",
              "Another user's program holds this page's address, so it is not loaded. To use "
              "another address, start Ticklark 2 with --endpoint http://127.0.0.1:PORT."};
    case PaneNotice::kStopped:
    case PaneNotice::kNone:
      break;
  }
  return {"This page was stopped", ""};
}

// One look for every page of the pane's own: a short title, what happened,
// the address, and the link that asks for the page again. Small panes (an ad
// pane is 81 pixels high) get the same on fewer lines.
std::string Page(const char* id, const Words& words, const OwnPage& page, const char* extra) {
  const std::string address = HtmlEscaped(page.address);
  std::string html =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; form-action 'none'\">"
      "<meta name=\"color-scheme\" content=\"light dark\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>";
  html += HtmlEscaped(words.title);
  html +=
      "</title><style>"
      ":root{color-scheme:light dark;--bg:#f4f6f9;--fg:#1b2330;--muted:#596477;"
      "--accent:#1d5fc9;--on-accent:#fff;--rule:#c9d1dd}"
      "@media (prefers-color-scheme:dark){:root{--bg:#1d2027;--fg:#e4e8ef;--muted:#a1abbb;"
      "--accent:#6ea2f2;--on-accent:#0f141b;--rule:#3b4250}}"
      "html,body{margin:0;height:100%}"
      "body{box-sizing:border-box;padding:min(10vh,48px) min(4vw,32px) 8px;"
      "background:var(--bg);color:var(--fg);font:13px/1.35 \"DejaVu Sans\",sans-serif}"
      "main{box-sizing:border-box;max-width:36em;padding:4px 16px;"
      "border-left:3px solid var(--rule)}"
      "h1{font-size:16px;margin:0 0 4px}"
      "p{margin:0 0 6px}"
      ".address{color:var(--muted);font-size:12px;word-break:break-all}"
      "#retry{display:inline-block;margin-top:2px;padding:4px 14px;border-radius:4px;"
      "background:var(--accent);color:var(--on-accent);font-weight:bold;text-decoration:none;"
      "white-space:nowrap}"
      "#retry:focus-visible{outline:2px solid var(--fg);outline-offset:2px}"
      "@media (max-height:160px){body{display:flex;padding:0}"
      "main{display:grid;grid-template-columns:1fr auto;column-gap:12px;align-content:center;"
      "align-items:center;width:100%;max-width:none;padding:4px 10px}"
      "main>*{grid-column:1}h1{font-size:13px;margin:0}p{margin:0;font-size:11px}"
      ".address{font-size:11px;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}"
      "#retry{grid-column:2;grid-row:1/span 4;margin:0}}"
      "</style></head><body><main><h1 id=\"";
  html += id;
  html += "\">";
  html += HtmlEscaped(words.title);
  html += "</h1>";
  if (!words.explanation.empty()) {
    html += "<p class=\"what\">" + words.explanation + "</p>";
  }
  if (extra && *extra) {
    html += "<p class=\"hint\">";
    html += extra;
    html += "</p>";
  }
  html += "<p class=\"address\" title=\"" + address + "\">" + address + "</p>";
  if (page.offersRetry) {
    html += "<a id=\"retry\" role=\"button\" href=\"" + address + "\">Try again</a>";
  }
  html += "</main></body></html>";
  return html;
}

}  // namespace

std::string HtmlEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// The endpoint serves every page the program asks it for under its folder,
// wherever --endpoint puts it.
bool IsEndpointAddress(std::string_view address) {
  return PathOf(address).starts_with(endpoint::kEndpointFolder);
}

bool ShowsAProblemPage(std::string_view domain, int code) {
  // What the engine reports without showing a page of its own either.
  if (domain == kNetworkErrors) {
    return code != kNetworkCancelled;
  }
  if (domain == kPolicyErrors) {
    return code != kInterruptedByPolicy;
  }
  if (domain == kMediaErrors) {
    return code != kMediaWillHandleLoad;
  }
  return !(IsDomain(domain, G_IO_ERROR) && code == G_IO_ERROR_CANCELLED);
}

LoadProblem ProblemOf(std::string_view domain, int code, std::string_view address,
                      bool networkAvailable) {
  if (IsDomain(domain, G_TLS_ERROR)) {
    return LoadProblem::kUntrusted;
  }
  if (IsEndpointAddress(address) && IsDomain(domain, G_IO_ERROR)) {
    // On loopback: whatever kept the connection from being made or answered
    // is the endpoint's absence, with or without a network.
    return LoadProblem::kEndpointUnavailable;
  }
  if (!networkAvailable && !platform::IsLoopbackAddress(address)) {
    // GLib 2.84 counts a computer with loopback alone as without a network.
    return LoadProblem::kNoConnection;
  }
  if (IsDomain(domain, G_RESOLVER_ERROR)) {
    // A name that cannot be looked up for now: no name server can be reached.
    return code == G_RESOLVER_ERROR_TEMPORARY_FAILURE ? LoadProblem::kNoConnection
                                                      : LoadProblem::kNameNotFound;
  }
  if (!IsDomain(domain, G_IO_ERROR)) {
    return LoadProblem::kOther;
  }
  switch (code) {
    case G_IO_ERROR_HOST_NOT_FOUND:
      return LoadProblem::kNameNotFound;
    case G_IO_ERROR_NETWORK_UNREACHABLE:
    case G_IO_ERROR_HOST_UNREACHABLE:
      return LoadProblem::kNoConnection;
    case G_IO_ERROR_CONNECTION_REFUSED:
      return LoadProblem::kRefused;
    case G_IO_ERROR_TIMED_OUT:
      return LoadProblem::kTimedOut;
    default:
      return LoadProblem::kOther;
  }
}

std::string ProblemPage(LoadProblem problem, const OwnPage& page, std::string_view detail) {
  const std::string host = HtmlEscaped(HostOf(page.address));
  return Page("problem", WordsFor(problem, "<b>" + host + "</b>", detail), page, nullptr);
}

std::string NoticePage(PaneNotice notice, const OwnPage& page) {
  const bool crashed = notice == PaneNotice::kCrashed || notice == PaneNotice::kMemoryLimit;
  return Page("notice", WordsFor(notice), page,
              crashed && page.comesBackByItself ? "It comes back by itself in a moment." : "");
}

}  // namespace ticklark::web
