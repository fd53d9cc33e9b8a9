// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

#include "web/core/pane_recovery.hpp"

namespace ticklark::web {

// Why a page could not be loaded, as a person would put it.
enum class LoadProblem {
  kNoConnection,         // the computer has no network
  kNameNotFound,         // the host's name cannot be looked up
  kRefused,              // the server refused the connection
  kTimedOut,             // the server did not answer in time
  kEndpointUnavailable,  // the program's own web endpoint did not answer
  kUntrusted,            // the site's certificate is not trusted
  kOther,
};

// A failed load as the engine reports it: the error's domain by its name
// ("g-io-error-quark", "g-resolver-error-quark", ...) and its code.
// |networkAvailable|: the desktop reports a network at all.
LoadProblem ProblemOf(std::string_view domain, int code, std::string_view address,
                      bool networkAvailable);

// Whether a failure is one the pane shows a page for; a cancelled load, or
// one the pane itself turned down or into a download, shows nothing.
bool ShowsAProblemPage(std::string_view domain, int code);

// The address is on the program's own web endpoint.
bool IsEndpointAddress(std::string_view address);

// The pane's own pages: what failed, in plain words, the address, and where
// the page can be asked for again a "Try again" link to the address itself.
// The pages run no script (their policy forbids it), load nothing and follow
// the desktop's light or dark style. The pane takes a click on the link for
// its Refresh; nothing is loaded again by itself unless |comesBackByItself|
// says so.
struct OwnPage {
  std::string address;      // the page that failed or that the notice stands in for
  bool offersRetry = true;  // a "Try again" link
  bool comesBackByItself = false;
};

// |detail| is the engine's own text for kOther, shown under the words.
std::string ProblemPage(LoadProblem problem, const OwnPage& page, std::string_view detail = {});
std::string NoticePage(PaneNotice notice, const OwnPage& page);

// Text made safe to stand inside HTML, in text and in quoted attributes.
std::string HtmlEscaped(std::string_view text);

}  // namespace ticklark::web
