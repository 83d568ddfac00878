#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/settings_hive.h"
#include "platform/settings_store.h"
#include "tests/support/scratch.h"

namespace {

using namespace tav_test;

constexpr const char* kKey = "SOFTWARE\\ZID-AVU\\TAV\\4.00";
constexpr const char* kHtm = "SOFTWARE\\Classes\\.htm";
constexpr const char* kCommand =
    "SOFTWARE\\Classes\\htmlfile\\Shell\\Open\\command";

// Sets one value below HKEY_LOCAL_MACHINE; `size` defaults to text + NUL.
long set(const char* path, const char* name, const std::string& data,
         int size = -1) {
  HKEY key;
  long rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, KEY_ALL_CREATE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(key, name, REG_SZ, data.c_str(),
                      static_cast<uint32_t>(size < 0 ? data.size() + 1 : size));
  RegCloseKey(key);
  return rc;
}

// The value's text, or "<error number>".
std::string get(const char* path, const char* name) {
  HKEY key;
  long rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return "<" + std::to_string(rc) + ">";
  char buf[201] = {};
  uint32_t type = 0, got = 200;
  rc = RegQueryValueExA(key, name, &type, buf, &got);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return "<" + std::to_string(rc) + ">";
  return type == REG_SZ ? buf : "<type>";
}

// Sections a user may write by hand, and keys of other roots, come back
// from every rewrite as they were read: such a hive is never set aside.
TEST(SettingsHive, WritesRegeditTextNamesIgnoreCaseAndKeepFirstSpelling) {
  ScratchHive hive(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\\\]\r\n\"a\"=\"1\"\r\n"
      "[hkey_local_machine\\\\-x]\r\n@=\"2\"\r\n"
      "[HKEY_LOCAL_MACHINE\\]\r\n\"root\"=\"3\"\r\n"
      "[\\HKEY_LOCAL_MACHINE]\r\n\"b\"=\"4\"\r\n"
      "[HKEY_LOCAL_MACHINEX\\y]\r\n\"c\"=\"5\"\r\n");
  ASSERT_EQ(set(kKey, "Enable IP Search", "Yes"), ERROR_SUCCESS);
  ASSERT_EQ(set(kKey, "Data File Directory", "C:\\tav \"data\""),
            ERROR_SUCCESS);
  ASSERT_EQ(set(kHtm, nullptr, "htmlfile"), ERROR_SUCCESS);
  ASSERT_EQ(set("software\\zid-avu\\tav\\4.00", "ENABLE ip SEARCH", "No"),
            ERROR_SUCCESS);
  ASSERT_EQ(set(kKey, "Part", "abcdef", 3), ERROR_SUCCESS);  // no NUL
  EXPECT_EQ(read_text(hive.path()),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\\\]\n\"a\"=\"1\"\n\n"
            "[HKEY_LOCAL_MACHINE\\\\-x]\n@=\"2\"\n\n"
            "[HKEY_LOCAL_MACHINE]\n\"root\"=\"3\"\n\n"
            "[\\HKEY_LOCAL_MACHINE]\n\"b\"=\"4\"\n\n"
            "[HKEY_LOCAL_MACHINEX\\y]\n\"c\"=\"5\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\n"
            "\"Enable IP Search\"=\"No\"\n"
            "\"Data File Directory\"=\"C:\\\\tav \\\"data\\\"\"\n"
            "\"Part\"=\"abc\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\n"
            "@=\"htmlfile\"\n");
  EXPECT_FALSE(std::filesystem::exists(hive.path() + ".bad"));
  EXPECT_EQ(get("", "root"), "3");
  EXPECT_EQ(get(kKey, "Data File Directory"), "C:\\tav \"data\"");
  EXPECT_EQ(get("Software\\Zid-Avu\\Tav\\4.00", "enable ip search"), "No");
  EXPECT_EQ(get(kHtm, ""), "htmlfile");
  EXPECT_EQ(get(kKey, "Part"), "abc");
  // The hive answers only what it holds: the desktop's browser is no key of
  // it (see browser_choice_test.cc).
  ScopedEnv browser("BROWSER", "web2");
  EXPECT_EQ(get(kCommand, ""), "<2>");
}

TEST(SettingsHive, DamagedHiveIsReadAroundAndKeptAsBadCopyOnWrite) {
  const std::string damaged =
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\n"
      "\"Enable IP Search\"=\"No\"\n"
      "\"Discovery Max Hops\"=dword:00000003\n"
      "\"Unclosed=\"x\n"
      "; kept comment\n"
      "garbage \x01\x02\xff\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Broken\n"
      "\"Enable IPX Search\"=\"Yes\"\n"
      "[HKEY_CURRENT_USER\\Other]\n"
      "\"Kept\"=\"1\"\n";
  ScratchHive hive(damaged);
  EXPECT_EQ(get(kKey, "Enable IP Search"), "No");
  EXPECT_EQ(get(kKey, "Discovery Max Hops"), "<2>");
  EXPECT_FALSE(std::filesystem::exists(hive.path() + ".bad"));

  ASSERT_EQ(set(kKey, "Discovery Max Hops", "4"), ERROR_SUCCESS);
  EXPECT_EQ(read_text(hive.path() + ".bad"), damaged);
  EXPECT_EQ(read_text(hive.path()),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\n"
            "\"Enable IP Search\"=\"No\"\n"
            "; kept comment\n"
            "\"Discovery Max Hops\"=\"4\"\n\n"
            "[HKEY_CURRENT_USER\\Other]\n"
            "\"Kept\"=\"1\"\n");
}

// Processes each store values of their own; none may be lost to another's
// read-modify-write.
TEST(SettingsHive, ConcurrentWritersInSeveralProcessesLoseNothing) {
  ScratchHive hive;
  auto name = [](int w, int i) {
    return std::to_string(w) + "-" + std::to_string(i);
  };
  std::vector<pid_t> children;
  for (int w = 0; w < 6; ++w) {
    children.push_back(::fork());
    if (children.back() == 0) {
      for (int i = 0; i < 25; ++i) set(kKey, name(w, i).c_str(), "v");
      ::_exit(0);
    }
  }
  for (pid_t pid : children) {
    int status = -1;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
  }
  for (int w = 0; w < 6; ++w)
    for (int i = 0; i < 25; ++i)
      EXPECT_EQ(get(kKey, name(w, i).c_str()), "v") << name(w, i);
  EXPECT_FALSE(std::filesystem::exists(hive.path() + ".bad"));
}

// Stores a text with its NUL counted, as every caller does: "result|report".
std::string store(const char* name, const char* text) {
  int rc = 0;
  std::string out = stdout_of([&] {
    rc = create_key(kTavKeyPath, name, text,
                    static_cast<int>(std::strlen(text) + 1));
  });
  return std::to_string(rc) + "|" + out;
}

// Reads through the store: "result|report|destination".
std::string read(const char* name, int capacity = 100) {
  char dest[100] = "stale";
  int rc = 0;
  std::string out = stdout_of(
      [&] { rc = qel_get_registry_string(kTavKeyPath, name, dest, capacity); });
  return std::to_string(rc) + "|" + out + "|" + dest;
}

TEST(SettingsStore, ReadsAndWritesSucceedSilentlyOrReportEachStep) {
  ScratchHive hive;
  EXPECT_EQ(read("Data File Directory"),
            "-1|Error opening key ZID-AVU.  RegOpenKeyEx() returned error "
            "code 2.\nopen_key() failed.\n|");
  ASSERT_EQ(store("Data File Directory", "/home/user/tav"), "0|");  // silent
  EXPECT_EQ(read("Enable IPX Search"),
            "-1|RegQueryValueEx returned error code 2.\n|");
  EXPECT_EQ(read("Data File Directory", 14),  // stored with its NUL: 15
            "-1|RegQueryValueEx returned error code 234.\n|");
  EXPECT_EQ(read("data file directory", 15),
            "0|qel_get_registry_string() returning /home/user/tav.\n|"
            "/home/user/tav");
  EXPECT_EQ(store("Data File Directory", "two\nlines"),
            "-1|RegSetValueEx returned error code 87.\n");
  // Where no hive can be: a file, not a folder, on the way.
  ScratchDir dir;
  dir.write("plain", "x");
  ScopedEnv env("TAV_REGISTRY", dir.file("plain/registry.reg").c_str());
  EXPECT_EQ(store("Enable IP Search", "Yes"),
            "-1|Error opening key ZID-AVU.  RegCreateKeyEx() returned error "
            "code 5.\ncreate_key() failed.\n");
}

TEST(SettingsStore, OnlyNoInAnyCaseDisablesASearch) {
  ScratchHive hive;
  auto enabled = [](int capacity = 100) {
    bool on = false;
    stdout_of([&] { on = search_enabled("Enable IP Search", capacity); });
    return on;
  };
  EXPECT_TRUE(enabled());  // absent
  for (std::string text :
       {"No", "no", "NO", "nO", "0", "False", "", "Nope", "No "}) {
    store("Enable IP Search", text.c_str());
    EXPECT_EQ(enabled(), text.size() != 2) << text;
    EXPECT_TRUE(enabled(2)) << text;  // a value that cannot be read
  }
}

}  // namespace
