// The endpoint's send buffer against in-memory peers; its line reading is
// seen through the machines' tests.
#include "gateway/endpoint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/gateway/fake_transport.h"

namespace {

class EndpointTest : public ::testing::Test {
 protected:
  void TearDown() override { fake::detach(ep_.sock); }
  // A fresh endpoint with a peer that only takes what is sent.
  void use() {
    fake::detach(ep_.sock);
    peer_ = fake::Peer();
    std::memset(&ep_, 0, sizeof ep_);
    ep_.sock = fake::attach(&peer_);
    ep_.first_wait = 1;
    endpoint_mark_active(&ep_);
  }
  fake::Peer peer_;
  SessionEndpoint ep_{};
};

TEST_F(EndpointTest, SendBufferGoesOutWhenFullOrFlushed) {
  use();
  std::string full(512, 'f');
  EXPECT_EQ(put(&ep_, full.data(), 512), 0);
  EXPECT_EQ(peer_.sent, full);
  EXPECT_EQ(put(&ep_, "0123456789", 10), 0);
  EXPECT_EQ(peer_.sent.size(), 512u);
  EXPECT_EQ(flush_buffer(&ep_), 0);
  EXPECT_EQ(peer_.sent, full + "0123456789");
  // A peer that stops reading is given up; the unsent bytes stay counted.
  use();
  peer_.takes = 100;
  std::string data(300, 'd');
  EXPECT_EQ(put(&ep_, data.data(), 300), 0);
  EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_EQ(ep_.send_count, 200);
  EXPECT_GE(peer_.clock_ms - 1000000, kQuietLimitMs);
  // So is one that takes a byte every 3 s, though it never stops.
  use();
  peer_.trickle = 1;
  EXPECT_EQ(put(&ep_, data.data(), 300), 0);
  EXPECT_EQ(flush_buffer(&ep_), 1);
  EXPECT_LT(peer_.sent.size(), 30u);
}

}  // namespace
