// The bindery scan against a fake NetWare client.
#include "discovery/ipx/bindery_scan.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/discovery/helpers.h"
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

std::string units(int count) {
  return tav_test::ipx_units(ipx_unit_list, 0, count);
}

TEST_F(BinderyScanTest, WdxThenHttpMakeOneUnitLoggedByteForByteWhenAsked) {
  bindery.add("U", 0x4000, 1);
  bindery.add("U-HTML", 0x0050, 2);
  int count = 0;
  std::string log = scan_logged(&count);
  EXPECT_EQ(units(count), "U 4000/50@1");
  EXPECT_EQ(ipx_unit_list[0].address.sa_family, 6);
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
            "Unit: U Network Address: 00000000:00007F000001 WDX port 0040, "
            "HTTP port 5000\n");
  EXPECT_EQ(bindery.opened, 1);
  EXPECT_EQ(bindery.closed, 1);
  // With the log off no file is written.
  remove_file(bindery_log_path());
  EXPECT_EQ(ScanBinderyForPS(), 1);
  EXPECT_FALSE(file_exists(bindery_log_path()));
}

TEST_F(BinderyScanTest, MergesClassifiesAndCutsNames) {
  const std::string m42(42, 'M');
  struct Case {
    std::vector<std::pair<std::string, uint16_t>> objects;  // node 1, 2, ...
    std::string found;
    const char* logged;
  } cases[] = {
      {{{"U-HTML", 0x50}, {"U", 0x4000}},
       "U 4000/50@1",
       "Server U updated with WDX address.\n"},
      {{{"H-HTML", 0x50}, {"W", 0x4000}},
       "H 0/50@1",
       "scan_bindery() found 2 units.\n"
       "Dropping unit W because no HTTP port.\nUnit: H Network Address: "},
      {{{"U", 0x4000},
        {"CSX-HTML", 0x51},  // communications server: rejected
        {"U-PRN", 0x52},     // other service: ignored
        {"U-A-HTML", 0x53},  // cut at "-HTML", not at the first '-'
        {"U-HTML", 0x54}},
       "U 4000/54@1, U-A 0/53@4",
       "    Communications Server -- Rejected.\n"
       "ReadAnEntry() returned ccode 0.\n"
       "Read info for server U-PRN.\n    Other server.\n"},
      // Names longer than the 47-character field are cut: the long WDX
      // name has no HTTP object; "-HT" is left of 44 Ms.
      {{{std::string(60, 'L'), 0x50}, {"S-HTML", 0x51}}, "S 0/51@2", ""},
      {{{m42 + "-HTML", 0x50}}, m42 + " 0/50@1", ""},
      {{{std::string(44, 'M') + "-HTML", 0x50}}, "", ""},
  };
  for (const Case& c : cases) {
    bindery.objects.clear();
    for (const auto& [name, socket] : c.objects)
      bindery.add(name, socket, uint8_t(bindery.objects.size() + 1));
    int count = 0;
    std::string log = scan_logged(&count);
    EXPECT_EQ(units(count), c.found) << c.objects[0].first;
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_EQ(log.find("CSX added"), std::string::npos);
  }
}

TEST_F(BinderyScanTest, TheFiveHundredFirstNameOverflows) {
  for (int i = 0; i < 501; ++i)
    bindery.add("U" + std::to_string(i) + "-HTML", 80);
  bindery.add("U0", 0x4000);  // still updates an existing entry
  int count = 0;
  std::string log = scan_logged(&count);
  EXPECT_EQ(count, 500);
  EXPECT_EQ(find_sap_server("U500"), -1);
  EXPECT_EQ(units(1), "U0 4000/50@1");
  EXPECT_NE(log.find("Read info for server U500-HTML.\n    HTTP server.\n"
                     "ReadAnEntry() returned ccode 0.\nsap_servers has "
                     "overflowed.\n"),
            std::string::npos);
}

}  // namespace
