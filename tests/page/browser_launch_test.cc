// The open command cut into arguments; the watcher's run with a fake browser.
#include "page/browser_launch.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

using ::testing::ElementsAre;
using Args = std::vector<std::string>;

Args built(const std::string& command, const char* page = "/p/tav-disc.htm") {
  LaunchRecord r;
  if (!build_launch_record(command, page, "/p/tavhelp.htm", &r)) return {};
  EXPECT_EQ(r.program, r.arguments.at(0));
  return r.arguments;
}

TEST(BuildLaunchRecord, CommandsBecomeProgramAndArguments) {
  EXPECT_THAT(built("b --open=%1,%1 -x"),
              ElementsAre("b", "--open=/p/tav-disc.htm,/p/tav-disc.htm", "-x"));
  // Other percent sequences stay as they are, with or without "%1".
  EXPECT_THAT(built("b --x=%s%d%%1 %n", "/%s.htm"),
              ElementsAre("b", "--x=%s%d%/%s.htm", "%n"));
  EXPECT_THAT(built("b %s%d"), ElementsAre("b", "%s%d", "/p/tav-disc.htm"));
  EXPECT_THAT(
      built(" b\ta\"c d\" \"\" \"open end"),
      ElementsAre("b", "a\"c", "d\"", "", "open end", "/p/tav-disc.htm"));
  EXPECT_THAT(built(" \t "), ElementsAre());
  // Long arguments and many tokens are kept whole.
  std::string page = "/" + std::string(300, 'p') + ".htm", command = "b";
  for (int i = 1; i < 30; ++i) command += " a" + std::to_string(i);
  for (const char* placeholder : {" --page=%1", ""}) {
    Args args = built(command + placeholder, page.c_str());
    ASSERT_EQ(args.size(), 31u);
    EXPECT_EQ(args[29], "a29");
    EXPECT_EQ(args[30], (*placeholder ? "--page=" : "") + page);
  }
}

// Open command from a test hive; each launch in a child (the watcher exits).
class BrowserLaunchTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    work_ = make_temp_dir("launch");
    log_ = work_ + "/browser.log";
    ::setenv("TAV_REGISTRY", (work_ + "/registry.reg").c_str(), 1);
    ::setenv("FAKE_BROWSER_LOG", log_.c_str(), 1);
    ::unsetenv("BROWSER");
    ASSERT_EQ(WritePage(), 0);
  }
  void RegisterCommand(const std::string& command) {
    std::string escaped;
    for (char c : command) escaped += c == '"' ? "\\\"" : std::string(1, c);
    write_text(work_ + "/registry.reg",
               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\n"
               "@=\"tavtest.html\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\"
               "tavtest.html\\Shell\\Open\\command]\n@=\"" +
                   escaped + "\"\n");
  }
  // Launches in a child that must end with exit code 1; `shows` on stderr.
  void LaunchAndExpectTheEnd(const std::string& shows = "") {
    EXPECT_EXIT(
        {
          launch_browser(page_.c_str(), help_.c_str());
          for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        },
        testing::ExitedWithCode(1), HasSubstr(shows));
    EXPECT_FALSE(file_exists(page_));
    EXPECT_FALSE(file_exists(help_));
  }
  std::string work_, log_;
};

// A quoted path with blanks and "%1" starts after 5 s; the files go with it.
TEST_F(BrowserLaunchTest, BrowserGetsThePageAndItsEndEndsTheProgram) {
  std::string program = work_ + "/Browser Files/browse";
  std::filesystem::create_directories(work_ + "/Browser Files");
  std::filesystem::copy_file(source_dir() + "/tests/page/fake_browser.sh",
                             program);
  RegisterCommand("\"" + program + "\" -nohome \"%1\"");
  auto before = std::chrono::system_clock::now().time_since_epoch();
  LaunchAndExpectTheEnd();
  std::string log = read_text(log_);
  size_t end = log.find('\n');
  ASSERT_NE(end, std::string::npos);
  auto started = std::chrono::nanoseconds(std::stoll(log.substr(8, end - 8)));
  EXPECT_GE(started - before, std::chrono::milliseconds(4900));
  EXPECT_EQ(log.substr(end + 1), "argv0 " + program + "\narg -nohome\narg " +
                                     page_ + "\npage present\n");
}

// A quick clean end hands the page over; 30 idle minutes end the gateway.
TEST(HandOver, QuickCleanEndIsAHandOverAndIdleTimeEndsIt) {
  EXPECT_TRUE(browser_handed_over(0, 9999));
  for (auto [status, ms] : {std::pair{0, 10000}, {1, 100}, {-1, 100}})
    EXPECT_FALSE(browser_handed_over(status, ms)) << status << " " << ms;
  // 30 min from the hand-over (5000) or the last request, later of the two.
  EXPECT_FALSE(gateway_idle_too_long(5000 + 1799, 5000, 0));
  EXPECT_TRUE(gateway_idle_too_long(5000 + 1800, 5000, 0));
  EXPECT_FALSE(gateway_idle_too_long(5000 + 1800, 5000, 5001));
  EXPECT_TRUE(gateway_idle_too_long(6801, 5000, 5001));
}

TEST_F(BrowserLaunchTest, ProgramThatCannotStartShows107AndEnds) {
  RegisterCommand("\"" + work_ + "/no such browser\"");
  LaunchAndExpectTheEnd(shown(107));
}

// No hive entry: the desktop's choice, else message 105.
TEST_F(BrowserLaunchTest, WithoutHiveEntryTheDesktopChoiceOrElse105) {
  write_text(work_ + "/registry.reg", "REGEDIT4\n");
  ScopedEnv path("PATH", work_.c_str());  // no desktop default here
  EXPECT_THAT(stderr_of([&] {
                EXPECT_EQ(launch_browser(page_.c_str(), help_.c_str()), -1);
              }),
              HasSubstr(shown(105)));
  EXPECT_FALSE(file_exists(page_));
  EXPECT_TRUE(file_exists(help_));
}

}  // namespace
}  // namespace page_test
