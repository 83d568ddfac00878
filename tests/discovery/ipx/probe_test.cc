// The per-unit probes against simulated WDX services (over IPv4 on the
// loopback, or in Ethernet frames).
#include "discovery/ipx/probe.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "discovery/ipx/ipx_discovery.h"
#include "platform/threads.h"
#include "sim/ipx_side.h"
#include "tests/discovery/helpers.h"
#include "tests/gateway/harness.h"

namespace {

// A unit serving its description on WDX socket 16400, as sim options.
std::string unit(const std::string& options,
                 const std::string& address = "127.0.0.7") {
  return "name=P" + address + ",ip=" + address +
         ",ipx=on,wdx=16400,http=16401,sap=off,locator=off," + options;
}

// Entry `index` of the IPX unit list at 127.0.0.<host> (0: no address at
// all), WDX socket `wdx`, its description not yet set.
IpxUnitRecord& set_entry(int index, uint8_t host, uint16_t wdx = 16400) {
  IpxUnitRecord& u = ipx_unit_list[index] = harness::unit_record("", 16401);
  u.address.sa_nodenum[5] = host;
  if (host == 0) u.address = net::SockAddrIpx{};
  u.wdx_port = net::htons_(wdx);
  std::memset(u.description, 'x', sizeof u.description);
  return u;
}

// Probes entry 0 against one simulated unit at 127.0.0.7.
std::string probe_against(const std::string& options, uint16_t wdx = 16400,
                          uint8_t host = 7) {
  sim::IpxSide side(tav_test::sim_config({"--unit", unit(options)}));
  tav_test::started(side);
  set_entry(0, host, wdx);
  probe_unit(0);
  EXPECT_EQ(probes_running.load(), 0);
  return ipx_unit_list[0].description;
}

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAV_REQUIRE_IPX_NETWORK();
    TearDown();
  }
  void TearDown() override {
    probes_running.store(0);
    probe_limit.store(kInitialProbeLimit);
  }
};

TEST(DescriptionReplyTest, TakesTheTextAfterBothItemLists) {
  // Replies of 26 bytes, A items, B items and the text, without NUL: of 30
  // bytes, exactly 28, counts of 128 or more, the text beyond the 600 bytes
  // read ("-": none taken). That the text fits and ends in NUL: the fuzzer.
  for (auto [a, b, text, taken] :
       {std::tuple<int, int, std::string, bool>{0, 0, "OK", true},
        {0, 0, "", false},
        {130, 140, "Many", true},
        {200, 130, "Far", false}}) {
    std::vector<uint8_t> r(26, 0);
    r.push_back(static_cast<uint8_t>(a));
    r.insert(r.end(), 2 * static_cast<size_t>(a), 0xAA);
    r.push_back(static_cast<uint8_t>(b));
    r.insert(r.end(), 2 * static_cast<size_t>(b), 0xBB);
    r.insert(r.end(), text.begin(), text.end());
    char out[256] = "-";
    int received = std::min(static_cast<int>(r.size()), kDescriptionReplySize);
    EXPECT_EQ(parse_description_reply(r.data(), received, out, sizeof out),
              taken)
        << text;
    EXPECT_EQ(out, taken ? text : "-");
  }
}

TEST_F(ProbeTest, AsksTheUnitAndKeepsTheDefaultWhenItFails) {
  EXPECT_EQ(probe_against("desc=After items,wdx-a=3,wdx-b=2"), "After items");
  EXPECT_EQ(probe_against("wdx-reply=close"), "Print Server");
  int64_t start = milliseconds_now();
  EXPECT_EQ(probe_against("wdx-reply=silent"), "Print Server");
  EXPECT_GE(milliseconds_now() - start, 1500);
  // No WDX socket, or no address: the unit, serving its description on the
  // entry's HTTP socket, is not asked.
  EXPECT_EQ(probe_against("wdx=16401", 0), "Print Server");
  EXPECT_EQ(probe_against("wdx=16401", 16401, 0), "Print Server");
}

// Not in frames: SPX has no refusal (a node without a listener is silent).
TEST_F(ProbeTest, RefusedConnectIsNoConnection) {
  net::Socket s =
      net::socket(net::AF_IPX_, net::SOCK_STREAM_, net::NSPROTO_SPX);
  ASSERT_NE(s, net::INVALID_SOCKET);
  net::ioctlsocket_fionbio(s, 1);
  net::SockAddrIpx nobody = set_entry(0, 9).address;
  nobody.sa_socket = net::htons_(16400);
  int retries = kMaxNoBufferRetries;
  EXPECT_EQ(connect_to_wdx(s, nobody, &retries), WdxConnect::kFailed);
  net::closesocket(s);
}

TEST_F(ProbeTest, LimitLowersOnlyBetweenFiveAndTheLimit) {
  for (auto [running, expected] : {std::pair{6, 5}, {5, 40}, {40, 40}}) {
    probes_running.store(running);
    probe_limit.store(40);
    lower_probe_limit();
    EXPECT_EQ(probe_limit.load(), expected) << running << " running";
  }
}

TEST_F(ProbeTest, LackOfBuffersLowersTheLimitAndRetries) {
  sim::IpxSide side(tav_test::sim_config({"--unit", unit("desc=Recovered")}));
  ASSERT_TRUE(tav_test::started(side));
  set_entry(0, 7);
  probes_running.store(29);  // this probe makes 30
  // Socket creation fails for lack of descriptors (WSAENOBUFS) while the
  // limit is held at the lowest free one. The thread starts before that.
  std::atomic<bool> go{false};
  std::thread probe([&go] {
    while (!go.load()) Sleep(1);
    probe_unit(0);
  });
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(dup(0));
  close(static_cast<int>(low.rlim_cur));
  setrlimit(RLIMIT_NOFILE, &low);
  go.store(true);
  for (int i = 0; i < 500 && probe_limit.load() == kInitialProbeLimit; ++i)
    Sleep(10);
  setrlimit(RLIMIT_NOFILE, &saved);
  probe.join();
  EXPECT_EQ(probe_limit.load(), 29);
  EXPECT_EQ(probes_running.load(), 29);
  EXPECT_STREQ(ipx_unit_list[0].description, "Recovered");

  // Descriptors that stay exhausted: the probe gives up in bounded time.
  setrlimit(RLIMIT_NOFILE, &low);
  int64_t start = milliseconds_now();
  probe_unit(0);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_LT(milliseconds_now() - start, (kMaxNoBufferRetries + 10) * 100);
  EXPECT_EQ(probes_running.load(), 29);
  EXPECT_STREQ(ipx_unit_list[0].description, "Print Server");
}

// The limit made small, so that few simulated nodes share a frames run.
TEST_F(ProbeTest, AtMostTheLimitAtOnceAndTheWaitOutlastsEveryProbe) {
  probe_limit.store(10);
  std::vector<std::string> words;
  for (int i = 0; i < 15; ++i) {
    words.insert(words.end(),
                 {"--unit", unit("wdx-delay=800,desc=Done " + std::to_string(i),
                                 "127.0.1." + std::to_string(i + 1))});
    set_entry(i, static_cast<uint8_t>(i + 1)).address.sa_nodenum[4] = 1;
  }
  sim::IpxSide side(tav_test::sim_config(words));
  ASSERT_TRUE(tav_test::started(side));
  run_probes(15);
  EXPECT_EQ(probes_running.load(), 0);
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(std::string(ipx_unit_list[i].description),
              "Done " + std::to_string(i));
  EXPECT_LE(side.max_open_connections(), 10);
  EXPECT_GE(side.max_open_connections(), 5);
  EXPECT_EQ(side.descriptions_served(), 15);
}

}  // namespace
