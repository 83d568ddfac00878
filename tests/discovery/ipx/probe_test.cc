// The per-unit probes against simulated WDX services on the loopback.
#include "discovery/ipx/probe.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "discovery/ipx/ipx_discovery.h"
#include "discovery/units.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/ipx_side.h"
#include "tests/support/netns.h"

namespace {

sim::Config unit_config(const std::string& spec) {
  sim::Config config;
  std::string a0 = "tav-sim", a1 = "--unit", a2 = spec;
  char* argv[] = {a0.data(), a1.data(), a2.data()};
  std::string error;
  EXPECT_TRUE(sim::parse_command_line(3, argv, &config, &error)) << error;
  return config;
}

// Entry 0 of the IPX unit list at 127.0.0.<host>, WDX socket `wdx`.
IpxUnitRecord& set_entry(int index, uint8_t host, uint16_t wdx) {
  IpxUnitRecord& u = ipx_unit_list[index];
  u = IpxUnitRecord{};
  u.address.sa_family = net::AF_IPX_;
  const uint8_t node[6] = {0, 0, 127, 0, 0, host};
  std::memcpy(u.address.sa_nodenum, node, 6);
  u.address.sa_socket = net::htons_(16401);
  u.wdx_port = net::htons_(wdx);
  std::memset(u.description, 'x', sizeof u.description);
  return u;
}

// Probes entry 0 against one simulated unit at 127.0.0.7:16400.
std::string probe_against(const std::string& options) {
  sim::IpxSide side(unit_config(
      "name=P,ip=127.0.0.7,ipx=on,wdx=16400,http=16401,sap=off,locator=off," +
      options));
  std::string error;
  EXPECT_TRUE(side.start(&error)) << error;
  set_entry(0, 7, 16400);
  probe_unit(0);
  return ipx_unit_list[0].description;
}

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    probes_running.store(0);
    probe_limit.store(kInitialProbeLimit);
  }
  void TearDown() override {
    probes_running.store(0);
    probe_limit.store(kInitialProbeLimit);
  }
};

TEST_F(ProbeTest, NoWdxSocketOrNoAddressKeepsDefaultWithoutConnecting) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  // A listener where the unit's HTTP socket is, and one on every local
  // address at the WDX socket: neither may see a connection.
  net::Socket http = net::socket(net::AF_INET_, net::SOCK_STREAM_, 0);
  ASSERT_EQ(
      net::bind(http, net::make_addr_in(net::inet_addr("127.0.0.8"), 16401)),
      0);
  ASSERT_EQ(net::listen(http, 4), 0);
  net::Socket any = net::socket(net::AF_INET_, net::SOCK_STREAM_, 0);
  ASSERT_EQ(net::bind(any, net::make_addr_in(0, 16402)), 0);
  ASSERT_EQ(net::listen(any, 4), 0);

  set_entry(0, 8, 0);
  probe_unit(0);
  EXPECT_STREQ(ipx_unit_list[0].description, "Print Server");

  IpxUnitRecord& zero = set_entry(1, 0, 16402);
  std::memset(&zero.address, 0, sizeof zero.address);
  probe_unit(1);
  EXPECT_STREQ(ipx_unit_list[1].description, "Print Server");

  EXPECT_EQ(net::wait_readable(http, 0), 0);
  EXPECT_EQ(net::wait_readable(any, 0), 0);
  EXPECT_EQ(probes_running.load(), 0);
  net::closesocket(http);
  net::closesocket(any);
}

TEST_F(ProbeTest, TakesTheTextAfterBothItemLists) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  EXPECT_EQ(probe_against("desc=Model 7"), "Model 7");
  EXPECT_EQ(probe_against("desc=After items,wdx-a=3,wdx-b=2"), "After items");
  // 30 bytes, A = B = 0: the text at byte 28, here without a NUL.
  EXPECT_EQ(probe_against("desc=OK,desc-nul=off"), "OK");
  // Exactly 28 bytes: no text.
  EXPECT_EQ(probe_against("desc=,desc-nul=off"), "Print Server");
  // A count of 128 or more is a count, not a negative offset.
  EXPECT_EQ(probe_against("desc=Many,wdx-a=130,wdx-b=140"), "Many");
  // The text would start beyond the 600 bytes read.
  EXPECT_EQ(probe_against("desc=Far,wdx-a=200,wdx-b=130"), "Print Server");
  EXPECT_EQ(probe_against("wdx-reply=close"), "Print Server");
  // Longer than the field: cut to 255 characters and its NUL.
  EXPECT_EQ(probe_against("desc=" + std::string(400, 'D')),
            std::string(255, 'D'));
  EXPECT_EQ(probes_running.load(), 0);
}

TEST_F(ProbeTest, SilentUnitKeepsDefaultAfterTheWait) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  int64_t start = milliseconds_now();
  EXPECT_EQ(probe_against("wdx-reply=silent"), "Print Server");
  EXPECT_GE(milliseconds_now() - start, 1500);
}

TEST(ProbeLimit, LowersOnlyBetweenFiveAndTheLimit) {
  struct Case {
    int running, limit, expected;
  } cases[] = {{30, 40, 29}, {6, 40, 5},   {5, 40, 40},
               {40, 40, 40}, {45, 40, 40}, {20, 21, 19}};
  for (const Case& c : cases) {
    probes_running.store(c.running);
    probe_limit.store(c.limit);
    lower_probe_limit();
    EXPECT_EQ(probe_limit.load(), c.expected)
        << c.running << " running, limit " << c.limit;
  }
  probes_running.store(0);
  probe_limit.store(kInitialProbeLimit);
}

// Socket creation fails for lack of descriptors (WSAENOBUFS) while the
// descriptor limit is held at the lowest free descriptor.
class NoBuffers {
 public:
  NoBuffers() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    int lowest = dup(0);
    close(lowest);
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    setrlimit(RLIMIT_NOFILE, &low);
  }
  ~NoBuffers() { release(); }
  void release() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

TEST_F(ProbeTest, LackOfBuffersLowersTheLimitAndRetries) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  sim::IpxSide side(unit_config(
      "name=P,ip=127.0.0.7,ipx=on,wdx=16400,http=16401,sap=off,locator=off,"
      "desc=Recovered"));
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  set_entry(0, 7, 16400);
  probes_running.store(29);  // this probe makes 30
  {
    // The thread starts before descriptors run out; the probe after.
    std::atomic<bool> go{false};
    std::thread probe([&go] {
      while (!go.load()) Sleep(1);
      probe_unit(0);
    });
    NoBuffers no_buffers;
    go.store(true);
    for (int i = 0; i < 500 && probe_limit.load() == kInitialProbeLimit; ++i)
      Sleep(10);
    no_buffers.release();
    probe.join();
  }
  EXPECT_EQ(probe_limit.load(), 29);
  EXPECT_EQ(probes_running.load(), 29);
  EXPECT_STREQ(ipx_unit_list[0].description, "Recovered");
}

TEST_F(ProbeTest, AtMostFortyAtOnceAndTheWaitOutlastsEveryProbe) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  sim::Config config;
  for (int i = 0; i < 60; ++i) {
    sim::Config one = unit_config(
        "name=P" + std::to_string(i) + ",ip=127.0.1." + std::to_string(i + 1) +
        ",ipx=on,wdx=16400,http=16401,sap=off,locator=off,wdx-delay=1200,"
        "desc=Done " +
        std::to_string(i));
    config.entities.push_back(one.entities[0]);
  }
  sim::IpxSide side(config);
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  for (int i = 0; i < 60; ++i) {
    IpxUnitRecord& u = set_entry(i, 0, 16400);
    u.address.sa_nodenum[4] = 1;
    u.address.sa_nodenum[5] = static_cast<uint8_t>(i + 1);
  }
  run_probes(60);
  EXPECT_EQ(probes_running.load(), 0);
  for (int i = 0; i < 60; ++i)
    EXPECT_EQ(std::string(ipx_unit_list[i].description),
              "Done " + std::to_string(i));
  EXPECT_LE(side.max_open_connections(), 40);
  EXPECT_GE(side.max_open_connections(), 20);
  EXPECT_EQ(side.descriptions_served(), 60);
}

}  // namespace
