// Two IPX stacks on the two ends of a veth pair inside the test's private
// network namespace: datagrams in every frame type, broadcasts, SPX
// connections carrying megabytes, both ways of closing, vanishing peers.
#include "platform/ipx_stack.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
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

TEST(IpxStack, DatagramsGoBothWaysInEachFrameTypeAndTheNetworkIsLearned) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  for (int t = 0; t < kFrameTypeCount; ++t) {
    auto type = static_cast<FrameType>(t);
    SCOPED_TRACE(frame_type_name(type));
    ipx_test::Lan lan;
    ASSERT_TRUE(lan.up()) << lan.problem();
    auto a = lan.stack(0, frame_bit(type));
    auto b = lan.stack(1, frame_bit(type), kNet);
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
    EXPECT_EQ(std::memcmp(from.sa_nodenum, a->node().data(), 6), 0);
    EXPECT_EQ(from.sa_family, net::AF_IPX_);
    // The answer goes back in the frame type the query came in, and tells
    // the asker the network number.
    ASSERT_EQ(b->sendto(ub, "answer", 6, from), 6);
    ASSERT_TRUE(readable(ua, 3000));
    ASSERT_EQ(Stack::recvfrom(ua, buf, 3, &from), -10040);  // too long
    EXPECT_EQ(a->network(), kNet);
    SockAddrIpx me{};
    ASSERT_EQ(a->getsockname(ua, &me), 0);
    EXPECT_EQ(std::memcmp(me.sa_netnum, kNet.data(), 4), 0);
    EXPECT_EQ(std::memcmp(me.sa_nodenum, a->node().data(), 6), 0);
    EXPECT_GE(net::ntohs_(me.sa_socket), 0x4000);
    EXPECT_LE(net::ntohs_(me.sa_socket), 0x7FFF);
  }
}

TEST(IpxStack, AnAnswerToBroadcastsInEveryFrameTypeArrivesOnce) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  ipx_test::Lan lan;
  ASSERT_TRUE(lan.up()) << lan.problem();
  auto a = lan.stack(0, kAllFrameTypes);
  auto b = lan.stack(1, kAllFrameTypes);
  ASSERT_TRUE(a && b);
  int ua = a->socket(net::SOCK_DGRAM_), ub = b->socket(net::SOCK_DGRAM_);
  ASSERT_EQ(b->bind(ub, ipx_test::at({}, {}, 0x0452)), 0);
  ASSERT_EQ(a->sendto(ua, "\x00\x01\x04\x14", 4,
                      ipx_test::at({}, kBroadcastMac, 0x0452)),
            4);
  char buf[64];
  SockAddrIpx from{};
  ASSERT_TRUE(readable(ub, 3000));
  ASSERT_EQ(Stack::recvfrom(ub, buf, sizeof buf, &from), 4);
  EXPECT_FALSE(readable(ub, 300));  // the three other copies were dropped
  // A socket in use cannot be bound twice; a socket is bound once.
  int again = b->socket(net::SOCK_DGRAM_);
  EXPECT_EQ(b->bind(again, ipx_test::at({}, {}, 0x0452)), -10048);
  EXPECT_EQ(b->bind(ub, ipx_test::at({}, {}, 0x0453)), -10022);
  SockAddrIpx none{};
  EXPECT_EQ(b->getsockname(again, &none), -10022);
  EXPECT_EQ(b->close(again), 0);
  EXPECT_FALSE(b->owns(again));
}

// Writes `out` on fd from a thread while reading `want` bytes from it.
Bytes exchange(int fd, const Bytes& out, size_t want) {
  std::thread writer([&] {
    size_t sent = 0;
    while (sent < out.size()) {
      ssize_t n =
          ::send(fd, out.data() + sent,
                 std::min<size_t>(out.size() - sent, 7000), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  });
  Bytes in;
  char buf[4096];
  while (in.size() < want && readable(fd, 10000)) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    in.insert(in.end(), buf, buf + n);
  }
  writer.join();
  return in;
}

Bytes pattern(size_t n, unsigned seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + seed);
  return b;
}

TEST(IpxStack, SpxCarriesMegabytesBothWaysAndEitherSideCloses) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  for (bool client_closes : {true, false}) {
    SCOPED_TRACE(client_closes ? "client closes" : "server closes");
    ipx_test::Lan lan;
    ASSERT_TRUE(lan.up()) << lan.problem();
    auto a = lan.stack(0, frame_bit(FrameType::kEthernetII));
    auto b = lan.stack(1, frame_bit(FrameType::kSnap), kNet);
    ASSERT_TRUE(a && b);
    int l = b->socket(net::SOCK_STREAM_);
    ASSERT_EQ(b->bind(l, ipx_test::at({}, {}, 0x8450)), 0);
    ASSERT_EQ(b->listen(l, 5), 0);
    int c = a->socket(net::SOCK_STREAM_);
    ASSERT_EQ(a->connect(c, ipx_test::at(kNet, b->node(), 0x8450)), 0);
    int s = b->accept(l);
    ASSERT_GE(s, 0);
    Bytes up = pattern(3 << 20, 1), down = pattern(2 << 20, 2);
    Bytes got_down;
    std::thread client([&] { got_down = exchange(c, up, down.size()); });
    Bytes got_up = exchange(s, down, up.size());
    client.join();
    EXPECT_TRUE(got_up == up);
    EXPECT_TRUE(got_down == down);
    int closer = client_closes ? c : s, other = client_closes ? s : c;
    Stack& closing = client_closes ? *a : *b;
    Stack& staying = client_closes ? *b : *a;
    ASSERT_EQ(closing.close(closer), 0);
    ASSERT_TRUE(readable(other, 3000));
    char byte;
    EXPECT_EQ(::recv(other, &byte, 1, 0), 0);  // the end of the stream
    EXPECT_EQ(staying.socket_error(other), 0);
    EXPECT_EQ(staying.close(other), 0);
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
  Bytes lots = pattern(200000, 3);
  ::send(e, lots.data(), lots.size(), MSG_NOSIGNAL);
  t0 = std::chrono::steady_clock::now();
  char buf[16];
  ASSERT_TRUE(readable(e, 6000));
  EXPECT_EQ(::recv(e, buf, sizeof buf, 0), 0);
  EXPECT_LT(ms_since(t0), 100 + 200 + 6 * 400 + 500);
  EXPECT_EQ(a->socket_error(e), 10054);
}

}  // namespace
