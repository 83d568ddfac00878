// The stack thread sleeps while nothing is to be done: a connection whose
// peer has ended it, but which the program has not closed yet, must not
// keep it awake (the stack end's hang-up is reported on every poll).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

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

TEST(IpxStack, AnEndedConnectionLeftOpenCostsNoProcessorTime) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  ipx_test::Lan lan;
  ASSERT_TRUE(lan.up());
  auto a = lan.stack(0, ipx::kAllFrameTypes);
  auto b = lan.stack(1, ipx::kAllFrameTypes);
  ASSERT_TRUE(a && b);
  ipx::Address where;
  int listener = ipx_test::listening_socket(*b, &where);
  ASSERT_GE(listener, 0);
  int c = a->socket(ipx::SocketKind::kStream);
  ASSERT_EQ(a->connect(c, where), 0);
  int accepted = b->accept(listener);
  ASSERT_GE(accepted, 0);
  ASSERT_EQ(b->close(accepted), 0);
  ASSERT_EQ(net::wait_readable(c, 3000), 1);
  char byte;
  ASSERT_EQ(::read(c, &byte, 1), 0);  // the peer's end arrived
  Sleep(200);                         // the close handshake is over
  int64_t before = cpu_ms();
  Sleep(1000);
  // A spinning stack thread would take most of the second.
  EXPECT_LT(cpu_ms() - before, 300);
  EXPECT_EQ(a->close(c), 0);
}

}  // namespace
