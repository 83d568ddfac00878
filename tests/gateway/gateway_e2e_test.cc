// The gateway end to end in the test's private network: the listener on
// port 34, the simulator's web side as the unit (TCP under the SPX
// mapping), and real clients: raw sockets, curl and python's urllib.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/listener.h"
#include "gateway/refresh.h"
#include "gateway/session.h"
#include "platform/threads.h"
#include "sim/sides.h"
#include "sim/web_pages.h"
#include "tests/gateway/harness.h"
#include "tests/support/netns.h"

namespace {

using harness::connect_to;

// Reads until the peer closes or limit_ms pass; a reset ends it too.
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

std::string get(const std::string& path) {
  int s = connect_to(34);
  std::string req = "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
  ::send(s, req.data(), req.size(), MSG_NOSIGNAL);
  std::string reply = read_all(s);
  ::close(s);
  return reply;
}

std::string run_command(const std::string& command) {
  std::string out;
  FILE* f = ::popen(command.c_str(), "r");
  char buf[65536];
  for (size_t n; f != nullptr && (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
    out.append(buf, n);
  if (f != nullptr) ::pclose(f);
  return out;
}

void wait_for_free_slots() {
  for (int i = 0; i < 1000 && sessions_in_use() > 0; ++i) Sleep(20);
}

class GatewayEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    TAV_REQUIRE_PRIVATE_NETWORK();
    static std::once_flag once;
    std::call_once(once, [] {
      static char dir[] = "/tmp/tav-gw-e2e-XXXXXX";
      ASSERT_TRUE(::mkdtemp(dir) != nullptr && ::chdir(dir) == 0);
      sim::Config config;
      config.entities.push_back(
          {"unit",
           {{"name", "VEM_1"}, {"http", "8080"}, {"bigbin", "3000000"}}});
      ASSERT_TRUE(sim::start_web_side(config));
      IpxUnitRecord units[] = {harness::unit_record("VEM_1", 8080),
                               harness::unit_record("VEM_REFUSE", 8090)};
      publish_ipx_units(units, 2);
      std::thread([] { gateway_listener(); }).detach();
      int s = -1;
      for (int i = 0; i < 200 && (s = connect_to(34)) < 0; ++i) Sleep(20);
      ::close(s);
    });
    wait_for_free_slots();
    uint32_t own = 0;
    net::host_own_address(&own);
    char text[16];
    net::inet_ntoa(own, text, sizeof text);
    via_ = std::string("http://") + text + ":34/VEM_1/";
  }
  std::string via_;
};

TEST_F(GatewayEndToEnd, CurlAndUrllibGetRewrittenPagesAndIdenticalBinaries) {
  if (std::system("command -v curl >/dev/null && command -v python3 "
                  ">/dev/null") != 0)
    GTEST_SKIP() << "needs curl and python3";
  std::string curl = "curl -s --max-time 60 ";
  std::string gw = "http://127.0.0.1:34/VEM_1-HTML/";
  std::string page = run_command(curl + gw + "index.htm");
  for (const std::string& link :
       {"href=\"" + via_ + "status.htm\"", "HREF=\"" + via_ + "config.htm\"",
        "src = \"" + via_ + "logo.gif\"", "action=\"" + via_ + "Forms/cfg\"",
        "href=\"" + via_ + "cfgback.htm\"",
        "window.open(\"" + via_ + "help.htm\")",
        std::string("href=\"javascript:history.back()\""),
        std::string("href='single.htm'")})
    EXPECT_NE(page.find(link), std::string::npos) << link;
  EXPECT_EQ(run_command(curl + gw + "logo.gif"), sim::web_logo_bytes());
  EXPECT_EQ(run_command(curl + gw + "data.gz"),
            sim::gzip_stored(sim::web_gzip_plain_page("VEM_1")));
  std::string big = run_command(curl + gw + "big.bin");
  EXPECT_EQ(big.size(), 3000000u);
  EXPECT_TRUE(big == run_command(curl + "http://127.0.0.1:8080/big.bin"));
  // The rewritten Location leads through the gateway again.
  EXPECT_NE(run_command(curl + "-L " + gw + "redirect").find(via_),
            std::string::npos);
  // A second client follows a rewritten link.
  std::ofstream("follow.py")
      << "import re, urllib.request as u\n"
         "page = u.urlopen('"
      << gw
      << "index.htm', timeout=60).read()\n"
         "href = re.search(rb'href=\"([^\"]*status.htm)\"', page).group(1)\n"
         "print(href.decode(), u.urlopen(href.decode(), timeout=60).read())\n";
  std::string out = run_command("python3 follow.py 2>&1");
  EXPECT_NE(out.find(via_ + "status.htm b'<html><body>Status of VEM_1"),
            std::string::npos)
      << out;
}

TEST_F(GatewayEndToEnd, TenSessionsAtOnceAndTheEleventhRejected) {
  std::vector<int> held;
  for (int i = 0; i < 10; ++i) {
    held.push_back(connect_to(34));
    ::send(held.back(), "GET /VEM_1-HTML/status.htm HTTP/1.0\r\n", 37,
           MSG_NOSIGNAL);
    for (int k = 0; k < 250 && sessions_in_use() <= i; ++k) Sleep(20);
  }
  ASSERT_EQ(sessions_in_use(), 10);
  int eleventh = connect_to(34);
  ::send(eleventh, "GET /VEM_1-HTML/ HTTP/1.0\r\n\r\n", 29, MSG_NOSIGNAL);
  EXPECT_EQ(read_all(eleventh, 20000), "");
  ::close(eleventh);
  for (int s : held) ::send(s, "\r\n", 2, MSG_NOSIGNAL);
  for (int s : held) {
    EXPECT_NE(read_all(s).find("Status of VEM_1"), std::string::npos);
    ::close(s);
  }
  std::string after;  // the listener has reopened
  for (int i = 0; i < 50 && after.empty(); ++i, Sleep(100))
    after = get("/VEM_1-HTML/status.htm");
  EXPECT_NE(after.find("Status of VEM_1"), std::string::npos);
}

TEST_F(GatewayEndToEnd, UnknownAndRefusingUnitsEndWithoutData) {
  EXPECT_EQ(get("/NOSUCH-HTML/index.htm"), "");
  EXPECT_EQ(get("/vem_refuse-HTML/index.htm"), "");
}

// Without an IPX stack sessions still start and end, and only the refresh
// request is answered. The child shares the parent's network, whose port
// 34 the parent's gateway holds, so it makes one of its own.
TEST(GatewayWithoutIpx, SessionsStartAndEnd) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::unsetenv("TAV_TEST_NETNS");
        tav_test::enter_private_network();
        ::setenv("TAV_IPX", "off", 1);
        if (!tav_test::in_private_network() || !harness::load_catalogue())
          std::_Exit(2);
        set_refresh_work([] {});
        std::thread([] { gateway_listener(); }).detach();
        int s = -1;
        for (int i = 0; i < 200 && (s = connect_to(34)) < 0; ++i) Sleep(20);
        ::close(s);
        std::string unit_page = get("/VEM_1-HTML/");
        std::string refresh = get("/$$Refresh$");
        wait_for_free_slots();
        std::_Exit(unit_page.empty() && ipx_present.load() == 0 &&
                           refresh == catalogue_text(kRefreshRunningText) &&
                           sessions_in_use() == 0
                       ? 0
                       : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
