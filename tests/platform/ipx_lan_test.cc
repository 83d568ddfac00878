// IPX in Ethernet frames on a veth pair in the test's namespace: two stacks,
// or the program (TAV_IPX=ethernet) facing simulated units and a router.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
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

// Reads what the gateway sends until it closes.
std::string read_page(net::Socket s) {
  std::string page;
  static thread_local char buf[65536];
  for (int n; net::wait_readable(s, 40000) == 1 &&
              (n = net::recv(s, buf, sizeof buf)) > 0;)
    page.append(buf, static_cast<size_t>(n));
  net::closesocket(s);
  return page;
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

// A router of kNet, 00BEEF02, 00BEEF03 (Ethernet II, 802.3, 802.2) here and
// 77 (unit Far) beyond; units Raw3 (802.3) and Two (Ethernet II, 802.2).
// Each is found once, described and served through the gateway.
TEST(IpxUnitsInEthernetFrames, UnitsOfOtherNetworksAreFoundThroughARouter) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  // The host on one end of a veth pair with TAV_IPX=ethernet and the
  // gateway running.
  ipx_test::Lan* lan = ipx_test::host_lan();
  ASSERT_TRUE(lan != nullptr);
  ipx_test::ScopedEthernet ethernet(lan->name(0));
  ASSERT_TRUE(ethernet.ok());
  ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
  std::thread([] { gateway_listener(); }).detach();
  ipx_test::Lan far;
  ASSERT_TRUE(far.up());
  int code = 0;
  auto near_port = ipx::PacketDevice::open(lan->name(1), true, &code);
  auto far_port = ipx::PacketDevice::open(far.name(0), true, &code);
  ASSERT_TRUE(near_port && far_port) << code;
  const ipx::Mac router_mac = {0x02, 0xEE, 0, 0, 0, 0x01};
  ipx::Router router(
      router_mac,
      {{near_port.get(), ipx::FrameType::kEthernetII, kNet},
       {near_port.get(), ipx::FrameType::k8023Raw, {0, 0xBE, 0xEF, 2}},
       {near_port.get(), ipx::FrameType::k8022, {0, 0xBE, 0xEF, 3}},
       {far_port.get(), ipx::FrameType::kEthernetII, {0, 0, 0, 0x77}}});
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
  Sleep(100);
  sim::Config config = tav_test::sim_config(
      {std::string("--ipx-interface=") + lan->name(1), "--unit",
       "name=Far,ip=10.79.0.20,ipx=on,http=16385,bigbin=5000000,desc=Routed,"
       "ipx-interface=" +
           std::string(far.name(1)),
       "--unit",
       "name=Raw3,ip=10.79.0.21,ipx=on,http=16385,frame=802.3,desc=Raw",
       "--unit",
       "name=Two,ip=10.79.0.22,ipx=on,http=16385,desc=Two networks,"
       "frame=ethernet_ii+802.2"});
  sim::IpxSide side(config);
  std::string error;
  ASSERT_TRUE(side.start(&error)) << error;
  ASSERT_TRUE(sim::start_web_side(config));
  int capture = ipx_test::capture_on(lan->name(0));
  ASSERT_GE(capture, 0);
  Sleep(300);  // the units' announcements have reached the router
  // Before any word from the host, the units know their networks: the
  // router's, heard on their interface.
  for (int i : {1, 2})
    EXPECT_NE(sim::unit_stack(config, config.entities[i], &error)->network(),
              ipx::NetworkNumber{})
        << i;

  EXPECT_EQ((DiscoveryRun(), discover_units_using_ipx()), 3);
  auto snap = published_ipx_units();
  std::string got;
  for (int i = 0; i < snap->count; ++i) {
    char network[16];
    const uint8_t* n = snap->units[i].address.sa_netnum;
    std::snprintf(network, sizeof network, "%02X%02X%02X%02X", n[0], n[1], n[2],
                  n[3]);
    got += std::string(snap->units[i].name) + " " + network + " " +
           snap->units[i].description + "\n";
  }
  // Networks as the router told them; Two under the first it answered in.
  const std::string site =
      "Far 00000077 Routed\nRaw3 00BEEF02 Raw\nTwo 00BEEF0";
  EXPECT_TRUE(got == site + "1 Two networks\n" ||
              got == site + "3 Two networks\n")
      << got;
  for (const char* name : {"Far", "Raw3", "Two"})
    EXPECT_NE(
        read_page(ask_gateway(std::string("/") + name + "-HTML/status.htm"))
            .find(std::string("Status of ") + name),
        std::string::npos)
        << name;
  // The program's own nodes are refused, as the loopback is over IPv4:
  // node zero, the MAC of its end and that of the pair's other end.
  net::Socket c =
      net::socket(net::AF_IPX_, net::SOCK_STREAM_, net::NSPROTO_SPX);
  net::SockAddrIpx to{
      net::AF_IPX_, {0, 0xBE, 0xEF, 1}, {}, net::htons_(0x4000)};
  for (const ipx::Mac& own : {ipx::Mac{}, lan->mac(0), lan->mac(1)}) {
    std::memcpy(to.sa_nodenum, own.data(), 6);
    EXPECT_EQ(net::connect(c, to), net::SOCKET_ERROR);
    EXPECT_EQ(net::WSAGetLastError(), 10049) << int(own[5]);
  }
  net::closesocket(c);

  Sleep(300);
  tav_test::ScratchDir dir;
  std::string read = ipx_test::tshark_read(capture, dir);  // dissects cleanly
  if (!read.empty()) {
    // SPX packets for network 77 leave for the router's MAC, none for Far's.
    std::string to_far = tav_test::command_output(
        read + " -Y 'spx && ipx.dst.net == 0x00000077' -T fields -e eth.dst" +
        " 2>/dev/null | sort | uniq -c");
    EXPECT_NE(to_far.find(" 02:ee:00:00:00:01"), std::string::npos) << to_far;
    EXPECT_EQ(to_far.find('\n'), to_far.size() - 1) << to_far;
  }

  // 10% lost and 5% reordered each way at the unit, behind the router: its
  // 5 MB page comes through the gateway byte for byte.
  sim::unit_stack(config, config.entities[0], &error)->set_loss(10, 5);
  std::string page = read_page(ask_gateway("/Far-HTML/big.bin"));
  sim::WebUnitOptions far_unit;
  far_unit.big_bin_size = 5000000;
  sim::WebReply reply = sim::make_web_reply(far_unit, "GET", "/big.bin", "");
  std::string body(reply.body_size, '\0');
  for (size_t at = 0, n; at < body.size(); at += n)
    n = reply.body(at, body.data() + at, body.size() - at);
  size_t head = page.find("\r\n\r\n");
  ASSERT_NE(head, std::string::npos);
  EXPECT_EQ(page.size() - head - 4, 5000000u);
  EXPECT_TRUE(page.compare(head + 4, std::string::npos, body) == 0);
}

}  // namespace
