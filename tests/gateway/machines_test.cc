// The request and response machines stepped as the session loop does,
// against in-memory peers: what reaches the unit and the browser, and that
// every wait ends; and the endpoint's send buffer on its own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gateway/forms_capture.h"
#include "gateway/refresh.h"
#include "gateway/request_machine.h"
#include "gateway/response_machine.h"
#include "platform/catalogue.h"
#include "tests/gateway/fake_transport.h"
#include "tests/gateway/harness.h"
#include "tests/support/scratch.h"

namespace {

using Chunks = std::vector<std::string>;
using fake::Outcome;
using fake::run_session;
using harness::via;

const char kGet[] = "GET /unit7-HTML/index.htm HTTP/1.1\r\n\r\n";
const char kHead[] = "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n";

class MachinesTest : public ::testing::Test {
  fake::QuietGateway gateway_;
};

TEST_F(MachinesTest, RequestReachesTheUnitAsHttp10) {
  std::string seg(90, 'n');
  const struct {
    std::string line, to_unit, name;
  } cases[] = {
      {"GET /VEM_123456-HTML/index.htm HTTP/1.1", "GET /index.htm HTTP/1.0",
       "VEM_123456"},
      {"GET /VEM_123456-HTML HTTP/1.1", "GET / HTTP/1.0", "VEM_123456"},
      {"GET /VEM_123456 HTTP/1.0", "GET / HTTP/1.0", "VEM_123456"},
      {"GET //\\VEM_1/x HTTP/1.0", "GET /x HTTP/1.0", "VEM_1"},
      {"  POST   /u-a-b/c?d=e", "POST /c?d=e HTTP/1.0", "u"},
      {"GET /" + seg + " HTTP/1.0", "GET " + seg.substr(79) + " HTTP/1.0",
       seg.substr(0, 79)},
      {"GET /u/" + std::string(96, 'p'),
       "GET /" + std::string(96, 'p') + " HTTP/1.0",
       "u"},  // a URL of 99 characters still fits
      {"GET /a%20b%23%3f%25%2Dx-HTML/i HTTP/1.0", "GET /i HTTP/1.0",
       "a b#?%-x"},  // names come percent-encoded
      {"GET /a%zz%0d%0A%4 HTTP/1.0", "GET / HTTP/1.0", "a%zz%0d%0A%4"},
      // Lines longer than one read are kept, replaced or dropped whole.
      {"GET /u/x HTTP/1.0" + std::string(600, ' '), "GET /x HTTP/1.0", "u"},
      {"GET /u/x HTTP/1.0\r\nCookie: " + std::string(502, 'c') +
           "\r\nUser-Agent: " + std::string(600, 'a') +
           "\r\nHost: 10.0.0.5:34" + std::string(600, ' '),
       "GET /x HTTP/1.0\r\nCookie: " + std::string(502, 'c') + "\r\nHost: u",
       "u"},
  };
  for (const auto& c : cases) {
    Outcome o = run_session({c.line + "\r\n\r\n"}, {});
    EXPECT_EQ(o.to_unit, c.to_unit + "\r\n\r\n") << c.line;
    EXPECT_EQ(o.s.unit.unit_name, c.name) << c.line;
  }
}

TEST_F(MachinesTest, RequestsThatEndWithoutAnAnswer) {
  for (const std::string& req :
       {std::string("\r\n"), std::string("GET\r\n"),
        "GET /u/" + std::string(97, 'p') + " HTTP/1.0\r\n",  // URL too long
        std::string(100, 'M') + " /u/ HTTP/1.0\r\n"}) {      // method too
    Outcome o = run_session({req + "\r\n"}, {"HTTP/1.0 200 OK\r\n\r\nbody"});
    EXPECT_EQ(o.s.browser.state, request_state::GATEWAY_DEAD) << req;
    EXPECT_EQ(o.to_unit + o.to_browser, "") << req;
  }
  // Without an IPX stack only the refresh request is answered.
  ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
  ipx_present.store(0);
  Outcome o = run_session({kGet}, {"HTTP/1.0 200 OK\r\n\r\nbody"});
  EXPECT_EQ(o.to_unit + o.to_browser, "");
  EXPECT_EQ(run_session({"GET /$$Refresh$ HTTP/1.0\r\n\r\n"}, {}).to_browser,
            catalogue_text(kRefreshRunningText));
  // A gateway without an address of its own.
  ipx_present.store(1);
  ScopedEnvironment no_address(
      {.host_address = [](uint32_t*) { return false; }});
  EXPECT_EQ(run_session({"GET /VEM_1-HTML/ HTTP/1.0\r\n\r\n"}, {}).to_unit, "");
}

TEST_F(MachinesTest, SilentAndSlowPeersAreGivenUp) {
  // A silent browser: a long first wait and four short ones, 7 s in all.
  EXPECT_EQ(run_session({}, {}).browser.wait_timeouts,
            (std::vector<int>{5000, 500, 500, 500, 500}));
  // A browser that stops in its headers, a unit silent before or in its
  // headers, a reply without status line that never ends: each ends after
  // the quiet limit (about 120 waits), not at its first quiet wait.
  EXPECT_GT(run_session({"GET /u/ HTTP/1.0\r\nHost: x\r\n"}, {}).passes, 100);
  for (const char* reply : {"", "HTTP/1.0 200 OK\r\nX: y\r\n", "<html>\r\n"}) {
    Outcome o = run_session({kGet}, {reply}, false);
    EXPECT_EQ(o.s.unit.state, response_state::GATEWAY_DEAD) << reply;
    EXPECT_GT(o.passes, 100) << reply;
  }
  // A body that keeps coming is forwarded whole past the request's minute,
  // up to a bound of minutes.
  std::string head = "POST /u/ HTTP/1.0\r\n\r\n";
  Chunks body(200, std::string(10, 'b'));
  body.insert(body.begin(), head);
  EXPECT_EQ(run_session(body, {}, true, 400).to_unit,
            "POST / HTTP/1.0\r\n\r\n" + std::string(2000, 'b'));
  body.resize(2000, "b");
  EXPECT_EQ(run_session(body, {}, true, 400).s.browser.state,
            request_state::GATEWAY_DEAD);
  // Peers that trickle a byte at a time without end are cut off as well.
  std::string endless(5000, 'h');
  Outcome o = run_session(fake::single_bytes("GET /u/ HTTP/1.0\r\n" + endless),
                          {}, true, 400);
  EXPECT_EQ(o.s.browser.state, request_state::GATEWAY_DEAD);
  EXPECT_EQ(o.to_unit, "");  // cut before the request went out
  o = run_session({kGet}, fake::single_bytes("HTTP/1.0 200 OK\r\n" + endless),
                  false, 400);
  EXPECT_EQ(o.to_browser, "HTTP/1.0 200 OK\r\n");
}

TEST_F(MachinesTest, RepliesAsTheBrowserGetsThem) {
  std::string pad(600, ' ');
  std::string gif = "GIF89a";
  for (int i = 6; i < 1234; ++i) gif.push_back(static_cast<char>(i * 7));
  std::string loc = "Location: http://unit7/" + std::string(486, 'p') + "\r\n";
  std::string longline = "<a href=\"l\">" + std::string(600, 'x') + "\r\n";
  const struct {
    const char* what;
    Chunks reply;
    std::string expected;
    std::string request = kGet;
  } cases[] = {
      {"HTML: HTTP/1.0, no length, links rewritten",
       {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 14\r\n"
        "\r\n<a href=\"x\">\r\n"},
       via("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"
           "Connection: close\r\n\r\n<a href=\"@x\">\r\n")},
      {"binary: raw, length re-added, nothing past it",
       {"HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 1234"
        "\r\n\r\n" +
            gif.substr(0, 700),
        gif.substr(700) + "JUNK"},
       "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nConnection: close\r\n"
       "Content-Length: 1234\r\n\r\n" +
           gif},
      {"no status line, HTML",
       {"<HTML><a href=\"x\">\r\n<a href=\"y\">\r\n"},
       via("HTTP/1.0 200\r\nConnection: close\r\n\r\n<HTML><a href=\"x\">"
           "\r\n<a href=\"@y\">\r\n")},
      {"no status line, other",
       {"plain\r\n<a href=\"y\">\r\n", "", "", "more"},
       "HTTP/1.0 200\r\nConnection: close\r\n\r\nplain\r\n<a href=\"y\">\r\n"
       "more"},
      {"Location and Refresh",
       {"HTTP/1.0 302 Found\r\nLocation: http://Unit7/i.htm\r\n"
        "Refresh: 5; URL=http://UNIT7/s.htm\r\nLocation: http://o/x\r\n\r\n"},
       "HTTP/1.0 302 Found\r\nLocation: http://10.0.0.5:34/Unit7/i.htm\r\n"
       "Refresh: 5; URL=http://10.0.0.5:34/UNIT7/s.htm\r\n"
       "Location: http://o/x\r\nConnection: close\r\n\r\n"},
      {"longest header line still gets its insertion",
       {"HTTP/1.0 302 Found\r\n" + loc + "\r\n"},
       "HTTP/1.0 302 Found\r\n" + loc.substr(0, 17) + "10.0.0.5:34/" +
           loc.substr(17) + (kHead + 17)},
      {"a line of 511 characters switches to raw relay",
       {"HTTP/1.0 200 OK\r\n\r\n<a href=\"b\">\r\n" + longline +
        "<a href=\"a\">\r\n"},
       kHead + via("<a href=\"@b\">\r\n") + longline + "<a href=\"a\">\r\n"},
      {"the second pause ends the body",
       {"HTTP/1.0 200 OK\r\n\r\none\r\n", "", "two\r\n", "", "three\r\n"},
       kHead + std::string("one\r\ntwo\r\n")},
      {"bad status line", {"HTTP/1.0\r\n\r\n"}, ""},
      {"a last line without line end",
       {"HTTP/1.0 200 OK\r\n\r\n<a href=\"x\">\r\n<a href=\"y\">"},
       kHead + via("<a href=\"@x\">\r\n<a href=\"@y\">")},
      {"no status line, one unfinished line",
       {"plain"},
       "HTTP/1.0 200\r\nConnection: close\r\n\r\nplain"},
      {"long header lines are relayed or dropped whole",
       {"HTTP/1.0 200 OK\r\nX-Long: " + std::string(502, 'l') +
        "\r\nContent-Length: 14" + pad + "\r\n\r\n<a href=\"x\">\r\n"},
       "HTTP/1.0 200 OK\r\nX-Long: " + std::string(502, 'l') + "\r\n" +
           (kHead + 17) + via("<a href=\"@x\">\r\n")},
      {"the unit's name is looked for in the value only",
       {"HTTP/1.0 302 Found\r\nLocation: http://L/i\r\n\r\n"},
       "HTTP/1.0 302 Found\r\nLocation: http://10.0.0.5:34/L/i\r\n" +
           std::string(kHead + 17),
       "GET /L/ HTTP/1.0\r\n\r\n"},
      {"Refresh alike",
       {"HTTP/1.0 200 OK\r\nRefresh: 1; URL=http://re/\r\n\r\n"},
       "HTTP/1.0 200 OK\r\nRefresh: 1; URL=http://10.0.0.5:34/re/\r\n" +
           std::string(kHead + 17),
       "GET /re/ HTTP/1.0\r\n\r\n"},
  };
  for (const auto& c : cases) {
    Outcome o = run_session({c.request}, c.reply, false);
    EXPECT_EQ(o.to_browser, c.expected) << c.what;
    EXPECT_EQ(o.s.unit.state, response_state::GATEWAY_DEAD) << c.what;
  }
}

TEST_F(MachinesTest, TranscriptWithHeaderFilterDoesNotDependOnChunking) {
  std::string body =
      "<form action=\"http://UNIT7/Forms/cfg\">\r\n"
      "<a href=\"back.htm\">previous page</a>\r\n"
      "<IMG SRC = \"/logo.gif\"> <a href=\"javascript:go()\">\r\n"
      "<script>window.open(\"/w.htm\")</script>\r\n";
  std::string form(1500, 'f');  // a POST body of several buffers
  std::string request =
      "POST /unit7-HTML/index.htm HTTP/1.1\r\nHost: 10.0.0.5:34\r\n"
      "User-Agent: M\r\nReferer: x\r\nAccept: */*\r\nAccept-Encoding: gzip\r\n"
      "Connection: keep-alive\r\nKeep-Alive: 300\r\nContent-Type: a/b\r\n"
      "Accept-Language: de\r\nCookie: a=1\r\nContent-Length: 1500\r\n"
      " Connection: indented\r\nHost: 10.0.0.6\r\n\r\n" +
      form;
  std::string reply =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\nLocation: http://unit7/x\r\n\r\n" +
      body;
  Outcome whole = run_session({request}, {reply}, false);
  EXPECT_EQ(whole.to_unit,
            "POST /index.htm HTTP/1.0\r\nHost: unit7\r\nAccept-Language: de\r\n"
            "Cookie: a=1\r\nContent-Length: 1500\r\n Connection: indented\r\n"
            "Host: 10.0.0.6\r\n\r\n" +
                form);
  EXPECT_EQ(whole.to_browser,
            via("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"
                "Location: @x\r\nConnection: close\r\n\r\n"
                "<form action=\"@Forms/cfg\">\r\n"
                "<a href=\"@cfgback.htm\">previous page</a>\r\n"
                "<IMG SRC = \"@logo.gif\"> <a href=\"javascript:go()\">\r\n"
                "<script>window.open(\"@w.htm\")</script>\r\n"));
  for (size_t i = 1; i < request.size(); ++i) {
    Outcome o = run_session(fake::split_at(request, i), {reply}, false);
    ASSERT_EQ(o.to_unit + o.to_browser, whole.to_unit + whole.to_browser) << i;
  }
  for (size_t i = 1; i < reply.size(); ++i) {
    forms_capture_set("", 0);
    Outcome o = run_session({request}, fake::split_at(reply, i), false);
    ASSERT_EQ(o.to_browser, whole.to_browser) << i;
  }
}

class EndpointTest : public ::testing::Test {
 protected:
  void TearDown() override { fake::detach(ep_.sock); }
  // A fresh endpoint with a peer that only takes what is sent.
  void use() {
    fake::detach(ep_.sock);
    peer_ = fake::Peer();
    std::memset(&ep_, 0, sizeof ep_);
    ep_.sock = fake::attach(&peer_);
    ep_.first_wait = 1;
    endpoint_mark_active(&ep_);
  }
  ScopedEnvironment peers_{fake::sockets()};
  fake::Peer peer_;
  SessionEndpoint ep_{};
};

TEST_F(EndpointTest, SendBufferGoesOutWhenFullOrFlushed) {
  use();
  std::string full(512, 'f');
  EXPECT_EQ(put(&ep_, full.data(), 512), 0);
  EXPECT_EQ(peer_.sent, full);
  EXPECT_EQ(put(&ep_, "0123456789", 10), 0);
  EXPECT_EQ(peer_.sent.size(), 512u);
  EXPECT_EQ(flush_buffer(&ep_), 0);
  EXPECT_EQ(peer_.sent, full + "0123456789");
  // A peer that stops reading is given up; the unsent bytes stay counted.
  use();
  peer_.takes = 100;
  std::string data(300, 'd');
  EXPECT_EQ(put(&ep_, data.data(), 300), 0);
  EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_EQ(ep_.send_count, 200);
  EXPECT_GE(peer_.clock_ms - 1000000, kQuietLimitMs);
  // So is one that takes a byte every 3 s, though it never stops.
  use();
  peer_.trickle = 1;
  EXPECT_EQ(put(&ep_, data.data(), 300), 0);
  EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_LT(peer_.sent.size(), 30u);
}

}  // namespace
