// The stack thread sleeps while nothing is to be done, whatever state a
// connection was left in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "ipx/wire/spx.h"
#include "platform/threads.h"
#include "tests/platform/ipx_test_lan.h"
#include "tests/support/netns.h"

namespace {

int64_t cpu_ms() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

TEST(IpxStack, ConnectionsLeftInAnyStateCostNoProcessorTime) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  const spx::Timing quick{.watchdog_idle = 1000, .linger = 500};
  const struct {
    const char* what;
    // Leaves a's socket c in its state; may close it.
    std::function<void(ipx_test::Lan&, ipx::Stack& a, ipx::Stack& b, int c,
                       int accepted)>
        leave;
  } rows[] = {
      {"ended by the peer, left open",
       [](ipx_test::Lan&, ipx::Stack&, ipx::Stack& b, int c, int accepted) {
         ASSERT_EQ(b.close(accepted), 0);
         ASSERT_EQ(net::wait_readable(c, 3000), 1);
         char byte;
         ASSERT_EQ(::read(c, &byte, 1), 0);  // the peer's end arrived
         Sleep(200);                         // the close handshake is over
       }},
      {"closed with a full queue behind a shut window",
       [](ipx_test::Lan&, ipx::Stack& a, ipx::Stack&, int c, int) {
         // The peer's program never reads: its pair, then its window fill.
         ::fcntl(c, F_SETFL, O_NONBLOCK);
         std::vector<char> lots(64 * 1024, 'x');
         for (int quiet = 0; quiet < 20;)
           quiet = ::send(c, lots.data(), lots.size(), MSG_NOSIGNAL) > 0
                       ? 0
                       : (Sleep(20), quiet + 1);
         ASSERT_EQ(a.close(c), 0);
         Sleep(200);
       }},
      {"lingering after the peer's close when a late FE comes",
       [](ipx_test::Lan& lan, ipx::Stack&, ipx::Stack& b, int c, int accepted) {
         int t = ipx_test::capture_on(lan.name(1));
         ASSERT_GE(t, 0);
         // a's program reads slowly: when the end comes, data it has not
         // read yet still waits in the connection, which keeps it.
         std::vector<char> page(150 * 1000, 'p');
         ::fcntl(accepted, F_SETFL, O_NONBLOCK);
         size_t sent = 0;
         // b's end of connection, as captured within 3 s.
         std::vector<uint8_t> fe, frame(1600);
         for (int i = 0; i < 300 && fe.empty(); ++i, Sleep(10)) {
           if (sent < page.size()) {
             auto n = ::send(accepted, page.data() + sent, page.size() - sent,
                             MSG_NOSIGNAL);
             sent += n > 0 ? static_cast<size_t>(n) : 0;
             if (sent == page.size()) b.close(accepted);
           }
           [[maybe_unused]] auto n = ::recv(c, page.data(), 2000, MSG_DONTWAIT);
           for (ssize_t m;
                fe.empty() && (m = ::recv(t, frame.data(), 1600, 0)) > 0;) {
             auto f = ipx::decode_frame({frame.data(), static_cast<size_t>(m)});
             ipx::SpxHeader h;
             if (f && f->ipx.packet_type == ipx::kPacketTypeSpx &&
                 ipx::decode_spx_header(f->data, &h) &&
                 h.datastream_type == ipx::kSpxEndOfConnection)
               fe.assign(frame.begin(), frame.begin() + m);
           }
         }
         ASSERT_FALSE(fe.empty());
         Sleep(100);  // a repeat, as after a lost acknowledgement
         ASSERT_EQ(::send(t, fe.data(), fe.size(), 0),
                   static_cast<ssize_t>(fe.size()));
         ::close(t);
         Sleep(1500);  // past the linger and the watchdog it would have set
       }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ipx_test::Lan lan;
    ASSERT_TRUE(lan.up());
    auto a = lan.stack(0, ipx::kAllFrameTypes, {}, quick);
    auto b = lan.stack(1, ipx::kAllFrameTypes);
    ASSERT_TRUE(a && b);
    ipx::Address where;
    int listener = ipx_test::listening_socket(*b, &where);
    ASSERT_GE(listener, 0);
    int c = a->socket(ipx::SocketKind::kStream);
    ASSERT_EQ(a->connect(c, where), 0);
    int accepted = b->accept(listener);
    ASSERT_GE(accepted, 0);
    r.leave(lan, *a, *b, c, accepted);
    int64_t before = cpu_ms();
    Sleep(3000);
    // Under 5% of a core; a spinning stack thread takes it all.
    EXPECT_LT(cpu_ms() - before, 150);
    a->close(c);
  }
}

}  // namespace
