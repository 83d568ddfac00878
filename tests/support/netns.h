// Every test binary enters a network namespace of its own (in a user
// namespace unless root) with only the loopback, so nothing sent leaves the
// machine; as root a test may add namespaces and veth pairs inside it.
#ifndef TAV_TESTS_SUPPORT_NETNS_H_
#define TAV_TESTS_SUPPORT_NETNS_H_

#include <string>

#include "platform/net.h"

namespace tav_test {

// Enters the private namespace. Must run before any thread is started.
void enter_private_network();
bool in_private_network();
const std::string& private_network_problem();  // empty when there is one
bool can_make_test_hosts();
// With TAV_TEST_IPX=ethernet: TAV_IPX=ethernet on a veth pair made here, the
// host's own address on one end, the simulated units on the other (else
// units_ipx_interface() is empty); false, said on stderr, where none can be.
bool use_ipx_frames_if_asked();
const std::string& units_ipx_interface();

}  // namespace tav_test

// Skips the current test unless it runs in a private network namespace (or,
// for test hosts, as root).
#define TAV_REQUIRE_PRIVATE_NETWORK()                              \
  if (::tav_test::in_private_network()) {                          \
  } else                                                           \
    GTEST_SKIP() << "no private network namespace could be made (" \
                 << ::tav_test::private_network_problem()          \
                 << "); this test only sends inside one"

#define TAV_REQUIRE_TEST_HOSTS()                                      \
  TAV_REQUIRE_PRIVATE_NETWORK();                                      \
  if (::tav_test::can_make_test_hosts()) {                            \
  } else                                                              \
    GTEST_SKIP() << "a network of several test hosts needs root (ip " \
                    "netns); run the tests as root to include this"

// As above, and fails unless IPX runs in frames exactly when asked so.
#define TAV_REQUIRE_IPX_NETWORK()                       \
  TAV_REQUIRE_PRIVATE_NETWORK();                        \
  ASSERT_EQ(net::ipx_mode() == net::IpxMode::kEthernet, \
            !::tav_test::units_ipx_interface().empty())

#endif  // TAV_TESTS_SUPPORT_NETNS_H_
