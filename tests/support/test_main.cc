// The main of every test binary: enters a private network namespace while
// single-threaded, and works in a scratch folder removed at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/netns.h"

int main(int argc, char** argv) {
  tav_test::enter_private_network();  // where none is made, tests say why
  if (!tav_test::use_ipx_frames_if_asked()) return 77;  // skipped
  char cwd[] = "/tmp/tav-cwd-XXXXXX";
  if (::mkdtemp(cwd) == nullptr || ::chdir(cwd) != 0) return 1;
  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(cwd, ec);
  return rc;
}
