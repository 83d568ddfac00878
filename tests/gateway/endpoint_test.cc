// The endpoint operations against an in-memory peer.
#include "gateway/endpoint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/gateway/fake_transport.h"

namespace {

class EndpointTest : public ::testing::Test {
 protected:
  void TearDown() override { fake::detach(ep_.sock); }
  // A fresh endpoint whose peer plays `script`, then closes.
  void use(std::vector<std::string> script) {
    fake::detach(ep_.sock);
    peer_ = fake::Peer();
    peer_.script = std::move(script);
    std::memset(&ep_, 0, sizeof ep_);
    ep_.sock = fake::attach(&peer_);
    ep_.first_wait = 1;
    endpoint_mark_active(&ep_);
  }
  std::string line() {
    int n = read_line(&ep_, out_);
    return n > 0 ? std::string(out_, static_cast<size_t>(n))
                 : "<" + std::to_string(n) + ">";
  }
  fake::Peer peer_;
  SessionEndpoint ep_{};
  char out_[kEndpointBufferSize];
};

TEST_F(EndpointTest, LinesAcrossWaits) {
  // A line in two pieces is one line; a quiet wait in the middle returns 0
  // and the line goes on in the next call. A bare LF joins what follows.
  use({"GET / HT", "TP/1.0\r\n", "Host: a", "", "\r\n\nab\n"});
  EXPECT_EQ(line(), "GET / HTTP/1.0\r\n");
  EXPECT_EQ(line(), "<0>");
  EXPECT_EQ(line(), "Host: a\r\n");
  EXPECT_EQ(line(), "\nab\n");
  EXPECT_EQ(line(), "<-1>");  // closed
  // 600 characters without LF: 511, then the rest with its end; a rest
  // that is the line end alone is a line of its own. An unfinished line is
  // there for the taking when the peer closes.
  use({std::string(600, 'a'), "\n", std::string(510, 'b') + "\r\n\r\nxy"});
  EXPECT_EQ(line(), std::string(511, 'a'));
  EXPECT_EQ(line(), std::string(89, 'a') + "\n");
  EXPECT_EQ(line(), std::string(510, 'b') + "\r");
  EXPECT_EQ(line(), "\n");
  EXPECT_EQ(line(), "\r\n");
  EXPECT_EQ(line(), "<-1>");
  EXPECT_EQ(take_partial_line(&ep_, out_), 2);
  EXPECT_STREQ(out_, "xy");
  EXPECT_EQ(take_partial_line(&ep_, out_), 0);
}

TEST_F(EndpointTest, SendBufferGoesOutWhenFullOrFlushed) {
  use({});
  std::string full(512, 'f');
  EXPECT_EQ(put(&ep_, full.data(), 512), 0);
  EXPECT_EQ(peer_.sent, full);
  EXPECT_EQ(put(&ep_, "0123456789", 10), 0);
  EXPECT_EQ(peer_.sent.size(), 512u);
  EXPECT_EQ(flush_buffer(&ep_), 0);
  EXPECT_EQ(peer_.sent, full + "0123456789");
  // A peer that stops reading is given up; the unsent bytes stay counted.
  use({});
  peer_.takes = 100;
  std::string data(300, 'd');
  EXPECT_EQ(put(&ep_, data.data(), 300), 0);
  EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_EQ(ep_.send_count, 200);
  EXPECT_GE(peer_.clock_ms - 1000000, kQuietLimitMs);
  // So is one that takes a byte every 3 s, though it never stops.
  use({});
  peer_.trickle = 1;
  EXPECT_EQ(put(&ep_, data.data(), 300), 0);
  EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_LT(peer_.sent.size(), 30u);
}

}  // namespace
