// SPDX-License-Identifier: MIT
#include "endpoint/command_line.hpp"

#include <charconv>
#include <memory>

#include <glib.h>

#include "platform/gobject_ptr.hpp"
#include "ticklark/version.hpp"

namespace ticklark::endpoint {

namespace {

constexpr const char* kSummary =
    "Serves the Ticklark 2 endpoint pages: the redirect pages\n"
    "/ticklark/viewext/redirect/<key>.asp and the ad frame page\n"
    "/ticklark/viewext/ticklark_ad_frame.asp.";

constexpr const char* kDescription =
    "A table file holds one 'key = address' a line and '#' comments; its\n"
    "entries replace those of the built-in table. It is read again when it\n"
    "changes; a table with errors is refused, naming file and line.\n"
    "\n"
    "Started by systemd with a listening socket (LISTEN_FDS), it serves that\n"
    "socket and --listen is not used.";

struct ContextDeleter {
  void operator()(GOptionContext* context) const { g_option_context_free(context); }
};
using ContextPtr = std::unique_ptr<GOptionContext, ContextDeleter>;

// The parser writes the option values here through the callbacks below.
struct Parsing {
  Options options;
  std::string error;
};

gboolean OnListen(const gchar*, const gchar* value, gpointer data, GError** error) {
  auto* parsing = static_cast<Parsing*>(data);
  const std::string text = value ? value : "";
  if (!ParseListenAddress(text, parsing->options.host, parsing->options.port)) {
    parsing->error = "--listen takes ADDRESS:PORT, such as 127.0.0.1:8642, not '" + text + "'";
    g_set_error_literal(error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE, parsing->error.c_str());
    return FALSE;
  }
  parsing->options.listenGiven = true;
  return TRUE;
}

gboolean OnRedirects(const gchar*, const gchar* value, gpointer data, GError** error) {
  auto* parsing = static_cast<Parsing*>(data);
  if (!value || !*value) {
    parsing->error = "--redirects needs a file name";
    g_set_error_literal(error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE, parsing->error.c_str());
    return FALSE;
  }
  parsing->options.redirects = value;
  return TRUE;
}

gboolean OnFlag(const gchar* name, const gchar*, gpointer data, GError**) {
  auto* parsing = static_cast<Parsing*>(data);
  const std::string_view option(name);
  if (option == "--version") {
    parsing->options.version = true;
  } else {
    parsing->options.help = true;
  }
  return TRUE;
}

// The entries are given in full, GLib's own --help is off: help and version
// never end the process from inside the parser.
ContextPtr NewContext(Parsing& parsing) {
  static const GOptionEntry kEntries[] = {
      {"listen", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_CALLBACK,
       reinterpret_cast<gpointer>(&OnListen),
       "Where to listen (default 127.0.0.1:8642; port 0 picks a free port; IPv6 as [::1]:8642)",
       "ADDRESS:PORT"},
      {"redirects", 0, G_OPTION_FLAG_FILENAME, G_OPTION_ARG_CALLBACK,
       reinterpret_cast<gpointer>(&OnRedirects),
       "Read redirect overrides from FILE instead of $XDG_CONFIG_HOME/Ticklark2/endpoint.conf",
       "FILE"},
      {"version", 0, G_OPTION_FLAG_NO_ARG, G_OPTION_ARG_CALLBACK,
       reinterpret_cast<gpointer>(&OnFlag), "Show the version", nullptr},
      {"help", 'h', G_OPTION_FLAG_NO_ARG, G_OPTION_ARG_CALLBACK,
       reinterpret_cast<gpointer>(&OnFlag), "Show this text", nullptr},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr}};
  ContextPtr context(g_option_context_new(nullptr));
  g_option_context_set_help_enabled(context.get(), FALSE);
  g_option_context_set_summary(context.get(), kSummary);
  g_option_context_set_description(context.get(), kDescription);
  GOptionGroup* group = g_option_group_new("ticklark-endpoint", "", "", &parsing, nullptr);
  g_option_group_add_entries(group, kEntries);
  g_option_context_set_main_group(context.get(), group);
  return context;
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string& host, unsigned& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    return false;
  }
  std::string address = text.substr(0, colon);
  if (address.front() == '[') {
    if (address.size() < 3 || address.back() != ']') {
      return false;
    }
    address = address.substr(1, address.size() - 2);
  } else if (address.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  const char* first = text.data() + colon + 1;
  const char* last = text.data() + text.size();
  unsigned value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc{} || end != last || value > 65535) {
    return false;
  }
  host = address;
  port = value;
  return true;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  Parsing parsing;
  // An option that wants a value must not take the end of the line for one:
  // GLib would say so in words of its own.
  if (!arguments.empty() && (arguments.back() == "--listen" || arguments.back() == "--redirects")) {
    return {parsing.options, arguments.back() + " needs a value"};
  }
  ContextPtr context = NewContext(parsing);
  // Unknown options stay in the list and are named below, as any other
  // argument that is not an option.
  g_option_context_set_ignore_unknown_options(context.get(), TRUE);
  platform::GStrvPtr argv(g_new0(gchar*, arguments.size() + 2));
  argv.get()[0] = g_strdup("ticklark-endpoint");
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    argv.get()[i + 1] = g_strdup(arguments[i].c_str());
  }
  // The parser takes out what it has read, in place or in a new array.
  gchar** remaining = argv.release();
  platform::GErrorPtr error;
  const bool parsed = g_option_context_parse_strv(context.get(), &remaining, platform::Out(error));
  argv.reset(remaining);
  if (!parsed) {
    if (parsing.error.empty()) {
      parsing.error = error ? error->message : "bad command line";
    }
  } else if (argv.get()[0] && argv.get()[1]) {
    parsing.error = std::string("unknown argument '") + argv.get()[1] + "'";
  }
  return {parsing.options, parsing.error};
}

std::string Usage() {
  Parsing parsing;
  ContextPtr context = NewContext(parsing);
  const platform::GCharPtr text(g_option_context_get_help(context.get(), TRUE, nullptr));
  return text.get();
}

std::string VersionText() {
  return "ticklark-endpoint " + std::to_string(kVersionMajor) + "." +
         std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision) + "\n";
}

}  // namespace ticklark::endpoint
