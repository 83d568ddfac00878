#include "discovery/driver.h"

#include <gtest/gtest.h>

#include "discovery/ip/network_table.h"
#include "tests/discovery/helpers.h"
#include "tests/support/netns.h"

namespace {

using tav_test::ip;

// Three units, a router announcing metrics 1, 2, 3 and 16, and a discard-port
// peer counting wake-ups: settings switch a search off or set the hop limit.
TEST(DriverTest, SettingsSteerBothSearchesAndTheHopLimit) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  sim::SnmpAgent agent(
      tav_test::snmp_units({"ip=127.0.0.3,hw=00-40-AF-00-00-10", "ip=127.0.0.2",
                            "ip=127.0.0.4,hw=00-40-AF-00-00-18"}));
  sim::RipResponder responder({tav_test::rip_router(
      "ip=127.0.0.20,routes=10.91.0.0/1+10.92.0.0/2+10.93.0.0/3+"
      "10.94.0.0/16")});
  std::string error;
  ASSERT_TRUE(agent.start(&error) && responder.start(&error)) << error;
  net::OwnedSocket discard(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0));
  ASSERT_EQ(net::bind(discard.get(), net::make_addr_in(0, 9)), 0);
  int discarded = 0;
  auto sent_over_ip = [&] {
    uint8_t b[200];
    net::SockAddrIn from;
    while (net::wait_readable(discard.get(), 0) == 1 &&
           net::recvfrom(discard.get(), b, sizeof b, &from) > 0)
      ++discarded;
    return agent.requests_received() + responder.requests_received() +
           discarded;
  };
  const struct {
    const char* values;  // nullptr: no settings key at all
    int networks;        // 0: nothing may be sent over IP
    const char* last;    // the last network probed
  } cases[] = {
      {nullptr, 3, "10.92.0.0"},
      {"\"Enable IP Search\"=\"nO\"\n", 0, ""},
      {"\"Enable IPX Search\"=\"No\"\n\"Discovery Max Hops\"=\"many\"\n", 1,
       "127.0.0.0"},
      {"\"Enable IPX Search\"=\"No\"\n\"Discovery Max Hops\"=\"-1\"\n", 5,
       "10.94.0.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values ? c.values : "no settings key");
    publish_ip_units(ip_unit_list, 0);
    tav_test::ScratchHive settings(
        c.values ? std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                               "ZID-AVU\\TAV\\4.00]\n") +
                       c.values
                 : "");
    const int routers_asked = responder.requests_received();
    const int before = sent_over_ip();
    int ipx = -5, ip_count = -5;
    tav_test::stdout_of([&] { discover_units(&ipx, &ip_count); });
    EXPECT_EQ(ipx, 0);
    if (c.networks == 0) {
      EXPECT_EQ(sent_over_ip(), before);
      EXPECT_EQ(ip_count, 0);
      EXPECT_EQ(published_ip_units()->count, 0);
      continue;
    }
    EXPECT_EQ(responder.requests_received() - routers_asked, 1);
    ASSERT_EQ(network_count, c.networks);
    EXPECT_EQ(network_table[c.networks - 1].network, ip(c.last));
    if (c.values != nullptr) continue;
    // Found after the wake-up datagrams (how listed: the end-to-end suite).
    EXPECT_EQ(ip_count, 3);
    EXPECT_EQ(published_ip_units()->count, 3);
    sent_over_ip();
    EXPECT_GT(discarded, 0);
  }
  publish_ip_units(ip_unit_list, 0);  // leave no units to later tests
}

}  // namespace
