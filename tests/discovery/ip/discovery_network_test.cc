// IP discovery end to end on a network of test hosts: the host (this
// process), units on its own subnet, and units behind a router that a RIP
// responder announces.
#include <gtest/gtest.h>

#include "discovery/driver.h"
#include "discovery/ip/network_table.h"
#include "tests/discovery/helpers.h"
#include "tests/support/netns.h"
#include "tests/support/test_network.h"

namespace {

using tav_test::TwoSubnetNetwork;

std::string unit_arg(const std::string& address, const std::string& name,
                     const std::string& description) {
  return "name=" + name + ",ip=" + address + ",description=\"" + description +
         "\"";
}

// A run with no unit answering first, then one with units on both subnets.
TEST(DiscoveryNetworkTest, FindsEveryUnitOnBothSubnetsAndNothingElse) {
  TAV_REQUIRE_TEST_HOSTS();
  TwoSubnetNetwork network;
  ASSERT_TRUE(network.ok()) << network.problem();
  int count = -1;
  auto discover = [&count] { count = discover_units_using_ip(2); };
  EXPECT_EQ(tav_test::stdout_of(discover),
            "Found 0 units out of 0 packets received.\n");
  EXPECT_EQ(count, 0);

  const std::string a = TwoSubnetNetwork::kSubnetA;
  const std::string b = TwoSubnetNetwork::kSubnetB;
  ASSERT_TRUE(network.add_addresses(network.units_a, "eth0", a, 100, 3));
  ASSERT_TRUE(network.add_addresses(network.units_b, "eth0", b, 100, 2));
  ASSERT_TRUE(network.start_sim(
      network.units_a,
      {"--unit", unit_arg(a + ".100", "Lobby", "LaserJet 4000"), "--unit",
       unit_arg(a + ".101", "Annex", " "), "--unit",
       unit_arg(a + ".102", "Basement", "Colour, A3")}));
  ASSERT_TRUE(network.start_sim(
      network.units_b,
      {"--unit", unit_arg(b + ".100", "Roof", "DesignJet"), "--unit",
       unit_arg(b + ".101", "Cellar", std::string(140, 'c'))}));
  ASSERT_TRUE(network.start_sim(
      network.rip,
      {"--router", "ip=" + std::string(TwoSubnetNetwork::kRipAddress) +
                       ",version=1,routes=" + b + ".0/1"}))
      << network.problem();
  EXPECT_EQ(tav_test::stdout_of(discover),
            "Found 5 units out of 5 packets received.\n");
  EXPECT_EQ(count, 5);
  ASSERT_EQ(network_count, 2);
  EXPECT_EQ(broadcast_address_of(network_table[1]),
            net::inet_addr((b + ".255").c_str()));
  auto units = published_ip_units();
  std::string got;
  for (int i = 0; i < units->count; ++i) {
    const UnitRecord& u = units->units[i];
    char address[16];
    net::inet_ntoa(u.address.sin_addr, address, sizeof address);
    got += std::string(u.name) + " " + address + ":" +
           std::to_string(net::ntohs_(u.address.sin_port)) + " " +
           u.description + "\n";
  }
  EXPECT_EQ(got,
            "Annex 10.77.1.101:10001 MIO Based Printer\n"
            "Basement 10.77.1.102:10001 Colour, A3\n"
            "Cellar 10.77.2.101:10001 Print Server\n"
            "Lobby 10.77.1.100:10001 LaserJet 4000\n"
            "Roof 10.77.2.100:10001 DesignJet\n");
  publish_ip_units(ip_unit_list, 0);  // leave no units to later tests
}

}  // namespace
