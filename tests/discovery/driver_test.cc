#include "discovery/driver.h"

#include <gtest/gtest.h>

#include "discovery/ip/network_table.h"
#include "tests/discovery/helpers.h"
#include "tests/support/netns.h"
#include "tests/support/temp_hive.h"

namespace {

using tav_test::ip;

TEST(HopLimitTest, FromTheSettingText) {
  EXPECT_EQ(hop_limit_from_setting(false, ""), 2u);
  EXPECT_EQ(hop_limit_from_setting(true, " 3 hops"), 3u);
  EXPECT_EQ(hop_limit_from_setting(true, ""), 0u);
  EXPECT_EQ(hop_limit_from_setting(true, "99999999999999999999999"),
            0xFFFFFFFFu);
}

// Three units, a router announcing networks of metric 1, 2, 3 and 16, and a
// peer counting what is sent to the discard port (the wake-up datagrams).
class DriverTest : public testing::Test {
 protected:
  void SetUp() override {
    TAV_REQUIRE_PRIVATE_NETWORK();
    agent_ = std::make_unique<sim::SnmpAgent>(tav_test::snmp_units(
        {"ip=127.0.0.3,hw=00-40-AF-00-00-10,name=Zeta", "ip=127.0.0.2",
         "ip=127.0.0.4,hw=00-40-AF-00-00-18"}));
    responder_ = std::make_unique<sim::RipResponder>(
        std::vector<sim::RipRouter>{tav_test::rip_router(
            "ip=127.0.0.20,routes=10.91.0.0/1+10.92.0.0/2+10.93.0.0/3+"
            "10.94.0.0/16")});
    std::string error;
    ASSERT_TRUE(agent_->start(&error)) << error;
    ASSERT_TRUE(responder_->start(&error)) << error;
    discard_ = net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0);
    ASSERT_EQ(net::bind(discard_, net::make_addr_in(0, 9)), 0);
  }
  void TearDown() override {
    if (discard_ != net::INVALID_SOCKET) net::closesocket(discard_);
    publish_ip_units(ip_unit_list, 0);  // leave no units to later tests
  }
  int discarded() {  // all datagrams so far
    uint8_t b[200];
    net::SockAddrIn from;
    while (net::wait_readable(discard_, 0) == 1 &&
           net::recvfrom(discard_, b, sizeof b, &from) > 0)
      ++discarded_;
    return discarded_;
  }
  int sent_over_ip() {
    return agent_->requests_received() + responder_->requests_received() +
           discarded();
  }
  std::string run(const std::string& values) {
    tav_test::TempHive settings(
        values.empty() ? std::string()
                       : "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU"
                         "\\TAV\\4.00]\n" +
                             values);
    return tav_test::stdout_of([&] { discover_units(&ipx_, &ip_); });
  }

  std::unique_ptr<sim::SnmpAgent> agent_;
  std::unique_ptr<sim::RipResponder> responder_;
  net::Socket discard_ = net::INVALID_SOCKET;
  int discarded_ = 0, ipx_ = -5, ip_ = -5;
};

TEST_F(DriverTest, NoSettingsKeyRunsBothWithHopLimitTwo) {
  std::string out = run("");
  EXPECT_NE(out.find("Found 3 units out of 3 packets received.\n"),
            std::string::npos)
      << out;
  ASSERT_EQ(network_count, 3);  // metrics 1 and 2
  EXPECT_EQ(network_table[1].network, ip("10.91.0.0"));
  EXPECT_EQ(network_table[2].network, ip("10.92.0.0"));
  ASSERT_EQ(ip_, 3);
  EXPECT_EQ(ipx_, 0);
  auto units = published_ip_units();
  ASSERT_EQ(units->count, 3);
  EXPECT_STREQ(units->units[2].name, "Zeta");
  EXPECT_EQ(units->units[2].address.sin_addr, ip("127.0.0.3"));
  EXPECT_GT(discarded(), 0);
}

TEST_F(DriverTest, SearchSwitchesAndHopTexts) {
  struct Case {
    const char* values;
    bool sends_over_ip;
    int networks;  // when it does
  } cases[] = {
      {"\"Enable IP Search\"=\"nO\"\n", false, 0},
      {"\"Enable IP Search\"=\"No\"\n\"Enable IPX Search\"=\"NO\"\n", false, 0},
      {"\"Enable IPX Search\"=\"No\"\n\"Discovery Max Hops\"=\"many\"\n", true,
       1},
      {"\"Enable IPX Search\"=\"No\"\n\"Discovery Max Hops\"=\"-1\"\n", true,
       5},
  };
  publish_ip_units(ip_unit_list, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    const int routers_asked = responder_->requests_received();
    const int before = sent_over_ip();
    run(c.values);
    EXPECT_EQ(ipx_, 0);
    if (!c.sends_over_ip) {
      EXPECT_EQ(sent_over_ip(), before);
      EXPECT_EQ(ip_, 0);
      EXPECT_EQ(published_ip_units()->count, 0);
      continue;
    }
    EXPECT_EQ(responder_->requests_received() - routers_asked, 1);
    EXPECT_EQ(network_count, c.networks);
    EXPECT_EQ(network_table[c.networks - 1].network,
              c.networks == 1 ? ip("127.0.0.0") : ip("10.94.0.0"));
  }
}

}  // namespace
