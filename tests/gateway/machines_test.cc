// The request and response machines stepped as the session loop does,
// against in-memory peers, and the refresh request with a held rediscovery.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "gateway/forms_capture.h"
#include "gateway/refresh.h"
#include "gateway/request_machine.h"
#include "gateway/response_machine.h"
#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/threads.h"
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

// `chunks` whole, then with its first chunk cut in two at every offset.
template <typename Check>
void at_every_cut(const Chunks& chunks, Check check) {
  for (size_t i = 0; i < chunks[0].size(); ++i) {
    Chunks cut = chunks;
    if (i > 0) {
      cut.insert(cut.begin() + 1, cut[0].substr(i));
      cut[0].resize(i);
    }
    check(cut, i);
  }
}

// Each request whole and with its first chunk cut at every offset: it goes
// to the unit as soon as its framed body is in, with no wait beyond the
// browser's own pauses, and only then does the unit's reply reach the browser.
TEST_F(MachinesTest, RequestsReachTheUnitAsHttp10AsFramed) {
  std::string seg(90, 'n');
  std::string form(1500, 'f');  // a body of several buffers
  const struct {
    std::string line, to_unit, name;  // the line ends its header block
  } lines[] = {
      {"GET /VEM_123456-HTML HTTP/1.1", "GET / HTTP/1.0", "VEM_123456"},
      {"GET /VEM_123456 HTTP/1.0", "GET / HTTP/1.0", "VEM_123456"},
      {"GET //\\VEM_1/x HTTP/1.0", "GET /x HTTP/1.0", "VEM_1"},
      {"  POST   /u-a-b/c?d=e", "POST /c?d=e HTTP/1.0", "u"},
      {"GET /" + seg + " HTTP/1.0", "GET " + seg.substr(79) + " HTTP/1.0",
       seg.substr(0, 79)},
      {"GET /u/" + std::string(300, 'p'),
       "GET /" + std::string(300, 'p') + " HTTP/1.0",
       "u"},  // a URL takes up to the whole line
      {"GET /a%20b%23%3f%25%2Dx-HTML/i HTTP/1.0", "GET /i HTTP/1.0",
       "a b#?%-x"},  // names come percent-encoded
      {"GET /a%zz%0d%0A%4 HTTP/1.0", "GET / HTTP/1.0", "a%zz%0d%0A%4"},
      {"POST /unit7-HTML/i HTTP/1.1\r\nHost: 10.0.0.5:34\r\nUser-Agent: M\r\n"
       "Referer: x\r\nAccept: */*\r\nAccept-Encoding: gzip\r\nConnection: k"
       "\r\nKeep-Alive: 300\r\nContent-Type: a/b\r\nAccept-Language: de\r\n"
       " Connection: indented\r\nHost: 10.0.0.6\r\nContent-Length: 1504\r\n"
       "\r\n" +
           form,
       "POST /i HTTP/1.0\r\nHost: unit7\r\nAccept-Language: de\r\n"
       " Connection: indented\r\nHost: 10.0.0.6\r\nContent-Length: 1504\r\n"
       "\r\n" +
           form,
       "unit7"},
      // Lines longer than one read are kept, replaced or dropped whole.
      {"GET /u/x HTTP/1.0" + std::string(600, ' '), "GET /x HTTP/1.0", "u"},
      {"GET /u/x HTTP/1.0\r\nCookie: " + std::string(502, 'c') +
           "\r\nUser-Agent: " + std::string(600, 'a') +
           "\r\nHost: 10.0.0.5:34" + std::string(600, ' '),
       "GET /x HTTP/1.0\r\nCookie: " + std::string(502, 'c') + "\r\nHost: u",
       "u"},
      // Requests that end the session without an answer.
      {"", "", ""},
      {"GET", "", ""},
      {std::string(100, 'M') + " /u/ HTTP/1.0", "", ""},  // method too long
  };
  struct Case {
    Chunks request;
    std::string to_unit, name = "u";
    std::string answered = "";  // by the gateway, before the unit's reply
  };
  std::vector<Case> cases;
  for (const auto& l : lines)
    cases.push_back({{l.line + "\r\n\r\n"},
                     l.to_unit.empty() ? "" : l.to_unit + "\r\n\r\n",
                     l.name});
  const std::string post = "POST /u/f HTTP/1.1\r\n";
  const std::string chunks =
      "5;x=y\r\nhello\r\nA\r\n0123456789\r\n0\r\nT: v\r\n\r\n";
  std::string tail(10240, 'b');
  cases.insert(
      cases.end(),
      {
          {{kGet}, "GET /index.htm HTTP/1.0\r\n\r\n", "unit7"},  // no body
          {{post + "Content-Length: 0\n\nextra"},  // nor here; LF alone
           "POST /f HTTP/1.0\r\nContent-Length: 0\n\n"},
          {{post + "Content-Length: 10240\r\n\r\n", "", "", "", tail, "more"},
           "POST /f HTTP/1.0\r\nContent-Length: 10240\r\n\r\n" + tail},
          {{post + "Transfer-Encoding: chunked\r\n\r\n" + chunks + "extra"},
           "POST /f HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks},
          {{post + "Expect: 100-Continue\r\nContent-Length: 2\r\n\r\n", "",
            "ab"},
           "POST /f HTTP/1.0\r\nContent-Length: 2\r\n\r\nab",
           "u",
           "HTTP/1.1 100 Continue\r\n\r\n"},
          {{"GET /u/" + std::string(600, 'p') + " HTTP/1.1\r\nX: y\r\n\r\n"},
           "",
           "",
           "HTTP/1.0 414 URI Too Long\r\nConnection: close\r\n\r\n"},
          {{post + "Content-Length: x\r\n\r\n"}, ""},  // a length unread
          {{post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n"}, ""},
      });
  for (const Case& c : cases) {
    int64_t pauses = std::count(c.request.begin(), c.request.end(), "");
    std::string to_browser = c.answered;
    if (!c.to_unit.empty()) to_browser += kHead + std::string("ok");
    at_every_cut(c.request, [&](const Chunks& request, size_t i) {
      Outcome o = run_session(request, {"HTTP/1.0 200 OK\r\n\r\nok"});
      ASSERT_EQ(o.to_unit, c.to_unit) << c.request[0] << " at " << i;
      ASSERT_EQ(o.to_browser, to_browser) << c.request[0] << " at " << i;
      ASSERT_EQ(o.s.unit.unit_name, c.name) << c.request[0] << " at " << i;
      if (!c.to_unit.empty()) {
        ASSERT_EQ(o.browser.clock_ms - 1000000, 500 * pauses) << i;
      }
    });
  }
}

// Sessions that end without the unit's answer.
TEST_F(MachinesTest, GatewaysThatCannotAnswerAndPeersGivenUp) {
  // A silent browser: a long first wait and four short ones, 7 s in all.
  EXPECT_EQ(run_session({}, {}).browser.wait_timeouts,
            (std::vector<int>{5000, 500, 500, 500, 500}));
  // A browser that stops in its headers, a unit silent before or in its
  // headers: each ends at the quiet limit, not at its first quiet wait.
  EXPECT_GT(run_session({"GET /u/ HTTP/1.0\r\nHost: x\r\n"}, {}).passes, 100);
  for (const char* reply : {"", "HTTP/1.0 200 OK\r\nX: y\r\n"}) {
    Outcome o = run_session({kGet}, {reply}, false);
    EXPECT_EQ(o.s.unit.state, response_state::GATEWAY_DEAD) << reply;
    EXPECT_GT(o.passes, 100) << reply;
  }
  // A body that keeps coming is forwarded past the request's minute, up to
  // a bound of minutes.
  std::string head = "POST /u/ HTTP/1.0\r\nContent-Length: 9999\r\n\r\n";
  Chunks body(200, std::string(10, 'b'));
  body.insert(body.begin(), head);
  EXPECT_EQ(run_session(body, {}, true, 400).to_unit,
            "POST / HTTP/1.0\r\nContent-Length: 9999\r\n\r\n" +
                std::string(2000, 'b'));
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
  // A browser that hangs up while the unit pauses ends the session at once.
  o = run_session({kGet}, {"HTTP/1.0 200 OK\r\n\r\none\r\n", "", "two\r\n"},
                  false, 0, false, true);
  EXPECT_EQ(o.to_browser, kHead + std::string("one\r\n"));
  EXPECT_EQ(o.unit.clock_ms, 1000000);
  // Without an IPX stack only the refresh request is answered.
  ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
  ipx_present.store(0);
  o = run_session({kGet}, {"HTTP/1.0 200 OK\r\n\r\nbody"});
  EXPECT_EQ(o.to_unit + o.to_browser, "");
  EXPECT_EQ(run_session({"GET /$$Refresh$ HTTP/1.0\r\n\r\n"}, {}).to_browser,
            catalogue_text(kRefreshRunningText));
  // A gateway without an address of its own.
  ipx_present.store(1);
  ScopedEnvironment no_address(
      {.host_address = [](uint32_t*) { return false; }});
  EXPECT_EQ(run_session({"GET /VEM_1-HTML/ HTTP/1.0\r\n\r\n"}, {}).to_unit, "");
}

// Each case whole and with its first chunk cut at every offset.
TEST_F(MachinesTest, RepliesAsTheBrowserGetsThem) {
  std::string pad(600, ' ');
  std::string loc = "Location: http://unit7/" + std::string(486, 'p') + "\r\n";
  std::string longline = "<a href=\"l\">" + std::string(600, 'x') + "\r\n";
  const struct {
    const char* what;
    Chunks reply;
    std::string expected;
    std::string request = kGet;
    int64_t unit_waits_ms = -1;  // when set: how long the unit was waited for
  } cases[] = {
      {"HTML: HTTP/1.0, no length, links rewritten, the form's capture kept",
       {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 78\r\n"
        "\r\n<form action=\"http://UNIT7/Forms/cfg\">\r\n"
        "<a href=\"back.htm\">previous page</a>\r\n"},
       via("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
           "\r\n<form action=\"@Forms/cfg\">\r\n"
           "<a href=\"@cfgback.htm\">previous page</a>\r\n")},
      {"no status line, HTML, ended by 5 s of silence",
       {"<HTML><a href=\"x\">\r\n<a href=\"y\">\r\n"},
       via("HTTP/1.0 200\r\nConnection: close\r\n\r\n<HTML><a href=\"x\">"
           "\r\n<a href=\"@y\">\r\n"),
       kGet,
       kReplySilenceMs},
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
      {"pauses do not end a body; its last line without line end is kept",
       {"HTTP/1.0 200 OK\r\n\r\n<a href=\"x\">\r\n", "", "two\r\n", "",
        "<a href=\"y\">"},
       kHead + via("<a href=\"@x\">\r\ntwo\r\n<a href=\"@y\">")},
      {"nor one of declared length, paused three times for 1 s",
       {"HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 12\r\n"
        "\r\nabc",
        "", "", "def", "", "", "ghi", "", "", "jkl", "more"},
       "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nConnection: close\r\n"
       "Content-Length: 12\r\n\r\nabcdefghijkl"},
      {"a last line without line end ends at its length",
       {"HTTP/1.0 200 OK\r\nContent-Length: 17\r\n\r\n<a href=\"x\">\r\n<a ",
        "more"},
       kHead + via("<a href=\"@x\">\r\n<a "),
       kGet,
       0},
      {"an empty body of declared length",
       {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", "more"},
       kHead,
       kGet,
       0},
      {"lines ended by LF alone",
       {"HTTP/1.0 200 OK\nContent-Type: text/html\n\n<a href=\"x\">\n"},
       "HTTP/1.0 200 OK\nContent-Type: text/html\nConnection: close\r\n\n" +
           via("<a href=\"@x\">\n")},
      {"bad status line", {"HTTP/1.0\r\n\r\n"}, ""},
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
  };
  for (const auto& c : cases) {
    at_every_cut(c.reply, [&](const Chunks& reply, size_t i) {
      forms_capture_set("", 0);
      Outcome o = run_session({c.request}, reply, false);
      ASSERT_EQ(o.to_browser, c.expected) << c.what << " at " << i;
      ASSERT_EQ(o.s.unit.state, response_state::GATEWAY_DEAD) << c.what;
      if (c.unit_waits_ms >= 0) {
        ASSERT_EQ(o.unit.clock_ms - 1000000, c.unit_waits_ms) << c.what << i;
      }
    });
  }
}

// A browser that stops reading, and one that takes a byte every 3 s, are
// given up; the unsent bytes stay counted.
TEST_F(MachinesTest, SlowReadersAreGivenUp) {
  std::string data(300, 'd');
  for (size_t trickle : {0, 1}) {
    fake::Peer peer;
    peer.credit = trickle != 0 ? 0 : 100;
    peer.trickle = trickle;
    SessionEndpoint ep{};
    ep.sock = fake::attach(&peer);
    endpoint_mark_active(&ep);
    EXPECT_EQ(put(&ep, data.data(), 300), 0);
    EXPECT_EQ(flush_buffer(&ep), 1);
    EXPECT_EQ(ep.send_count, 300 - static_cast<int>(peer.sent.size()));
    EXPECT_LE(peer.sent.size(), trickle == 0 ? 100u : 30u);
    EXPECT_GE(peer.clock_ms - 1000000, kQuietLimitMs);
    fake::detach(ep.sock);
  }
}

std::atomic<int> g_runs{0};
std::atomic<bool> g_release{false};

void held_rediscovery() {
  g_runs.fetch_add(1);
  while (!g_release.load()) Sleep(1);
}

class RefreshTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
    g_runs.store(0);
    g_release.store(false);
    refresh_state.store(kRefreshIdle);
    std::snprintf(discovery_page_path, kPagePathSize, "D:\\pg\\tav-disc.htm");
    running_ = catalogue_text(kRefreshRunningText);
  }
  void TearDown() override { release(); }
  // Lets the held rediscovery finish.
  static void release() {
    g_release.store(true);
    for (int i = 0; i < 5000 && refresh_state.load() != kRefreshDone; ++i)
      Sleep(1);
  }
  // One refresh request; the browser's answer.
  static std::string request(Chunks script, bool streams = false) {
    fake::Outcome o = fake::run_session(std::move(script), {}, true,
                                        streams ? 400 : 0, streams);
    EXPECT_EQ(o.to_unit, "");
    EXPECT_FALSE(streams && o.browser.at_end());
    return o.to_browser;
  }
  const std::string kRequest = "GET /$$Refresh$ HTTP/1.0\r\nHost: x\r\n\r\n";
  std::string running_;
  fake::QuietGateway gateway_;
  ScopedEnvironment held_{{.refresh_work = held_rediscovery}};
};

// Requests at once start one rediscovery, and while it runs none; once it
// is done the next request is told so, and the one after starts another.
TEST_F(RefreshTest, AnswersFollowTheRediscovery) {
  std::atomic<int> ready{0};
  std::vector<std::string> answers(8);
  std::vector<std::thread> threads;
  for (std::string& answer : answers)
    threads.emplace_back([&] {
      for (ready.fetch_add(1); ready.load() < 8;) {
      }
      answer = request({kRequest});
    });
  for (auto& t : threads) t.join();
  for (const std::string& a : answers) EXPECT_EQ(a, running_);
  release();
  EXPECT_EQ(g_runs.load(), 1);
  EXPECT_EQ(request({kRequest}), fill_inserts(catalogue_text(kRefreshDoneText),
                                              "http://10.0.0.5:34/"));
  g_release.store(false);
  // However the request arrives: its body drained and answered at once.
  fake::Outcome o =
      fake::run_session({"GET /$$REFRESH$/x HTTP/1.1\r\nContent-Length: 700",
                         "\r\n\r\n" + std::string(700, 'b'), "more"},
                        {});
  EXPECT_EQ(o.to_browser, running_);
  EXPECT_EQ(o.browser.clock_ms, 1000000);
  EXPECT_FALSE(o.browser.at_end());
  EXPECT_EQ(request(fake::single_bytes(kRequest)), running_);
  // A browser that keeps sending is answered within the request's bound.
  Chunks endless(1000, std::string(512, 'x'));
  endless.insert(endless.begin(), kRequest);
  EXPECT_EQ(request(endless, true), running_);
}

}  // namespace
