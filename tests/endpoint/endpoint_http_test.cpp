// SPDX-License-Identifier: MIT
// The endpoint executable, started as a child process on a free loopback
// port and asked over real HTTP.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "endpoint/printable_text.hpp"
#include "endpoint/redirect_table.hpp"
#include "endpoint/request_framing.hpp"
#include "endpoint_harness.hpp"

namespace ticklark::endpoint {
namespace {

using test::EndpointProcess;
using test::RawConnection;
using test::Request;
using test::TempDir;

constexpr const char* kAdFrame = "/ticklark/viewext/ticklark_ad_frame.asp";

std::string RedirectPath(std::string_view key) {
  return "/ticklark/viewext/redirect/" + std::string(key) + ".asp";
}

RedirectTable ShippedTable() {
  std::ifstream file(test::SourceDir() + "/data/endpoint/redirects.conf");
  std::ostringstream text;
  text << file.rdbuf();
  return ParseRedirectTable(text.str(), "redirects.conf").table;
}

class EndpointHttp : public ::testing::Test {
 protected:
  // Starts the endpoint with an empty config folder (no user table) and |arguments|.
  void StartEndpoint(const std::vector<std::string>& arguments = {}) {
    ASSERT_TRUE(m_endpoint.Start(Args(arguments), m_config.path())) << m_endpoint.Log();
  }
  static std::vector<std::string> Args(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--listen", "127.0.0.1:0"});
    return arguments;
  }
  std::string Url(const std::string& path) const { return m_endpoint.BaseUrl() + path; }

  TempDir m_config;
  EndpointProcess m_endpoint;
};

TEST_F(EndpointHttp, EveryRedirectKeyAnswers302WithTheShippedAddressOnGetAndHead) {
  StartEndpoint();
  const RedirectTable shipped = ShippedTable();
  ASSERT_EQ(shipped.Size(), kRedirectKeys.size());
  for (const auto key : kRedirectKeys) {
    for (const char* method : {"GET", "HEAD"}) {
      const auto reply = Request(method, Url(RedirectPath(key)));
      EXPECT_EQ(reply.status, 302u) << method << ' ' << key << ' ' << reply.error;
      EXPECT_EQ(reply.Header("location"), *shipped.Find(key)) << method << ' ' << key;
      EXPECT_TRUE(reply.Header("location").starts_with("https://")) << key;
      EXPECT_EQ(reply.Header("cache-control"), "no-store");
    }
  }
  // One log line per request: method, path, status and time.
  EXPECT_TRUE(m_endpoint.WaitForLog(" HEAD /ticklark/viewext/redirect/rhipo.asp 302 "));
  EXPECT_EQ(m_endpoint.Stop(), 0);
}

TEST_F(EndpointHttp, AdFramePageIsSelfContainedHtml) {
  StartEndpoint();
  const auto get = Request("GET", Url(kAdFrame));
  ASSERT_EQ(get.status, 200u) << get.error;
  EXPECT_EQ(get.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_TRUE(get.body.starts_with("<!DOCTYPE html>"));
  EXPECT_NE(get.body.find("function marketStatus("), std::string::npos);
  EXPECT_NE(get.Header("content-security-policy").find("default-src 'none'"), std::string::npos);
  // Nothing in the page may lead anywhere else.
  EXPECT_EQ(get.body.find("http://"), std::string::npos);
  EXPECT_EQ(get.body.find("https://"), std::string::npos);
  EXPECT_EQ(get.body.find(" src="), std::string::npos);

  const auto head = Request("HEAD", Url(kAdFrame));
  EXPECT_EQ(head.status, 200u);
  EXPECT_TRUE(head.body.empty());
  EXPECT_EQ(head.Header("content-length"), std::to_string(get.body.size()));
}

struct OtherRequest {
  const char* method;
  const char* path;
  unsigned status;
};

TEST_F(EndpointHttp, OtherPathsAre404AndOtherMethods405) {
  StartEndpoint();
  const OtherRequest cases[] = {
      {"GET", "/", 404},
      {"GET", "/ticklark/viewext/redirect/", 404},
      {"GET", "/ticklark/viewext/redirect/.asp", 404},
      {"GET", "/ticklark/viewext/redirect/unknown.asp", 404},
      {"GET", "/ticklark/viewext/redirect/nasdaqcal", 404},
      {"GET", "/ticklark/viewext/redirect/nasdaqcal.aspx", 404},
      {"GET", "/ticklark/viewext/redirect/NASDAQCAL.asp", 404},
      {"GET", "/ticklark/viewext/redirect/nasdaqcal.asp/x", 404},
      {"GET", "/ticklark/viewext/redirect/sub/nasdaqcal.asp", 404},
      {"GET", "/ticklark/viewext/ticklark_ad_frame.htm", 404},
      {"POST", "/nowhere", 404},
      {"POST", "/ticklark/viewext/redirect/nasdaqcal.asp", 405},
      {"PUT", "/ticklark/viewext/redirect/nasdaqcal.asp", 405},
      {"DELETE", "/ticklark/viewext/redirect/rhipo.asp", 405},
      {"OPTIONS", "/ticklark/viewext/redirect/rhipo.asp", 405},
      {"POST", kAdFrame, 405},
      {"PATCH", kAdFrame, 405},
  };
  for (const auto& c : cases) {
    const auto reply = Request(c.method, Url(c.path));
    EXPECT_EQ(reply.status, c.status) << c.method << ' ' << c.path << ' ' << reply.error;
    EXPECT_EQ(reply.Header("location"), "") << c.method << ' ' << c.path;
    if (c.status == 405) {
      EXPECT_EQ(reply.Header("allow"), "GET, HEAD") << c.method << ' ' << c.path;
    }
  }
}

struct Framing {
  const char* method;
  std::vector<std::string_view> lengths;
  bool chunked;
  BodyAnswer answer;
};

TEST(RequestFraming, NoBodyIsEverReadAndADoubtfulEndIsRefused) {
  // What the requests over HTTP below leave out: how lengths are read.
  const Framing cases[] = {
      {"GET", {}, false, BodyAnswer::kNoBody},
      {"POST", {"0", "00"}, false, BodyAnswer::kNoBody},
      {"POST", {"5", "5"}, false, BodyAnswer::kTooLarge},
      {"HEAD", {}, true, BodyAnswer::kBadRequest},
      {"OPTIONS", {"2"}, false, BodyAnswer::kBadRequest},
      {"GET", {"0", "6"}, false, BodyAnswer::kBadRequest},
      {"GET", {"0"}, true, BodyAnswer::kBadRequest},
      {"POST", {"-1"}, false, BodyAnswer::kBadRequest},
      {"POST", {"+5"}, false, BodyAnswer::kBadRequest},
      {"POST", {"0x10"}, false, BodyAnswer::kBadRequest},
      {"POST", {""}, false, BodyAnswer::kBadRequest},
      {"POST", {"99999999999999999999999"}, false, BodyAnswer::kBadRequest},
  };
  for (const Framing& c : cases) {
    RequestFraming framing{c.method, c.lengths, c.chunked};
    EXPECT_EQ(JudgeBody(framing), c.answer)
        << c.method << " lengths " << c.lengths.size() << " chunked " << c.chunked;
  }
  std::vector<std::string_view> split;
  AppendContentLengths(" 5 ,6,\t7", split);
  EXPECT_EQ(split, (std::vector<std::string_view>{"5", "6", "7"}));
}

TEST(PrintableText, ControlCharactersAndBrokenUtf8AreEscaped) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"plain text / 1.5 %", "plain text / 1.5 %"},
      {"Zürich €", "Zürich €"},
      {std::string_view("a\0b", 3), "a\\x00b"},
      {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
      {"line\r\nforged", "line\\x0d\\x0aforged"},
      {"back\\slash", "back\\x5cslash"},
      {"\x7f\xc2\x9b\xc2\xa0", "\\x7f\\xc2\\x9b\xc2\xa0"},  // DEL, C1 CSI, no-break space
      {"\xff\xc3", "\\xff\\xc3"},
      {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},  // overlong
  };
  for (const auto& [text, escaped] : cases) {
    EXPECT_EQ(EscapeControls(text), escaped) << escaped;
  }
}

struct BodyCase {
  const char* name;
  std::string request;
  unsigned status;
  bool closed;
};

// Requests whose headers announce a body, or leave its end in doubt, are
// answered at once and their connection closed; what follows in the body is
// never taken for a request.
TEST_F(EndpointHttp, BodiesAreRefusedAndDoubtfulLengthsCloseTheConnection) {
  StartEndpoint();
  const std::string head = std::string(kAdFrame) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  const std::string smuggled = "GET " + std::string(kAdFrame) + " HTTP/1.1\r\nHost: x\r\n\r\n";
  const BodyCase cases[] = {
      {"two lengths", "GET " + head + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", 400,
       true},
      {"two lengths on one line", "POST " + head + "Content-Length: 5, 6\r\n\r\nhello!", 400, true},
      {"chunked and a length",
       "POST " + head + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" +
           smuggled,
       400, true},
      {"a body on POST", "POST " + head + "Content-Length: 10\r\n\r\n0123456789", 413, true},
      {"a chunked body",
       "PUT " + head + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 413, true},
      {"a body on GET",
       "GET " + head + "Content-Length: " + std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled,
       400, true},
      {"an empty body", "GET " + head + "Content-Length: 0\r\n\r\n", 200, false},
      {"no body on POST", "POST " + head + "Content-Length: 0\r\n\r\n", 405, false},
  };
  for (const BodyCase& c : cases) {
    RawConnection connection(m_endpoint.port());
    ASSERT_TRUE(connection.connected()) << c.name;
    ASSERT_TRUE(connection.Send(c.request)) << c.name;
    EXPECT_EQ(connection.ReadAnswer(), c.status) << c.name;
    bool closed = false;
    for (int i = 0; i < 100 && !closed; ++i) {
      closed = connection.ClosedByServer();
      std::this_thread::sleep_for(std::chrono::milliseconds(c.closed ? 20 : 2));
    }
    EXPECT_EQ(closed, c.closed) << c.name;
  }
  // Each request logged once, the smuggled one never.
  EXPECT_TRUE(m_endpoint.WaitForLog(" POST /ticklark/viewext/ticklark_ad_frame.asp 405 "));
  std::istringstream log(m_endpoint.Log());
  std::size_t lines = 0;
  for (std::string line; std::getline(log, line);) {
    lines += line.starts_with("ticklark-endpoint: ") ? 0u : 1u;
  }
  EXPECT_EQ(lines, std::size(cases)) << m_endpoint.Log();
}

// The answer comes before the body, and what the client sends on is dropped
// as it arrives: the endpoint's memory does not grow with it.
TEST_F(EndpointHttp, AHundredMegabyteBodyLeavesTheEndpointSmall) {
  StartEndpoint();
  constexpr std::size_t kBody = 100u << 20;
  RawConnection connection(m_endpoint.port());
  ASSERT_TRUE(connection.Send(
      "POST " + std::string(kAdFrame) +
      " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(kBody) + "\r\n\r\n"));
  EXPECT_EQ(connection.ReadAnswer(), 413u);
  const std::string block(1u << 20, 'x');
  std::size_t sent = 0;
  while (sent < kBody && connection.Send(block)) {
    sent += block.size();
  }
  const std::size_t peak = test::PeakResidentKiB(m_endpoint.pid());
  EXPECT_GT(peak, 0u);
  EXPECT_LT(peak, 50u * 1024) << "after " << sent << " bytes of the body";
  // It still answers.
  EXPECT_EQ(Request("GET", Url(kAdFrame)).status, 200u);
}

TEST_F(EndpointHttp, NoAddressIsTakenFromTheRequest) {
  StartEndpoint();
  const std::string expected = *ShippedTable().Find("nasdaqcal");
  for (const char* tail : {"?url=https://evil.example/", "?Location=https://evil.example/",
                           "#https://evil.example/"}) {
    const auto reply = Request("GET", Url(RedirectPath("nasdaqcal") + tail));
    EXPECT_EQ(reply.status, 302u) << tail;
    EXPECT_EQ(reply.Header("location"), expected) << tail;
  }
}

TEST_F(EndpointHttp, UserTableOverridesOneKey) {
  m_config.Write("Ticklark2/endpoint.conf", "# mine\nrhipo = https://ipo.example/calendar\n");
  StartEndpoint({});
  EXPECT_EQ(Request("GET", Url(RedirectPath("rhipo"))).Header("location"),
            "https://ipo.example/calendar");
  EXPECT_EQ(Request("GET", Url(RedirectPath("nasdaqcal"))).Header("location"),
            *ShippedTable().Find("nasdaqcal"));
}

TEST_F(EndpointHttp, RedirectsFileReplacesTheUserTable) {
  m_config.Write("Ticklark2/endpoint.conf", "rhipo = https://user.example/\n");
  const TempDir dir;
  const std::string file = dir.Write("r.conf", "islandhtml = http://quotes.example/html\n");
  StartEndpoint({"--redirects", file});
  EXPECT_EQ(Request("GET", Url(RedirectPath("islandhtml"))).Header("location"),
            "http://quotes.example/html");
  EXPECT_EQ(Request("GET", Url(RedirectPath("rhipo"))).Header("location"),
            *ShippedTable().Find("rhipo"));
}

struct BadTable {
  const char* name;
  const char* text;
  int line;
  const char* message_part;
};

void PrintTo(const BadTable& param, std::ostream* out) {
  *out << param.name;
}

class EndpointBadTable : public ::testing::TestWithParam<BadTable> {};

// A table with a bad line stops the endpoint from starting at all, with the
// file and line in its message.
TEST_P(EndpointBadTable, RefusesToStart) {
  const TempDir config;
  const std::string file = config.Write("Ticklark2/endpoint.conf", GetParam().text);
  EndpointProcess endpoint;
  EXPECT_FALSE(endpoint.Start({"--listen", "127.0.0.1:0"}, config.path()));
  EXPECT_EQ(endpoint.WaitForExit(), 1);
  const std::string log = endpoint.Log();
  EXPECT_NE(log.find(file + ":" + std::to_string(GetParam().line) + ": "), std::string::npos)
      << log;
  EXPECT_NE(log.find(GetParam().message_part), std::string::npos) << log;
  EXPECT_NE(log.find("not started"), std::string::npos) << log;
  EXPECT_EQ(log.find("listening"), std::string::npos) << log;
  EXPECT_FALSE(std::any_of(log.begin(), log.end(), [](char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7f;
  })) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EndpointBadTable,
    ::testing::Values(
        BadTable{"Malformed", "# x\nnasdaqcal https://a.example/\n", 2, "'key = address'"},
        BadTable{"UnknownKey", "\n\n\nquicken = https://a.example/\n", 4, "unknown key"},
        BadTable{"NotHttp", "rhipo = file:///etc/passwd\n", 1, "http or https"},
        BadTable{"Duplicate", "rhipo = https://a.example/\nrhipo = https://b.example/\n", 2,
                 "given twice"},
        // What the table holds is quoted escaped: no terminal control reaches the log.
        BadTable{"ControlCharacters", "\x1b[2J\x1b]0;x\x07\x7f\xc2\x9b = https://a.example/\n", 1,
                 "unknown key '\\x1b[2J\\x1b]0;x\\x07\\x7f\\xc2\\x9b'"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(EndpointCommandLine, MissingRedirectsFileBadListenAndHelp) {
  const TempDir config;
  EndpointProcess missing;
  EXPECT_FALSE(missing.Start({"--listen", "127.0.0.1:0", "--redirects", config.path() + "/none"},
                             config.path()));
  EXPECT_EQ(missing.WaitForExit(), 1);
  EXPECT_NE(missing.Log().find(config.path() + "/none: "), std::string::npos) << missing.Log();

  EndpointProcess bad_listen;
  EXPECT_FALSE(bad_listen.Start({"--listen", "localhost"}, config.path()));
  EXPECT_EQ(bad_listen.WaitForExit(), 2);

  EndpointProcess help;
  EXPECT_FALSE(help.Start({"--help"}, config.path()));
  EXPECT_EQ(help.WaitForExit(), 0);
}

TEST_F(EndpointHttp, ChangedTableIsPickedUpAndABrokenChangeIgnored) {
  const std::string file =
      m_config.Write("Ticklark2/endpoint.conf", "nasdaqcal = https://one.example/\n");
  StartEndpoint();
  const std::string url = Url(RedirectPath("nasdaqcal"));
  const auto location_becomes = [&](const std::string& expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Request("GET", url).Header("location") != expected) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  };
  ASSERT_EQ(Request("GET", url).Header("location"), "https://one.example/");

  // Rewritten in place.
  m_config.Write("Ticklark2/endpoint.conf", "nasdaqcal = https://two.example/\n");
  EXPECT_TRUE(location_becomes("https://two.example/")) << m_endpoint.Log();

  // A broken change is reported with its line and changes nothing.
  m_config.Write("Ticklark2/endpoint.conf",
                 "nasdaqcal = https://three.example/\nrhipo = gopher://x/\n");
  EXPECT_TRUE(m_endpoint.WaitForLog(file + ":2: ")) << m_endpoint.Log();
  EXPECT_TRUE(m_endpoint.WaitForLog("the table in force is kept"));
  EXPECT_EQ(Request("GET", url).Header("location"), "https://two.example/");

  // Saved the way editors do: a new file renamed over the old one.
  const std::string fresh =
      m_config.Write("Ticklark2/new.conf", "nasdaqcal = https://four.example/\n");
  ASSERT_EQ(std::rename(fresh.c_str(), file.c_str()), 0);
  EXPECT_TRUE(location_becomes("https://four.example/")) << m_endpoint.Log();

  // A named pipe put in its place is refused without being opened for good:
  // requests go on, answered from the table in force.
  const std::string pipe = m_config.path() + "/Ticklark2/pipe.conf";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  ASSERT_EQ(std::rename(pipe.c_str(), file.c_str()), 0);
  EXPECT_TRUE(m_endpoint.WaitForLog(file + ": not a regular file but a named pipe"))
      << m_endpoint.Log();
  EXPECT_EQ(Request("GET", url).Header("location"), "https://four.example/");

  // Removing the user's table leaves the shipped one.
  ASSERT_EQ(std::remove(file.c_str()), 0);
  EXPECT_TRUE(location_becomes(*ShippedTable().Find("nasdaqcal"))) << m_endpoint.Log();
  EXPECT_EQ(m_endpoint.Stop(), 0);
}

}  // namespace
}  // namespace ticklark::endpoint
