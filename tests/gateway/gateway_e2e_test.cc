// The gateway end to end, inside the test's private network: the listener
// on port 34, the simulator's web side as the unit (TCP under the SPX
// mapping), and real HTTP clients: a raw socket client, curl and python's
// urllib.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery/units.h"
#include "gateway/listener.h"
#include "gateway/refresh.h"
#include "gateway/session.h"
#include "platform/catalogue.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/config.h"
#include "sim/sides.h"
#include "sim/web_pages.h"
#include "tests/gateway/harness.h"
#include "tests/support/netns.h"

namespace {

constexpr uint16_t kUnitPort = 8080;
constexpr uint16_t kRefusingPort = 8090;

using harness::connect_to;
using harness::unit_record;

// Reads until the peer closes (or 30 s pass); a reset counts as the end.
std::string read_all(int s, int limit_ms = 30000) {
  std::string out;
  char buf[65536];
  auto end =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    ssize_t n = ::recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string exchange(const std::string& request, uint16_t port = 34) {
  int s = connect_to(port);
  if (s < 0) return "<no connect>";
  ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply = read_all(s);
  ::close(s);
  return reply;
}

std::string get(const std::string& path, uint16_t port = 34) {
  return exchange("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n", port);
}

std::string body_of(const std::string& reply) {
  size_t p = reply.find("\r\n\r\n");
  return p == std::string::npos ? std::string() : reply.substr(p + 4);
}

std::string gateway_address() {
  uint32_t a = 0;
  net::host_own_address(&a);
  char text[16];
  net::inet_ntoa(a, text, sizeof text);
  return text;
}

std::string run_command(const std::string& command) {
  std::string out;
  FILE* f = ::popen(command.c_str(), "r");
  if (f == nullptr) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  ::pclose(f);
  return out;
}

bool have_program(const char* name) {
  return std::system(
             (std::string("command -v ") + name + " >/dev/null").c_str()) == 0;
}

// The simulator's unit and the gateway, started once for the whole binary.
void start_gateway_once() {
  static std::once_flag once;
  std::call_once(once, [] {
    static char dir[] = "/tmp/tav-gw-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ASSERT_EQ(::chdir(dir), 0);  // the file "address" goes here
    const char* argv[] = {"tav-sim", "--unit",
                          "name=VEM_1,ip=127.0.0.1,http=8080,pause=800,"
                          "bigbin=3000000,bightm=400000"};
    sim::Config config;
    std::string error;
    ASSERT_TRUE(
        sim::parse_command_line(3, const_cast<char**>(argv), &config, &error))
        << error;
    ASSERT_TRUE(sim::start_web_side(config));
    IpxUnitRecord units[] = {unit_record("VEM_1", kUnitPort),
                             unit_record("VEM_REFUSE", kRefusingPort)};
    publish_ipx_units(units, 2);
    std::thread([] { gateway_listener(); }).detach();
    for (int i = 0; i < 200; ++i) {
      int s = connect_to(34);
      if (s >= 0) {
        ::close(s);
        break;
      }
      Sleep(20);
    }
    // Let the probe's session end before the tests count slots.
    for (int i = 0; i < 500 && sessions_in_use() > 0; ++i) Sleep(20);
  });
}

class GatewayEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    TAV_REQUIRE_PRIVATE_NETWORK();
    start_gateway_once();
    host_ = gateway_address();
    for (int i = 0; i < 1000 && sessions_in_use() > 0; ++i) Sleep(20);
  }
  std::string link(const std::string& path) {
    return "http://" + host_ + ":34/VEM_1/" + path;
  }
  std::string host_;
};

TEST_F(GatewayEndToEnd, PagesComeBackRewrittenAndNormalised) {
  std::string page = get("/VEM_1-HTML/index.htm");
  EXPECT_EQ(page.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << page;
  EXPECT_NE(page.find("Connection: close\r\n\r\n"), std::string::npos);
  for (const std::string& expected :
       {"<a href=\"" + link("status.htm") + "\">",
        "<A HREF=\"" + link("config.htm") + "\">",
        "<a href=\"" + link("dir/x.htm") + "\">",
        "<img src = \"" + link("logo.gif") + "\"",
        "action=\"" + link("Forms/cfg") + "\"",
        "<a href=\"" + link("cfgback.htm") + "\">previous page",
        "window.open(\"" + link("help.htm") + "\")",
        std::string("<a href=\"javascript:history.back()\">"),
        "<a href=\"" + link("#top") + "\">",
        std::string("<a href=\"http://other.example/x.htm\">"),
        std::string("<a href='single.htm'>")}) {
    EXPECT_NE(page.find(expected), std::string::npos) << expected;
  }
  std::string status = get("/VEM_1-HTML/status.htm");  // HTTP/1.1 from unit
  EXPECT_EQ(status.rfind("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n"
                         "Connection: close\r\n\r\n",
                         0),
            0u)
      << status;
  std::string moved = get("/VEM_1-HTML/redirect");
  EXPECT_NE(moved.find("Location: http://" + host_ + ":34/VEM_1/index.htm\r\n"),
            std::string::npos);
  std::string refresh = get("/VEM_1-HTML/refresh");
  EXPECT_NE(refresh.find("Refresh: 5; URL=http://" + host_ +
                         ":34/VEM_1/status.htm\r\n"),
            std::string::npos);
  std::string nostatus = get("/VEM_1-HTML/nostatus.htm");
  EXPECT_EQ(nostatus,
            "HTTP/1.0 200\r\nConnection: close\r\n\r\n"
            "<HTML><BODY>\n<a href=\"" +
                link("status.htm") + "\">Status</a>\n</BODY></HTML>\n");
  std::string plain = get("/VEM_1-HTML/nostatus.txt");
  EXPECT_NE(plain.find("<a href=\"status.htm\">not rewritten"),
            std::string::npos);
  std::string longpage = get("/VEM_1-HTML/long.htm");
  EXPECT_NE(longpage.find(link("before.htm")), std::string::npos);
  EXPECT_NE(longpage.find("<a href=\"after.htm\">"), std::string::npos);
}

TEST_F(GatewayEndToEnd, BodiesAroundPausesAndCloses) {
  std::string one_pause = body_of(get("/VEM_1-HTML/pause.htm"));
  EXPECT_NE(one_pause.find(link("three.htm")), std::string::npos) << one_pause;
  std::string two_pauses = body_of(get("/VEM_1-HTML/pause2.htm"));
  EXPECT_NE(two_pauses.find(link("two.htm")), std::string::npos);
  EXPECT_EQ(two_pauses.find("three"), std::string::npos) << two_pauses;
  std::string closed = body_of(get("/VEM_1-HTML/close.htm"));
  EXPECT_NE(closed.find(link("one.htm")), std::string::npos);
  EXPECT_EQ(closed.find("two"), std::string::npos);
  std::string cut = get("/VEM_1-HTML/cut.bin");
  EXPECT_NE(cut.find("Content-Length: 4096\r\n"), std::string::npos);
  EXPECT_EQ(body_of(cut), std::string(2048, 'c'));
}

TEST_F(GatewayEndToEnd, PostBodyReachesTheUnitWhole) {
  std::string body(3000, 'p');
  std::string echo =
      exchange("POST /VEM_1-HTML/echo HTTP/1.1\r\nHost: " + host_ +
               ":34\r\nUser-Agent: t\r\nContent-Type: text/plain\r\n"
               "Content-Length: 3000\r\n\r\n" +
               body);
  EXPECT_EQ(body_of(echo),
            "POST /echo HTTP/1.0\r\nHost: VEM_1\r\n"
            "Content-Length: 3000\r\n\r\n" +
                body);
}

TEST_F(GatewayEndToEnd, CurlGetsRewrittenPagesAndIdenticalBinaries) {
  if (!have_program("curl")) GTEST_SKIP() << "curl is not installed";
  const std::string gw =
      "curl -s --max-time 60 http://127.0.0.1:34/VEM_1-HTML/";
  const std::string direct = "curl -s --max-time 60 http://127.0.0.1:8080/";
  EXPECT_NE(run_command(gw + "index.htm").find(link("status.htm")),
            std::string::npos);
  EXPECT_EQ(run_command(gw + "logo.gif"), sim::web_logo_bytes());
  std::string packed = run_command(gw + "data.gz");
  EXPECT_EQ(packed, sim::gzip_stored(sim::web_gzip_plain_page("VEM_1")));
  EXPECT_EQ(packed, run_command(direct + "data.gz"));
  std::string big = run_command(gw + "big.bin");
  EXPECT_EQ(big.size(), 3000000u);
  EXPECT_TRUE(big == run_command(direct + "big.bin"));
  // Following the rewritten redirect leads through the gateway again.
  EXPECT_NE(run_command(gw.substr(0, 5) + "-L " + gw.substr(5) + "redirect")
                .find(link("status.htm")),
            std::string::npos);
}

TEST_F(GatewayEndToEnd, SecondClientFollowsARewrittenLink) {
  if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
  std::string script =
      "import re, urllib.request as u\n"
      "page = u.urlopen('http://127.0.0.1:34/VEM_1-HTML/index.htm', "
      "timeout=60).read().decode()\n"
      "href = re.search(r'href=\"([^\"]*status.htm)\"', page).group(1)\n"
      "print(href)\n"
      "print(u.urlopen(href, timeout=60).read().decode())\n"
      "img = u.urlopen('http://127.0.0.1:34/VEM_1-HTML/logo.gif', "
      "timeout=60).read()\n"
      "print(img.hex())\n";
  std::ofstream("follow.py") << script;
  std::string out = run_command("python3 follow.py 2>&1");
  EXPECT_NE(out.find(link("status.htm") + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Status of VEM_1: ready."), std::string::npos) << out;
  std::string hex;
  for (unsigned char c : sim::web_logo_bytes()) {
    char h[3];
    std::snprintf(h, sizeof h, "%02x", c);
    hex += h;
  }
  EXPECT_NE(out.find(hex), std::string::npos);
}

TEST_F(GatewayEndToEnd, UnknownAndRefusingUnitsEndWithoutData) {
  EXPECT_EQ(get("/NOSUCH-HTML/index.htm"), "");
  std::remove("address");
  EXPECT_EQ(get("/vem_refuse-HTML/index.htm"), "");
  // The address was written before the refused connect: 14 bytes as
  // recorded (family 6 little-endian, network, node, socket).
  std::ifstream f("address", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(f)),
                    std::istreambuf_iterator<char>());
  IpxUnitRecord r = unit_record("VEM_REFUSE", kRefusingPort);
  ASSERT_EQ(bytes.size(), 14u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\x06\x00", 2));
  EXPECT_EQ(
      bytes.substr(2, 10),
      std::string(reinterpret_cast<const char*>(r.address.sa_netnum), 10));
  EXPECT_EQ(bytes.substr(12), std::string("\x1f\x9a", 2));  // 8090
}

TEST_F(GatewayEndToEnd, TenSessionsAtOnceAndTheEleventhRejected) {
  std::vector<int> held;
  for (int i = 0; i < 10; ++i) {
    int s = connect_to(34);
    ASSERT_GE(s, 0);
    std::string line = "GET /VEM_1-HTML/status.htm HTTP/1.0\r\n";
    ::send(s, line.data(), line.size(), MSG_NOSIGNAL);
    held.push_back(s);
    for (int k = 0; k < 250 && sessions_in_use() < i + 1; ++k) Sleep(20);
  }
  ASSERT_EQ(sessions_in_use(), 10);
  int eleventh = connect_to(34);
  ASSERT_GE(eleventh, 0);
  ::send(eleventh, "GET /VEM_1-HTML/ HTTP/1.0\r\n\r\n", 29, MSG_NOSIGNAL);
  EXPECT_EQ(read_all(eleventh, 20000), "");
  ::close(eleventh);
  // The ten carry on and all get their page.
  for (int s : held) ::send(s, "\r\n", 2, MSG_NOSIGNAL);
  for (int s : held) {
    std::string reply = read_all(s);
    EXPECT_NE(reply.find("Status of VEM_1"), std::string::npos) << reply;
    ::close(s);
  }
  // The listener has reopened.
  std::string after;
  for (int i = 0; i < 50 && after.empty(); ++i) {
    after = get("/VEM_1-HTML/status.htm");
    if (after.empty() || after == "<no connect>") {
      after.clear();
      Sleep(100);
    }
  }
  EXPECT_NE(after.find("Status of VEM_1"), std::string::npos);
}

TEST_F(GatewayEndToEnd, SilentBrowserIsGivenUpAfterAboutSevenSeconds) {
  int s = connect_to(34);
  ASSERT_GE(s, 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read_all(s, 30000), "");
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  ::close(s);
  EXPECT_GT(seconds, 6.0);
  EXPECT_LT(seconds, 20.0);
}

TEST_F(GatewayEndToEnd, ConcurrentSessionsShareTheGateway) {
  std::vector<std::thread> clients;
  std::vector<std::string> pages(10), logos(10);
  for (int i = 0; i < 10; ++i) {
    clients.emplace_back([&, i] {
      pages[i] = get("/VEM_1-HTML/index.htm");
      logos[i] = body_of(get("/VEM_1-HTML/logo.gif"));
    });
  }
  for (auto& t : clients) t.join();
  for (int i = 0; i < 10; ++i) {
    EXPECT_NE(pages[i].find("cfgback.htm"), std::string::npos) << i;
    EXPECT_EQ(logos[i], sim::web_logo_bytes()) << i;
  }
}

// Without an IPX stack sessions still start and end; the gateway runs in a
// child process with TAV_IPX=off.
TEST(GatewayWithoutIpx, SessionsStartAndEnd) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // The child shares the parent's namespace, whose port 34 is taken
        // by the parent's gateway: it makes a network of its own.
        ::unsetenv("TAV_TEST_NETNS");
        tav_test::enter_private_network();
        if (!tav_test::in_private_network()) std::_Exit(6);
        ::setenv("TAV_IPX", "off", 1);
        if (!harness::load_catalogue()) std::_Exit(7);
        set_refresh_work([] {});
        std::thread([] { gateway_listener(); }).detach();
        int s = -1;
        for (int i = 0; i < 200 && s < 0; ++i) {
          s = connect_to(34);
          if (s < 0) Sleep(20);
        }
        if (s < 0) std::_Exit(2);
        ::send(s, "GET /VEM_1-HTML/ HTTP/1.0\r\n\r\n", 29, MSG_NOSIGNAL);
        std::string reply = read_all(s, 20000);
        ::close(s);
        // Only the refresh request is answered.
        s = connect_to(34);
        ::send(s, "GET /$$Refresh$ HTTP/1.0\r\n\r\n", 28, MSG_NOSIGNAL);
        std::string refresh = read_all(s, 20000);
        ::close(s);
        if (refresh != catalogue_text(kRefreshRunningText)) std::_Exit(8);
        for (int i = 0; i < 250 && sessions_in_use() > 0; ++i) Sleep(20);
        if (!reply.empty()) std::_Exit(3);
        if (sessions_in_use() != 0) std::_Exit(4);
        std::_Exit(ipx_present.load() == 0 ? 0 : 5);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(SessionTable, ClaimsAndReleasesFromManyThreadsStayConsistent) {
  std::vector<std::thread> threads;
  std::atomic<int> claimed{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        GatewaySession* s = find_free_session();
        if (s == nullptr) continue;
        EXPECT_EQ(s->in_use, 1);
        EXPECT_EQ(s->browser.sock, -1);
        EXPECT_EQ(s->unit.state, 0);
        s->unit.state = 77;  // must not be seen by the next claim
        claimed.fetch_add(1);
        release_session(s);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_GT(claimed.load(), 0);
}

}  // namespace
