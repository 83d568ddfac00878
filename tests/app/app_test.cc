// Start-up in process: the mode chosen by the command-line tail, the route
// step with a recording command runner, and the port check inside the
// test's private network namespace.
#include "app/app.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/catalogue.h"
#include "platform/net.h"
#include "platform/process.h"
#include "tests/app/tav_process.h"
#include "tests/support/netns.h"

namespace {

using tav_test::PortHolder;

TEST(ChooseRunModeTest, WholeTailComparedWithoutRegardToCase) {
  EXPECT_EQ(choose_run_mode("-install"), RunMode::kInstall);
  EXPECT_EQ(choose_run_mode("-INSTALL"), RunMode::kInstall);
  EXPECT_EQ(choose_run_mode("-Configure"), RunMode::kConfigure);
  EXPECT_EQ(choose_run_mode("-configure"), RunMode::kConfigure);
  EXPECT_EQ(choose_run_mode("-CONFIGURE"), RunMode::kConfigure);
  // Anything else, including a known word followed by more, is normal mode.
  EXPECT_EQ(choose_run_mode(""), RunMode::kNormal);
  EXPECT_EQ(choose_run_mode("-install now"), RunMode::kNormal);
  EXPECT_EQ(choose_run_mode(" -install"), RunMode::kNormal);
  EXPECT_EQ(choose_run_mode("-instal"), RunMode::kNormal);
  EXPECT_EQ(choose_run_mode("-installx"), RunMode::kNormal);
  EXPECT_EQ(choose_run_mode("install"), RunMode::kNormal);
  EXPECT_EQ(choose_run_mode("-Configure -install"), RunMode::kNormal);
  EXPECT_EQ(choose_run_mode("--help"), RunMode::kHelp);
  EXPECT_EQ(choose_run_mode("--version"), RunMode::kVersion);
  EXPECT_EQ(choose_run_mode("--help now"), RunMode::kNormal);
}

class RecordingRunner : public CommandRunner {
 public:
  int run_hidden(const std::vector<std::string>& argv) override {
    commands.push_back(argv);
    return 0;
  }
  std::vector<std::vector<std::string>> commands;
};

// Installs the recorder for one test, so that nothing changes the routing.
class RouteStepTest : public testing::Test {
 protected:
  void SetUp() override { set_command_runner(&runner_); }
  void TearDown() override { set_command_runner(nullptr); }
  RecordingRunner runner_;
};

// Runs a shell command inside the test's private namespace.
bool sh(const std::string& command) {
  return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0;
}

TEST_F(RouteStepTest, RoutesLinkLocalThroughInterfaceOfOwnAddress) {
  TAV_REQUIRE_TEST_HOSTS();
  ASSERT_TRUE(
      sh("ip link add tavroute0 type veth peer name tavroute1 && "
         "ip addr add 10.77.5.9/24 dev tavroute0 && "
         "ip link set tavroute1 up && ip link set tavroute0 up"));
  { TavApp app("-Configure"); }
  sh("ip link del tavroute0");
  ASSERT_EQ(runner_.commands.size(), 1u);
  EXPECT_EQ(runner_.commands[0],
            (std::vector<std::string>{"ip", "route", "add", "169.254.0.0/16",
                                      "dev", "tavroute0"}));
}

TEST_F(RouteStepTest, RunsOnceInEveryMode) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  // Only the loopback exists here: the host's own address falls back to the
  // resolver or 127.0.0.1, which the loopback holds or no interface does.
  for (const char* tail : {"", "-install", "-Configure", "anything"}) {
    runner_.commands.clear();
    TavApp app(tail);
    ASSERT_LE(runner_.commands.size(), 1u) << tail;
    if (!runner_.commands.empty()) {
      EXPECT_EQ(runner_.commands[0].at(3), "169.254.0.0/16");
      EXPECT_EQ(runner_.commands[0].at(5), "lo");
    }
  }
}

class PortCheckTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    catalogue_load(tav_test::build_dir() + "/resc.cat");
  }

  // Runs the port check; returns its result, keeping stderr and the time.
  int check() {
    testing::internal::CaptureStderr();
    auto start = std::chrono::steady_clock::now();
    int rc = port_check();
    elapsed_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }

  static bool port_is_free(uint16_t port) { return PortHolder(port).bound(); }

  long long elapsed_ms_ = 0;
  std::string err_;
};

TEST_F(PortCheckTest, FreePortIsReleasedForTheGateway) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  ASSERT_TRUE(port_is_free(34));
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(err_, "");
  EXPECT_LT(elapsed_ms_, 1500) << "waited although port 34 was free";
  EXPECT_TRUE(port_is_free(34)) << "the port check kept port 34";
}

TEST_F(PortCheckTest, TakenGatewayPortFallsBackToPort80AfterAWait) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  PortHolder other_copy(34);
  ASSERT_TRUE(other_copy.bound());
  EXPECT_EQ(check(), 0);
  EXPECT_EQ(err_, "");
  EXPECT_GE(elapsed_ms_, 1900);
  EXPECT_TRUE(port_is_free(80)) << "the port check kept port 80";
}

TEST_F(PortCheckTest, BothPortsTakenShowsMessage108) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  PortHolder gateway(34);
  PortHolder web(80);
  ASSERT_TRUE(gateway.bound() && web.bound());
  EXPECT_EQ(check(), kExitFailure);
  EXPECT_EQ(err_, "tav: " + catalogue_text(108) + "\n");
  EXPECT_GE(elapsed_ms_, 1900);
}

}  // namespace
