// The gateway on port 34 of the test's private network, the simulator's web
// side as the unit (over IPv4, or SPX in Ethernet frames), raw clients.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <string>
#include <thread>
#include <vector>

#include "gateway/listener.h"
#include "gateway/session_slots.h"
#include "platform/threads.h"
#include "sim/sides.h"
#include "sim/web_pages.h"
#include "tests/discovery/helpers.h"
#include "tests/gateway/harness.h"

namespace {

using harness::connect_to;

// Sends `request` and reads until the peer closes, or for limit_ms quiet.
std::string exchange(int s, const std::string& request, int limit_ms = 30000) {
  ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
  timeval tv{limit_ms / 1000, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;)
    out.append(buf, static_cast<size_t>(n));
  ::close(s);
  return out;
}

std::string get(const std::string& path) {
  return exchange(connect_to(34), "GET " + path + " HTTP/1.0\r\n\r\n");
}

// One listener for the whole binary: binaries relayed whole, a refusing
// unit closed; ten sessions at once, the eleventh served after them.
TEST(GatewayEndToEnd, RelaysWholeAndHoldsTenSessionsAtOnce) {
  TAV_REQUIRE_IPX_NETWORK();
  sim::Config config = tav_test::sim_config(
      {"--unit", "name=VEM_1,http=8080,bigbin=3000000,ipx=on"});
  ASSERT_TRUE(sim::start_web_side(config));
  IpxUnitRecord units[] = {harness::unit_record("VEM_1", 8080),
                           harness::unit_record("VEM_REFUSE", 8090)};
  publish_ipx_units(units, 2);
  std::thread([] { gateway_listener(); }).detach();
  int up = -1;  // until port 34 takes connections
  for (int i = 0; i < 200 && (up = connect_to(34)) < 0; ++i) Sleep(20);
  ::close(up);
  std::string big = get("/VEM_1-HTML/big.bin"), body(3000000, 0);
  for (size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>(sim::web_big_bin_byte(i));
  EXPECT_TRUE(big.size() > body.size() && big.ends_with(body));
  for (const char* path : {"/NOSUCH-HTML/index.htm", "/vem_refuse-HTML/"})
    EXPECT_EQ(get(path), "") << path;  // an unknown unit, a refusing one

  for (int i = 0; i < 1000 && sessions_in_use() > 0; ++i) Sleep(20);
  std::vector<int> held;
  for (int i = 0; i < 10; ++i) {
    held.push_back(connect_to(34));
    ::send(held.back(), "GET /VEM_1-HTML/status.htm HTTP/1.0\r\n", 37,
           MSG_NOSIGNAL);
    for (int k = 0; k < 250 && sessions_in_use() <= i; ++k) Sleep(20);
  }
  ASSERT_EQ(sessions_in_use(), 10);
  // An eleventh waits in the queue, unanswered, until a slot is free.
  int waiting = connect_to(34);
  ::send(waiting, "GET /VEM_1-HTML/status.htm HTTP/1.0\r\n\r\n", 39,
         MSG_NOSIGNAL);
  Sleep(300);
  EXPECT_EQ(sessions_in_use(), 10);
  for (int s : held) ::send(s, "\r\n", 2, MSG_NOSIGNAL);
  for (int s : held)
    EXPECT_NE(exchange(s, "").find("Status of VEM_1"), std::string::npos);
  EXPECT_NE(exchange(waiting, "").find("Status of VEM_1"), std::string::npos);
}

}  // namespace
