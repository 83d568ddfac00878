// Install mode: the list file's bytes, where it goes, and which settings
// decide whether and how far IP discovery runs. A fake IP discovery
// publishes a given list, as the real one does.
#include "app/install_mode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/catalogue.h"
#include "platform/settings_store.h"
#include "tests/app/tav_process.h"

namespace {

using tav_test::TempDir;

UnitRecord unit(const char* name, const char* dotted, const char* description) {
  UnitRecord u{};
  std::snprintf(u.name, sizeof u.name, "%s", name);
  u.address = net::make_addr_in(net::inet_addr(dotted), 10001);
  std::snprintf(u.description, sizeof u.description, "%s", description);
  return u;
}

std::string message(int id) { return "tav: " + catalogue_text(id) + "\n"; }

class UnitListFileTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    catalogue_load(tav_test::build_dir() + "/resc.cat");
  }
  TempDir dir_;
};

TEST_F(UnitListFileTest, OneLinePerNamedUnitInListOrder) {
  std::vector<UnitRecord> units = {
      unit("VEM_000001", "10.0.0.1", "Print Server"),
      unit("", "10.0.0.2", "unnamed, skipped"),
      unit("lab-printer", "192.168.100.200", "MIO Based Printer"),
      unit("no-description", "172.16.0.9", ""),
      unit(std::string(40, 'N').c_str(), "10.0.0.3", "long name")};
  ASSERT_EQ(write_unit_list(dir_.file("ipunit.dat"), units.data(),
                            static_cast<int>(units.size())),
            0);
  EXPECT_EQ(dir_.read("ipunit.dat"),
            "VEM_000001 ,10.0.0.1 ,Print Server \r\n"
            "lab-printer ,192.168.100.200 ,MIO Based Printer \r\n"
            "no-description ,172.16.0.9 , \r\n" +
                std::string(40, 'N') + " ,10.0.0.3 ,long name \r\n");
}

TEST_F(UnitListFileTest, OldListIsReplacedWhole) {
  dir_.write("ipunit.dat", std::string(5000, 'x'));
  UnitRecord u = unit("a", "10.0.0.1", "b");
  ASSERT_EQ(write_unit_list(dir_.file("ipunit.dat"), &u, 1), 0);
  EXPECT_EQ(dir_.read("ipunit.dat"), "a ,10.0.0.1 ,b \r\n");
}

TEST_F(UnitListFileTest, FileThatCannotBeOpenedShowsMessage123) {
  UnitRecord u = unit("a", "10.0.0.1", "b");
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_unit_list(dir_.file("missing/ipunit.dat"), &u, 1), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), message(123));
}

TEST_F(UnitListFileTest, WriteFailureIsNotReportedAsSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  UnitRecord u = unit("a", "10.0.0.1", "b");
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_unit_list("/dev/full", &u, 1), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), message(123));
}

TEST(DataFilePathTest, JoinsWithOneSlash) {
  EXPECT_EQ(data_file_path("/srv/tav", "ipunit.dat"), "/srv/tav/ipunit.dat");
  EXPECT_EQ(data_file_path("/srv/tav/", "ipunit.dat"), "/srv/tav/ipunit.dat");
  EXPECT_EQ(data_file_path("/", "ipunit.dat"), "/ipunit.dat");
  EXPECT_EQ(data_file_path("", "ipunit.dat"), "ipunit.dat");
  // A backslash is part of a name on this platform, not a separator.
  EXPECT_EQ(data_file_path("dir\\", "ipunit.dat"), "dir\\/ipunit.dat");
}

// The fake discovery: records the hop limit, publishes `g_found`, and then
// scribbles over the working list, which install mode must not read.
std::vector<UnitRecord> g_found;
std::vector<uint32_t> g_hop_limits;

int fake_ip_discovery(uint32_t hop_limit) {
  g_hop_limits.push_back(hop_limit);
  publish_ip_units(g_found.data(), static_cast<int>(g_found.size()));
  std::strcpy(ip_unit_list[0].name, "working-list");
  return static_cast<int>(g_found.size());
}

class InstallModeTest : public UnitListFileTest {
 protected:
  void SetUp() override {
    setenv("TAV_REGISTRY", dir_.file("registry.reg").c_str(), 1);
    std::filesystem::create_directory(dir_.file("data"));
    g_found = {unit("VEM_000001", "10.0.0.1", "Print Server"),
               unit("VEM_000002", "10.0.0.2", "MIO Based Printer")};
    g_hop_limits.clear();
  }
  void TearDown() override { unsetenv("TAV_REGISTRY"); }

  // A settings file with these values under the program's key.
  void Settings(const std::vector<std::pair<std::string, std::string>>& v) {
    std::string text =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]"
        "\r\n";
    for (const auto& [name, value] : v) {
      text += "\"" + name + "\"=\"" + value + "\"\r\n";
    }
    dir_.write("registry.reg", text);
  }

  int Run() {
    testing::internal::CaptureStderr();
    int rc = run_install_mode_with(fake_ip_discovery);
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }

  std::string DataDir() const { return dir_.file("data"); }
  bool ListWritten() const {
    return std::filesystem::exists(DataDir() + "/ipunit.dat");
  }

  std::string err_;
};

TEST_F(InstallModeTest, WritesThePublishedListToTheDataDirectory) {
  Settings({{"Data File Directory", DataDir()}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(dir_.read("data/ipunit.dat"),
            "VEM_000001 ,10.0.0.1 ,Print Server \r\n"
            "VEM_000002 ,10.0.0.2 ,MIO Based Printer \r\n");
  EXPECT_EQ(g_hop_limits, std::vector<uint32_t>{2}) << "default hop count";
}

TEST_F(InstallModeTest, IpSearchDisabledShowsMessage110AndWritesNothing) {
  for (const char* no : {"No", "no", "NO"}) {
    Settings({{"Enable IP Search", no}, {"Data File Directory", DataDir()}});
    EXPECT_EQ(Run(), -1) << no;
    EXPECT_EQ(err_, message(110)) << no;
    EXPECT_FALSE(ListWritten()) << no;
  }
  EXPECT_TRUE(g_hop_limits.empty()) << "discovery ran although disabled";
}

TEST_F(InstallModeTest, NoUnitFoundShowsMessage110AndWritesNothing) {
  Settings({{"Data File Directory", DataDir()}});
  g_found.clear();
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(err_, message(110));
  EXPECT_FALSE(ListWritten());
}

TEST_F(InstallModeTest, StoredHopCountIsUsedWithoutRangeCheck) {
  Settings({{"Enable IP Search", "Yes"},
            {"Discovery Max Hops", "20"},
            {"Data File Directory", DataDir() + "/"}});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(g_hop_limits, std::vector<uint32_t>{20});
  EXPECT_TRUE(ListWritten()) << "directory ending with a separator";
}

TEST_F(InstallModeTest, FirstRunStoresTheCurrentDirectory) {
  Settings({});
  std::filesystem::path old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(DataDir());
  EXPECT_EQ(Run(), 0);
  std::filesystem::current_path(old_cwd);
  EXPECT_TRUE(ListWritten());
  char stored[200];
  ASSERT_EQ(qel_get_registry_string(kTavKeyPath, "Data File Directory", stored,
                                    sizeof stored),
            0);
  EXPECT_EQ(std::filesystem::path(stored),
            std::filesystem::canonical(DataDir()));
}

TEST_F(InstallModeTest, MissingDataDirectoryShowsMessage123) {
  Settings({{"Data File Directory", DataDir() + "/gone"}});
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(err_, message(123));
}

}  // namespace
