// The socket calls of platform/net with TAV_IPX=ethernet: the program's
// IPX and SPX sockets served by the process-wide stack on the interface of
// the host's own address (one end of a veth pair here), talking to a
// second stack on the other end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/ipx_stack.h"
#include "platform/net.h"
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"

namespace {

using namespace net;
using ipx_test::at;

const ipx::NetworkNumber kNet = {0x00, 0x00, 0xCA, 0xFE};

TEST(IpxInEthernetFrames, TheProgramsSocketCallsReachAUnitOnTheLan) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  ipx_test::Lan* lan = ipx_test::host_lan();
  ASSERT_TRUE(lan != nullptr);
  ipx_test::ScopedEthernet ethernet(lan->name(0));
  ASSERT_TRUE(ethernet.ok());
  EXPECT_EQ(ipx_mode(), IpxMode::kEthernet);
  // The unit's node is none of this host's MACs (the other end of the pair
  // is one: connecting to it is refused like any other own node).
  ipx::StackOptions options;
  options.interface = lan->name(1);
  options.network = kNet;
  options.node = {0x00, 0x40, 0xAF, 0x0F, 0x12, 0x00};
  int error = 0;
  auto unit = ipx::Stack::start(options, &error);
  ASSERT_TRUE(unit) << error;

  // Datagrams: a broadcast query out, the answer back with its source; the
  // network number is learned from it.
  Socket s = socket(AF_IPX_, SOCK_DGRAM_, NSPROTO_IPX);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(setsockopt_int(s, SockOpt::kBroadcast, 1), 0);
  ASSERT_EQ(bind(s, SockAddrIpx{AF_IPX_, {}, {}, 0}), 0);
  int u = unit->socket(SOCK_DGRAM_);
  ASSERT_EQ(unit->bind(u, at({}, {}, 0x8449)), 0);
  ASSERT_EQ(sendto(s, "\xFF\xFF\xC1\x00\x01\xF4", 6,
                   at({}, ipx::kBroadcastMac, 0x8449)),
            6);
  ASSERT_EQ(wait_readable(u, 3000), 1);
  char buf[64];
  SockAddrIpx from{};
  ASSERT_EQ(ipx::Stack::recvfrom(u, buf, sizeof buf, &from), 6);
  ASSERT_EQ(unit->sendto(u, "answer", 6, from), 6);
  ASSERT_EQ(wait_readable(s, 3000), 1);
  ASSERT_EQ(recvfrom(s, buf, sizeof buf, &from), 6);
  EXPECT_EQ(std::memcmp(buf, "answer", 6), 0);
  EXPECT_EQ(std::memcmp(from.sa_nodenum, unit->node().data(), 6), 0);
  uint8_t network[4];
  local_ipx_network(network);
  EXPECT_EQ(std::memcmp(network, kNet.data(), 4), 0);
  SockAddrIpx me{};
  ASSERT_EQ(getsockname(s, &me), 0);
  EXPECT_EQ(std::memcmp(me.sa_netnum, kNet.data(), 4), 0);
  EXPECT_EQ(closesocket(s), 0);

  // SPX: a blocking and a non-blocking connect, data both ways, the end.
  int l = unit->socket(SOCK_STREAM_);
  ASSERT_EQ(unit->bind(l, at({}, {}, 0x4000)), 0);
  ASSERT_EQ(unit->listen(l, 4), 0);
  for (bool nonblocking : {false, true}) {
    SCOPED_TRACE(nonblocking ? "non-blocking" : "blocking");
    Socket c = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
    ASSERT_NE(c, INVALID_SOCKET);
    ASSERT_EQ(ioctlsocket_fionbio(c, nonblocking), 0);
    int rc = connect(c, at(kNet, unit->node(), 0x4000));
    if (nonblocking) {
      ASSERT_EQ(rc, SOCKET_ERROR);
      ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
      ASSERT_EQ(wait_writable(c, 5000), 1);
      ASSERT_EQ(ioctlsocket_fionbio(c, 0), 0);
    } else {
      ASSERT_EQ(rc, 0) << WSAGetLastError();
    }
    ASSERT_EQ(send(c, "GET", 3), 3);
    int a = unit->accept(l);
    ASSERT_GE(a, 0);
    ASSERT_EQ(wait_readable(a, 3000), 1);
    ASSERT_EQ(::read(a, buf, sizeof buf), 3);
    ASSERT_EQ(::write(a, "reply", 5), 5);
    ASSERT_EQ(unit->close(a), 0);
    ASSERT_EQ(wait_readable(c, 3000), 1);
    EXPECT_EQ(recv(c, buf, sizeof buf), 5);
    ASSERT_EQ(wait_readable(c, 5000), 1);
    EXPECT_EQ(recv(c, buf, sizeof buf), 0);
    EXPECT_EQ(closesocket(c), 0);
  }

  // This host's own node is refused, as the loopback is over IPv4.
  Socket c = socket(AF_IPX_, SOCK_STREAM_, NSPROTO_SPX);
  EXPECT_EQ(connect(c, at(kNet, ipx::Mac{}, 0x4000)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10049);
  ipx::Mac own;
  std::memcpy(own.data(), me.sa_nodenum, 6);
  EXPECT_EQ(connect(c, at(kNet, own, 0x4000)), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10049);
  EXPECT_EQ(connect(c, at(kNet, ipx_test::mac_of(lan->name(1)), 0x4000)),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), 10049);
  closesocket(c);
}

}  // namespace
