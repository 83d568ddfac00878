#include "discovery/driver.h"

#include <gtest/gtest.h>

#include <string>

#include "discovery/ip/network_table.h"
#include "platform/net.h"
#include "sim/rip_responder.h"
#include "sim/snmp_agent.h"
#include "tests/support/netns.h"
#include "tests/support/temp_hive.h"

namespace {

uint32_t ip(const char* dotted) { return net::inet_addr(dotted); }

std::string hive(const std::string& values) {
  return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\n" +
         values;
}

TEST(HopLimitTest, FromTheSettingText) {
  EXPECT_EQ(hop_limit_from_setting(false, ""), 2u);
  EXPECT_EQ(hop_limit_from_setting(true, "5"), 5u);
  EXPECT_EQ(hop_limit_from_setting(true, " 3 hops"), 3u);
  EXPECT_EQ(hop_limit_from_setting(true, "many"), 0u);
  EXPECT_EQ(hop_limit_from_setting(true, ""), 0u);
  EXPECT_EQ(hop_limit_from_setting(true, "-1"), 0xFFFFFFFFu);
}

sim::SnmpUnit unit(const char* address, uint8_t last, const char* name,
                   const char* description) {
  sim::SnmpUnit u;
  u.ip = ip(address);
  u.hw[5] = last;
  u.name = name;
  u.description = description;
  return u;
}

// Counts everything sent to the SNMP, RIP and discard ports.
class DriverTest : public testing::Test {
 protected:
  void start(std::vector<sim::SnmpUnit> units) {
    sim::RipRouter router;
    router.ip = ip("127.0.0.20");
    router.routes = {{ip("10.91.0.0"), 1, 0},
                     {ip("10.92.0.0"), 2, 0},
                     {ip("10.93.0.0"), 3, 0},
                     {ip("10.94.0.0"), 16, 0}};
    agent_ = std::make_unique<sim::SnmpAgent>(std::move(units));
    responder_ = std::make_unique<sim::RipResponder>(
        std::vector<sim::RipRouter>{router});
    std::string error;
    ASSERT_TRUE(agent_->start(&error)) << error;
    ASSERT_TRUE(responder_->start(&error)) << error;
    discard_ = net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0);
    ASSERT_EQ(net::bind(discard_, net::make_addr_in(0, 9)), 0);
  }
  void TearDown() override {
    if (discard_ != net::INVALID_SOCKET) net::closesocket(discard_);
  }
  int discarded() {
    int n = 0;
    uint8_t b[200];
    net::SockAddrIn from;
    while (net::wait_readable(discard_, 0) == 1 &&
           net::recvfrom(discard_, b, sizeof b, &from) > 0)
      ++n;
    return n;
  }
  // Runs discover_units; returns what it wrote to standard output.
  std::string run(int* ipx, int* ip_count) {
    testing::internal::CaptureStdout();
    discover_units(ipx, ip_count);
    return testing::internal::GetCapturedStdout();
  }

  std::unique_ptr<sim::SnmpAgent> agent_;
  std::unique_ptr<sim::RipResponder> responder_;
  net::Socket discard_ = net::INVALID_SOCKET;
};

TEST_F(DriverTest, NoSettingsKeyRunsBothWithHopLimitTwo) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  start({unit("127.0.0.3", 0x10, "Zeta", "Model Z"),
         unit("127.0.0.2", 0x08, "Alpha", " ")});
  tav_test::TempHive no_file;
  int ipx = -5, ip_count = -5;
  std::string out = run(&ipx, &ip_count);
  EXPECT_NE(out.find("Found 2 units out of 2 packets received.\n"),
            std::string::npos)
      << out;
  ASSERT_EQ(network_count, 3);  // metrics 1 and 2 of 1, 2, 3 and 16
  EXPECT_EQ(network_table[1].network, ip("10.91.0.0"));
  EXPECT_EQ(network_table[2].network, ip("10.92.0.0"));
  ASSERT_EQ(ip_count, 2);
  EXPECT_NE(ipx, -5);
  auto published = published_ip_units();
  ASSERT_EQ(published->count, 2);
  EXPECT_STREQ(published->units[0].name, "Alpha");
  EXPECT_STREQ(published->units[0].description, "MIO Based Printer");
  EXPECT_STREQ(published->units[1].name, "Zeta");
  EXPECT_STREQ(published->units[1].description, "Model Z");
  EXPECT_EQ(published->units[1].address.sin_addr, ip("127.0.0.3"));
  EXPECT_GT(discarded(), 0);
}

TEST_F(DriverTest, IpSearchNoInAnyCaseSendsNothingOverIp) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  start({unit("127.0.0.2", 0x08, "Alpha", "A")});
  tav_test::TempHive settings(hive("\"Enable IP Search\"=\"nO\"\n"));
  int ipx = -5, ip_count = -5;
  run(&ipx, &ip_count);
  EXPECT_EQ(ip_count, 0);
  EXPECT_NE(ipx, -5);  // IPX discovery still ran
  EXPECT_EQ(published_ip_units()->count, 0);
  EXPECT_EQ(agent_->requests_received(), 0);
  EXPECT_EQ(responder_->requests_received(), 0);
  EXPECT_EQ(discarded(), 0);
}

TEST_F(DriverTest, BothSearchesOffSendNothing) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  start({unit("127.0.0.2", 0x08, "Alpha", "A")});
  tav_test::TempHive settings(
      hive("\"Enable IP Search\"=\"No\"\n\"Enable IPX Search\"=\"NO\"\n"));
  int ipx = -5, ip_count = -5;
  run(&ipx, &ip_count);
  EXPECT_EQ(ipx, 0);
  EXPECT_EQ(ip_count, 0);
  EXPECT_EQ(agent_->requests_received(), 0);
  EXPECT_EQ(responder_->requests_received(), 0);
  EXPECT_EQ(discarded(), 0);
}

TEST_F(DriverTest, HopTextWithoutNumberKeepsOnlyTheLocalNetwork) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  start({});
  tav_test::TempHive settings(
      hive("\"Enable IPX Search\"=\"No\"\n\"Discovery Max Hops\"=\"many\"\n"));
  int ipx, ip_count;
  run(&ipx, &ip_count);
  EXPECT_EQ(responder_->requests_received(), 1);
  EXPECT_EQ(network_count, 1);
}

TEST_F(DriverTest, MinusOneHopsAcceptsEveryRoute) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  start({});
  tav_test::TempHive settings(
      hive("\"Enable IPX Search\"=\"No\"\n\"Discovery Max Hops\"=\"-1\"\n"));
  int ipx, ip_count;
  run(&ipx, &ip_count);
  EXPECT_EQ(network_count, 5);
  EXPECT_EQ(network_table[4].network, ip("10.94.0.0"));  // metric 16
}

TEST(DriverNoUnitTest, ReportsZeroUnitsAndZeroPackets) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  testing::internal::CaptureStdout();
  int n = discover_units_using_ip(2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(n, 0);
  EXPECT_EQ(out, "Found 0 units out of 0 packets received.\n");
  EXPECT_EQ(published_ip_units()->count, 0);
}

}  // namespace
