// The endpoint operations against an in-memory peer (and, where real
// timing matters, a socketpair): line assembly across receives and waits,
// the send buffer, the bounded waits.
#include "gateway/endpoint.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "discovery/units.h"
#include "platform/threads.h"
#include "tests/gateway/fake_transport.h"

namespace {

class EndpointTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(&ep_, 0, sizeof ep_); }
  void TearDown() override { fake::detach(ep_.sock); }
  void use(fake::Peer* peer) {
    ep_.sock = fake::attach(peer);
    ep_.first_wait = 1;
    endpoint_mark_active(&ep_);
  }
  SessionEndpoint ep_;
  char out_[kEndpointBufferSize];
};

TEST_F(EndpointTest, HeaderBlockArrivingAtOnceNeedsNoWait) {
  std::string block = "GET /x HTTP/1.0\r\n";
  while (block.size() < 598) block += "X-Filler: 0123456789012345678901\r\n";
  block += "\r\n";
  fake::Peer peer;
  peer.script = {block};
  use(&peer);
  std::string joined;
  int n;
  while (joined.size() < block.size() && (n = read_line(&ep_, out_)) > 0)
    joined.append(out_, static_cast<size_t>(n));
  EXPECT_EQ(joined, block);
  EXPECT_TRUE(peer.wait_timeouts.empty());
  EXPECT_EQ(ep_.first_wait, 0);  // data before any wait: no long wait later
  EXPECT_EQ(ep_.got_data, 1);
}

TEST_F(EndpointTest, LongLineIsCutAt511Characters) {
  std::string line(600, 'a');
  fake::Peer peer;
  peer.script = {line, "\n"};
  use(&peer);
  EXPECT_EQ(read_line(&ep_, out_), kLineLimit);
  EXPECT_EQ(std::string(out_), line.substr(0, 511));
  EXPECT_EQ(read_line(&ep_, out_), 90);
  EXPECT_EQ(std::string(out_), std::string(89, 'a') + "\n");
}

TEST_F(EndpointTest, PartialLinesWaitAndCarryOn) {
  fake::Peer peer;
  // A line in two pieces, then one split by a quiet wait.
  peer.script = {"GET / HT", "TP/1.0\r\n", "Host: a", "", "\r\n"};
  peer.close_at_end = false;
  use(&peer);
  EXPECT_EQ(read_line(&ep_, out_), 16);
  EXPECT_STREQ(out_, "GET / HTTP/1.0\r\n");
  EXPECT_EQ(read_line(&ep_, out_), 0);  // the quiet wait
  EXPECT_EQ(read_line(&ep_, out_), 9);
  EXPECT_STREQ(out_, "Host: a\r\n");
  // A bare line feed is joined with what follows it.
  fake::Peer bare;
  bare.script = {"\nab\n"};
  fake::detach(ep_.sock);
  std::memset(&ep_, 0, sizeof ep_);
  use(&bare);
  EXPECT_EQ(read_line(&ep_, out_), 4);
  EXPECT_STREQ(out_, "\nab\n");
  EXPECT_EQ(read_line(&ep_, out_), -1);  // closed
}

TEST_F(EndpointTest, FirstWaitIsLongLaterWaitsShort) {
  fake::Peer peer;
  peer.script = {"", "", "x"};
  peer.close_at_end = false;
  use(&peer);
  char c;
  EXPECT_EQ(get_char(&ep_, &c), -1);
  EXPECT_EQ(get_char(&ep_, &c), -1);
  EXPECT_EQ(get_char(&ep_, &c), 0);
  EXPECT_EQ(c, 'x');
  ASSERT_EQ(peer.wait_timeouts.size(), 3u);
  EXPECT_EQ(peer.wait_timeouts[0], kFirstWaitMs);
  EXPECT_EQ(peer.wait_timeouts[1], kLaterWaitMs);
  EXPECT_EQ(peer.wait_timeouts[2], kLaterWaitMs);
}

TEST_F(EndpointTest, SendBufferWritesOutAtFullOrOnFlush) {
  fake::Peer peer;
  use(&peer);
  std::string full(512, 'f');
  EXPECT_EQ(put(&ep_, full.data(), 512), 0);
  EXPECT_EQ(peer.sent, full);
  EXPECT_EQ(put(&ep_, "0123456789", 10), 0);
  EXPECT_EQ(peer.sent.size(), 512u);
  EXPECT_EQ(flush_buffer(&ep_), 0);
  EXPECT_EQ(peer.sent, full + "0123456789");
  // More than a buffer in one call goes out in 512-byte pieces.
  std::string big(1300, 'b');
  EXPECT_EQ(put(&ep_, big.data(), 1300), 0);
  EXPECT_EQ(peer.sent.size(), 522u + 1024u);
  EXPECT_EQ(ep_.send_count, 1300 - 1024);
}

TEST_F(EndpointTest, PeerThatReadsNothingIsGivenUp) {
  fake::Peer peer;
  peer.takes = 100;
  use(&peer);
  std::string data(300, 'd');
  EXPECT_EQ(put(&ep_, data.data(), 300), 0);
  EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_EQ(peer.sent.size(), 100u);
  EXPECT_EQ(ep_.send_count, 200);  // the unsent bytes stay counted
  EXPECT_GE(peer.clock_ms - 1000000, kQuietLimitMs);
}

TEST_F(EndpointTest, UnknownUnitFailsEveryFlushWithoutSending) {
  publish_ipx_units(nullptr, 0);
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  ep_.sock = sv[0];
  ep_.is_unit_side = 1;
  std::strcpy(ep_.unit_name, "VEM_404");
  EXPECT_EQ(put(&ep_, "GET / HTTP/1.0\r\n", 16), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_EQ(ep_.connected, 0);
  char c;
  EXPECT_EQ(::recv(sv[1], &c, 1, MSG_DONTWAIT), -1);
  close(sv[0]);
  close(sv[1]);
  ep_.sock = -1;
}

TEST_F(EndpointTest, GetBufferReturnsWhatCameBeforeTheClose) {
  fake::Peer peer;
  peer.script = {"abc", "de"};
  use(&peer);
  char buf[16];
  EXPECT_EQ(get_buffer(&ep_, buf, 16), 5);
  EXPECT_EQ(std::string(buf, 5), "abcde");
  EXPECT_EQ(get_buffer(&ep_, buf, 16), -1);
  // Surplus beyond the wanted count stays for the next call.
  fake::Peer more;
  more.script = {"0123456789"};
  more.close_at_end = false;
  fake::detach(ep_.sock);
  std::memset(&ep_, 0, sizeof ep_);
  use(&more);
  EXPECT_EQ(get_buffer(&ep_, buf, 4), 4);
  EXPECT_EQ(get_buffer(&ep_, buf + 4, 16), 6);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(get_buffer(&ep_, buf, 16), 0);  // quiet
}

// Real waits on a socketpair: a gap shorter than the 0.5 s wait is bridged
// within one call, a longer one is not.
TEST(EndpointTiming, GapsAgainstTheHalfSecondWait) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
  SessionEndpoint ep;
  std::memset(&ep, 0, sizeof ep);
  ep.sock = sv[0];
  char out[kEndpointBufferSize];
  ASSERT_EQ(::send(sv[1], "GET ", 4, 0), 4);
  std::thread late([&] {
    Sleep(200);
    ::send(sv[1], "/ HTTP/1.0\r\n", 12, 0);
  });
  EXPECT_EQ(read_line(&ep, out), 16);
  late.join();
  ASSERT_EQ(::send(sv[1], "Host", 4, 0), 4);
  EXPECT_EQ(read_line(&ep, out), 0);
  ASSERT_EQ(::send(sv[1], ": x\r\n", 5, 0), 5);
  EXPECT_EQ(read_line(&ep, out), 9);
  EXPECT_STREQ(out, "Host: x\r\n");
  close(sv[0]);
  close(sv[1]);
}

}  // namespace
