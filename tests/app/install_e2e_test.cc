// "tav -install" end to end: the real executable discovers simulated units
// on both subnets of the test network and writes ipunit.dat.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/catalogue.h"
#include "tests/app/tav_process.h"
#include "tests/support/netns.h"
#include "tests/support/temp_hive.h"
#include "tests/support/test_network.h"

namespace {

using tav_test::TavRun;
using tav_test::TempDir;
using tav_test::TempHive;
using tav_test::TwoSubnetNetwork;

std::string unit_arg(const std::string& name, const std::string& address,
                     int serial, const std::string& description) {
  char hw[32];
  std::snprintf(hw, sizeof hw, "00-40-AF-00-%02X-%02X", (serial >> 8) & 0xFF,
                serial & 0xFF);
  return "name=" + name + ",ip=" + address + ",hw=" + hw + ",description=\"" +
         description + "\"";
}

std::string hive_text(const std::string& data_dir, bool ip_search) {
  std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\r\n"
      "\"Data File Directory\"=\"" +
      data_dir + "\"\r\n\"Enable IPX Search\"=\"No\"\r\n";
  if (!ip_search) text += "\"Enable IP Search\"=\"No\"\r\n";
  return text;
}

TEST(InstallE2e, WritesTheSimulatedUnitsOfBothSubnetsInNameOrder) {
  TAV_REQUIRE_TEST_HOSTS();
  ASSERT_TRUE(catalogue_load(tav_test::build_path("resc.cat")));
  TwoSubnetNetwork network;
  ASSERT_TRUE(network.ok()) << network.problem();
  const std::string a = TwoSubnetNetwork::kSubnetA;
  const std::string b = TwoSubnetNetwork::kSubnetB;
  ASSERT_TRUE(network.add_addresses(network.units_a, "eth0", a, 100, 2));
  ASSERT_TRUE(network.add_addresses(network.units_b, "eth0", b, 100, 1));
  ASSERT_TRUE(network.start_sim(
      network.units_a,
      {"--unit", unit_arg("Lobby", a + ".100", 1, "LaserJet 4000"), "--unit",
       unit_arg("Annex", a + ".101", 2, "Colour, A3")}));
  ASSERT_TRUE(network.start_sim(
      network.units_b,
      {"--unit", unit_arg("Cellar", b + ".100", 3, "Plotter")}));
  ASSERT_TRUE(network.start_sim(
      network.rip,
      {"--router", "ip=" + std::string(TwoSubnetNetwork::kRipAddress) +
                       ",version=1,routes=" + b + ".0/1"}))
      << network.problem();

  TempDir data;
  const std::string list = data.file("ipunit.dat");
  {
    TempHive hive(hive_text(data.path(), true));
    TavRun r = tav_test::run_program(tav_test::build_path("tav"), {"-install"},
                                     {{"TAV_REGISTRY", hive.path()}});
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(data.read("ipunit.dat"),
              "Annex ,10.77.1.101 ,Colour, A3 \r\n"
              "Cellar ,10.77.2.100 ,Plotter \r\n"
              "Lobby ,10.77.1.100 ,LaserJet 4000 \r\n");
  }
  std::filesystem::remove(list);

  // IP search switched off: message 110, although the units still answer.
  TempHive hive(hive_text(data.path(), false));
  TavRun r = tav_test::run_program(tav_test::build_path("tav"), {"-install"},
                                   {{"TAV_REGISTRY", hive.path()}});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "tav: " + catalogue_text(110) + "\n");
  EXPECT_FALSE(std::filesystem::exists(list));
  EXPECT_TRUE(std::filesystem::is_empty(data.path()));
}

}  // namespace
