// Start-up: run modes, route step, port check and the executable's exits.
#include "app/app.h"

#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/catalogue.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "tests/app/tav_process.h"
#include "tests/support/netns.h"

namespace tav_test {
namespace {

using Args = std::vector<std::string>;

struct RecordingRunner : CommandRunner {
  int run_hidden(const Args& argv) override {
    commands.push_back(argv);
    return 0;
  }
  std::vector<Args> commands;
};

TEST(RouteStepTest, RoutesLinkLocalThroughInterfaceOfOwnAddress) {
  TAV_REQUIRE_TEST_HOSTS();
  ASSERT_EQ(std::system("ip link add tavroute0 type veth peer name tavroute1 "
                        "&& ip addr add 10.77.5.9/24 dev tavroute0 && "
                        "ip link set tavroute1 up && ip link set tavroute0 up"),
            0);
  RecordingRunner runner;
  {
    ScopedEnvironment recording({.command_runner = &runner});
    TavApp app("-Configure");
  }
  EXPECT_EQ(std::system("ip link del tavroute0"), 0);
  EXPECT_EQ(runner.commands,
            (std::vector<Args>{
                {"ip", "route", "add", "169.254.0.0/16", "dev", "tavroute0"}}));
}

class StartUpTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { catalogue_load(build_dir() + "/resc.cat"); }
  void SetUp() override { TAV_REQUIRE_PRIVATE_NETWORK(); }
  ScratchDir dir_;
};

// Leaves port 34 in TIME_WAIT, as a gateway that served a page (and closed).
void serve_one_connection_on_port_34() {
  PortHolder gateway(34);
  ASSERT_TRUE(gateway.bound());
  net::Socket c = net::socket(net::AF_INET_, net::SOCK_STREAM_, 0);
  ASSERT_EQ(net::connect(c, net::make_addr_in(net::inet_addr("127.0.0.1"), 34)),
            0);
  net::closesocket(net::accept(gateway.socket()));
  char byte;
  EXPECT_EQ(net::recv(c, &byte, 1), 0);
  net::closesocket(c);
}

// Port 34 (TIME_WAIT is free), else 80 after 2 s, else 108; none is kept.
TEST_F(StartUpTest, PortCheckFallsBackToPort80ThenGivesUp) {
  for (int taken = -1; taken <= 2; ++taken) {
    if (taken == -1) serve_one_connection_on_port_34();
    std::optional<PortHolder> gateway, web;
    if (taken >= 1) gateway.emplace(34);
    if (taken == 2) web.emplace(80);
    int rc = 0;
    auto start = std::chrono::steady_clock::now();
    std::string err = stderr_of([&] { rc = port_check(); });
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(rc, taken < 2 ? 0 : kExitFailure) << taken;
    EXPECT_EQ(err, taken < 2 ? "" : shown(108)) << taken;
    EXPECT_EQ(waited >= std::chrono::milliseconds(1900), taken > 0) << taken;
    gateway.reset();
    web.reset();
    EXPECT_TRUE(taken < 0 || (PortHolder(34).bound() && PortHolder(80).bound()))
        << taken;
  }
}

// Exits per mode (any case, whole tail), IP search off: 108, 110, 135, none.
TEST_F(StartUpTest, CommandLineSelectsTheModeAndEarlyExits) {
  ScratchDir bare;
  std::filesystem::copy_file(build_dir() + "/tav", bare.file("tav"));
  const struct {
    Args args;
    int status, message;
    std::string out;
    bool ports_taken = true, ipx_off = true, bare = false;
    std::string allow = "";
  } cases[] = {{{"-INSTALL"}, 255, 110, ""},
               {{"-serve"}, 255, 108, ""},
               {{"-Serve"}, 255, 135, "", true, true, false, "10.0.0.0/33"},
               {{"-configure"}, 0, 0, ""},
               {{"-install", "now"}, 255, 108, ""},
               {{"--help"}, 0, 0, catalogue_text(201)},
               {{"--version"}, 0, 0, "4.00"},
               {{}, 255, 110, "", false},
               {{}, 255, 110, "", false, false},
               {{}, 255, -1, "", false, true, true},
               {{"--help"}, 255, -1, "", false, true, true}};
  for (const auto& c : cases) {
    dir_.write("registry.reg",
               std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                           "ZID-AVU\\TAV\\4.00]\r\n\"Enable IP Search\"=\"No\""
                           "\r\n") +
                   (c.ipx_off ? "\"Enable IPX Search\"=\"No\"\r\n" : ""));
    std::optional<PortHolder> gateway, web;
    ASSERT_TRUE(!c.ports_taken ||
                (gateway.emplace(34).bound() && web.emplace(80).bound()));
    std::map<std::string, std::string> env{
        {"TAV_REGISTRY", dir_.file("registry.reg")},
        {"TAV_PAGE_DIR", dir_.path()},
        {"TAV_IPX", "off"},
        {"BROWSER", "false"}};
    if (!c.allow.empty()) env["TAV_ALLOW"] = c.allow;
    TavRun r = run_program(c.bare ? bare.file("tav") : build_dir() + "/tav",
                           c.args, env);
    std::string what = ::testing::PrintToString(c.args) +
                       std::to_string(c.ipx_off + 2 * c.bare);
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << what << ": " << r.out;
    if (!c.ports_taken) {  // exactly the message, or nothing at all
      EXPECT_EQ(c.message < 0 ? r.out + r.err : r.err,
                c.message < 0 ? "" : shown(c.message))
          << what;
    }
    if (!c.allow.empty()) {
      EXPECT_NE(r.err.find(fill_inserts(catalogue_text(135), c.allow)),
                std::string::npos)
          << r.err;
    }
    for (int id : {108, 110})
      EXPECT_EQ(r.err.find(shown(id)) != std::string::npos, id == c.message)
          << what << ": " << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_.file("tav-disc.htm"))) << what;
  }
}

}  // namespace
}  // namespace tav_test
