// IPX discovery: the handling of locator replies and SAP responses (fed
// crafted datagrams over the loopback), and whole runs.
#include "discovery/ipx/ipx_discovery.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/ipx/bindery_scan.h"
#include "discovery/ipx/probe.h"
#include "discovery/units.h"
#include "platform/threads.h"
#include "sim/ipx_side.h"
#include "tests/support/fake_bindery.h"
#include "tests/support/netns.h"

namespace {

// A receiving IPX socket on the loopback and a sender at 127.0.0.5.
class Datagrams : public ::testing::Test {
 protected:
  void SetUp() override {
    rx_ = net::socket(net::AF_IPX_, net::SOCK_DGRAM_, net::NSPROTO_IPX);
    tx_ = net::socket(net::AF_IPX_, net::SOCK_DGRAM_, net::NSPROTO_IPX);
    ASSERT_NE(rx_, net::INVALID_SOCKET);
    net::SockAddrIpx a{};
    a.sa_family = net::AF_IPX_;
    a.sa_nodenum[2] = 127;
    a.sa_nodenum[5] = 1;
    ASSERT_EQ(net::bind(rx_, a), 0);
    ASSERT_EQ(net::getsockname(rx_, &to_), 0);
    a.sa_nodenum[5] = 5;
    ASSERT_EQ(net::bind(tx_, a), 0);
    std::memset(list_, 0, sizeof list_);
  }
  void TearDown() override {
    net::closesocket(rx_);
    net::closesocket(tx_);
  }
  void send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(
        net::sendto(tx_, bytes.data(), static_cast<int>(bytes.size()), to_),
        static_cast<int>(bytes.size()));
    ASSERT_EQ(net::wait_readable(rx_, 2000), 1);
  }
  void locator(const std::vector<uint8_t>& bytes, int capacity = 500) {
    send(bytes);
    accept_locator_reply(list_, rx_, &count_, capacity);
  }
  void sap(const std::vector<uint8_t>& bytes, int free_room = 500) {
    send(bytes);
    accept_sap_response(rx_, list_, &count_, free_room);
  }

  net::Socket rx_ = net::INVALID_SOCKET, tx_ = net::INVALID_SOCKET;
  net::SockAddrIpx to_{};
  IpxUnitRecord list_[kIpxUnitCapacity];
  int count_ = 0;
};

std::vector<uint8_t> locator_reply(const std::string& name, uint16_t wdx,
                                   uint16_t http) {
  std::vector<uint8_t> r = {0xFF, 0xFF, 0xC1, 0x00, 0, 0, 0, 0, 0, 0};
  r.push_back(static_cast<uint8_t>(wdx >> 8));
  r.push_back(static_cast<uint8_t>(wdx));
  r.push_back(static_cast<uint8_t>(http >> 8));
  r.push_back(static_cast<uint8_t>(http));
  r.insert(r.end(), name.begin(), name.end());
  r.resize(34, 0);
  return r;
}

struct Entry {
  std::string name;
  uint8_t node_last;
  uint16_t socket;
};

// A SAP General Service Response; a name of 48 characters has no NUL.
std::vector<uint8_t> sap_response(const std::vector<Entry>& entries) {
  std::vector<uint8_t> r = {0x00, 0x02};
  for (const Entry& e : entries) {
    std::vector<uint8_t> entry(64, 0);
    entry[0] = 0x04;
    entry[1] = 0x14;
    std::memcpy(entry.data() + 2, e.name.data(), e.name.size());
    const uint8_t place[10] = {0x0A, 0x0B, 0x0C, 0x0D, 0,
                               0,    10,   0,    0,    e.node_last};
    std::memcpy(entry.data() + 50, place, 10);
    entry[60] = static_cast<uint8_t>(e.socket >> 8);
    entry[61] = static_cast<uint8_t>(e.socket);
    r.insert(r.end(), entry.begin(), entry.end());
  }
  return r;
}

TEST_F(Datagrams, LocatorReplyMakesAnEntryFromItsSource) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  locator(locator_reply("A", 0x1111, 0x2222));
  ASSERT_EQ(count_, 1);
  EXPECT_STREQ(list_[0].name, "A");
  EXPECT_EQ(list_[0].address.sa_family, 6);
  const uint8_t node[6] = {0, 0, 127, 0, 0, 5};
  EXPECT_EQ(std::memcmp(list_[0].address.sa_nodenum, node, 6), 0);
  EXPECT_EQ(net::ntohs_(list_[0].address.sa_socket), 0x2222);
  EXPECT_EQ(net::ntohs_(list_[0].wdx_port), 0x1111);
  locator(locator_reply("A", 0x1111, 0x2222));  // no duplicate check
  EXPECT_EQ(count_, 2);
}

TEST_F(Datagrams, LocatorRepliesThatAreIgnored) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  std::vector<uint8_t> foreign = locator_reply("F", 1, 2);
  foreign[3] = 0x01;
  locator(foreign);
  locator(locator_reply("Z", 1, 0));  // no HTTP socket
  std::vector<uint8_t> shorter = locator_reply("S", 1, 2);
  shorter.resize(13);  // the HTTP socket is cut
  locator(shorter);
  std::vector<uint8_t> longer = locator_reply("L", 1, 2);
  longer.resize(35);  // too long for the 34-byte buffer
  locator(longer);
  locator(locator_reply("Full", 1, 2), 0);
  EXPECT_EQ(count_, 0);
}

TEST_F(Datagrams, LocatorNameIsTakenFromWhatArrived) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  std::vector<uint8_t> twenty = locator_reply(std::string(20, 'T'), 1, 2);
  locator(twenty);  // no NUL in its 20 bytes
  std::vector<uint8_t> cut = locator_reply("ABCDEF", 1, 2);
  cut.resize(17);  // "ABC" and no NUL
  locator(cut);
  std::vector<uint8_t> stale = locator_reply("", 1, 2);
  stale.resize(14);
  locator(stale);
  ASSERT_EQ(count_, 3);
  EXPECT_EQ(std::string(list_[0].name), std::string(20, 'T'));
  EXPECT_STREQ(list_[1].name, "ABC");
  EXPECT_STREQ(list_[2].name, "");
}

TEST_F(Datagrams, SapMergesWdxAndHttpServicesOfOneUnit) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  locator(locator_reply("A", 0x1111, 0x2222));
  sap(sap_response(
      {{"A", 9, 0x3333}, {"A-HTML", 9, 0x4444}, {"Q", 3, 0x5555}}));
  ASSERT_EQ(count_, 2);
  // A-HTML overwrites the whole address, A the WDX socket.
  EXPECT_EQ(list_[0].address.sa_family, 6);
  const uint8_t place[10] = {0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 10, 0, 0, 9};
  EXPECT_EQ(std::memcmp(list_[0].address.sa_netnum, place, 10), 0);
  EXPECT_EQ(net::ntohs_(list_[0].address.sa_socket), 0x4444);
  EXPECT_EQ(net::ntohs_(list_[0].wdx_port), 0x3333);
  // Known only by its WDX service: zero address.
  EXPECT_STREQ(list_[1].name, "Q");
  net::SockAddrIpx zero{};
  EXPECT_EQ(std::memcmp(&list_[1].address, &zero, sizeof zero), 0);
  EXPECT_EQ(net::ntohs_(list_[1].wdx_port), 0x5555);
}

TEST_F(Datagrams, SapNamesAreClassifiedAndCut) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  sap(sap_response({{"B-X-HTML", 1, 0x10},
                    {"B-X", 1, 0x11},
                    {"CS1-HTML", 2, 0x12},
                    {"CS1", 2, 0x13},
                    {std::string(48, 'N'), 3, 0x14},
                    {"B", 1, 0x15}}));
  ASSERT_EQ(count_, 2);
  EXPECT_STREQ(list_[0].name, "B");
  EXPECT_EQ(net::ntohs_(list_[0].address.sa_socket), 0x10);
  EXPECT_EQ(net::ntohs_(list_[0].wdx_port), 0x15);
  EXPECT_STREQ(list_[1].name, "CS1");
  EXPECT_EQ(list_[1].address.sa_socket, 0);
  EXPECT_EQ(net::ntohs_(list_[1].wdx_port), 0x13);
}

TEST_F(Datagrams, SapExaminesNoMoreEntriesThanThereIsRoom) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  for (int i = 0; i < 497; ++i)
    std::snprintf(list_[i].name, sizeof list_[i].name, "P%d", i);
  count_ = 497;
  sap(sap_response({{"N0", 1, 1},
                    {"P0", 1, 2},
                    {"N2", 1, 3},
                    {"P1", 1, 4},
                    {"N4", 1, 5},
                    {"N5", 1, 6},
                    {"N6", 1, 7}}),
      3);
  EXPECT_EQ(count_, 499);
  EXPECT_EQ(net::ntohs_(list_[0].wdx_port), 2);
  EXPECT_EQ(list_[1].wdx_port, 0);  // P1 lies beyond the three examined
  EXPECT_STREQ(list_[497].name, "N0");
  EXPECT_STREQ(list_[498].name, "N2");
  sap(sap_response({{"M", 1, 1}}), 0);
  EXPECT_EQ(count_, 499);
}

TEST_F(Datagrams, SapResponsesThatAreIgnored) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  std::vector<uint8_t> other_type = sap_response({{"T", 1, 1}});
  other_type[1] = 0x03;
  sap(other_type);
  std::vector<uint8_t> too_short = sap_response({{"S", 1, 1}});
  too_short.resize(63);
  sap(too_short);
  std::vector<Entry> eight(8, Entry{"E", 1, 1});
  sap(sap_response(eight));  // 514 bytes: longer than the buffer
  EXPECT_EQ(count_, 0);
}

TEST(FindIpxUnit, MatchesWholeNamesWithCase) {
  IpxUnitRecord list[3] = {};
  std::strcpy(list[0].name, "Unit");
  std::strcpy(list[1].name, "unit");
  std::strcpy(list[2].name, "Unit");
  EXPECT_EQ(find_ipx_unit(list, "unit", 3), 1);
  EXPECT_EQ(find_ipx_unit(list, "Unit", 3), 0);
  EXPECT_EQ(find_ipx_unit(list, "Uni", 3), -1);
  EXPECT_EQ(find_ipx_unit(list, "unit", 1), -1);
  EXPECT_EQ(find_ipx_unit(list, "Unit", 0), -1);
  EXPECT_EQ(find_ipx_unit(list, "Unit", -1), -1);
}

class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    setenv(name, value, 1);
  }
  ~EnvVar() { unsetenv(name_); }

 private:
  const char* name_;
};

int run_discovery() {
  DiscoveryRun run;
  return discover_units_using_ipx();
}

IpxUnitRecord marker() {
  IpxUnitRecord r{};
  std::strcpy(r.name, "Earlier");
  return r;
}

TEST(IpxDiscoveryRun, NoIpxStackFailsAndKeepsThePublishedList) {
  IpxUnitRecord earlier = marker();
  publish_ipx_units(&earlier, 1);
  EnvVar off("TAV_IPX", "off");
  EXPECT_EQ(run_discovery(), -1);
  EXPECT_EQ(published_ipx_units()->count, 1);
}

TEST(IpxDiscoveryRun, NothingAnsweringGivesZeroAfterTheFinalSleep) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  IpxUnitRecord earlier = marker();
  publish_ipx_units(&earlier, 1);
  int64_t start = milliseconds_now();
  EXPECT_EQ(run_discovery(), 0);
  EXPECT_EQ(published_ipx_units()->count, 0);
  // Presence probe, locator collection, two SAP passes, final sleep.
  EXPECT_GE(milliseconds_now() - start, 5000);
  EXPECT_EQ(probes_running.load(), 0);
}

sim::Config entities(
    const std::vector<std::pair<std::string, std::string>>& specs) {
  sim::Config config;
  for (const auto& [kind, spec] : specs) {
    std::string a0 = "tav-sim", a1 = "--" + kind, a2 = spec;
    char* argv[] = {a0.data(), a1.data(), a2.data()};
    std::string error;
    EXPECT_TRUE(sim::parse_command_line(3, argv, &config, &error)) << error;
  }
  return config;
}

TEST(IpxDiscoveryRun, EmptyBinderyFallsBackToTheBroadcasts) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  tav_test::FakeBindery bindery;  // answers, but holds no unit
  tav_test::ScopedNetWareClient installed(&bindery);
  sim::IpxSide side(entities(
      {{"fileserver", "name=FS1,ip=127.0.0.20"},
       {"unit", "name=Bcast,ip=127.0.0.21,ipx=on,wdx=16410,http=16411"}}));
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  EXPECT_EQ(run_discovery(), 1);
  EXPECT_EQ(bindery.opened, 1);
  auto snap = published_ipx_units();
  ASSERT_EQ(snap->count, 1);
  EXPECT_STREQ(snap->units[0].name, "Bcast");
  EXPECT_STREQ(snap->units[0].description, "Simulated print server");
}

TEST(IpxDiscoveryRun, BinderyUnitsAreProbedWithoutBroadcasts) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  tav_test::FakeBindery bindery;
  tav_test::BinderyObject wdx, http;
  wdx.name = "Bound";
  http.name = "Bound-HTML";
  const uint8_t node[6] = {0, 0, 127, 0, 0, 22};
  std::memcpy(wdx.node, node, 6);
  std::memcpy(http.node, node, 6);
  wdx.socket = 16412;
  http.socket = 16413;
  bindery.objects = {http, wdx};
  tav_test::ScopedNetWareClient installed(&bindery);
  sim::IpxSide side(entities(
      {{"fileserver", "name=FS1,ip=127.0.0.20"},
       {"unit",
        "name=Bound,ip=127.0.0.22,ipx=on,wdx=16412,http=16413,"
        "desc=From bindery"},
       {"unit", "name=Other,ip=127.0.0.23,ipx=on,wdx=16414,http=16415"}}));
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  EXPECT_EQ(run_discovery(), 1);
  auto snap = published_ipx_units();
  ASSERT_EQ(snap->count, 1);
  EXPECT_STREQ(snap->units[0].name, "Bound");
  EXPECT_STREQ(snap->units[0].description, "From bindery");
}

}  // namespace
