// IPX discovery: locator replies, SAP responses and description replies as
// crafted bytes; probes and whole runs against simulated units (over IPv4
// on the loopback, or in Ethernet frames); the bindery scan.
#include "discovery/ipx/ipx_discovery.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "discovery/ipx/bindery_scan.h"
#include "discovery/ipx/probe.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "sim/ipx_side.h"
#include "tests/discovery/helpers.h"
#include "tests/gateway/harness.h"
#include "tests/support/fake_bindery.h"

namespace {

// Locator replies and SAP responses as bytes, merged into a list.
class Replies : public ::testing::Test {
 protected:
  void locator(const std::vector<uint8_t>& bytes, uint8_t network = 0) {
    const net::SockAddrIpx source{net::AF_IPX_,
                                  {0, 0, 0, network},
                                  {0, 0, 0, 0, 0, 5},
                                  net::htons_(0x8449)};
    accept_locator_reply(list_, &count_, kIpxUnitCapacity, bytes.data(),
                         static_cast<int>(bytes.size()), source);
  }
  void sap(const std::vector<uint8_t>& bytes, int free_room = 500) {
    accept_sap_response(bytes.data(), static_cast<int>(bytes.size()), list_,
                        &count_, free_room);
  }
  std::string listed() { return tav_test::ipx_units(list_, 0, count_); }

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
  locator(locator_reply("A", 0x1111, 0x2222), 0x13);  // A, in another type
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
  // Ignored (no room: the fuzzer): another packet type, eight entries.
  sap(sap_response("T 1 1", 3));
  sap(sap_response("E 1 1 E 1 1 E 1 1 E 1 1 E 1 1 E 1 1 E 1 1 E 1 1"));
  EXPECT_EQ(listed(), "P0 2/0@0, P1 0/0@0, N0 1/0@0, N2 3/0@0");
}

TEST(IpxDiscoveryRun, NoIpxStackFailsAndKeepsThePublishedList) {
  IpxUnitRecord earlier{};
  publish_ipx_units(&earlier, 1);
  tav_test::ScopedEnv no_ipx("TAV_IPX", "off");
  EXPECT_EQ((DiscoveryRun(), discover_units_using_ipx()), -1);
  EXPECT_EQ(published_ipx_units()->count, 1);
}

// Units answer broadcasts and serve descriptions over SPX; a file server's
// bindery, empty at first, then holds one unit, probed without broadcasts.
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
  EXPECT_EQ(tav_test::published_units(),  // byte-wise order
            "Late 4000/4001@10 Simulated print server\n"
            "LocOnly 4000/4001@5 Simulated print server\n"
            "VEM_000003 4006/4007@4 Simulated print server\n"
            "Zeta 4000/4001@2 Zeta model\n"
            "alpha 4000/4001@3 Alpha model\n");
  bindery.add("Bound-HTML", 16413, 22);
  bindery.add("Bound", 16412, 22);
  ASSERT_EQ((DiscoveryRun(), discover_units_using_ipx()), 1);
  EXPECT_EQ(tav_test::published_units(), "Bound 401C/401D@22 From bindery\n");
}

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
  void SetUp() override { TAV_REQUIRE_IPX_NETWORK(); }
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
    for (auto [n, fill] : {std::pair{a, 0xAA}, {b, 0xBB}}) {
      r.push_back(static_cast<uint8_t>(n));
      r.insert(r.end(), 2 * static_cast<size_t>(n), static_cast<uint8_t>(fill));
    }
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
  int retries = kMaxNoBufferRetries;
  EXPECT_EQ(connect_to_wdx(s, set_entry(0, 9).address, &retries),
            WdxConnect::kFailed);
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
  rlimit low = {static_cast<rlim_t>(dup(0)), saved.rlim_max};
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

// The bindery scan against a fake NetWare client.
class BinderyScanTest : public ::testing::Test {
 protected:
  void SetUp() override { remove_file(bindery_log_path()); }
  void TearDown() override {
    bindery_log_enabled.store(false);
    remove_file(bindery_log_path());
  }

  // Runs the scan with the log on and returns the log.
  std::string scan_logged(int* count) {
    bindery_log_enabled.store(true);
    *count = ScanBinderyForPS();
    bindery_log_enabled.store(false);
    std::string log;
    EXPECT_TRUE(read_whole_file(bindery_log_path(), &log));
    return log;
  }

  tav_test::FakeBindery bindery;
  tav_test::ScopedNetWareClient installed{&bindery};
};

std::string units(int count) {
  return tav_test::ipx_units(ipx_unit_list, 0, count);
}

TEST_F(BinderyScanTest, WdxThenHttpMakeOneUnitLoggedByteForByteWhenAsked) {
  bindery.add("U", 0x4000, 1);
  bindery.add("U-HTML", 0x0050, 2);
  int count = 0;
  std::string log = scan_logged(&count);
  EXPECT_EQ(units(count), "U 4000/50@1");
  EXPECT_EQ(ipx_unit_list[0].address.sa_family, 6);
  EXPECT_EQ(log,
            "NWCallsInit() returned 0x00000000\n"
            "OpenConnection() returned 0x00C0FFEE as its handle.\n"
            "Read info for server U.\n"
            "    WARDENIX server.\n"
            "ReadAnEntry() returned ccode 0.\n"
            "Server U added to list.\n"
            "Read info for server U-HTML.\n"
            "    HTTP server.\n"
            "ReadAnEntry() returned ccode 0.\n"
            "Server U updated with HTTP server address.\n"
            "NWScanObject() returned 0x000089FC.\n"
            "ReadAnEntry() returned ccode -1.\n"
            "scan_bindery() found 1 units.\n"
            "Unit: U Network Address: 00000000:00007F000001 WDX port 0040, "
            "HTTP port 5000\n");
  EXPECT_EQ(bindery.opened, 1);
  EXPECT_EQ(bindery.closed, 1);
  // With the log off no file is written.
  remove_file(bindery_log_path());
  EXPECT_EQ(ScanBinderyForPS(), 1);
  EXPECT_FALSE(file_exists(bindery_log_path()));
}

TEST_F(BinderyScanTest, MergesClassifiesAndCutsNames) {
  const std::string m42(42, 'M');
  struct Case {
    std::vector<std::pair<std::string, uint16_t>> objects;  // node 1, 2, ...
    std::string found;
    const char* logged;
  } cases[] = {
      {{{"U-HTML", 0x50}, {"U", 0x4000}},
       "U 4000/50@1",
       "Server U updated with WDX address.\n"},
      {{{"H-HTML", 0x50}, {"W", 0x4000}},
       "H 0/50@1",
       "scan_bindery() found 2 units.\n"
       "Dropping unit W because no HTTP port.\nUnit: H Network Address: "},
      {{{"U", 0x4000},
        {"CSX-HTML", 0x51},  // communications server: rejected
        {"U-PRN", 0x52},     // other service: ignored
        {"U-A-HTML", 0x53},  // cut at "-HTML", not at the first '-'
        {"U-HTML", 0x54}},
       "U 4000/54@1, U-A 0/53@4",
       "    Communications Server -- Rejected.\n"
       "ReadAnEntry() returned ccode 0.\n"
       "Read info for server U-PRN.\n    Other server.\n"},
      // Names longer than the 47-character field are cut: the long WDX
      // name has no HTTP object; "-HT" is left of 44 Ms.
      {{{std::string(60, 'L'), 0x50}, {"S-HTML", 0x51}}, "S 0/51@2", ""},
      {{{m42 + "-HTML", 0x50}}, m42 + " 0/50@1", ""},
      {{{std::string(44, 'M') + "-HTML", 0x50}}, "", ""},
  };
  for (const Case& c : cases) {
    bindery.objects.clear();
    for (const auto& [name, socket] : c.objects)
      bindery.add(name, socket, uint8_t(bindery.objects.size() + 1));
    int count = 0;
    std::string log = scan_logged(&count);
    EXPECT_EQ(units(count), c.found) << c.objects[0].first;
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_EQ(log.find("CSX added"), std::string::npos);
  }
}

TEST_F(BinderyScanTest, TheFiveHundredFirstNameOverflows) {
  for (int i = 0; i < 501; ++i)
    bindery.add("U" + std::to_string(i) + "-HTML", 80);
  bindery.add("U0", 0x4000);  // still updates an existing entry
  int count = 0;
  std::string log = scan_logged(&count);
  EXPECT_EQ(count, 500);
  EXPECT_EQ(find_sap_server("U500"), -1);
  EXPECT_EQ(units(1), "U0 4000/50@1");
  EXPECT_NE(log.find("Read info for server U500-HTML.\n    HTTP server.\n"
                     "ReadAnEntry() returned ccode 0.\nsap_servers has "
                     "overflowed.\n"),
            std::string::npos);
}

}  // namespace
