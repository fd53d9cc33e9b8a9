// SPDX-License-Identifier: MIT
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "endpoint/command_line.hpp"
#include "endpoint/embedded_files.hpp"
#include "endpoint/redirect_source.hpp"
#include "endpoint/redirect_table.hpp"
#include "endpoint/router.hpp"
#include "endpoint_harness.hpp"
#include "web/core/destinations.hpp"

namespace ticklark::endpoint {
namespace {

TEST(RedirectTableParse, AcceptsCommentsBlanksSpacingAndAddressPunctuation) {
  const auto parsed = ParseRedirectTable(
      "# comment\n"
      "\n"
      "   \t\n"
      "  nasdaqcal=https://a.example/cal\r\n"
      "rhipo   =   http://b.example/ipo?x=1&y=2#top   \n"
      "   # indented comment\n"
      "islandjava = https://c.example:8443/q",
      "t.conf");
  ASSERT_TRUE(parsed.Ok()) << parsed.errors.front().ToString();
  EXPECT_EQ(parsed.table.Size(), 3u);
  EXPECT_EQ(*parsed.table.Find("nasdaqcal"), "https://a.example/cal");
  EXPECT_EQ(*parsed.table.Find("rhipo"), "http://b.example/ipo?x=1&y=2#top");
  EXPECT_EQ(*parsed.table.Find("islandjava"), "https://c.example:8443/q");
  EXPECT_EQ(parsed.table.Find("nasdaqhm"), nullptr);
}

struct BadLine {
  const char* name;
  const char* line;
  const char* message_part;
};

void PrintTo(const BadLine& param, std::ostream* out) {
  *out << param.name;
}

class RedirectTableBadLine : public ::testing::TestWithParam<BadLine> {};

// Each bad line, put on line 3 after a good line and a comment, is reported
// with its file and line number, and the good line still parses.
TEST_P(RedirectTableBadLine, ReportedWithFileAndLine) {
  const std::string text =
      std::string("nasdaqcal = https://ok.example/\n# note\n") + GetParam().line + "\n";
  const auto parsed = ParseRedirectTable(text, "user.conf");
  ASSERT_EQ(parsed.errors.size(), 1u);
  EXPECT_EQ(parsed.errors[0].file, "user.conf");
  EXPECT_EQ(parsed.errors[0].line, 3);
  EXPECT_NE(parsed.errors[0].message.find(GetParam().message_part), std::string::npos)
      << parsed.errors[0].message;
  EXPECT_TRUE(parsed.errors[0].ToString().starts_with("user.conf:3: "));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RedirectTableBadLine,
    ::testing::Values(BadLine{"NoEquals", "nasdaqcal https://x.example/", "no '='"},
                      BadLine{"NoKey", "= https://x.example/", "key is missing"},
                      BadLine{"NoAddress", "nasdaqcal =", "address is missing"},
                      BadLine{"UnknownKey", "nasdaqfoo = https://x.example/",
                              "unknown key 'nasdaqfoo'"},
                      BadLine{"KeyCase", "NasdaqCal = https://x.example/", "unknown key"},
                      BadLine{"Ftp", "rhipo = ftp://x.example/ipo", "http or https"},
                      BadLine{"Javascript", "rhipo = javascript:alert(1)", "http or https"},
                      BadLine{"Relative", "rhipo = /ipo", "not an absolute address"},
                      BadLine{"NoHost", "rhipo = https:///ipo", "no host"},
                      BadLine{"InnerSpace", "rhipo = https://x.example/a b", "space"},
                      BadLine{"NonAscii", "rhipo = https://x.example/\xc3\xa9", "non-ASCII"},
                      BadLine{"Duplicate", "nasdaqcal = https://again.example/",
                              "given twice (first on line 1)"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(RedirectTableParse, ReportsEveryBadLine) {
  const auto parsed = ParseRedirectTable("a\nrhipo = https://x.example/\nb = c\n", "f");
  ASSERT_EQ(parsed.errors.size(), 2u);
  EXPECT_EQ(parsed.errors[0].line, 1);
  EXPECT_EQ(parsed.errors[1].line, 3);
}

// A shipped default without all ten keys is refused even when the file names the rest.
TEST(LoadRedirectTable, DefaultMustNameEveryKey) {
  const test::TempDir dir;
  const std::string path = dir.Write("over.conf", "rhipo = https://u.example/ipo\n");
  const auto loaded = LoadRedirectTable("nasdaqcal = https://d.example/\n", "d", path, false);
  ASSERT_FALSE(loaded.Ok());
  EXPECT_EQ(loaded.errors[0].ToString(), "d: no address for 'islandjava'");
}

// The user's table is read from a regular file of at most 1 MiB; anything else
// is refused without reading it (a named pipe would block, /dev/zero never end).
struct TableFileCase {
  const char* name;
  const char* message_part;  // nullptr: accepted
};

class LoadRedirectTableFile : public ::testing::TestWithParam<TableFileCase> {};

TEST_P(LoadRedirectTableFile, RegularFilesUpTo1MiBOnly) {
  const test::TempDir dir;
  const std::string kind = GetParam().name;
  std::string path = dir.path() + "/endpoint.conf";
  if (kind == "NamedPipe") {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  } else if (kind == "Folder") {
    std::filesystem::create_directory(path);
  } else if (kind == "Device") {
    path = "/dev/zero";
  } else {
    std::string text = "rhipo = https://u.example/ipo\n";
    text.resize(kind == "AtTheLimit" ? 1 << 20 : (1 << 20) + 1, '#');
    dir.Write("endpoint.conf", text);
  }
  std::string defaults;
  for (const auto key : kRedirectKeys) {
    defaults += std::string(key) + " = https://d.example/\n";
  }
  const auto loaded = LoadRedirectTable(defaults, "d", path, false);
  if (!GetParam().message_part) {
    ASSERT_TRUE(loaded.Ok()) << loaded.errors.front().ToString();
    EXPECT_EQ(*loaded.table->Find("rhipo"), "https://u.example/ipo");
    return;
  }
  ASSERT_EQ(loaded.errors.size(), 1u);
  EXPECT_EQ(loaded.errors[0].file, path);
  EXPECT_NE(loaded.errors[0].message.find(GetParam().message_part), std::string::npos)
      << loaded.errors[0].message;
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoadRedirectTableFile,
                         ::testing::Values(TableFileCase{"NamedPipe", "a named pipe"},
                                           TableFileCase{"Folder", "a folder"},
                                           TableFileCase{"Device", "a device"},
                                           TableFileCase{"OverTheLimit", "larger than 1 MiB"},
                                           TableFileCase{"AtTheLimit", nullptr}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

struct ListenCase {
  const char* text;
  bool ok;
  const char* host;
  unsigned port;
};

// The endpoint serves every endpoint page the program asks for, and nothing
// the program never asks for.
TEST(EndpointPaths, TheEndpointServesWhatTheProgramAsksForAndNothingElse) {
  const ParsedTable defaults = ParseRedirectTable(DefaultRedirects(), "default");
  ASSERT_TRUE(defaults.Ok());
  const web::DestinationCatalogue catalogue("http://127.0.0.1:8642");
  std::set<std::string> asked;
  for (const web::Destination key : web::kAllDestinations) {
    if (!web::IsEndpointPage(key)) {
      continue;
    }
    const std::string path = catalogue.Address(key).substr(catalogue.EndpointBase().size());
    asked.insert(path);
    const Response answer = Route("GET", path, defaults.table, AdFramePage());
    EXPECT_TRUE(answer.status == 200 || answer.status == 302) << path << " " << answer.status;
  }
  std::set<std::string> served{std::string(kAdFramePath)};
  for (const std::string_view key : kRedirectKeys) {
    const std::string path =
        std::string(kRedirectPrefix) + std::string(key) + std::string(kRedirectSuffix);
    EXPECT_EQ(Route("GET", path, defaults.table, AdFramePage()).status, 302u) << path;
    served.insert(path);
  }
  EXPECT_EQ(asked, served);
}

TEST(CommandLine, ListenAddresses) {
  const ListenCase cases[] = {
      {"127.0.0.1:8642", true, "127.0.0.1", 8642},
      {"0.0.0.0:0", true, "0.0.0.0", 0},
      {"[::1]:9000", true, "::1", 9000},
      {"::1:9000", false, "", 0},
      {"127.0.0.1", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {":80", false, "", 0},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:80x", false, "", 0},
      {"[::1:80", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string host;
    unsigned port = 1;
    EXPECT_EQ(ParseListenAddress(c.text, host, port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
}

TEST(CommandLine, OptionsAndMistakes) {
  const auto parsed = ParseCommandLine({"--redirects", "r.conf", "--listen=[::1]:1"});
  ASSERT_TRUE(parsed.Ok()) << parsed.error;
  EXPECT_EQ(parsed.options.redirects, "r.conf");
  EXPECT_EQ(parsed.options.host, "::1");
  EXPECT_EQ(parsed.options.port, 1u);
  EXPECT_FALSE(parsed.options.version || parsed.options.help);
  EXPECT_TRUE(ParseCommandLine({"--version"}).options.version);
  EXPECT_TRUE(ParseCommandLine({"-h"}).options.help);
  EXPECT_TRUE(ParseCommandLine({"--listen", "127.0.0.1:1"}).options.listenGiven);
  for (const std::vector<std::string>& bad :
       std::initializer_list<std::vector<std::string>>{{"--redirects"},
                                                       {"--redirects="},
                                                       {"--listen", "8642"},
                                                       {"--listen"},
                                                       {"--listen="},
                                                       {"--port=1"},
                                                       {"-x"},
                                                       {"extra"},
                                                       {"--version", "extra"}}) {
    EXPECT_FALSE(ParseCommandLine(bad).Ok()) << bad.front();
  }
  EXPECT_EQ(ParseCommandLine({"--port=1"}).error, "unknown argument '--port=1'");
}

}  // namespace
}  // namespace ticklark::endpoint
