// IPX discovery: locator replies and SAP responses as crafted bytes, and
// whole runs against simulated units.
#include "discovery/ipx/ipx_discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "discovery/ipx/probe.h"
#include "sim/ipx_side.h"
#include "tests/discovery/helpers.h"
#include "tests/support/fake_bindery.h"

namespace {

using tav_test::ScopedEnv;

// Locator replies and SAP responses as bytes, merged into a list.
class Replies : public ::testing::Test {
 protected:
  void locator(const std::vector<uint8_t>& bytes, int capacity = 500) {
    net::SockAddrIpx source{};
    source.sa_family = net::AF_IPX_;
    source.sa_nodenum[5] = 5;
    source.sa_socket = net::htons_(0x8449);
    accept_locator_reply(list_, &count_, capacity, bytes.data(),
                         static_cast<int>(bytes.size()), source);
  }
  void sap(const std::vector<uint8_t>& bytes, int free_room = 500) {
    accept_sap_response(bytes.data(), static_cast<int>(bytes.size()), list_,
                        &count_, free_room);
  }
  std::string listed(int first = 0) {
    return tav_test::ipx_units(list_, first, count_);
  }

  IpxUnitRecord list_[kIpxUnitCapacity] = {};
  int count_ = 0;
};

std::vector<uint8_t> locator_reply(const std::string& name, uint16_t wdx,
                                   uint16_t http, size_t size = 34) {
  std::vector<uint8_t> r = {0xFF, 0xFF, 0xC1, 0x00, 0, 0, 0, 0, 0, 0};
  for (uint16_t v : {wdx, http})
    r.insert(r.end(), {uint8_t(v >> 8), uint8_t(v)});
  r.insert(r.end(), name.begin(), name.end());
  r.resize(34, 0);
  r.resize(size);
  return r;
}

// A SAP General Service Response of entries "name node socket" (the last
// node byte, the socket in hex); a name of 48 characters has no NUL.
std::vector<uint8_t> sap_response(const std::string& entries, int type = 2) {
  std::vector<uint8_t> r = {0x00, static_cast<uint8_t>(type)};
  std::istringstream in(entries);
  std::string name;
  unsigned node, socket;
  while (in >> name >> node >> std::hex >> socket >> std::dec) {
    uint8_t entry[64] = {0x04, 0x14};
    std::memcpy(entry + 2, name.data(), name.size());
    const uint8_t place[10] = {10, 11, 12, 13, 0, 0, 10, 0, 0, uint8_t(node)};
    std::memcpy(entry + 50, place, 10);
    entry[60] = static_cast<uint8_t>(socket >> 8);
    entry[61] = static_cast<uint8_t>(socket);
    r.insert(r.end(), entry, entry + 64);
  }
  return r;
}

TEST_F(Replies, LocatorRepliesMakeEntriesFromTheirSource) {
  locator(locator_reply("A", 0x1111, 0x2222));
  EXPECT_EQ(list_[0].address.sa_family, 6);
  // Names from what arrived: 20 bytes without NUL, "ABC" cut. Ignored
  // (no name, no HTTP socket and no room: the fuzzer): no name byte
  // arrived, a foreign signature, HTTP socket cut, too long for the buffer.
  locator(locator_reply(std::string(20, 'T'), 1, 2));
  locator(locator_reply("ABCDEF", 1, 2, 17));
  locator(locator_reply("", 1, 2, 14));
  std::vector<uint8_t> foreign = locator_reply("F", 1, 2);
  foreign[3] = 0x01;
  locator(foreign);
  locator(locator_reply("S", 1, 2, 13));
  locator(locator_reply("Long", 1, 2, 35));
  EXPECT_EQ(listed(), "A 1111/2222@5, " + std::string(20, 'T') +
                          " 1/2@5, ABC 1/2@5");  // the node of its source
}

TEST_F(Replies, SapMergesServicesAndClassifiesNames) {
  locator(locator_reply("A", 0x1111, 0x2222));
  sap(
      sap_response("A 9 3333 A-HTML 9 4444 Q 3 5555 B-X-HTML 1 10 "
                   "B-X 1 11 CS1-HTML 2 12 CS1 2 13"));
  // No NUL in the name, nothing before "-HTML": skipped.
  sap(sap_response(std::string(48, 'N') + " 3 14 -HTML 3 17 B 1 15"));
  // A-HTML overwrites A's whole address, A its WDX socket; Q, known only
  // by its WDX service, has a zero address.
  EXPECT_EQ(listed(), "A 3333/4444@9, Q 5555/0@0, B 15/10@1, CS1 13/0@0");
  EXPECT_EQ(list_[0].address.sa_netnum[0], 10);
  net::SockAddrIpx zero{};
  EXPECT_EQ(std::memcmp(&list_[1].address, &zero, sizeof zero), 0);
}

TEST_F(Replies, SapExaminesNoMoreEntriesThanThereIsRoom) {
  std::strcpy(list_[0].name, "P0");
  std::strcpy(list_[1].name, "P1");
  count_ = 2;
  // Room for three: P1 and N4 lie beyond the three examined.
  sap(sap_response("N0 1 1 P0 1 2 N2 1 3 P1 1 4 N4 1 5"), 3);
  // Ignored (no room: the fuzzer): another packet type, too long.
  sap(sap_response("T 1 1", 3));
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += "E 1 1 ";
  sap(sap_response(eight));
  EXPECT_EQ(listed(), "P0 2/0@0, P1 0/0@0, N0 1/0@0, N2 3/0@0");
}

TEST(IpxDiscoveryRun, NoIpxStackFailsAndKeepsThePublishedList) {
  IpxUnitRecord earlier{};
  publish_ipx_units(&earlier, 1);
  ScopedEnv no_ipx("TAV_IPX", "off");
  EXPECT_EQ((DiscoveryRun(), discover_units_using_ipx()), -1);
  EXPECT_EQ(published_ipx_units()->count, 1);
}

// The units answer the broadcasts from their own addresses and serve their
// descriptions over SPX; a file server answers whose bindery is empty at
// first, then holds one unit, which is probed without broadcasts.
TEST(IpxDiscoveryRun, FindsSimulatedUnitsByBroadcastOrFromTheBindery) {
  TAV_REQUIRE_IPX_NETWORK();
  std::vector<std::string> args = {"--fileserver", "name=FS1,ip=127.0.0.20"};
  for (const char* unit :
       {"name=Zeta,ip=127.0.0.2,desc=Zeta model",
        "name=alpha,ip=127.0.0.3,desc=Alpha model",
        "name=VEM_000003,ip=127.0.0.4,wdx=16390,http=16391,locator=off",
        "name=LocOnly,ip=127.0.0.5,sap=off",
        "name=Late,ip=127.0.0.10,delay=1500,locator=off",
        "name=Bound,ip=127.0.0.22,wdx=16412,http=16413,desc=From bindery,"
        "locator=off,sap=off"})
    args.insert(args.end(), {"--unit", std::string(unit) + ",ipx=on"});
  sim::IpxSide side(tav_test::sim_config(args));
  ASSERT_TRUE(tav_test::started(side));
  tav_test::FakeBindery bindery;
  tav_test::ScopedNetWareClient installed(&bindery);
  ASSERT_EQ((DiscoveryRun(), discover_units_using_ipx()), 5);
  EXPECT_EQ(bindery.opened, 1);
  EXPECT_EQ(probes_running.load(), 0);
  auto published = [] {
    auto snap = published_ipx_units();
    std::string got;
    for (int i = 0; i < snap->count; ++i)
      got += tav_test::ipx_units(snap->units, i, i + 1) + " " +
             snap->units[i].description + "\n";
    return got;
  };
  EXPECT_EQ(published(),  // byte-wise order
            "Late 4000/4001@10 Simulated print server\n"
            "LocOnly 4000/4001@5 Simulated print server\n"
            "VEM_000003 4006/4007@4 Simulated print server\n"
            "Zeta 4000/4001@2 Zeta model\n"
            "alpha 4000/4001@3 Alpha model\n");
  bindery.add("Bound-HTML", 16413, 22);
  bindery.add("Bound", 16412, 22);
  ASSERT_EQ((DiscoveryRun(), discover_units_using_ipx()), 1);
  EXPECT_EQ(published(), "Bound 401C/401D@22 From bindery\n");
}

}  // namespace
