#include "discovery/ip/unit_probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/ip/snmp_codec.h"
#include "discovery/ip/unit_queries.h"
#include "platform/net.h"
#include "sim/snmp_agent.h"
#include "tests/support/netns.h"

namespace {

uint32_t ip(const char* dotted) { return net::inet_addr(dotted); }

std::string hw_text(const uint8_t* hw) {
  char b[24];
  std::snprintf(b, sizeof b, "%02X-%02X-%02X-%02X-%02X-%02X", hw[0], hw[1],
                hw[2], hw[3], hw[4], hw[5]);
  return b;
}

sim::SnmpUnit unit(const char* address, const char* hw) {
  sim::SnmpUnit u;
  u.ip = ip(address);
  sim::Entity e;
  e.kind = "unit";
  e.options = {{"ip", address}, {"hw", hw}};
  std::string error;
  EXPECT_TRUE(sim::snmp_unit_from_entity(e, &u, &error)) << error;
  return u;
}

const UnitRecord* find(const UnitRecord* list, int n, const char* address) {
  for (int i = 0; i < n; ++i)
    if (list[i].address.sin_addr == ip(address)) return &list[i];
  return nullptr;
}

uint16_t port_of(const UnitRecord* u) {
  return net::ntohs_(u->address.sin_port);
}

class UnitProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    set_unit_model_strings("VEM_", "Print Server", "MIO Based Printer", 10001,
                           3);
    loopback_.local_address = ip("127.0.0.1");
    loopback_.network = ip("127.0.0.0");
    loopback_.mask = ip("255.0.0.0");
    loopback_.natural_mask = loopback_.mask;
  }

  // Runs the probe against the agent's units; returns the found-units line.
  std::string probe(std::vector<sim::SnmpUnit> units, const NetworkEntry* table,
                    int networks, int* count, int* requests = nullptr) {
    sim::SnmpAgent agent(std::move(units));
    std::string error;
    EXPECT_TRUE(agent.start(&error)) << error;
    testing::internal::CaptureStdout();
    *count =
        probe_units_by_broadcast(table, networks, list_, kIpUnitCapacity, 0);
    std::string out = testing::internal::GetCapturedStdout();
    agent.stop();
    if (requests) *requests = agent.requests_received();
    return out;
  }

  NetworkEntry loopback_{};
  UnitRecord list_[kIpUnitCapacity] = {};
};

TEST_F(UnitProbeTest, RecognisesUnitsCandidatesAndMisbehavingReplies) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  std::vector<sim::SnmpUnit> units;
  units.push_back(unit("127.0.0.2", "00-02-F5-48-2C-6A"));  // bit-reversed
  units.back().port = 0;
  units.push_back(unit("127.0.0.3", "00-40-AF-00-00-08"));
  units.back().port = 8080;
  units.back().name = std::string("Second floor, east wing, next to the lift");
  units.push_back(unit("127.0.0.4", "08-00-09-11-22-33"));  // foreign
  units.back().number = "123456";
  units.push_back(unit("127.0.0.5", "08-00-09-11-22-34"));  // foreign, mute
  units.push_back(unit("127.0.0.6", "00-40-AF-00-00-10"));
  units.back().truncate = 47;
  units.push_back(unit("127.0.0.7", "00-40-AF-00-00-18"));
  units.back().request_id = 1;
  units.push_back(unit("127.0.0.8", "00-40-AF-00-00-20"));
  units.back().long_form = true;
  units.push_back(unit("127.0.0.9", "00-40-AF-00-00-28"));
  units.back().delay_ms = 1500;  // after the half second of silence
  units.push_back(unit("127.0.0.10", "00-40-AF-00-00-30"));
  units.back().port_size = 2;
  units.back().name = " spaced";
  int count = 0;
  std::string line = probe(units, &loopback_, 1, &count);
  // Eight answered the broadcast (the late one too late); three are units,
  // the foreign device with a unit number a fourth.
  EXPECT_EQ(line, "Found 4 units out of 8 packets received.\n");
  ASSERT_EQ(count, 4);

  const UnitRecord* u = find(list_, count, "127.0.0.2");
  ASSERT_NE(u, nullptr);
  EXPECT_STREQ(u->name, "VEM_149130");  // 00-40-AF-12-34-56
  EXPECT_EQ(port_of(u), 10001);         // reported port 0
  u = find(list_, count, "127.0.0.3");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(port_of(u), 8080);
  EXPECT_STREQ(u->name, "Second floor, east wing, next to the lif");
  u = find(list_, count, "127.0.0.4");
  ASSERT_NE(u, nullptr);
  EXPECT_STREQ(u->name, "VEM_123456");
  u = find(list_, count, "127.0.0.10");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(port_of(u), 10001);         // 2-byte INTEGER refused
  EXPECT_STREQ(u->name, "VEM_000006");  // name with a leading space refused
  for (const char* absent :
       {"127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"})
    EXPECT_EQ(find(list_, count, absent), nullptr) << absent;
  EXPECT_EQ(candidate_count, 2);
}

TEST_F(UnitProbeTest, UnitOnTwoNetworksIsListedOnce) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  NetworkEntry table[2] = {loopback_, loopback_};
  table[1].mask = ip("255.255.255.0");  // 127.0.0.255: reaches it too
  int count = 0;
  std::string line =
      probe({unit("127.0.0.2", "00-40-AF-12-34-56")}, table, 2, &count);
  EXPECT_EQ(line, "Found 1 units out of 2 packets received.\n");
  EXPECT_EQ(count, 1);
}

TEST_F(UnitProbeTest, NoNetworkSendsNothing) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  int count = -1;
  int requests = -1;
  std::string line = probe({unit("127.0.0.2", "00-40-AF-12-34-56")}, nullptr, 0,
                           &count, &requests);
  EXPECT_EQ(line, "Found 0 units out of 0 packets received.\n");
  EXPECT_EQ(count, 0);
  EXPECT_EQ(requests, 0);
}

TEST(HardwareReplyHandlingTest, FullCandidateListDropsFurtherDevices) {
  sim::SnmpUnit foreign;
  const uint8_t hw[6] = {0x08, 0x00, 0x09, 1, 2, 3};
  std::memcpy(foreign.hw, hw, 6);
  uint8_t request[42];
  build_hardware_address_request(request);
  std::vector<uint8_t> r = sim::snmp_reply(foreign, request, 42);
  UnitRecord list[1] = {};
  candidate_count = kCandidateCapacity - 1;
  net::SockAddrIn from = net::make_addr_in(ip("10.0.0.1"), 161);
  EXPECT_EQ(handle_hardware_reply(r.data(), int(r.size()), from, list, 1, 0),
            0);
  EXPECT_EQ(candidate_count, kCandidateCapacity);
  EXPECT_EQ(candidate_list[kCandidateCapacity - 1].sin_addr, ip("10.0.0.1"));
  EXPECT_EQ(handle_hardware_reply(r.data(), int(r.size()), from, list, 1, 0),
            0);
  EXPECT_EQ(candidate_count, kCandidateCapacity);
  candidate_count = 0;
}

TEST(HardwareAddressTest, BitReversalAndUnitNumbers) {
  const uint8_t reversed[6] = {0x00, 0x02, 0xF5, 0x48, 0x2C, 0x6A};
  uint8_t out[6];
  reverse_bits_of_bytes(reversed, out);
  EXPECT_EQ(hw_text(out), "00-40-AF-12-34-56");
  hardware_from_unit_number(123456, out);
  EXPECT_EQ(hw_text(out), "00-40-AF-0F-12-00");
  hardware_from_unit_number(0, out);
  EXPECT_EQ(hw_text(out), "00-40-AF-00-00-00");
}

TEST(UnitQueryTest, DescriptionsAndTheGenericFallback) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  set_unit_model_strings("VEM_", "Print Server", "MIO Based Printer", 10001, 3);
  std::vector<sim::SnmpUnit> units;
  const char* texts[] = {"LaserJet 5Si MX", " ", "X", nullptr};
  for (int i = 0; i < 4; ++i) {
    units.push_back(unit(("127.0.1." + std::to_string(i + 1)).c_str(),
                         "00-40-AF-00-00-08"));
    units.back().description = texts[i] ? texts[i] : std::string(130, 'w');
  }
  units.push_back(unit("127.0.1.5", "00-40-AF-00-00-08"));
  units.back().silent = {"description"};
  sim::SnmpAgent agent(units);
  std::string error;
  ASSERT_TRUE(agent.start(&error)) << error;
  UnitRecord list[5] = {};
  for (int i = 0; i < 5; ++i) {
    list[i].address = net::make_addr_in(units[i].ip, 10001);
    std::strcpy(list[i].description, "stale");
  }
  describe_units(list, 5);
  EXPECT_STREQ(list[0].description, "LaserJet 5Si MX");
  EXPECT_STREQ(list[1].description, "MIO Based Printer");
  EXPECT_STREQ(list[2].description, "Print Server");
  EXPECT_STREQ(list[3].description, "Print Server");
  EXPECT_STREQ(list[4].description, "Print Server");
}

TEST(UnitQueryTest, NamesByLookupKeepShortNamesOnly) {
  UnitRecord list[1] = {};
  list[0].address = net::make_addr_in(ip("127.0.0.1"), 10001);
  std::strcpy(list[0].name, "127.0.0.1");
  name_units_by_lookup(list, 1);
  char expected[256];
  if (!net::reverse_lookup(ip("127.0.0.1"), expected, sizeof expected) ||
      std::strlen(expected) >= 40)
    std::strcpy(expected, "127.0.0.1");
  EXPECT_STREQ(list[0].name, expected);
}

}  // namespace
