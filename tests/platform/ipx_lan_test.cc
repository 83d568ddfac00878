// IPX in Ethernet frames on a veth pair in the test's private network
// namespace: two stacks, or the program (TAV_IPX=ethernet) on one end and
// simulated units of every frame type on the other.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "discovery/ipx/ipx_discovery.h"
#include "gateway/listener.h"
#include "ipx/device/packet_device.h"
#include "ipx/device/router.h"
#include "ipx/spx/connection.h"
#include "platform/catalogue.h"
#include "platform/net.h"
#include "platform/threads.h"
#include "sim/ipx_side.h"
#include "sim/ipx_units.h"
#include "sim/sides.h"
#include "sim/web_pages.h"
#include "tests/discovery/helpers.h"
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"
#include "tests/support/scratch.h"
#include "units/units.h"

namespace {

const char kNetwork[] = "00BEEF01";
const ipx::NetworkNumber kNet = {0x00, 0xBE, 0xEF, 0x01};

int64_t ms_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - t)
      .count();
}

// A request for `path` sent to the gateway on this host.
net::Socket ask_gateway(const std::string& path) {
  net::Socket s = net::socket(net::AF_INET_, net::SOCK_STREAM_, 0);
  net::SockAddrIn gateway =
      net::make_addr_in(net::inet_addr("127.0.0.1"), kGatewayPort);
  for (int i = 0; i < 100 && net::connect(s, gateway) != 0; ++i) Sleep(20);
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: x\r\n\r\n";
  net::send(s, request.data(), static_cast<int>(request.size()));
  return s;
}

// Reads what the gateway sends until it closes, or `limit` bytes; then
// calls `at_limit` and reads on.
std::string read_page(net::Socket s, size_t limit = 0,
                      const std::function<void()>& at_limit = {}) {
  std::string page;
  static thread_local char buf[65536];
  for (int n; net::wait_readable(s, 40000) == 1 &&
              (n = net::recv(s, buf, sizeof buf)) > 0;) {
    bool below = page.size() < limit;
    page.append(buf, static_cast<size_t>(n));
    if (below && page.size() >= limit && at_limit) at_limit();
  }
  net::closesocket(s);
  return page;
}

// The body of a unit's page as the simulator makes it.
std::string body_of(const sim::WebUnitOptions& unit, const char* path) {
  sim::WebReply reply = sim::make_web_reply(unit, "GET", path, "");
  std::string body(reply.body_size, '\0');
  for (size_t at = 0, n; at < body.size(); at += n)
    n = reply.body(at, body.data() + at, body.size() - at);
  return body;
}

// The 5 MB page of unit `name` through the gateway, byte for byte.
void expect_big_bin(const std::string& name) {
  sim::WebUnitOptions unit;
  unit.big_bin_size = 5000000;
  std::string page = read_page(ask_gateway("/" + name + "-HTML/big.bin"));
  size_t head = page.find("\r\n\r\n");
  ASSERT_NE(head, std::string::npos);
  EXPECT_EQ(page.size() - head - 4, 5000000u);
  EXPECT_TRUE(page.compare(head + 4, std::string::npos,
                           body_of(unit, "/big.bin")) == 0);
}

// Publishes unit 10.79.0.`host`, HTTP socket 16385, as if discovered.
void publish_unit(const char* name, int host) {
  IpxUnitRecord r{};
  std::snprintf(r.name, sizeof r.name, "%s", name);
  r.address =
      ipx_test::at(kNet, {0, 0, 10, 79, 0, static_cast<uint8_t>(host)}, 16385);
  publish_ipx_units(&r, 1);
}

// The host on one end of a veth pair with TAV_IPX=ethernet and the gateway
// running.
class IpxUnitsInEthernetFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    TAV_REQUIRE_PRIVATE_NETWORK();
    lan_ = ipx_test::host_lan();
    ASSERT_TRUE(lan_ != nullptr);
    ethernet_ = std::make_unique<ipx_test::ScopedEthernet>(lan_->name(0));
    ASSERT_TRUE(ethernet_->ok());
    static std::once_flag once;
    std::call_once(once, [] {
      ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
      std::thread([] { gateway_listener(); }).detach();
    });
  }

  // A simulator configuration of units on the other end of the pair.
  sim::Config units(std::vector<std::string> args) {
    args.insert(args.begin(), {std::string("--ipx-interface=") + lan_->name(1),
                               std::string("--ipx-network=") + kNetwork});
    return tav_test::sim_config(args);
  }

  ipx_test::Lan* lan_ = nullptr;
  std::unique_ptr<ipx_test::ScopedEthernet> ethernet_;
};

TEST_F(IpxUnitsInEthernetFrames, EveryFrameTypeIsFoundDescribedAndServed) {
  std::vector<std::string> args;
  for (const char* unit :
       {"name=Two,ip=10.79.0.6,frame=ethernet_ii+snap,desc=Two types",
        "name=Eth2,ip=10.79.0.2,frame=ethernet_ii,desc=Type II",
        "name=Raw,ip=10.79.0.3,frame=802.3,desc=Raw 802.3",
        "name=Llc,ip=10.79.0.4,frame=802.2,desc=LLC",
        "name=Snap,ip=10.79.0.5,frame=snap,desc=SNAP,locator=off"})
    args.insert(args.end(),
                {"--unit", std::string(unit) + ",ipx=on,http=16385"});
  sim::Config config = units(args);
  sim::IpxSide side(config);
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  ASSERT_TRUE(sim::start_web_side(config));

  ASSERT_EQ((DiscoveryRun(), discover_units_using_ipx()), 5);
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
  EXPECT_EQ(std::memcmp(snap->units[0].address.sa_netnum, kNet.data(), 4), 0);

  for (const char* name : {"Eth2", "Raw", "Llc", "Snap", "Two"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(
        read_page(ask_gateway(std::string("/") + name + "-HTML/status.htm"))
            .find(std::string("Status of ") + name),
        std::string::npos);
  }
  // The program's own nodes are refused, as the loopback is over IPv4:
  // node zero, the MAC of its end and that of the pair's other end.
  EXPECT_EQ(net::ipx_mode(), net::IpxMode::kEthernet);
  net::Socket c =
      net::socket(net::AF_IPX_, net::SOCK_STREAM_, net::NSPROTO_SPX);
  for (const ipx::Mac& own : {ipx::Mac{}, lan_->mac(0), lan_->mac(1)}) {
    SCOPED_TRACE(int(own[5]));
    EXPECT_EQ(net::connect(c, ipx_test::at(kNet, own, 0x4000)),
              net::SOCKET_ERROR);
    EXPECT_EQ(net::WSAGetLastError(), 10049);
  }
  net::closesocket(c);
}

// 10% of the frames lost and 5% reordered each way between the gateway and
// the unit: SPX repeats what is lost and puts the rest in order.
TEST_F(IpxUnitsInEthernetFrames, APageCrossesALossyReorderingWireByteForByte) {
  sim::Config config = units({"--ipx-loss=10/5", "--unit",
                              "name=Lossy,ip=10.79.0.7,ipx=on,http=16385,"
                              "bigbin=5000000"});
  ASSERT_TRUE(sim::start_web_side(config));
  publish_unit("Lossy", 7);
  expect_big_bin("Lossy");
}

TEST(IpxStack, DatagramErrorsAndOpensOrConnectionsNobodyAnswers) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  spx::Timing quick{.connect_retry = 100, .rto_max = 400};
  ipx_test::Lan lan;
  ASSERT_TRUE(lan.up());
  auto a = lan.stack(0, ipx::kAllFrameTypes, {}, quick);
  auto b = lan.stack(1, ipx::kAllFrameTypes, {}, quick);
  ASSERT_TRUE(a && b);
  // A datagram too long for the reader's buffer fails (the socket numbers
  // are checked on the in-memory LAN).
  int ua = a->socket(ipx::SocketKind::kDatagram);
  int ub = b->socket(ipx::SocketKind::kDatagram);
  ASSERT_EQ(b->bind(ub, 0x8449), 0);
  ipx::Address me;
  ASSERT_EQ(a->sendto(ua, "query", 5, {{}, b->node(), 0x8449}), 5);
  ASSERT_EQ(net::wait_readable(ub, 3000), 1);
  char buf[16];
  EXPECT_EQ(ipx::Stack::recvfrom(ub, buf, 3, &me), -10040);

  // Nobody listens: a blocking open fails after 8 tries with 10060, and a
  // non-blocking one says 10035 and hangs its descriptor up as it fails.
  int c = a->socket(ipx::SocketKind::kStream);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(a->connect(c, {{}, b->node(), 0x8450}), -10060);
  EXPECT_NEAR(static_cast<double>(ms_since(t0)), 800, 300);
  int d = a->socket(ipx::SocketKind::kStream);
  ASSERT_EQ(a->set_nonblocking(d, true), 0);
  EXPECT_EQ(a->connect(d, {{}, b->node(), 0x8450}), -10035);
  pollfd p{d, POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  EXPECT_EQ(a->socket_error(d), 10060);

  // A peer that vanishes mid-transfer: 8 unanswered tries, then 10054.
  ipx::Address where;
  ASSERT_GE(ipx_test::listening_socket(*b, &where), 0);
  int e = a->socket(ipx::SocketKind::kStream);
  ASSERT_EQ(a->set_nonblocking(e, true), 0);
  ASSERT_EQ(a->connect(e, where), -10035);
  p = {e, POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_EQ(p.revents & POLLHUP, 0);
  ASSERT_EQ(a->socket_error(e), 0);
  ASSERT_EQ(::send(e, "hello", 5, MSG_NOSIGNAL), 5);  // the new descriptor
  b.reset();
  std::string lots(200000, 'Z');
  ::send(e, lots.data(), lots.size(), MSG_NOSIGNAL);
  t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(net::wait_readable(e, 6000), 1);
  EXPECT_EQ(::recv(e, buf, sizeof buf, 0), 0);
  EXPECT_LT(ms_since(t0), 100 + 200 + 6 * 400 + 500);
  EXPECT_EQ(a->socket_error(e), 10054);
}

// A unit that leaves the LAN in the middle of a page of declared length:
// the gateway ends the session when SPX finds the connection dead.
TEST_F(IpxUnitsInEthernetFrames, AUnitThatVanishesMidPageEndsTheSession) {
  sim::Config config = units({"--unit",
                              "name=Gone,ip=10.79.0.8,ipx=on,http=16385,"
                              "bigbin=20000000"});
  ASSERT_TRUE(sim::start_web_side(config));
  std::string error;
  ipx::Stack* gone = sim::unit_stack(config, config.entities[0], &error);
  ASSERT_TRUE(gone != nullptr) << error;
  publish_unit("Gone", 8);
  std::chrono::steady_clock::time_point vanished;
  std::string page = read_page(ask_gateway("/Gone-HTML/big.bin"), 1000000, [&] {
    gone->set_loss(100, 0);
    vanished = std::chrono::steady_clock::now();
  });
  EXPECT_LT(ms_since(vanished), spx::Timing{}.watchdog_dead + 5000);
  EXPECT_GE(page.size(), 1000000u);
  EXPECT_LT(page.size(), 20000000u);
}

// A site of several IPX networks: a router between the host's LAN (kNet,
// Ethernet II) and network 77 on a second segment, where unit Far is; unit
// Raw3 is on the host's wire in 802.3 only (the host's 802.3 network is
// kNet since the first test: another number there would be a second
// network on one frame type of one wire); unit Two in Ethernet II (kNet)
// and 802.2 (00BEEF03). Each is found once (Far by
// the router's SAP answer), described and served, Far's
// packets going to the router's MAC, every frame dissecting cleanly; then
// a 5 MB page crosses the router from a lossy, reordering unit.
TEST_F(IpxUnitsInEthernetFrames, UnitsOfOtherNetworksAreFoundThroughARouter) {
  const ipx::NetworkNumber far_net = {0, 0, 0, 0x77};
  ipx_test::Lan far;
  ASSERT_TRUE(far.up());
  sim::Config config =
      units({"--unit",
             "name=Far,ip=10.79.0.20,ipx=on,http=16385,bigbin=5000000,"
             "desc=Routed,ipx-network=00000077,ipx-interface=" +
                 std::string(far.name(1)),
             "--unit",
             "name=Raw3,ip=10.79.0.21,ipx=on,http=16385,frame=802.3,"
             "desc=Raw",
             "--unit",
             "name=Two,ip=10.79.0.22,ipx=on,http=16385,desc=Two networks,"
             "frame=ethernet_ii+802.2,"
             "ipx-networks=ethernet_ii:00BEEF01;802.2:00BEEF03"});
  sim::IpxSide side(config);
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  ASSERT_TRUE(sim::start_web_side(config));
  int code = 0;
  auto near_port = ipx::PacketDevice::open(lan_->name(1), true, &code);
  auto far_port = ipx::PacketDevice::open(far.name(0), true, &code);
  ASSERT_TRUE(near_port && far_port) << code;
  const ipx::Mac router_mac = {0x02, 0xEE, 0, 0, 0, 0x01};
  ipx::Router router(router_mac,
                     {{near_port.get(), ipx::FrameType::kEthernetII, kNet},
                      {far_port.get(), ipx::FrameType::kEthernetII, far_net}});
  std::jthread routing([&](std::stop_token stop) {
    auto t0 = std::chrono::steady_clock::now();
    std::vector<pollfd> fds;
    for (auto* d : {near_port.get(), far_port.get()})
      for (int fd : d->descriptors()) fds.push_back({fd, POLLIN, 0});
    while (!stop.stop_requested()) {
      router.poll(ms_since(t0));
      ::poll(fds.data(), fds.size(), 5);
    }
  });
  int capture = ipx_test::capture_on(lan_->name(0));
  ASSERT_GE(capture, 0);
  Sleep(300);  // the router has asked its networks for their servers

  EXPECT_EQ((DiscoveryRun(), discover_units_using_ipx()), 3);
  auto snap = published_ipx_units();
  std::string got;
  for (int i = 0; i < snap->count; ++i)
    got += std::string(snap->units[i].name) + " " + snap->units[i].description +
           "\n";
  EXPECT_EQ(got, "Far Routed\nRaw3 Raw\nTwo Two networks\n");
  EXPECT_EQ(std::memcmp(snap->units[0].address.sa_netnum, far_net.data(), 4),
            0);
  for (const char* name : {"Far", "Raw3", "Two"})
    EXPECT_NE(
        read_page(ask_gateway(std::string("/") + name + "-HTML/status.htm"))
            .find(std::string("Status of ") + name),
        std::string::npos)
        << name;

  Sleep(300);
  tav_test::ScratchDir dir;
  dir.write("site.pcap", ipx_test::pcap_of(capture));
  ::close(capture);
  if (access("/usr/bin/tshark", X_OK) == 0) {
    std::string read = "/usr/bin/tshark -r " + dir.file("site.pcap");
    std::string detail = tav_test::command_output(read + " -V 2>/dev/null");
    EXPECT_EQ(detail.find("Malformed"), std::string::npos);
    EXPECT_EQ(detail.find("Severity level: Error"), std::string::npos);
    // SPX packets for network 77 leave for the router's MAC, none for Far's.
    std::string to_far = tav_test::command_output(
        read + " -Y 'spx && ipx.dst.net == 0x00000077' -T fields -e eth.dst" +
        " 2>/dev/null | sort | uniq -c");
    EXPECT_NE(to_far.find(" 02:ee:00:00:00:01"), std::string::npos) << to_far;
    EXPECT_EQ(to_far.find('\n'), to_far.size() - 1) << to_far;
  }

  // 10% lost and 5% reordered each way at the unit, behind the router.
  sim::unit_stack(config, config.entities[0], &error)->set_loss(10, 5);
  expect_big_bin("Far");
}

}  // namespace
