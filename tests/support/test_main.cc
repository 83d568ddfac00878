// The main of every test binary: enters a private network namespace first,
// while the process has a single thread.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/netns.h"

int main(int argc, char** argv) {
  tav_test::enter_private_network();
  if (!tav_test::in_private_network())
    std::fprintf(stderr,
                 "note: no private network namespace (%s); tests "
                 "that send traffic will skip\n",
                 tav_test::private_network_problem().c_str());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
