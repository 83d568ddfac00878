#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/platform/scratch.h"

namespace {

using tav_test::ScratchHive;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Stores a text with its NUL counted, as every caller does; what it
// reported on standard output goes to *report.
int store(const char* name, const char* text, std::string* report = nullptr) {
  CaptureStdout();
  int rc = create_key(kTavKeyPath, name, text,
                      static_cast<int>(std::strlen(text) + 1));
  std::string out = GetCapturedStdout();
  if (report != nullptr) *report = out;
  return rc;
}

// Reads through the store: "result|report|destination".
std::string read(const char* name, int capacity = 100) {
  char dest[100] = "stale";
  CaptureStdout();
  int rc = qel_get_registry_string(kTavKeyPath, name, dest, capacity);
  return std::to_string(rc) + "|" + GetCapturedStdout() + "|" + dest;
}

TEST(SettingsStore, ReadsReturnTheValueOrFailWithReportAndEmptyDestination) {
  ScratchHive hive;
  EXPECT_EQ(read("Data File Directory"),
            "-1|Error opening key ZID-AVU.  RegOpenKeyEx() returned error "
            "code 2.\nopen_key() failed.\n|");
  EXPECT_EQ(open_key(kTavKeyPath), -1);
  std::string report;
  ASSERT_EQ(store("Data File Directory", "/home/user/tav", &report), 0);
  EXPECT_EQ(report, "");  // a successful write is silent
  EXPECT_EQ(read("Enable IPX Search"),
            "-1|RegQueryValueEx returned error code 2.\n|");
  EXPECT_EQ(read("Data File Directory", 14),  // 14 bytes + NUL do not fit
            "-1|RegQueryValueEx returned error code 234.\n|");
  EXPECT_EQ(read("data file directory", 15),
            "0|qel_get_registry_string() returning /home/user/tav.\n|"
            "/home/user/tav");
  // The stored size counts the NUL.
  HKEY key = open_key(kTavKeyPath);
  ASSERT_NE(key, -1);
  char dest[100];
  uint32_t type = 0, size = sizeof dest;
  EXPECT_EQ(RegQueryValueExA(key, "Data File Directory", &type, dest, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 15u);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(SettingsStore, FailedWritesReportEachStep) {
  std::string report;
  {
    tav_test::ScratchDir dir;
    tav_test::write_text(dir.file("plain"), "x");  // a file, not a folder
    tav_test::ScopedEnv env("TAV_REGISTRY",
                            dir.file("plain/registry.reg").c_str());
    EXPECT_EQ(store("Enable IP Search", "Yes", &report), -1);
    EXPECT_EQ(report,
              "Error opening key ZID-AVU.  RegCreateKeyEx() returned error "
              "code 5.\ncreate_key() failed.\n");
  }
  ScratchHive hive;
  EXPECT_EQ(store("Data File Directory", "two\nlines", &report), -1);
  EXPECT_EQ(report, "RegSetValueEx returned error code 87.\n");
}

TEST(SettingsStore, OnlyNoInAnyCaseDisablesASearch) {
  ScratchHive hive;
  auto enabled = [](int capacity = 100) {
    CaptureStdout();
    bool on = search_enabled("Enable IP Search", capacity);
    GetCapturedStdout();
    return on;
  };
  EXPECT_TRUE(enabled());  // absent
  for (const char* no : {"No", "no", "NO", "nO"}) {
    store("Enable IP Search", no);
    EXPECT_FALSE(enabled()) << no;
    EXPECT_TRUE(enabled(2)) << no;  // a "No" that cannot be read
  }
  for (const char* other : {"0", "False", "", "Nope", "No "}) {
    store("Enable IP Search", other);
    EXPECT_TRUE(enabled()) << other;
  }
}

}  // namespace
