// The network table: the host's own networks, and those a router's reply
// announces.
#include "discovery/ip/network_table.h"

#include <gtest/gtest.h>

#include "discovery/ip/route_probe.h"
#include "tests/discovery/helpers.h"
#include "tests/support/scratch.h"

namespace {

using tav_test::ip;

// Entries 0 to n-1 as "network/mask", "?" after a guessed mask.
std::string rows(const NetworkEntry* t, int n) {
  std::string out;
  char network[16], mask[16];
  for (int i = 0; i < n; ++i) {
    net::inet_ntoa(t[i].network, network, sizeof network);
    net::inet_ntoa(t[i].mask, mask, sizeof mask);
    out += std::string(i ? " " : "") + network + "/" + mask +
           (t[i].mask_guessed ? "?" : "");
  }
  return out;
}

TEST(NaturalMaskTest, ByAddressClass) {
  const char* cases[][2] = {
      {"10.1.2.3", "255.0.0.0"},      {"127.0.0.1", "255.0.0.0"},
      {"172.16.5.9", "255.255.0.0"},  {"192.168.1.1", "255.255.255.0"},
      {"224.0.0.9", "255.255.255.0"}, {"250.1.1.1", "255.255.255.0"}};
  for (auto& c : cases) EXPECT_EQ(natural_mask_of(ip(c[0])), ip(c[1])) << c[0];
}

TEST(LocalInterfaceTest, ConfiguredMaskWinsElseTheNaturalOne) {
  NetworkEntry t[1] = {};
  NetworkEntry list[3] = {tav_test::local_entry("10.9.9.9", "255.255.255.0"),
                          tav_test::local_entry("172.16.5.9", "255.255.0.0"),
                          tav_test::local_entry("172.16.5.9", "255.255.255.0")};
  EXPECT_EQ(set_local_interface(t, true, ip("10.1.2.3"), list, 1), 1);
  EXPECT_EQ(rows(t, 1), "10.0.0.0/255.0.0.0?");
  // Of two matches the last counts.
  EXPECT_EQ(set_local_interface(t, true, ip("172.16.5.9"), list, 3), 1);
  EXPECT_EQ(rows(t, 1), "172.16.5.0/255.255.255.0");
  EXPECT_EQ(t[0].natural_mask, ip("255.255.0.0"));
  // An unknown host address leaves no network to probe.
  EXPECT_EQ(set_local_interface(t, false, 0, nullptr, 0), 0);
  EXPECT_EQ(rows(t, 1).substr(0, 15), "0.0.0.0/0.0.0.0");
}

// The Windows readers stay and are tried against a hive.
TEST(ConfiguredInterfacesTest, Windows9xAndNtKeys) {
  tav_test::ScratchHive hive(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\NetTrans\0000]
"IPAddress"="0.0.0.0"
"IPMask"="255.255.255.0"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\NetTrans\0003]
"IPAddress"="172.16.5.9"
"IPMask"="255.255.255.0"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\NetTrans\0015]
"IPAddress"="10.1.2.3"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\1]
"ServiceName"="El90x1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\2]
"ServiceName"="NdisWan4"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\El90x1\Parameters\Tcpip]
"IPAddress"="192.168.7.20"
"SubnetMask"="255.255.255.0"
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\NdisWan4\Parameters\Tcpip]
"IPAddress"="0.0.0.0"
"SubnetMask"="0.0.0.0"
)");
  NetworkEntry list[kMaxConfiguredInterfaces];
  // 9x: the zero address and the entry without a mask are skipped.
  ASSERT_EQ(read_configured_interfaces(kPlatformWin9x, list, 20), 1);
  EXPECT_EQ(list[0].local_address, ip("172.16.5.9"));
  EXPECT_EQ(rows(list, 1), "172.16.5.0/255.255.255.0");
  EXPECT_EQ(read_interfaces_9x(list, 0), 0);
  // NT: the zero address is dropped.
  ASSERT_EQ(read_configured_interfaces(kPlatformWinNt, list, 20), 1);
  EXPECT_EQ(rows(list, 1), "192.168.7.0/255.255.255.0");
}

// A response datagram built by the simulator's responder from its options
// (version=, routes=NET/METRIC[/MASK]+..., extra-bytes=).
std::vector<uint8_t> response(const std::string& options) {
  uint8_t request[kRouteRequestSize];
  build_route_request(request);
  auto replies = sim::rip_responses(
      tav_test::rip_router("ip=127.0.0.1," + options), request, sizeof request);
  EXPECT_EQ(replies.size(), 1u);
  return replies.empty() ? std::vector<uint8_t>{} : replies[0];
}

int process(NetworkEntry* table, int count, uint32_t hop_limit,
            const std::vector<uint8_t>& d, uint16_t from_port = kRipPort) {
  return process_route_reply(table, 0, count, kNetworkCapacity, hop_limit,
                             d.data(), static_cast<int>(d.size()),
                             net::make_addr_in(ip("192.168.1.1"), from_port));
}

TEST(RouteRequestTest, AsksForTheWholeTable) {
  std::vector<uint8_t> b(kRouteRequestSize);
  build_route_request(b.data());
  EXPECT_EQ(b, (std::vector<uint8_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16}));
}

// Version 1 entries count against the hop limit; version 2 entries are
// taken whatever the metric, with their masks; only whole IP entries of
// replies from the RIP port count. Duplicates, the default route and a full
// table are the fuzz harness's.
TEST(RouteReplyTest, MetricsMasksAndWholeEntriesOfRouterReplies) {
  NetworkEntry t[kNetworkCapacity] = {
      tav_test::local_entry("192.168.1.5", "255.255.255.0", 0)};
  int n = process(t, 1, 2,
                  response("routes=192.168.2.0/1+192.168.3.0/2+192.168.4.0/3"));
  EXPECT_EQ(rows(t, n),
            "192.168.1.0/255.255.255.0 192.168.2.0/255.255.255.0 "
            "192.168.3.0/255.255.255.0");
  EXPECT_EQ(t[1].local_address, ip("192.168.1.5"));
  EXPECT_EQ(process(t, 1, 0, response("routes=192.168.9.0/1")), 1);
  t[0] = tav_test::local_entry("172.16.5.9", "255.255.0.0", 1);
  n = process(
      t, 1, 2,
      response("version=2,routes=172.16.2.0/9/255.255.255.0+172.16.4.0/1"));
  // The second takes the probed entry's mask.
  EXPECT_EQ(rows(t, n),
            "172.16.0.0/255.255.0.0 172.16.2.0/255.255.255.0 "
            "172.16.4.0/255.255.0.0");
  // A known network announced again with a mask takes that mask.
  n = process(t, n, 2, response("version=2,routes=172.16.4.0/1/255.255.254.0"));
  EXPECT_EQ(rows(t, n).substr(48), "172.16.4.0/255.255.254.0");
  // A guessed mask is refined from the announced subnets.
  t[0] = tav_test::local_entry("172.16.5.9", "255.255.0.0", 1);
  n = process(t, 1, 2, response("routes=172.16.2.0/1+172.16.4.0/1+10.0.0.0/1"));
  refine_guessed_mask(t, 0, 1, n);
  EXPECT_EQ(rows(t, n),
            "172.16.0.0/255.255.6.0? 172.16.2.0/255.255.6.0 "
            "172.16.4.0/255.255.6.0 10.0.0.0/255.0.0.0");
  t[0] = tav_test::local_entry("192.168.1.5", "255.255.255.0", 0);
  // The last entry lacks 3 bytes: everything before it is still taken.
  std::vector<uint8_t> d = response("routes=192.168.7.0/1+192.168.8.0/1");
  d.resize(d.size() - 3);
  EXPECT_EQ(process(t, 1, 2, d), 2);
  EXPECT_EQ(t[1].network, ip("192.168.7.0"));
  d = response("routes=192.168.9.0/1");
  d[0] = 1;  // a request
  EXPECT_EQ(process(t, 2, 2, d), 2);
  // A version-2 authentication entry (family FFFF, type 2, a password
  // whose first bytes would read as an address) before a real one.
  d = response("version=2,routes=192.168.6.0/1");
  const uint8_t auth[20] = {0xFF, 0xFF, 0x00, 0x02, 's',
                            'e',  'c',  'r',  'e',  't'};
  d.insert(d.begin() + 4, auth, auth + sizeof auth);
  EXPECT_EQ(process(t, 1, 2, d), 2);
  EXPECT_EQ(t[1].network, ip("192.168.6.0"));
  // The same reply from any port but 520 is not a router's.
  EXPECT_EQ(process(t, 1, 2, response("routes=192.168.7.0/1"), 5200), 1);
}

}  // namespace
