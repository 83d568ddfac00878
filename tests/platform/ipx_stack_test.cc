// Two IPX stacks on the two ends of a veth pair inside the test's private
// network namespace: datagrams in every frame type, broadcasts, SPX opens
// nobody answers and peers that vanish.
#include "platform/ipx_stack.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"

namespace {

using namespace ipx;
using net::SockAddrIpx;
using Bytes = std::vector<uint8_t>;

const NetworkNumber kNet = {0x00, 0x00, 0xBE, 0xEF};

int64_t ms_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - t)
      .count();
}

bool readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

// Each frame type alone, then all four: a broadcast is heard once, its
// answer goes back in the frame type it came in and teaches the network.
TEST(IpxStack, DatagramsGoBothWaysInEachFrameTypeAndTheNetworkIsLearned) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  for (int t = 0; t <= kFrameTypeCount; ++t) {
    FrameTypes types = t < kFrameTypeCount
                           ? frame_bit(static_cast<FrameType>(t))
                           : kAllFrameTypes;
    SCOPED_TRACE(types);
    ipx_test::Lan lan;
    ASSERT_TRUE(lan.up()) << lan.problem();
    auto a = lan.stack(0, types);
    auto b = lan.stack(1, types, kNet);
    ASSERT_TRUE(a && b);
    int ua = a->socket(net::SOCK_DGRAM_), ub = b->socket(net::SOCK_DGRAM_);
    ASSERT_EQ(b->bind(ub, ipx_test::at({}, {}, 0x8449)), 0);
    ASSERT_EQ(a->bind(ua, ipx_test::at({}, {}, 0)), 0);
    ASSERT_EQ(a->sendto(ua, "\xFF\xFF\xC1\x00\x01\xF4", 6,
                        ipx_test::at({}, kBroadcastMac, 0x8449)),
              6);
    ASSERT_TRUE(readable(ub, 3000));
    char buf[64];
    SockAddrIpx from{};
    ASSERT_EQ(Stack::recvfrom(ub, buf, sizeof buf, &from), 6);
    EXPECT_FALSE(readable(ub, 100));  // other frame types' copies dropped
    EXPECT_EQ(std::memcmp(from.sa_nodenum, a->node().data(), 6), 0);
    ASSERT_EQ(b->sendto(ub, "answer", 6, from), 6);
    ASSERT_TRUE(readable(ua, 3000));
    ASSERT_EQ(Stack::recvfrom(ua, buf, 3, &from), -10040);  // too long
    EXPECT_EQ(a->network(), kNet);
    SockAddrIpx me{};
    ASSERT_EQ(a->getsockname(ua, &me), 0);
    EXPECT_EQ(std::memcmp(me.sa_netnum, kNet.data(), 4), 0);
    EXPECT_GE(net::ntohs_(me.sa_socket), 0x4000);
    EXPECT_LE(net::ntohs_(me.sa_socket), 0x7FFF);
    // A socket in use cannot be bound twice; a socket is bound once.
    int again = b->socket(net::SOCK_DGRAM_);
    EXPECT_EQ(b->bind(again, ipx_test::at({}, {}, 0x8449)), -10048);
    EXPECT_EQ(b->bind(ub, ipx_test::at({}, {}, 0x0453)), -10022);
    EXPECT_EQ(b->close(again), 0);
  }
}

TEST(IpxStack, AnOpenOrConnectionThatNobodyAnswersEndsWithinItsBound) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  spx::Timing quick;
  quick.connect_retry = 100;
  quick.rto_max = 400;
  ipx_test::Lan lan;
  ASSERT_TRUE(lan.up()) << lan.problem();
  auto a = lan.stack(0, kAllFrameTypes, {}, quick);
  auto b = lan.stack(1, kAllFrameTypes, {}, quick);
  ASSERT_TRUE(a && b);
  // Nobody listens: a blocking open fails after 8 tries with 10060, and a
  // non-blocking one says 10035 and hangs its descriptor up as it fails.
  int c = a->socket(net::SOCK_STREAM_);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(a->connect(c, ipx_test::at({}, b->node(), 0x8450)), -10060);
  EXPECT_NEAR(static_cast<double>(ms_since(t0)), 800, 300);
  int d = a->socket(net::SOCK_STREAM_);
  ASSERT_EQ(a->set_nonblocking(d, true), 0);
  EXPECT_EQ(a->connect(d, ipx_test::at({}, b->node(), 0x8450)), -10035);
  pollfd p{d, POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  EXPECT_EQ(a->socket_error(d), 10060);

  // A peer that vanishes mid-transfer: 8 unanswered tries, then 10054.
  int l = b->socket(net::SOCK_STREAM_);
  ASSERT_EQ(b->listen(l, 1), 0);
  SockAddrIpx where{};
  ASSERT_EQ(b->getsockname(l, &where), 0);
  int e = a->socket(net::SOCK_STREAM_);
  ASSERT_EQ(a->set_nonblocking(e, true), 0);
  ASSERT_EQ(a->connect(e, where), -10035);
  p = {e, POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_EQ(p.revents & POLLHUP, 0);
  ASSERT_EQ(a->socket_error(e), 0);
  ASSERT_EQ(::send(e, "hello", 5, MSG_NOSIGNAL), 5);  // the new descriptor
  b.reset();
  Bytes lots(200000, 0x5A);
  ::send(e, lots.data(), lots.size(), MSG_NOSIGNAL);
  t0 = std::chrono::steady_clock::now();
  char buf[16];
  ASSERT_TRUE(readable(e, 6000));
  EXPECT_EQ(::recv(e, buf, sizeof buf, 0), 0);
  EXPECT_LT(ms_since(t0), 100 + 200 + 6 * 400 + 500);
  EXPECT_EQ(a->socket_error(e), 10054);
}

}  // namespace
