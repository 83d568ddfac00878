// Install mode over a fake IP discovery: the list file's bytes and place.
#include "app/install_mode.h"

#include <cstring>
#include <filesystem>

#include "platform/catalogue.h"
#include "tests/app/tav_process.h"

namespace tav_test {
namespace {

UnitRecord unit(const std::string& name, const char* dotted,
                const char* description) {
  UnitRecord u{};
  std::snprintf(u.name, sizeof u.name, "%s", name.c_str());
  u.address = net::make_addr_in(net::inet_addr(dotted), 10001);
  std::snprintf(u.description, sizeof u.description, "%s", description);
  return u;
}

// Publishes g_found, then spoils the working list (install mode reads none).
std::vector<UnitRecord> g_found;
std::vector<uint32_t> g_hop_limits;

int fake_ip_discovery(uint32_t hop_limit) {
  g_hop_limits.push_back(hop_limit);
  publish_ip_units(g_found.data(), static_cast<int>(g_found.size()));
  std::strcpy(ip_unit_list[0].name, "working-list");
  return static_cast<int>(g_found.size());
}

class InstallModeTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { catalogue_load(build_dir() + "/resc.cat"); }
  void SetUp() override {
    g_found = {unit("VEM_000001", "10.0.0.1", "Print Server"),
               unit("VEM_000002", "10.0.0.2", "MIO Based Printer")};
    g_hop_limits.clear();
    store("Data File Directory", data_.path());
  }
  int Run() {
    int rc = 0;
    err_ = stderr_of([&] { rc = run_install_mode_with(fake_ip_discovery); });
    return rc;
  }
  std::string List() const { return data_.read("ipunit.dat"); }

  ScratchHive hive_;
  ScratchDir data_;
  std::string err_;
};

TEST_F(InstallModeTest, OneLinePerNamedUnitInListOrderReplacingTheOld) {
  data_.write("ipunit.dat", std::string(5000, 'x'));
  g_found = {unit("VEM_000001", "10.0.0.1", "Print Server"),
             unit("", "10.0.0.2", "unnamed, skipped"),
             unit("lab-printer", "192.168.100.200", "MIO Based Printer"),
             unit("no-description", "172.16.0.9", ""),
             unit(std::string(40, 'N'), "10.0.0.3", "long name"),
             // Texts from the network stay one line of three fields.
             unit("two\r\nlines", "10.0.0.4", "tab\there ,x\x7f, y\n")};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(List(),
            "VEM_000001 ,10.0.0.1 ,Print Server \r\n"
            "lab-printer ,192.168.100.200 ,MIO Based Printer \r\n"
            "no-description ,172.16.0.9 , \r\n" +
                std::string(40, 'N') + " ,10.0.0.3 ,long name \r\n" +
                "two  lines ,10.0.0.4 ,tab here ;x ; y  \r\n");
  EXPECT_EQ(g_hop_limits, std::vector<uint32_t>{2}) << "default hop count";
}

TEST_F(InstallModeTest, NoUnitOrIpSearchOffShows110AndWritesNothing) {
  store("Enable IP Search", "nO");
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(err_, shown(110));
  EXPECT_TRUE(g_hop_limits.empty()) << "discovery ran although disabled";
  store("Enable IP Search", "Yes");
  g_found.clear();
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(err_, shown(110));
  EXPECT_FALSE(std::filesystem::exists(data_.file("ipunit.dat")));
}

// Stored values as they stand; a first run stores the current directory.
TEST_F(InstallModeTest, StoredHopCountAndDataDirectoryElseTheCurrentOne) {
  store("Discovery Max Hops", "20");
  store("Data File Directory", data_.path() + "/");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(g_hop_limits, std::vector<uint32_t>{20});
  EXPECT_NE(List(), "") << "directory ending with a separator";
  EXPECT_EQ(data_file_path("", "ipunit.dat"), "ipunit.dat");  // current
  EXPECT_EQ(data_file_path("dir\\", "x"), "dir\\/x");  // a name's backslash
  for (auto f : {hive_.path(), data_.file("ipunit.dat")})
    std::filesystem::remove(f);
  std::filesystem::path old_cwd = std::filesystem::current_path();
  std::filesystem::current_path(data_.path());
  EXPECT_EQ(Run(), 0);
  std::filesystem::current_path(old_cwd);
  EXPECT_NE(List(), "");
  EXPECT_EQ(std::filesystem::path(stored("Data File Directory")),
            std::filesystem::canonical(data_.path()));
}

TEST_F(InstallModeTest, ListFileThatCannotBeWrittenShows123) {
  store("Data File Directory", data_.file("gone"));
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(err_, shown(123));
  if (!std::filesystem::exists("/dev/full")) return;
  UnitRecord u = unit("a", "10.0.0.1", "b");  // a full disk is no success
  EXPECT_EQ(
      stderr_of([&] { EXPECT_EQ(write_unit_list("/dev/full", &u, 1), -1); }),
      shown(123));
}

}  // namespace
}  // namespace tav_test
