#include "discovery/ip/unit_probe.h"

#include <gtest/gtest.h>

#include "discovery/ip/snmp_codec.h"
#include "discovery/ip/unit_queries.h"
#include "tests/discovery/helpers.h"
#include "tests/support/netns.h"

namespace {

using tav_test::ip;
using tav_test::snmp_units;

class UnitProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    set_unit_model_strings("VEM_", "Print Server", "MIO Based Printer", 10001,
                           3);
    loopback_[0] = tav_test::local_entry("127.0.0.1", "255.0.0.0");
    loopback_[1] = tav_test::local_entry("127.0.0.1", "255.255.255.0");
  }

  // Broadcasts to the networks with the agent playing the units; returns
  // the found-units line.
  std::string probe(const std::vector<std::string>& units,
                    const NetworkEntry* table, int networks) {
    sim::SnmpAgent agent(snmp_units(units));
    std::string error;
    EXPECT_TRUE(agent.start(&error)) << error;
    std::string out = tav_test::stdout_of([&] {
      count_ =
          probe_units_by_broadcast(table, networks, list_, kIpUnitCapacity, 0);
    });
    agent.stop();
    requests_ = agent.requests_received();
    return out;
  }

  // The listed unit at `address`: "name port", or "" when not listed.
  std::string unit_at(const char* address) {
    for (int i = 0; i < count_; ++i)
      if (list_[i].address.sin_addr == ip(address))
        return std::string(list_[i].name) + " " +
               std::to_string(net::ntohs_(list_[i].address.sin_port));
    return "";
  }

  NetworkEntry loopback_[2] = {};  // every device answers on both
  UnitRecord list_[kIpUnitCapacity] = {};
  int count_ = -1, requests_ = -1;
};

TEST_F(UnitProbeTest, RecognisesUnitsCandidatesAndMisbehavingReplies) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  std::string line =
      probe({"ip=127.0.0.2,hw=00-02-F5-48-2C-6A,port=0",  // bit-reversed
             "ip=127.0.0.3,hw=00-40-AF-00-00-08,port=8080,"
             "name=\"Second floor, east wing, next to the lift\"",
             "ip=127.0.0.4,hw=08-00-09-11-22-33,number=123456",  // foreign
             "ip=127.0.0.5,hw=08-00-09-11-22-34",  // foreign without a number
             "ip=127.0.0.6,hw=00-40-AF-00-00-10,truncate=47",
             "ip=127.0.0.9,hw=00-40-AF-00-00-28,delay=1500"},  // too late
            loopback_, 2);
  EXPECT_EQ(line, "Found 3 units out of 10 packets received.\n");
  ASSERT_EQ(count_, 3);
  EXPECT_EQ(unit_at("127.0.0.2"), "VEM_149130 10001");  // port 0: default
  EXPECT_EQ(unit_at("127.0.0.3"),
            "Second floor, east wing, next to the lif 8080");
  EXPECT_EQ(unit_at("127.0.0.4"), "VEM_123456 10001");
  EXPECT_EQ(candidate_count, 2);  // each device once
  // No network, no datagram.
  EXPECT_EQ(probe({"ip=127.0.0.2"}, nullptr, 0),
            "Found 0 units out of 0 packets received.\n");
  EXPECT_EQ(requests_, 0);
}

TEST(HardwareReplyHandlingTest, FullCandidateListDropsFurtherDevices) {
  uint8_t request[42];
  build_hardware_address_request(request);
  std::vector<uint8_t> r = sim::snmp_reply(
      snmp_units({"ip=10.0.0.1,hw=08-00-09-01-02-03"})[0], request, 42);
  UnitRecord list[1] = {};
  candidate_count = kCandidateCapacity - 1;
  for (const char* from : {"10.0.0.1", "10.0.0.2"}) {
    net::SockAddrIn address = net::make_addr_in(ip(from), 161);
    EXPECT_EQ(
        handle_hardware_reply(r.data(), int(r.size()), address, list, 1, 0), 0);
    EXPECT_EQ(candidate_count, kCandidateCapacity);
  }
  EXPECT_EQ(candidate_list[kCandidateCapacity - 1].sin_addr, ip("10.0.0.1"));
  candidate_count = 0;
}

}  // namespace
