// The browser launch: the open command cut into a program and arguments,
// and the watcher's whole run with a fake browser.
#include "page/browser_launch.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;

Args built(const std::string& command, const char* page = "/p/tav-disc.htm") {
  LaunchRecord r;
  if (!build_launch_record(command, page, "/p/tavhelp.htm", &r)) return {};
  EXPECT_EQ(r.program, r.arguments.at(0));
  return r.arguments;
}

TEST(BuildLaunchRecord, CommandsBecomeProgramAndArguments) {
  const char* page = "/p/tav-disc.htm";
  EXPECT_THAT(built(" \"/opt/Browser Files/browse\"\t-nohome \"%1\" "),
              ElementsAre("/opt/Browser Files/browse", "-nohome", page));
  EXPECT_THAT(built("/opt/browser/browse"),
              ElementsAre("/opt/browser/browse", page));
  EXPECT_THAT(built("b --open=%1,%1 -x"),
              ElementsAre("b", "--open=/p/tav-disc.htm,/p/tav-disc.htm", "-x"));
  // Other percent sequences stay as they are, with or without "%1".
  EXPECT_THAT(built("b --x=%s%d%%1 %n", "/%s.htm"),
              ElementsAre("b", "--x=%s%d%/%s.htm", "%n"));
  EXPECT_THAT(built("b %s%d"), ElementsAre("b", "%s%d", page));
  EXPECT_THAT(built("b a\"c d\" \"\" \"open end"),
              ElementsAre("b", "a\"c", "d\"", "", "open end", page));
  EXPECT_THAT(built(" \t "), ElementsAre());
}

TEST(BuildLaunchRecord, LongArgumentsAndManyTokensAreKeptWhole) {
  std::string page = "/" + std::string(300, 'p') + ".htm";
  std::string command = "b";
  for (int i = 1; i < 30; ++i) command += " a" + std::to_string(i);
  Args with = built(command + " --page=%1", page.c_str());
  ASSERT_EQ(with.size(), 31u);
  EXPECT_EQ(with[30], "--page=" + page);
  Args without = built(command, page.c_str());
  ASSERT_EQ(without.size(), 31u);
  EXPECT_EQ(without[29], "a29");
  EXPECT_EQ(without[30], page);
}

// The open command comes from a test hive; the fake browser logs how it was
// started. The watcher ends the process, so each launch runs in a child.
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
  void TearDown() override { ::unsetenv("FAKE_BROWSER_HOLD"); }

  std::string InstallBrowser(const char* folder) {
    std::string program = work_ + "/" + folder + "/browse";
    ::mkdir((work_ + "/" + folder).c_str(), 0755);
    write_file(program,
               read_file(source_dir() + "/tests/page/fake_browser.sh"));
    ::chmod(program.c_str(), 0755);
    return program;
  }
  void RegisterCommand(const std::string& command) {
    std::string escaped;
    for (char c : command) escaped += c == '"' ? "\\\"" : std::string(1, c);
    write_file(work_ + "/registry.reg",
               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\n"
               "@=\"tavtest.html\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\"
               "tavtest.html\\Shell\\Open\\command]\n@=\"" +
                   escaped + "\"\n");
  }
  // What the fake browser logged after its "started <ns>" line.
  Args Logged() {
    std::istringstream in(read_file(log_));
    Args lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }
  void ExpectBothFilesGone() {
    EXPECT_FALSE(file_exists(page_));
    EXPECT_FALSE(file_exists(help_));
  }
  std::string work_, log_;
};

[[noreturn]] void wait_for_the_end() {
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

TEST_F(BrowserLaunchTest, BareProgramRunsAtOnceAndItsEndEndsTheProgram) {
  std::string program = InstallBrowser("Browser");
  RegisterCommand(program);
  std::string hold = work_ + "/hold";
  write_file(hold, "");
  ::setenv("FAKE_BROWSER_HOLD", hold.c_str(), 1);
  EXPECT_EXIT(
      {
        if (launch_browser(page_.c_str(), help_.c_str()) != 1) std::_Exit(2);
        while (read_file(log_).empty())
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        remove_file(hold);
        wait_for_the_end();
      },
      testing::ExitedWithCode(1), "");
  // The files stayed while the browser ran.
  EXPECT_THAT(Logged(),
              ElementsAre("argv0 " + program, "arg " + page_, "page present"));
  ExpectBothFilesGone();
}

TEST_F(BrowserLaunchTest, QuotedPlaceholderRunsAfterFiveSeconds) {
  std::string program = InstallBrowser("Browser Files");
  RegisterCommand("\"" + program + "\" -nohome \"%1\"");
  auto before = std::chrono::system_clock::now().time_since_epoch();
  EXPECT_EXIT(
      {
        launch_browser(page_.c_str(), help_.c_str());
        wait_for_the_end();
      },
      testing::ExitedWithCode(1), "");
  EXPECT_THAT(Logged(), ElementsAre("argv0 " + program, "arg -nohome",
                                    "arg " + page_, "page present"));
  auto started =
      std::chrono::nanoseconds(std::stoll(read_file(log_).substr(8)));
  EXPECT_GE(started - before, std::chrono::milliseconds(4900));
  ExpectBothFilesGone();
}

TEST_F(BrowserLaunchTest, ProgramThatCannotStartShows107AndEnds) {
  RegisterCommand("\"" + work_ + "/no such browser\"");
  EXPECT_EXIT(
      {
        launch_browser(page_.c_str(), help_.c_str());
        wait_for_the_end();
      },
      testing::ExitedWithCode(1), HasSubstr("tav: " + catalogue_text(107)));
  ExpectBothFilesGone();
}

TEST_F(BrowserLaunchTest, NoOpenCommandShows105AndKeepsTheHelpCopy) {
  // No hive entry, no $BROWSER, no desktop default on this PATH.
  write_file(work_ + "/registry.reg", "REGEDIT4\n");
  std::string path = std::getenv("PATH");
  ::setenv("PATH", work_.c_str(), 1);
  testing::internal::CaptureStderr();
  int result = launch_browser(page_.c_str(), help_.c_str());
  std::string err = testing::internal::GetCapturedStderr();
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(result, -1);
  EXPECT_THAT(err, HasSubstr("tav: " + catalogue_text(105)));
  EXPECT_FALSE(file_exists(page_));
  EXPECT_TRUE(file_exists(help_));
}

}  // namespace
}  // namespace page_test
