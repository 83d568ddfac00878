// IPX discovery against simulated units on the loopback network: the
// units answer the broadcasts from their own addresses (127.0.0.x) and
// serve their descriptions over SPX.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/ipx/ipx_discovery.h"
#include "discovery/units.h"
#include "sim/ipx_side.h"
#include "tests/support/netns.h"

namespace {

sim::Config units_config(const std::vector<std::string>& specs) {
  sim::Config config;
  for (const std::string& spec : specs) {
    std::vector<std::string> args = {"tav-sim", "--unit", spec};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::string error;
    EXPECT_TRUE(sim::parse_command_line(static_cast<int>(argv.size()),
                                        argv.data(), &config, &error))
        << error;
  }
  return config;
}

const IpxUnitRecord* find(const IpxUnitSnapshot& snap, const char* name) {
  for (int i = 0; i < snap.count; ++i)
    if (std::strcmp(snap.units[i].name, name) == 0) return &snap.units[i];
  return nullptr;
}

TEST(IpxEndToEnd, FindsSimulatedUnitsWithNamesAndDescriptions) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  sim::IpxSide side(units_config({
      "name=Zeta,ip=127.0.0.2,ipx=on,wdx=16384,http=16385,desc=Zeta model",
      "name=alpha,ip=127.0.0.3,ipx=on,wdx=16384,http=16385,desc=Alpha model",
      "name=VEM_000003,ip=127.0.0.4,ipx=on,wdx=16390,http=16391,locator=off",
      "name=LocOnly,ip=127.0.0.5,ipx=on,wdx=16384,http=16385,sap=off",
      "name=Foreign,ip=127.0.0.6,ipx=on,wdx=16384,http=16385,"
      "signature=foreign",
      // Names without NUL: the SAP entries are skipped, the locator's
      // 20 bytes make the name.
      "name=NoNul,ip=127.0.0.7,ipx=on,no-nul=on",
      "name=Big,ip=127.0.0.8,ipx=on,sap-entries=8,locator=off",
      "name=Zero,ip=127.0.0.9,ipx=on,zero-sockets=on",
      "name=Late,ip=127.0.0.10,ipx=on,delay=1500,locator=off",
  }));
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  int count;
  {
    DiscoveryRun run;
    count = discover_units_using_ipx();
  }
  auto snap = published_ipx_units();
  const char* expected[] = {"Late",       "LocOnly", "NoNul_______________",
                            "VEM_000003", "Zero",    "Zeta",
                            "alpha"};  // byte-wise order
  ASSERT_EQ(count, 7);
  ASSERT_EQ(snap->count, 7);
  for (int i = 0; i < 7; ++i) EXPECT_STREQ(snap->units[i].name, expected[i]);
  EXPECT_EQ(find(*snap, "Zero")->wdx_port, 0);
  EXPECT_STREQ(find(*snap, "Zero")->description, "Print Server");

  const IpxUnitRecord* zeta = find(*snap, "Zeta");
  ASSERT_NE(zeta, nullptr);
  EXPECT_STREQ(zeta->description, "Zeta model");
  EXPECT_EQ(zeta->address.sa_family, 6);
  const uint8_t node[6] = {0, 0, 127, 0, 0, 2};
  EXPECT_EQ(std::memcmp(zeta->address.sa_nodenum, node, 6), 0);
  EXPECT_EQ(net::ntohs_(zeta->address.sa_socket), 16385);
  EXPECT_EQ(net::ntohs_(zeta->wdx_port), 16384);
  EXPECT_STREQ(find(*snap, "alpha")->description, "Alpha model");
  // Known by SAP alone, and by the locator alone.
  EXPECT_STREQ(find(*snap, "VEM_000003")->description,
               "Simulated print server");
  EXPECT_EQ(net::ntohs_(find(*snap, "VEM_000003")->address.sa_socket), 16391);
  EXPECT_EQ(net::ntohs_(find(*snap, "LocOnly")->address.sa_socket), 16385);
  EXPECT_STREQ(find(*snap, "LocOnly")->description, "Simulated print server");
  EXPECT_EQ(side.descriptions_served(), 6);
}

}  // namespace
