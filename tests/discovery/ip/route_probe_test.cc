#include "discovery/ip/route_probe.h"

#include <gtest/gtest.h>

#include "tests/discovery/helpers.h"

namespace {

using tav_test::ip;

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
// taken whatever the metric, with their masks.
TEST(RouteReplyTest, MetricsAgainstTheHopLimitAndVersion2Masks) {
  NetworkEntry t[kNetworkCapacity] = {
      tav_test::local_entry("192.168.1.5", "255.255.255.0", 0)};
  int n = process(t, 1, 2,
                  response("routes=192.168.2.0/1+192.168.3.0/2+192.168.4.0/3"));
  ASSERT_EQ(n, 3);
  EXPECT_EQ(t[1].network, ip("192.168.2.0"));
  EXPECT_EQ(t[2].network, ip("192.168.3.0"));
  EXPECT_EQ(t[1].local_address, ip("192.168.1.5"));
  EXPECT_EQ(process(t, 1, 0, response("routes=192.168.9.0/1")), 1);
  t[0] = tav_test::local_entry("172.16.5.9", "255.255.0.0", 1);
  n = process(
      t, 1, 2,
      response("version=2,routes=172.16.2.0/9/255.255.255.0+172.16.4.0/1"));
  ASSERT_EQ(n, 3);
  EXPECT_EQ(t[1].mask, ip("255.255.255.0"));
  EXPECT_EQ(t[2].mask, ip("255.255.0.0"));  // the probed entry's mask
  EXPECT_EQ(t[0].mask_guessed, 0u);
  // A known network announced again with a mask takes that mask.
  n = process(t, n, 2, response("version=2,routes=172.16.4.0/1/255.255.254.0"));
  EXPECT_EQ(n, 3);
  EXPECT_EQ(t[2].mask, ip("255.255.254.0"));
}

TEST(RouteReplyTest, GuessedMaskIsRefinedFromAnnouncedSubnets) {
  NetworkEntry t[kNetworkCapacity] = {
      tav_test::local_entry("172.16.5.9", "255.255.0.0", 1)};
  int n =
      process(t, 1, 2, response("routes=172.16.2.0/1+172.16.4.0/1+10.0.0.0/1"));
  ASSERT_EQ(n, 4);
  refine_guessed_mask(t, 0, 1, n);
  EXPECT_EQ(t[0].mask, ip("255.255.6.0"));
  EXPECT_EQ(t[1].mask, ip("255.255.6.0"));
  EXPECT_EQ(t[2].mask, ip("255.255.6.0"));
  EXPECT_EQ(t[3].mask, ip("255.0.0.0"));
  EXPECT_EQ(t[0].mask_guessed, 1u);
}

// Duplicates, the default route and a full table are the fuzz harness's.
TEST(RouteReplyTest, OnlyWholeIpEntriesOfRepliesFromTheRipPortCount) {
  NetworkEntry t[kNetworkCapacity] = {
      tav_test::local_entry("192.168.1.5", "255.255.255.0", 0)};
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
