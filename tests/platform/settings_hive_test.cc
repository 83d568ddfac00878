#include "platform/settings_hive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/scratch.h"

namespace {

using tav_test::read_text;
using tav_test::ScopedEnv;
using tav_test::ScratchHive;
using tav_test::write_text;

// Sets one value at a backslash path below HKEY_LOCAL_MACHINE.
long set(const char* path, const char* name, const std::string& data) {
  HKEY key;
  long rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, KEY_ALL_CREATE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(key, name, REG_SZ, data.c_str(),
                      static_cast<uint32_t>(data.size() + 1));
  RegCloseKey(key);
  return rc;
}

// Reads one value; the error number, and the text in *out.
long get(const char* path, const char* name, std::string* out,
         uint32_t capacity = 200, uint32_t* size_out = nullptr) {
  HKEY key;
  long rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<char> buf(capacity + 1, 'X');
  uint32_t type = 0, size = capacity;
  rc = RegQueryValueExA(key, name, &type, buf.data(), &size);
  RegCloseKey(key);
  if (size_out) *size_out = size;
  if (rc == ERROR_SUCCESS) {
    EXPECT_EQ(type, REG_SZ);
    *out = buf.data();
  }
  return rc;
}

constexpr const char* kKey = "SOFTWARE\\ZID-AVU\\TAV\\4.00";

TEST(SettingsHive, WritesReadableRegeditFileAndReadsItBack) {
  ScratchHive hive;
  ASSERT_EQ(set(kKey, "Enable IP Search", "Yes"), ERROR_SUCCESS);
  ASSERT_EQ(set(kKey, "Data File Directory", "C:\\tav \"data\""),
            ERROR_SUCCESS);
  ASSERT_EQ(set("SOFTWARE\\Classes\\.htm", nullptr, "htmlfile"), ERROR_SUCCESS);
  EXPECT_EQ(read_text(hive.path()),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\n"
            "\"Enable IP Search\"=\"Yes\"\n"
            "\"Data File Directory\"=\"C:\\\\tav \\\"data\\\"\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\n"
            "@=\"htmlfile\"\n");
  std::string v;
  EXPECT_EQ(get(kKey, "Data File Directory", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "C:\\tav \"data\"");
  EXPECT_EQ(get("SOFTWARE\\Classes\\.htm", "", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "htmlfile");
}

TEST(SettingsHive, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ScratchHive hive;
  ASSERT_EQ(set(kKey, "Enable IP Search", "Yes"), ERROR_SUCCESS);
  ASSERT_EQ(set("software\\zid-avu\\tav\\4.00", "ENABLE ip SEARCH", "No"),
            ERROR_SUCCESS);
  std::string text = read_text(hive.path());
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV\\4.00]\n"
                      "\"Enable IP Search\"=\"No\"\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("software"), std::string::npos);
  std::string v;
  EXPECT_EQ(get("Software\\Zid-Avu\\Tav\\4.00", "enable ip search", &v),
            ERROR_SUCCESS);
  EXPECT_EQ(v, "No");
}

TEST(SettingsHive, SizesCountTheNulAndTooSmallBuffersFailWithMoreData) {
  ScratchHive hive;
  ASSERT_EQ(set(kKey, "Discovery Max Hops", "12"), ERROR_SUCCESS);
  std::string v;
  uint32_t size = 0;
  EXPECT_EQ(get(kKey, "Discovery Max Hops", &v, 3, &size), ERROR_SUCCESS);
  EXPECT_EQ(v, "12");
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(get(kKey, "Discovery Max Hops", &v, 2, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 3u);

  // A size without the NUL stores the bytes given, nothing beyond.
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_CREATE, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "Part", REG_SZ, "abcdef", 3), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(get(kKey, "Part", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "abc");
}

TEST(SettingsHive, UnwritableHiveFailsWithAccessDenied) {
  tav_test::ScratchDir dir;
  write_text(dir.file("plain"), "not a folder");
  ScopedEnv env("TAV_REGISTRY", dir.file("plain/registry.reg").c_str());
  EXPECT_EQ(set(kKey, "Enable IP Search", "Yes"), ERROR_ACCESS_DENIED);
}

TEST(SettingsHive, DamagedHiveIsReadAroundAndKeptAsBadCopyOnWrite) {
  ScratchHive hive;
  ::mkdir(hive.dir().file("cfg").c_str(), 0700);
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
  write_text(hive.path(), damaged);

  std::string v;
  EXPECT_EQ(get(kKey, "Enable IP Search", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "No");
  EXPECT_EQ(get(kKey, "Discovery Max Hops", &v), ERROR_FILE_NOT_FOUND);
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

// Each writer stores its own values; none may be lost to another's
// read-modify-write.
void write_many(const std::string& who, int count) {
  for (int i = 0; i < count; ++i)
    set(kKey, (who + "-" + std::to_string(i)).c_str(), who);
}

TEST(SettingsHive, ConcurrentWritersInSeveralProcessesLoseNothing) {
  ScratchHive hive;
  constexpr int kProcesses = 4, kValues = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      write_many("proc" + std::to_string(p), kValues);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  std::thread a(write_many, "threadA", kValues);
  std::thread b(write_many, "threadB", kValues);
  a.join();
  b.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> writers = {"threadA", "threadB"};
  for (int p = 0; p < kProcesses; ++p)
    writers.push_back("proc" + std::to_string(p));
  for (const auto& w : writers) {
    for (int i = 0; i < kValues; ++i) {
      std::string v;
      EXPECT_EQ(get(kKey, (w + "-" + std::to_string(i)).c_str(), &v),
                ERROR_SUCCESS)
          << w << " " << i;
      EXPECT_EQ(v, w);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(hive.path() + ".bad"));
}

constexpr const char* kHtm = "SOFTWARE\\Classes\\.htm";
constexpr const char* kCommand =
    "SOFTWARE\\Classes\\htmlfile\\Shell\\Open\\command";

class SystemKeys : public ::testing::Test {
 protected:
  // No desktop default unless a test provides one.
  ScratchHive hive_;
  ScopedEnv path_{"PATH", hive_.dir().path().c_str()};
  ScopedEnv data_home_{"XDG_DATA_HOME", hive_.dir().file("share").c_str()};
  ScopedEnv data_dirs_{"XDG_DATA_DIRS", hive_.dir().file("none").c_str()};
};

TEST_F(SystemKeys, BrowserVariableGivesTheOpenCommand) {
  std::string v;
  {
    ScopedEnv browser("BROWSER", "firefox:chromium");
    EXPECT_EQ(get(kHtm, "", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, "htmlfile");
    EXPECT_EQ(get(kCommand, nullptr, &v), ERROR_SUCCESS);
    EXPECT_EQ(v, "firefox \"%1\"");
  }
  {
    ScopedEnv browser("BROWSER", "lynx -force %s --x=%s");
    EXPECT_EQ(get(kCommand, nullptr, &v), ERROR_SUCCESS);
    EXPECT_EQ(v, "lynx -force \"%1\" --x=\"%1\"");
  }
  EXPECT_EQ(get(kHtm, "", &v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(get(kCommand, "", &v), ERROR_FILE_NOT_FOUND);
}

TEST_F(SystemKeys, DesktopDefaultGivesTheOpenCommand) {
  std::filesystem::create_directories(hive_.dir().file("share/applications"));
  write_text(hive_.dir().file("xdg-mime"),
             "#!/bin/sh\n[ \"$*\" = \"query default text/html\" ] && "
             "echo web.desktop\n");
  ::chmod(hive_.dir().file("xdg-mime").c_str(), 0755);
  write_text(hive_.dir().file("share/applications/web.desktop"),
             "[Desktop Action new]\nExec=wrong %u\n"
             "[Desktop Entry]\nName=Web\nExec=/opt/web/bin/web --new %U %i "
             "%%x\n");
  std::string v;
  EXPECT_EQ(get(kHtm, "", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "htmlfile");
  EXPECT_EQ(get(kCommand, "", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "/opt/web/bin/web --new \"%1\"  %x");

  // The browser variable comes first.
  ScopedEnv browser("BROWSER", "firefox");
  EXPECT_EQ(get(kCommand, "", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "firefox \"%1\"");
}

TEST_F(SystemKeys, HiveEntriesWinOverTheDesktop) {
  ScopedEnv browser("BROWSER", "firefox");
  ASSERT_EQ(set(kCommand, nullptr, "pinned \"%1\""), ERROR_SUCCESS);
  std::string v;
  EXPECT_EQ(get(kCommand, "", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "pinned \"%1\"");
  ASSERT_EQ(set(kHtm, nullptr, "myclass"), ERROR_SUCCESS);
  EXPECT_EQ(get(kHtm, "", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, "myclass");
}

}  // namespace
