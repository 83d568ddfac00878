// The listening half of discovery's exchanges over the loopback: each way
// a listen ends, and above all that a sender that never falls silent
// cannot hold it past its deadline.
#include "discovery/exchange/datagram_exchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/threads.h"
#include "tests/support/netns.h"

namespace {

TEST(ListenForDatagramsTest, EndsQuietStoppedOrByItsDeadline) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  struct Case {
    const char* what;
    int send_every_ms;  // 0: nothing is sent
    int stop_after;     // the handler stops at this datagram (0: never)
    bool drain;
    ListenEnd end;
    int min_ms, max_ms;
  } cases[] = {
      {"nothing arrives", 0, 0, false, ListenEnd::kQuiet, 250, 1000},
      {"the handler stops", 50, 3, false, ListenEnd::kStopped, 0, 1000},
      // Junk every 100 ms, well within the quiet wait, for 8 s.
      {"a sender never falls silent", 100, 0, false, ListenEnd::kDeadline, 1500,
       2500},
      {"nor while draining", 100, 0, true, ListenEnd::kDeadline, 1500, 2500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const net::SockAddrIn here =
        net::make_addr_in(net::inet_addr("127.0.0.1"), 0);
    net::OwnedSocket rx(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0)),
        tx(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0));
    ASSERT_EQ(net::bind(rx.get(), here), 0);
    net::SockAddrIn to{};
    ASSERT_EQ(net::getsockname(rx.get(), &to), 0);
    if (c.drain) net::ioctlsocket_fionbio(rx.get(), 1);
    std::atomic<bool> done{false};
    std::thread sender([&] {
      for (int i = 0;
           c.send_every_ms > 0 && i < 8000 / c.send_every_ms && !done.load();
           ++i) {
        net::sendto(tx.get(), "junk", 4, to);
        Sleep(static_cast<uint32_t>(c.send_every_ms));
      }
    });
    int taken = 0;
    const int64_t start = milliseconds_now();
    ListenEnd end = listen_for_datagrams(
        rx.get(), {500, start + 1500, 64, c.drain},
        DatagramHandler<net::SockAddrIn>(
            [&](const uint8_t* data, int length, const net::SockAddrIn&) {
              EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(data),
                                         static_cast<size_t>(length)),
                        "junk");
              return ++taken != c.stop_after;
            }));
    const int64_t took = milliseconds_now() - start;
    done.store(true);
    sender.join();
    EXPECT_EQ(end, c.end);
    EXPECT_GE(took, c.min_ms);
    EXPECT_LE(took, c.max_ms);
    EXPECT_EQ(taken, c.stop_after ? c.stop_after : taken);
  }
}

}  // namespace
