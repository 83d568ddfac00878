#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/platform/scratch.h"

namespace {

using tav_test::ScratchHive;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Stores a text with its NUL counted, as every caller does.
int store(const char* name, const char* text) {
  return create_key(kTavKeyPath, name, text,
                    static_cast<int>(std::strlen(text) + 1));
}

TEST(SettingsStore, FirstRunReadsFailWithTheirReportsAndEmptyDestination) {
  ScratchHive hive;
  char dest[100];
  std::strcpy(dest, "stale");
  CaptureStdout();
  EXPECT_EQ(qel_get_registry_string(kTavKeyPath, "Discovery Max Hops", dest,
                                    sizeof dest),
            -1);
  EXPECT_EQ(GetCapturedStdout(),
            "Error opening key ZID-AVU.  RegOpenKeyEx() returned error code "
            "2.\nopen_key() failed.\n");
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(open_key(kTavKeyPath), -1);
}

TEST(SettingsStore, ReadsWhatWasWrittenAndReportsIt) {
  ScratchHive hive;
  CaptureStdout();
  EXPECT_EQ(store("Discovery Max Hops", "7"), 0);
  EXPECT_EQ(GetCapturedStdout(), "");  // a successful write is silent

  char dest[200];
  CaptureStdout();
  EXPECT_EQ(qel_get_registry_string(kTavKeyPath, "discovery max hops", dest,
                                    sizeof dest),
            0);
  EXPECT_EQ(GetCapturedStdout(), "qel_get_registry_string() returning 7.\n");
  EXPECT_STREQ(dest, "7");

  // The size passed counts the NUL; the value read back is the text alone.
  HKEY key = open_key(kTavKeyPath);
  ASSERT_NE(key, -1);
  uint32_t type = 0, size = sizeof dest;
  EXPECT_EQ(RegQueryValueExA(key, "Discovery Max Hops", &type, dest, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(SettingsStore, MissingValueAndTooSmallCapacityFailWithEmptyDestination) {
  ScratchHive hive;
  ASSERT_EQ(store("Data File Directory", "/home/user/tav"), 0);
  char dest[100];
  std::strcpy(dest, "stale");
  CaptureStdout();
  EXPECT_EQ(qel_get_registry_string(kTavKeyPath, "Enable IPX Search", dest,
                                    sizeof dest),
            -1);
  EXPECT_EQ(GetCapturedStdout(), "RegQueryValueEx returned error code 2.\n");
  EXPECT_STREQ(dest, "");

  std::strcpy(dest, "stale");
  CaptureStdout();
  EXPECT_EQ(
      qel_get_registry_string(kTavKeyPath, "Data File Directory", dest, 14),
      -1);  // 14 bytes + NUL do not fit in 14
  EXPECT_EQ(GetCapturedStdout(), "RegQueryValueEx returned error code 234.\n");
  EXPECT_STREQ(dest, "");

  CaptureStdout();
  EXPECT_EQ(
      qel_get_registry_string(kTavKeyPath, "Data File Directory", dest, 15), 0);
  GetCapturedStdout();
  EXPECT_STREQ(dest, "/home/user/tav");
}

TEST(SettingsStore, FailedWriteReportsEachStep) {
  tav_test::ScratchDir dir;
  tav_test::write_text(dir.file("plain"), "x");
  tav_test::ScopedEnv env("TAV_REGISTRY",
                          dir.file("plain/registry.reg").c_str());
  CaptureStdout();
  EXPECT_EQ(store("Enable IP Search", "Yes"), -1);
  EXPECT_EQ(GetCapturedStdout(),
            "Error opening key ZID-AVU.  RegCreateKeyEx() returned error "
            "code 5.\ncreate_key() failed.\n");
}

TEST(SettingsStore, RefusedValueReportsTheSetError) {
  ScratchHive hive;
  CaptureStdout();
  EXPECT_EQ(store("Data File Directory", "two\nlines"), -1);
  EXPECT_EQ(GetCapturedStdout(), "RegSetValueEx returned error code 87.\n");
}

TEST(SettingsStore, OnlyNoInAnyCaseDisablesASearch) {
  ScratchHive hive;
  CaptureStdout();
  EXPECT_TRUE(search_enabled("Enable IP Search", 100));  // absent
  for (const char* no : {"No", "no", "NO", "nO"}) {
    store("Enable IP Search", no);
    EXPECT_FALSE(search_enabled("Enable IP Search", 100)) << no;
  }
  for (const char* other : {"0", "False", "", "Nope", "No "}) {
    store("Enable IP Search", other);
    EXPECT_TRUE(search_enabled("Enable IP Search", 100)) << other;
  }
  // A "No" that does not fit the capacity cannot be read: enabled.
  store("Enable IP Search", "No");
  EXPECT_TRUE(search_enabled("Enable IP Search", 2));
  GetCapturedStdout();
}

}  // namespace
