// The bindery scan against a fake NetWare client.
#include "discovery/ipx/bindery_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/units.h"
#include "platform/files.h"
#include "tests/support/fake_bindery.h"

namespace {

using tav_test::FakeBindery;

class BinderyScanTest : public ::testing::Test {
 protected:
  void SetUp() override { remove_file(bindery_log_path()); }
  void TearDown() override {
    bindery_log_enabled.store(false);
    remove_file(bindery_log_path());
  }

  // Runs the scan with the log on and returns the log.
  std::string scan_logged(int* count) {
    bindery_log_enabled.store(true);
    *count = ScanBinderyForPS();
    bindery_log_enabled.store(false);
    std::string log;
    EXPECT_TRUE(read_whole_file(bindery_log_path(), &log));
    return log;
  }

  FakeBindery bindery;
  tav_test::ScopedNetWareClient installed{&bindery};
};

uint16_t port(const uint16_t& stored) { return net::ntohs_(stored); }

TEST_F(BinderyScanTest, WdxThenHttpMakeOneUnitLoggedByteForByte) {
  bindery.add("U", 0x4000, 1);
  bindery.add("U-HTML", 0x0050, 2);
  int count = 0;
  std::string log = scan_logged(&count);
  ASSERT_EQ(count, 1);
  const IpxUnitRecord& u = ipx_unit_list[0];
  EXPECT_STREQ(u.name, "U");
  EXPECT_EQ(u.address.sa_family, 6);
  EXPECT_EQ(u.address.sa_nodenum[5], 1);  // from the object that came first
  EXPECT_EQ(port(u.wdx_port), 0x4000);
  EXPECT_EQ(port(u.address.sa_socket), 0x0050);
  EXPECT_EQ(log,
            "NWCallsInit() returned 0x00000000\n"
            "OpenConnection() returned 0x00C0FFEE as its handle.\n"
            "Read info for server U.\n"
            "    WARDENIX server.\n"
            "ReadAnEntry() returned ccode 0.\n"
            "Server U added to list.\n"
            "Read info for server U-HTML.\n"
            "    HTTP server.\n"
            "ReadAnEntry() returned ccode 0.\n"
            "Server U updated with HTTP server address.\n"
            "NWScanObject() returned 0x000089FC.\n"
            "ReadAnEntry() returned ccode -1.\n"
            "scan_bindery() found 1 units.\n"
            "Unit: U Network Address: 01020304:00000A000001 WDX port 0040, "
            "HTTP port 5000\n");
  EXPECT_EQ(bindery.opened, 1);
  EXPECT_EQ(bindery.closed, 1);
  ASSERT_FALSE(bindery.scanned_types.empty());
  EXPECT_EQ(bindery.scanned_types[0], 0x1404);
}

TEST_F(BinderyScanTest, HttpThenWdxTakesNodeFromHttpObject) {
  bindery.add("U-HTML", 0x0050, 2);
  bindery.add("U", 0x4000, 1);
  int count = 0;
  std::string log = scan_logged(&count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(ipx_unit_list[0].address.sa_nodenum[5], 2);
  EXPECT_EQ(port(ipx_unit_list[0].wdx_port), 0x4000);
  EXPECT_EQ(port(ipx_unit_list[0].address.sa_socket), 0x0050);
  EXPECT_NE(log.find("Server U added to list.\n"
                     "Read info for server U.\n"
                     "    WARDENIX server.\n"
                     "ReadAnEntry() returned ccode 0.\n"
                     "Server U updated with WDX address.\n"),
            std::string::npos)
      << log;
}

TEST_F(BinderyScanTest, HttpAloneStaysAndWdxAloneIsDropped) {
  bindery.add("H-HTML", 0x0050);
  bindery.add("W", 0x4000);
  int count = 0;
  std::string log = scan_logged(&count);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(ipx_unit_list[0].name, "H");
  EXPECT_EQ(ipx_unit_list[0].wdx_port, 0);
  EXPECT_NE(log.find("scan_bindery() found 2 units.\n"
                     "Dropping unit W because no HTTP port.\n"
                     "Unit: H Network Address: "),
            std::string::npos)
      << log;
}

TEST_F(BinderyScanTest, ClassifiesNamesAndCutsThem) {
  bindery.add("U", 0x4000);
  bindery.add("CSX-HTML", 0x0051);  // communications server: rejected
  bindery.add("U-PRN", 0x0052);     // other service: cut to U, ignored
  bindery.add("U-A-HTML", 0x0053);  // cut at "-HTML", not at the first '-'
  bindery.add("U-HTML", 0x0054);
  int count = 0;
  std::string log = scan_logged(&count);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(ipx_unit_list[0].name, "U");
  EXPECT_EQ(port(ipx_unit_list[0].wdx_port), 0x4000);
  EXPECT_EQ(port(ipx_unit_list[0].address.sa_socket), 0x0054);
  EXPECT_STREQ(ipx_unit_list[1].name, "U-A");
  EXPECT_EQ(port(ipx_unit_list[1].address.sa_socket), 0x0053);
  EXPECT_NE(log.find("Read info for server CSX-HTML.\n"
                     "    Communications Server -- Rejected.\n"
                     "ReadAnEntry() returned ccode 0.\n"
                     "Read info for server U-PRN.\n"
                     "    Other server.\n"
                     "ReadAnEntry() returned ccode 0.\n"
                     "Read info for server U-A-HTML.\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("CSX added"), std::string::npos);
}

TEST_F(BinderyScanTest, TheFiveHundredFirstNameOverflows) {
  for (int i = 0; i < 501; ++i)
    bindery.add("U" + std::to_string(i) + "-HTML", 80);
  bindery.add("U0", 0x4000);  // still updates an existing entry
  int count = 0;
  std::string log = scan_logged(&count);
  EXPECT_EQ(count, 500);
  EXPECT_EQ(find_sap_server("U500"), -1);
  EXPECT_EQ(port(ipx_unit_list[0].wdx_port), 0x4000);
  EXPECT_NE(log.find("Read info for server U500-HTML.\n"
                     "    HTTP server.\n"
                     "ReadAnEntry() returned ccode 0.\n"
                     "sap_servers has overflowed.\n"),
            std::string::npos);
}

TEST_F(BinderyScanTest, NameLongerThanTheFieldIsCutTo47Characters) {
  std::string long_name(60, 'L');
  bindery.add(long_name, 0x0050);  // a WDX-kind name: no '-'
  bindery.add("S-HTML", 0x0051);
  int count = ScanBinderyForPS();
  ASSERT_EQ(count, 1);  // the long one has no HTTP object
  EXPECT_STREQ(ipx_unit_list[0].name, "S");
  bindery.objects.clear();
  bindery.add(std::string(42, 'M') + "-HTML", 0x0050);  // exactly 47
  ASSERT_EQ(ScanBinderyForPS(), 1);
  EXPECT_EQ(std::string(ipx_unit_list[0].name), std::string(42, 'M'));
  bindery.objects.clear();
  bindery.add(std::string(44, 'M') + "-HTML", 0x0050);  // "-HT" is left
  EXPECT_EQ(ScanBinderyForPS(), 0);
  bindery.objects.clear();
  bindery.add(std::string(50, 'N') + "-HTML", 0x0050);
  bindery.add(std::string(50, 'N'), 0x4000);
  // Both names are cut to the same 47 characters: one WDX-kind entry, no
  // HTTP socket, dropped; nothing is read or written beyond a field.
  EXPECT_EQ(ScanBinderyForPS(), 0);
}

TEST_F(BinderyScanTest, ClientFailuresEndTheScanSafely) {
  bindery.add("U-HTML", 80);
  bindery.init_result = 0x88FF;
  int count = 0;
  EXPECT_EQ(scan_logged(&count), "NWCallsInit() returned 0x000088FF\n");
  EXPECT_EQ(count, 0);

  bindery.init_result = 0;
  bindery.open_results = {0x8801, 0x8802};
  EXPECT_EQ(scan_logged(&count),
            "NWCallsInit() returned 0x00000000\n"
            "NWCCOpenConnByRef() returned 0x00008801\n"
            "NWCCOpenConnByRef() returned 0x00008802\n"
            "NWCCScanConnRefs() returned 0x0000880F\n"
            "OpenConnection() returned 0xFFFFFFFF as its handle.\n");
  EXPECT_EQ(count, 0);

  // The second reference opens; the walk ends at an unreadable address
  // and keeps what it found until then.
  bindery.open_results = {0x8801, 0};
  bindery.add("V-HTML", 81);
  bindery.objects[1].address_readable = false;
  bindery.add("W-HTML", 82);
  std::string log = scan_logged(&count);
  EXPECT_EQ(count, 1);
  EXPECT_NE(log.find("NWReadPropertyValue() returned 0x000089FB.\n"
                     "ReadAnEntry() returned ccode -1.\n"),
            std::string::npos);

  bindery.objects[1].address_readable = true;
  bindery.scan_fails_at = 1;
  log = scan_logged(&count);
  EXPECT_EQ(count, 1);
  EXPECT_NE(log.find("NWScanObject() returned 0x000089EE.\n"),
            std::string::npos);
}

TEST_F(BinderyScanTest, LogOffWritesNoFile) {
  bindery.add("U", 0x4000);
  bindery.add("U-HTML", 80);
  EXPECT_EQ(ScanBinderyForPS(), 1);
  EXPECT_FALSE(file_exists(bindery_log_path()));
  nw::set_netware_client(nullptr);  // the platform's client: none on POSIX
  EXPECT_EQ(ScanBinderyForPS(), 0);
  EXPECT_FALSE(file_exists(bindery_log_path()));
}

}  // namespace
