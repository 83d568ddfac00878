// The main of every test binary: enters a private network namespace first,
// while the process has a single thread, and works in a scratch folder so
// that files the program writes to its current folder ("address") are not
// left in the tree. With TAV_TEST_IPX=ethernet, IPX runs in Ethernet frames
// on a veth pair there; such a run is skipped (77) where none can be made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/netns.h"

int main(int argc, char** argv) {
  tav_test::enter_private_network();
  if (!tav_test::in_private_network())
    std::fprintf(stderr,
                 "note: no private network namespace (%s); tests "
                 "that send traffic will skip\n",
                 tav_test::private_network_problem().c_str());
  if (std::string why; !tav_test::use_ipx_frames_if_asked(&why)) {
    std::fprintf(stderr, "skipped: no veth pair for IPX in frames: %s\n",
                 why.c_str());
    return 77;
  }
  char cwd[] = "/tmp/tav-cwd-XXXXXX";
  if (::mkdtemp(cwd) == nullptr || ::chdir(cwd) != 0) return 1;
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(cwd, ec);
  return rc;
}
