// IPX and SPX over IPv4: addresses translated both ways, the broadcast
// node, the wildcard bind and getsockname, TAV_IPX=off, the bounded SPX
// connect. Runs on the loopback of the test's private network.
#include "platform/net.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/netns.h"

namespace {

using namespace net;

SockAddrIpx ipx_to(const char* ip, uint16_t socket_host_order) {
  SockAddrIpx a{};
  a.sa_family = AF_IPX_;
  local_ipx_network(a.sa_netnum);
  uint32_t addr = inet_addr(ip);
  std::memcpy(a.sa_nodenum + 2, &addr, 4);
  a.sa_socket = htons_(socket_host_order);
  return a;
}

const SockAddrIpx kAnyIpx{AF_IPX_, {}, {}, 0};

// An IPX datagram socket bound to the all-zero address; its socket number
// (host order) in *port.
Socket bound_ipx(int type, uint16_t* port) {
  int protocol = type == SOCK_DGRAM_ ? NSPROTO_IPX : NSPROTO_SPX;
  Socket s = socket(AF_IPX_, type, protocol);
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(bind(s, kAnyIpx), 0);
  SockAddrIpx me{};
  EXPECT_EQ(getsockname(s, &me), 0);
  *port = ntohs_(me.sa_socket);
  return s;
}

class IpxOverIpv4 : public ::testing::Test {
 protected:
  void SetUp() override { TAV_REQUIRE_PRIVATE_NETWORK(); }
};

TEST_F(IpxOverIpv4, WildcardBindAndGetsockname) {
  uint16_t port = 0;
  Socket s = bound_ipx(SOCK_DGRAM_, &port);
  SockAddrIpx me{};
  ASSERT_EQ(getsockname(s, &me), 0);
  EXPECT_EQ(me.sa_family, AF_IPX_);
  uint8_t network[4];
  local_ipx_network(network);
  EXPECT_EQ(std::memcmp(me.sa_netnum, network, 4), 0);
  const uint8_t zero[6] = {};
  EXPECT_EQ(std::memcmp(me.sa_nodenum, zero, 6), 0);  // bound to any
  EXPECT_NE(port, 0);
  // A given node binds that address and reads back as 00 00 + IPv4.
  Socket t = socket(AF_IPX_, SOCK_DGRAM_, NSPROTO_IPX);
  ASSERT_EQ(bind(t, ipx_to("127.0.0.1", 0)), 0);
  ASSERT_EQ(getsockname(t, &me), 0);
  const uint8_t node[6] = {0, 0, 127, 0, 0, 1};
  EXPECT_EQ(std::memcmp(me.sa_nodenum, node, 6), 0);
  closesocket(s);
  closesocket(t);
}

TEST_F(IpxOverIpv4, DatagramsCarryAddressesBothWays) {
  uint16_t rport = 0, sport = 0;
  Socket r = bound_ipx(SOCK_DGRAM_, &rport);
  Socket s = bound_ipx(SOCK_DGRAM_, &sport);
  ASSERT_EQ(sendto(s, "ping", 4, ipx_to("127.0.0.1", rport)), 4);
  ASSERT_EQ(wait_readable(r, 5000), 1);
  char buf[16];
  SockAddrIpx from{};
  ASSERT_EQ(recvfrom(r, buf, sizeof buf, &from), 4);
  EXPECT_EQ(std::string(buf, 4), "ping");
  SockAddrIpx expected = ipx_to("127.0.0.1", sport);
  EXPECT_EQ(std::memcmp(&from, &expected, sizeof from), 0);
  // The same port reached as a plain UDP address.
  Socket u = socket(AF_INET_, SOCK_DGRAM_, 0);
  ASSERT_EQ(sendto(u, "pong", 4, make_addr_in(inet_addr("127.0.0.1"), rport)),
            4);
  ASSERT_EQ(wait_readable(r, 5000), 1);
  EXPECT_EQ(recvfrom(r, buf, sizeof buf, &from), 4);
  closesocket(r);
  closesocket(s);
  closesocket(u);
}

TEST_F(IpxOverIpv4, BroadcastNodeReachesTheHostsNetwork) {
  uint16_t rport = 0, sport = 0;
  Socket r = bound_ipx(SOCK_DGRAM_, &rport);
  Socket s = bound_ipx(SOCK_DGRAM_, &sport);
  SockAddrIpx all = ipx_to("0.0.0.0", rport);
  std::memset(all.sa_nodenum, 0xFF, 6);
  ASSERT_EQ(sendto(s, "all", 3, all), 3);  // no socket option needed
  ASSERT_EQ(wait_readable(r, 5000), 1);
  char buf[8];
  EXPECT_EQ(recvfrom(r, buf, sizeof buf, static_cast<SockAddrIpx*>(nullptr)),
            3);
  closesocket(r);
  closesocket(s);
}

TEST_F(IpxOverIpv4, SpxStreamsAreTcpConnections) {
  uint16_t port = 0;
  Socket l = bound_ipx(SOCK_STREAM_, &port);
  ASSERT_EQ(listen(l, 5), 0);
  Socket c = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
  ASSERT_EQ(bind(c, kAnyIpx), 0);
  ASSERT_EQ(connect(c, ipx_to("127.0.0.1", port)), 0);
  Socket a = accept(l);
  ASSERT_NE(a, INVALID_SOCKET);
  ASSERT_EQ(send(c, "GET", 3), 3);
  char buf[8];
  ASSERT_EQ(wait_readable(a, 5000), 1);
  EXPECT_EQ(recv(a, buf, sizeof buf), 3);
  closesocket(a);
  closesocket(c);
  // Nobody on the port any more: refused.
  closesocket(l);
  Socket d = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
  EXPECT_EQ(connect(d, ipx_to("127.0.0.1", port)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
  closesocket(d);
}

TEST_F(IpxOverIpv4, BlockingSpxConnectIsBounded) {
  // A listener whose queue is full drops further connection requests, so
  // a connect to it waits for an answer that never comes.
  Socket l = socket(AF_INET_, SOCK_STREAM_, 0);
  ASSERT_EQ(bind(l, make_addr_in(inet_addr("127.0.0.1"), 0)), 0);
  ASSERT_EQ(listen(l, 0), 0);
  SockAddrIn me{};
  ASSERT_EQ(getsockname(l, &me), 0);
  uint16_t port = ntohs_(me.sin_port);
  Socket fill[4];
  for (Socket& f : fill) {
    f = socket(AF_INET_, SOCK_STREAM_, 0);
    ioctlsocket_fionbio(f, 1);
    connect(f, make_addr_in(inet_addr("127.0.0.1"), port));
  }
  Socket c = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
  auto start = std::chrono::steady_clock::now();
  int rc = connect(c, ipx_to("127.0.0.1", port));
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(rc, SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
  EXPECT_GT(seconds, kSpxConnectTimeoutMs / 1000.0 - 0.5);
  EXPECT_LT(seconds, kSpxConnectTimeoutMs / 1000.0 + 10);
  for (Socket f : fill) closesocket(f);
  closesocket(c);
  closesocket(l);
}

TEST(IpxSwitch, OffMakesEveryIpxSocketFailWith10047) {
  ::setenv("TAV_IPX", "off", 1);
  EXPECT_FALSE(ipx_enabled());
  EXPECT_EQ(socket(AF_IPX_, SOCK_DGRAM_, NSPROTO_IPX), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
  EXPECT_EQ(socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
  Socket tcp = socket(AF_INET_, SOCK_STREAM_, 0);
  EXPECT_NE(tcp, INVALID_SOCKET);  // IPv4 is not affected
  closesocket(tcp);
  ::unsetenv("TAV_IPX");
  Socket s = socket(AF_IPX_, SOCK_DGRAM_, NSPROTO_IPX);
  EXPECT_NE(s, INVALID_SOCKET);
  closesocket(s);
}

}  // namespace
