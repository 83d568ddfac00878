// Private network namespaces for tests.
//
// Every test binary enters a private network namespace of its own before
// any test runs (enter_private_network(), from the shared test main): as
// root a plain new network namespace, otherwise a user namespace with a
// network namespace inside (what `unshare -rn` makes). Only the loopback
// exists there, brought up, with 127.255.255.255 as its broadcast address;
// nothing a test sends can leave the machine. Where no namespace can be
// made the tests that need one skip with a clear message.
//
// can_make_test_hosts() is true when the process was started as real root:
// then a test may add further namespaces (ip netns) and veth pairs, inside
// the private one, to build a network of several hosts.
#ifndef TAV_TESTS_SUPPORT_NETNS_H_
#define TAV_TESTS_SUPPORT_NETNS_H_

#include <string>

namespace tav_test {

// Enters the private namespace. Must run before any thread is started.
void enter_private_network();
bool in_private_network();
// Why there is no private network (empty when there is one).
const std::string& private_network_problem();
bool can_make_test_hosts();

}  // namespace tav_test

// Skips the current test unless it runs in a private network namespace.
#define TAV_REQUIRE_PRIVATE_NETWORK()                                \
  do {                                                               \
    if (!::tav_test::in_private_network())                           \
      GTEST_SKIP() << "no private network namespace could be made (" \
                   << ::tav_test::private_network_problem()          \
                   << "); this test only sends inside one";          \
  } while (0)

#define TAV_REQUIRE_TEST_HOSTS()                                           \
  do {                                                                     \
    TAV_REQUIRE_PRIVATE_NETWORK();                                         \
    if (!::tav_test::can_make_test_hosts())                                \
      GTEST_SKIP() << "a network of several test hosts needs root "        \
                      "(ip netns); run the tests as root to include this"; \
  } while (0)

#endif  // TAV_TESTS_SUPPORT_NETNS_H_
