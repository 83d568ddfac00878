// The tav executable end to end: which mode each command line selects, the
// early exits and their messages. Every run happens inside the test's
// private network namespace (the route step and the port check run for
// real there).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/catalogue.h"
#include "platform/net.h"
#include "tests/app/tav_process.h"
#include "tests/support/netns.h"

namespace {

using tav_test::PortHolder;
using tav_test::TavRun;
using tav_test::TempDir;

constexpr int kExitStatusFailure = 255;

// Both searches off: discovery finds nothing at once, in any build state.
constexpr const char* kSearchesOff =
    "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\r\n"
    "\"Enable IP Search\"=\"No\"\r\n\"Enable IPX Search\"=\"No\"\r\n";

class TavBinaryTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    catalogue_load(tav_test::build_dir() + "/resc.cat");
  }

  void SetUp() override { dir_.write("registry.reg", kSearchesOff); }

  TavRun Run(const std::vector<std::string>& args,
             const std::string& program = tav_test::build_dir() + "/tav") {
    return tav_test::run_program(program, args,
                                 {{"TAV_REGISTRY", dir_.file("registry.reg")},
                                  {"TAV_PAGE_DIR", dir_.path()},
                                  {"TAV_IPX", "off"}});
  }

  static std::string Message(int id) {
    return "tav: " + catalogue_text(id) + "\n";
  }

  TempDir dir_;
};

// With ports 34 and 80 taken, normal mode shows message 108 at its port
// check, which tells it apart from the other modes.
TEST_F(TavBinaryTest, CommandLineSelectsTheMode) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  PortHolder gateway(34);
  PortHolder web(80);
  ASSERT_TRUE(gateway.bound() && web.bound());

  for (const char* install : {"-install", "-INSTALL"}) {
    TavRun r = Run({install});
    EXPECT_EQ(r.status, kExitStatusFailure) << install;
    EXPECT_EQ(r.err, Message(110)) << install << ": no port check";
  }
  for (const char* configure : {"-Configure", "-configure"}) {
    TavRun r = Run({configure});
    EXPECT_EQ(r.status, 0) << configure;
    EXPECT_EQ(r.err.find(Message(108)), std::string::npos) << configure;
    EXPECT_EQ(r.err.find(Message(110)), std::string::npos) << configure;
  }
  // The whole tail is compared: more words make it normal mode.
  TavRun r = Run({"-install", "now"});
  EXPECT_EQ(r.status, kExitStatusFailure);
  EXPECT_EQ(r.err, Message(108));
  EXPECT_GE(r.elapsed_ms, 1900) << "port 80 is tried after 2 s";
}

TEST_F(TavBinaryTest, NormalModeWithoutUnitsEndsWithMessage110) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  TavRun r = Run({});
  EXPECT_EQ(r.status, kExitStatusFailure);
  EXPECT_EQ(r.err, Message(110));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("tav-disc.htm")));
}

TEST_F(TavBinaryTest, MissingCatalogueEndsSilently) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  // A copy of the executable in a folder without resc.cat.
  TempDir bare;
  std::filesystem::create_directory(bare.file("bin"));
  std::string copy = bare.file("bin/tav");
  std::filesystem::copy_file(tav_test::build_dir() + "/tav", copy);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"-install"}, {"--help"}}) {
    TavRun r = Run(args, copy);
    EXPECT_EQ(r.status, kExitStatusFailure);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(TavBinaryTest, HelpAndVersionPrintTheirTextAndSucceed) {
  TAV_REQUIRE_PRIVATE_NETWORK();
  if (catalogue_text(201).empty() || catalogue_text(202).empty()) {
    GTEST_SKIP() << "texts 201 (usage) and 202 (version) are not in the "
                    "catalogue";
  }
  TavRun help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.find(catalogue_text(201)), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  TavRun version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("4.00"), std::string::npos) << version.out;
}

}  // namespace
