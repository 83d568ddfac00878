// IPX and SPX over IPv4 on the loopback of the test's private network
// (datagrams and SPX data are carried in the discovery tests).
#include "platform/net.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <utility>

#include "tests/support/netns.h"

namespace {

using namespace net;

SockAddrIpx ipx_at(const char* ip, uint16_t port) {
  SockAddrIpx a{AF_IPX_, {}, {}, htons_(port)};
  local_ipx_network(a.sa_netnum);
  uint32_t addr = inet_addr(ip);
  std::memcpy(a.sa_nodenum + 2, &addr, 4);
  return a;
}

// A socket bound to the all-zero IPX address; *port is its socket number.
Socket bound(int type, uint16_t* port) {
  Socket s =
      socket(AF_IPX_, type, type == SOCK_DGRAM_ ? NSPROTO_IPX : NSPROTO_SPX);
  EXPECT_EQ(bind(s, SockAddrIpx{AF_IPX_, {}, {}, 0}), 0);
  SockAddrIpx me{};
  EXPECT_EQ(getsockname(s, &me), 0);
  SockAddrIpx expected = ipx_at("0.0.0.0", ntohs_(me.sa_socket));
  EXPECT_EQ(std::memcmp(&me, &expected, sizeof me), 0);  // node zero: any
  *port = ntohs_(me.sa_socket);
  EXPECT_NE(*port, 0);
  return s;
}

TEST(IpxOverIpv4, SpxIsTcpAndItsBlockingConnectIsBounded) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  uint16_t port;
  Socket l = bound(SOCK_STREAM_, &port);
  ASSERT_EQ(listen(l, 0), 0);
  Socket c = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
  ASSERT_EQ(connect(c, ipx_at("127.0.0.1", port)), 0);
  Socket a = accept(l);
  ASSERT_NE(a, INVALID_SOCKET);
  // With the listener's queue full, further connects get no answer.
  Socket fill[3];
  for (Socket& f : fill) {
    f = socket(AF_INET_, SOCK_STREAM_, 0);
    ioctlsocket_fionbio(f, 1);
    connect(f, make_addr_in(inet_addr("127.0.0.1"), port));
  }
  Socket d = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(connect(d, ipx_at("127.0.0.1", port)), SOCKET_ERROR);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
  EXPECT_GT(took.count(), kSpxConnectTimeoutMs / 1000.0 - 0.5);
  EXPECT_LT(took.count(), kSpxConnectTimeoutMs / 1000.0 + 10);
  for (Socket x : {a, c, d, fill[0], fill[1], fill[2], l}) closesocket(x);
}

// A node whose address leads back to this host is refused before any
// connect: whatever bytes 0 and 1 hold, since only bytes 2 to 5 map.
TEST(IpxOverIpv4, SpxConnectRefusesNodesThatLeadBackToThisHost) {
  const uint32_t own[] = {inet_addr("10.77.5.9"), inet_addr("192.168.1.2")};
  const struct {
    uint8_t node[6];
    bool refused, refused_with_loopback_allowed;
  } cases[] = {{{0, 0, 0, 0, 0, 0}, true, true},
               {{1, 2, 0, 0, 0, 0}, true, true},
               {{0, 0, 127, 0, 0, 1}, true, false},
               {{9, 9, 127, 1, 2, 3}, true, false},
               {{0, 0, 10, 77, 5, 9}, true, true},
               {{7, 0, 192, 168, 1, 2}, true, true},
               {{0, 0, 10, 77, 5, 10}, false, false},
               {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.node[2]) << "." << int(c.node[5]));
    EXPECT_EQ(node_is_this_host(c.node, own, 2, false), c.refused);
    EXPECT_EQ(node_is_this_host(c.node, own, 2, true),
              c.refused_with_loopback_allowed);
  }
  TAV_REQUIRE_PRIVATE_NETWORK();
  uint16_t port;
  Socket l = bound(SOCK_STREAM_, &port);
  ASSERT_EQ(listen(l, 4), 0);
  // Node 0.0.0.0 would reach the listener on the loopback.
  SockAddrIpx to = ipx_at("0.0.0.0", port);
  to.sa_nodenum[0] = 1;
  Socket c = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
  EXPECT_EQ(connect(c, to), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10049);
  closesocket(c);
  closesocket(l);
}

// Moves empty the source, release() gives up unclosed; reset(), assignment
// and scope end close what was held (polling a closed descriptor fails).
TEST(OwnedSocket, ClosesWhatItHoldsOnce) {
  auto open = [](Socket s) { return wait_writable(s, 0) != SOCKET_ERROR; };
  Socket a = socket(AF_INET_, SOCK_DGRAM_, 0),
         b = socket(AF_INET_, SOCK_DGRAM_, 0);
  Socket c = socket(AF_INET_, SOCK_DGRAM_, 0);
  OwnedSocket first(a), second(std::move(first));
  EXPECT_FALSE(first.valid());
  second.reset(b);
  second.reset(b);  // the one it holds stays open
  EXPECT_EQ(second.release(), b);
  EXPECT_FALSE(second);
  EXPECT_FALSE(open(a));
  EXPECT_TRUE(open(b));
  {
    OwnedSocket third(b), fourth(c);
    fourth = std::move(third);
    EXPECT_FALSE(open(c));
    EXPECT_TRUE(open(b));
  }
  EXPECT_FALSE(open(b));
}

// A two-socket wait says which of them have something to read, and fails
// on a closed descriptor as the one-socket wait does.
TEST(WaitReadableEither, SaysWhichSocketIsReady) {
  OwnedSocket a(socket(AF_INET_, SOCK_DGRAM_, 0)),
      b(socket(AF_INET_, SOCK_DGRAM_, 0));
  SockAddrIn at[2];
  for (int i = 0; i < 2; ++i) {
    Socket s = i == 0 ? a.get() : b.get();
    ASSERT_EQ(bind(s, make_addr_in(inet_addr("127.0.0.1"), 0)), 0);
    ASSERT_EQ(getsockname(s, &at[i]), 0);
  }
  int ready = -1;
  EXPECT_EQ(wait_readable_either(a.get(), b.get(), 0, &ready), 0);
  EXPECT_EQ(ready, 0);
  for (int expected : {2, 3}) {
    ASSERT_EQ(sendto(a.get(), "x", 1, at[expected == 2 ? 1 : 0]), 1);
    EXPECT_EQ(wait_readable_either(a.get(), b.get(), 2000, &ready), 1);
    EXPECT_EQ(ready, expected);
  }
  Socket gone = a.release();
  closesocket(gone);
  EXPECT_EQ(wait_readable_either(gone, b.get(), 0, &ready), SOCKET_ERROR);
}

}  // namespace
