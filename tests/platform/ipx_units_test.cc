// The program over IPX in Ethernet frames against simulated units of every
// frame type on one LAN: found by SAP and the locator query, described
// over SPX, and served through the gateway over SPX. A unit answering in
// two frame types is listed once.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "discovery/ipx/ipx_discovery.h"
#include "discovery/units.h"
#include "gateway/listener.h"
#include "platform/catalogue.h"
#include "platform/threads.h"
#include "sim/ipx_side.h"
#include "sim/sides.h"
#include "tests/discovery/helpers.h"
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"
#include "tests/support/scratch.h"

namespace {

// A page through the gateway on this host, read until the gateway closes.
std::string get(const std::string& path) {
  net::Socket s = net::socket(net::AF_INET_, net::SOCK_STREAM_, 0);
  net::SockAddrIn gateway =
      net::make_addr_in(net::inet_addr("127.0.0.1"), kGatewayPort);
  for (int i = 0; i < 100 && net::connect(s, gateway) != 0; ++i) Sleep(20);
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: x\r\n\r\n";
  net::send(s, request.data(), static_cast<int>(request.size()));
  std::string page;
  char buf[65536];
  for (int n; net::wait_readable(s, 20000) == 1 &&
              (n = net::recv(s, buf, sizeof buf)) > 0;)
    page.append(buf, static_cast<size_t>(n));
  net::closesocket(s);
  return page;
}

TEST(IpxUnitsInEthernetFrames, EveryFrameTypeIsFoundDescribedAndServed) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  ipx_test::Lan* lan = ipx_test::host_lan();
  ASSERT_TRUE(lan != nullptr);
  ipx_test::ScopedEthernet ethernet(lan->name(0));
  ASSERT_TRUE(ethernet.ok());
  ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));

  std::vector<std::string> args = {
      std::string("--ipx-interface=") + lan->name(1), "--ipx-network=00BEEF01"};
  for (const char* unit :
       {"name=Two,ip=10.79.0.6,frame=ethernet_ii+snap,desc=Two types",
        "name=Eth2,ip=10.79.0.2,frame=ethernet_ii,desc=Type II",
        "name=Raw,ip=10.79.0.3,frame=802.3,desc=Raw 802.3",
        "name=Llc,ip=10.79.0.4,frame=802.2,desc=LLC",
        "name=Snap,ip=10.79.0.5,frame=snap,desc=SNAP,locator=off"}) {
    args.insert(args.end(),
                {"--unit", std::string(unit) + ",ipx=on,http=16385"});
  }
  sim::Config config = tav_test::sim_config(args);
  sim::IpxSide side(config);
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  ASSERT_TRUE(sim::start_web_side(config));

  int found;
  {
    DiscoveryRun run;
    found = discover_units_using_ipx();
  }
  ASSERT_EQ(found, 5);
  auto snap = published_ipx_units();
  std::string got;
  for (int i = 0; i < snap->count; ++i)
    got += tav_test::ipx_units(snap->units, i, i + 1) + " " +
           snap->units[i].description + "\n";
  EXPECT_EQ(got,
            "Eth2 4000/4001@2 Type II\n"
            "Llc 4000/4001@4 LLC\n"
            "Raw 4000/4001@3 Raw 802.3\n"
            "Snap 4000/4001@5 SNAP\n"
            "Two 4000/4001@6 Two types\n");
  EXPECT_EQ(
      std::string(
          reinterpret_cast<const char*>(snap->units[0].address.sa_netnum), 4),
      std::string("\x00\xBE\xEF\x01", 4));

  std::thread([] { gateway_listener(); }).detach();
  for (const char* name : {"Eth2", "Raw", "Llc", "Snap", "Two"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(get(std::string("/") + name + "-HTML/status.htm")
                  .find(std::string("Status of ") + name),
              std::string::npos);
  }
}

}  // namespace
