// The request and response machines driven as the session loop drives
// them, against in-memory peers: what reaches the unit, what reaches the
// browser, and when the session ends. Transcripts are also replayed split
// at every offset and one byte at a time: the result must not depend on
// how the bytes arrive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gateway/endpoint.h"
#include "gateway/forms_capture.h"
#include "gateway/request_machine.h"
#include "gateway/response_machine.h"
#include "platform/net.h"
#include "tests/gateway/fake_transport.h"

namespace {

bool gateway_at_10_0_0_5(uint32_t* addr) {
  *addr = net::inet_addr("10.0.0.5");
  return true;
}
bool no_address(uint32_t*) { return false; }

struct Outcome {
  std::string to_unit;
  std::string to_browser;
  std::string unit_name;
  int passes = 0;
  int browser_state = 0;
  int unit_state = 0;
};

class MachinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_host_address_source(gateway_at_10_0_0_5);
    ipx_present.store(1);
  }
  void TearDown() override { set_host_address_source(nullptr); }

  Outcome exchange(std::vector<std::string> request,
                   std::vector<std::string> reply, bool unit_closes = true,
                   bool browser_closes = false) {
    fake::Peer browser, unit;
    browser.script = std::move(request);
    browser.close_at_end = browser_closes;
    unit.script = std::move(reply);
    unit.close_at_end = unit_closes;
    GatewaySession s;
    fake::wire_session(&s, &browser, &unit);
    Outcome o;
    o.passes = fake::run_machines(&s);
    flush_buffer(&s.browser);  // as the session end does
    o.browser_state = s.browser.state;
    o.unit_state = s.unit.state;
    o.unit_name = s.unit.unit_name;
    fake::unwire_session(&s);
    o.to_unit = unit.sent;
    o.to_browser = browser.sent;
    return o;
  }
  Outcome fetch(const std::string& request, const std::string& reply) {
    return exchange({request}, {reply});
  }
};

const char kGet[] = "GET /unit7-HTML/index.htm HTTP/1.1\r\n\r\n";

TEST_F(MachinesTest, RequestLineBecomesHttp10ForTheUnitsPath) {
  struct Case {
    const char* line;
    const char* to_unit;
    const char* name;
  } cases[] = {
      {"GET /VEM_123456-HTML/index.htm HTTP/1.1\r\n",
       "GET /index.htm HTTP/1.0\r\n", "VEM_123456"},
      {"GET /VEM_123456-HTML HTTP/1.1\r\n", "GET / HTTP/1.0\r\n", "VEM_123456"},
      {"GET /VEM_123456 HTTP/1.0\r\n", "GET / HTTP/1.0\r\n", "VEM_123456"},
      {"GET //\\VEM_1/x HTTP/1.0\r\n", "GET /x HTTP/1.0\r\n", "VEM_1"},
      {"  POST   /u-a-b/c?d=e\r\n", "POST /c?d=e HTTP/1.0\r\n", "u"},
      {"GET / HTTP/1.0\r\n", "GET / HTTP/1.0\r\n", ""},
  };
  for (const Case& c : cases) {
    Outcome o = exchange({std::string(c.line) + "\r\n"}, {});
    EXPECT_EQ(o.to_unit, std::string(c.to_unit) + "\r\n") << c.line;
    EXPECT_EQ(o.unit_name, c.name) << c.line;
  }
  // A 90-character first segment: 79 characters of name, the path starts
  // with the 80th.
  std::string seg(90, 'n');
  Outcome o = exchange({"GET /" + seg + " HTTP/1.0\r\n\r\n"}, {});
  EXPECT_EQ(o.unit_name, seg.substr(0, 79));
  EXPECT_EQ(o.to_unit, "GET " + seg.substr(79) + " HTTP/1.0\r\n\r\n");
}

TEST_F(MachinesTest, RequestsThatEndTheSessionWithoutAnswer) {
  std::string long_url = "GET /u/" + std::string(97, 'p') + " HTTP/1.0\r\n\r\n";
  std::string long_method = std::string(100, 'M') + " /u/ HTTP/1.0\r\n\r\n";
  for (const std::string& req :
       {std::string("\r\n\r\n"), std::string("GET\r\n\r\n"), long_url,
        long_method, std::string("GET /$$REFRESH$ HTTP/1.0\r\n\r\n"),
        std::string("GET /$$Refresh$-HTML/x HTTP/1.0\r\n\r\n")}) {
    Outcome o = exchange({req}, {"HTTP/1.0 200 OK\r\n\r\nbody"});
    EXPECT_EQ(o.browser_state, request_state::GATEWAY_DEAD) << req;
    EXPECT_EQ(o.to_unit, "") << req;
    EXPECT_EQ(o.to_browser, "") << req;
  }
  // A URL of 99 characters still fits its field.
  std::string fits = "GET /u/" + std::string(96, 'p') + " HTTP/1.0\r\n\r\n";
  EXPECT_EQ(exchange({fits}, {}).to_unit,
            "GET /" + std::string(96, 'p') + " HTTP/1.0\r\n\r\n");
}

TEST_F(MachinesTest, NoIpxStackOrNoOwnAddressEndsTheSession) {
  ipx_present.store(0);
  Outcome o = exchange({"GET /VEM_123456-HTML/ HTTP/1.0\r\n\r\n"}, {});
  EXPECT_EQ(o.browser_state, request_state::GATEWAY_DEAD);
  EXPECT_EQ(o.to_unit + o.to_browser, "");
  ipx_present.store(1);
  set_host_address_source(no_address);
  o = exchange({"GET /VEM_1-HTML/ HTTP/1.0\r\n\r\n"}, {"HTTP/1.0 200 OK\r\n"});
  EXPECT_EQ(o.browser_state, request_state::GATEWAY_DEAD);
  EXPECT_EQ(o.to_unit + o.to_browser, "");
}

TEST_F(MachinesTest, SilentBrowserIsGivenUpAfterFiveWaits) {
  fake::Peer browser, unit;
  browser.close_at_end = false;
  GatewaySession s;
  fake::wire_session(&s, &browser, &unit);
  fake::run_machines(&s);
  EXPECT_EQ(s.browser.state, request_state::GATEWAY_DEAD);
  EXPECT_EQ(browser.wait_timeouts,
            (std::vector<int>{5000, 500, 500, 500, 500}));
  fake::unwire_session(&s);
}

TEST_F(MachinesTest, HeaderFilterAndHostRewriting) {
  std::string req =
      "GET /VEM_123456-HTML/a.htm HTTP/1.1\r\n"
      "Host: 10.0.0.5:34\r\n"
      "User-Agent: Mozilla\r\nReferer: http://x/\r\nAccept: */*\r\n"
      "Accept-Encoding: gzip\r\nConnection: keep-alive\r\n"
      "Keep-Alive: 300\r\nContent-Type: text/plain\r\n"
      "Accept-Language: de\r\nCookie: a=1\r\nContent-Length: 0\r\n"
      " Connection: indented\r\n\r\n";
  Outcome o = exchange({req}, {});
  EXPECT_EQ(o.to_unit,
            "GET /a.htm HTTP/1.0\r\nHost: VEM_123456\r\n"
            "Accept-Language: de\r\nCookie: a=1\r\nContent-Length: 0\r\n"
            " Connection: indented\r\n\r\n");
  // Host lines that do not carry the gateway's address pass unchanged.
  for (const char* host : {"Host: gateway.example:34\r\n",
                           "Host: 10.0.0.6:34\r\n", "HOST: 10.0.0.5\r\n"}) {
    o = exchange({std::string("GET /u/ HTTP/1.0\r\n") + host + "\r\n"}, {});
    std::string expected = std::string("GET / HTTP/1.0\r\n") + host + "\r\n";
    if (std::strstr(host, "10.0.0.5"))
      expected = "GET / HTTP/1.0\r\nHost: u\r\n\r\n";
    EXPECT_EQ(o.to_unit, expected) << host;
  }
}

TEST_F(MachinesTest, BodyIsWhatComesBeforeTheFirstPause) {
  std::string head =
      "POST /u/Forms/cfg HTTP/1.0\r\nContent-Length: 4000\r\n\r\n";
  std::string body(4000, 'b');
  Outcome o = exchange({head + body.substr(0, 1000), body.substr(1000)}, {});
  EXPECT_EQ(o.to_unit,
            "POST /Forms/cfg HTTP/1.0\r\nContent-Length: 4000\r\n\r\n" + body);
  EXPECT_EQ(o.browser_state, request_state::WAIT_FOR_DISCONNECT);
  // A part that follows a quiet wait is not forwarded.
  o = exchange({head + "early", "", "", "late"}, {});
  EXPECT_EQ(o.to_unit.substr(o.to_unit.size() - 5), "early");
}

TEST_F(MachinesTest, BrowserStoppingInItsHeadersIsBounded) {
  Outcome o = exchange({"GET /u/ HTTP/1.0\r\nHost: x\r\n"}, {});
  EXPECT_EQ(o.browser_state, request_state::GATEWAY_DEAD);
  EXPECT_EQ(o.to_browser, "");
  EXPECT_GT(o.passes, 100);  // many quiet waits, not the first one
}

TEST_F(MachinesTest, StatusLineAndHeadersOfAnHtmlReply) {
  Outcome o = fetch(kGet,
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                    "Content-Length: 28\r\nServer: unit\r\n\r\n"
                    "<a href=\"s.htm\">S</a>\r\n123\r\n");
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nServer: unit\r\n"
            "Connection: close\r\n\r\n"
            "<a href=\"http://10.0.0.5:34/unit7/s.htm\">S</a>\r\n123\r\n");
  EXPECT_EQ(o.unit_state, response_state::GATEWAY_DEAD);
  // A reply without Content-Type counts as HTML.
  o = fetch(kGet, "HTTP/1.0 404 Nope\r\n\r\n<a href=\"x\">\n");
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 404 Nope\r\nConnection: close\r\n\r\n"
            "<a href=\"http://10.0.0.5:34/unit7/x\">\n");
  // A status line without blank or tab ends it with nothing sent.
  o = fetch(kGet, "HTTP/1.0\r\n\r\n");
  EXPECT_EQ(o.to_browser, "");
}

TEST_F(MachinesTest, BinaryReplyIsRelayedRawUpToItsLength) {
  std::string gif = "GIF89a";
  for (int i = 6; i < 1234; ++i) gif.push_back(static_cast<char>(i * 7));
  gif[100] = '\0';
  gif[200] = '\n';
  Outcome o = exchange({kGet},
                       {"HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n"
                        "Content-Length: 1234\r\n\r\n" +
                            gif.substr(0, 700),
                        gif.substr(700) + "TRAILING JUNK"},
                       /*unit_closes=*/false);
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n"
            "Connection: close\r\nContent-Length: 1234\r\n\r\n" +
                gif);
  EXPECT_EQ(o.unit_state, response_state::GATEWAY_DEAD);
}

TEST_F(MachinesTest, GzipAndUnknownKindsAreRelayedRaw) {
  std::string packed("\x1f\x8b\x08\x00<a href=\"x\">", 16);
  Outcome o = fetch(kGet,
                    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"
                    "Content-Encoding: gzip\r\n\r\n" +
                        packed);
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"
            "Content-Encoding: gzip\r\nConnection: close\r\n\r\n" +
                packed);
}

TEST_F(MachinesTest, ReplyWithoutStatusLine) {
  Outcome o = fetch(kGet, "<HTML><a href=\"x\">\r\nmore\r\n");
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 200\r\nConnection: close\r\n\r\n"
            "<HTML><a href=\"x\">\r\n"
            "more\r\n");
  o = fetch(kGet, "plain <a href=\"x\">\r\n<a href=\"y\">\r\n");
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 200\r\nConnection: close\r\n\r\n"
            "plain <a href=\"x\">\r\n<a href=\"y\">\r\n");
  // Such a reply ends when the unit closes, pauses or not...
  o = exchange({kGet}, {"<html>\r\n", "", "", "", "<a href=\"z\">\r\n"});
  EXPECT_NE(o.to_browser.find("http://10.0.0.5:34/unit7/z"), std::string::npos);
  // ...and a unit that never closes it is given up.
  o = exchange({kGet}, {"<html>\r\n"}, /*unit_closes=*/false);
  EXPECT_EQ(o.unit_state, response_state::GATEWAY_DEAD);
  EXPECT_GT(o.passes, 100);
}

TEST_F(MachinesTest, LocationAndRefreshPointAtTheGateway) {
  std::string req = "GET /unit7-HTML/ HTTP/1.0\r\n\r\n";
  Outcome o = fetch(req,
                    "HTTP/1.0 302 Found\r\nLocation: http://Unit7/index.htm\r\n"
                    "Refresh: 5; URL=http://UNIT7/s.htm\r\n"
                    "Location: http://other/x\r\n\r\n");
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 302 Found\r\n"
            "Location: http://10.0.0.5:34/Unit7/index.htm\r\n"
            "Refresh: 5; URL=http://10.0.0.5:34/UNIT7/s.htm\r\n"
            "Location: http://other/x\r\nConnection: close\r\n\r\n");
  // The longest header line the unit can send still gets its insertion.
  std::string loc = "Location: http://unit7/" + std::string(509 - 23, 'p');
  o = fetch(req, "HTTP/1.0 302 Found\r\n" + loc + "\r\n\r\n");
  std::string cut = loc + "\r\n";  // 511 characters, the most a line has
  std::string expected = cut.substr(0, 17) + "10.0.0.5:34/" + cut.substr(17);
  EXPECT_EQ(o.to_browser.substr(0, 20 + expected.size()),
            "HTTP/1.0 302 Found\r\n" + expected);
}

TEST_F(MachinesTest, LongLineSwitchesToRawRelay) {
  std::string before = "<a href=\"b\">\r\n";
  std::string longline = "<a href=\"l\">" + std::string(600, 'x') + "\r\n";
  std::string after = "<a href=\"a\">\r\n";
  Outcome o =
      fetch(kGet, "HTTP/1.0 200 OK\r\n\r\n" + before + longline + after);
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n"
            "<a href=\"http://10.0.0.5:34/unit7/b\">\r\n" +
                longline + after);
}

TEST_F(MachinesTest, BodyEndsAtTheSecondPause) {
  Outcome o = exchange(
      {kGet},
      {"HTTP/1.0 200 OK\r\n\r\none\r\n", "", "two\r\n", "", "three\r\n"},
      /*unit_closes=*/false);
  EXPECT_EQ(o.to_browser,
            "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\none\r\ntwo\r\n");
  // A declared length ends the relay without any wait.
  o = exchange({kGet},
               {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n"
                "Content-Length: 3\r\n\r\nabc"},
               /*unit_closes=*/false);
  EXPECT_EQ(o.to_browser.substr(o.to_browser.size() - 3), "abc");
  EXPECT_EQ(o.unit_state, response_state::GATEWAY_DEAD);
}

TEST_F(MachinesTest, SilentUnitBeforeOrInItsHeadersIsBounded) {
  for (const char* reply : {"", "HTTP/1.0 200 OK\r\nX: y\r\n"}) {
    Outcome o = exchange({kGet}, {reply}, /*unit_closes=*/false);
    EXPECT_EQ(o.unit_state, response_state::GATEWAY_DEAD) << reply;
    EXPECT_GT(o.passes, 100) << reply;
  }
}

// The transcripts that must not depend on chunking.
struct Transcript {
  std::string request, reply;
};

Transcript full_transcript() {
  std::string body =
      "<form action=\"http://UNIT7/Forms/cfg\">\r\n"
      "<a href=\"back.htm\">previous page</a>\r\n"
      "<IMG SRC = \"/logo.gif\"> <a href=\"javascript:go()\">\r\n"
      "<script>window.open(\"/w.htm\")</script>\r\n"
      "<a href='q'> <a href=\"http://elsewhere/\">\r\n";
  return {
      "GET /unit7-HTML/index.htm HTTP/1.1\r\nHost: 10.0.0.5:34\r\n"
      "User-Agent: x\r\nCookie: c=1\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\nLocation: http://unit7/x\r\n\r\n" +
          body};
}

TEST_F(MachinesTest, TranscriptDoesNotDependOnChunking) {
  Transcript t = full_transcript();
  forms_capture_set("", 0);
  Outcome whole = fetch(t.request, t.reply);
  EXPECT_EQ(whole.to_unit,
            "GET /index.htm HTTP/1.0\r\nHost: unit7\r\nCookie: c=1\r\n\r\n");
  EXPECT_NE(whole.to_browser.find("Location: http://10.0.0.5:34/unit7/x\r\n"),
            std::string::npos);
  EXPECT_NE(whole.to_browser.find("/unit7/cfgback.htm"), std::string::npos);
  EXPECT_NE(whole.to_browser.find("SRC = \"http://10.0.0.5:34/unit7/logo.gif"),
            std::string::npos);
  EXPECT_NE(
      whole.to_browser.find("window.open(\"http://10.0.0.5:34/unit7/w.htm"),
      std::string::npos);
  for (size_t i = 1; i < t.request.size(); ++i) {
    Outcome o = exchange(fake::split_at(t.request, i), {t.reply});
    ASSERT_EQ(o.to_unit, whole.to_unit) << "request split at " << i;
    ASSERT_EQ(o.to_browser, whole.to_browser) << "request split at " << i;
  }
  for (size_t i = 1; i < t.reply.size(); ++i) {
    forms_capture_set("", 0);
    Outcome o = exchange({t.request}, fake::split_at(t.reply, i));
    ASSERT_EQ(o.to_browser, whole.to_browser) << "reply split at " << i;
  }
  forms_capture_set("", 0);
  Outcome bytes =
      exchange(fake::single_bytes(t.request), fake::single_bytes(t.reply));
  EXPECT_EQ(bytes.to_unit, whole.to_unit);
  EXPECT_EQ(bytes.to_browser, whole.to_browser);
}

TEST_F(MachinesTest, RefreshIsRecognisedHoweverItArrives) {
  std::string req = "GET /$$refresh$ HTTP/1.0\r\nHost: x\r\n\r\n";
  for (size_t i = 1; i < req.size(); ++i) {
    Outcome o = exchange(fake::split_at(req, i), {"HTTP/1.0 200 OK\r\n\r\n"});
    ASSERT_EQ(o.to_unit, "") << i;
    ASSERT_EQ(o.browser_state, request_state::GATEWAY_DEAD) << i;
  }
  Outcome o = exchange(fake::single_bytes(req), {});
  EXPECT_EQ(o.to_unit, "");
  EXPECT_EQ(o.browser_state, request_state::GATEWAY_DEAD);
}

}  // namespace
