// The browser launch: cutting the open command into a program and its
// arguments, and the watcher's whole run with a fake browser.
#include "page/browser_launch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "page/page_writer.h"
#include "platform/catalogue.h"
#include "platform/files.h"
#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> tokens(std::string text) {
  std::vector<std::string> out;
  size_t position = 0;
  while (char* t = next_token(text.data(), &position)) out.push_back(t);
  EXPECT_EQ(position, text.size());
  return out;
}

TEST(NextToken, QuotesBlanksAndTabs) {
  EXPECT_THAT(tokens("  \"/opt/Browser Files/browse\"\t-nohome \"%1\" "),
              ElementsAre("/opt/Browser Files/browse", "-nohome", "%1"));
  EXPECT_THAT(tokens("a\"b c\" \"\" \"unclosed quote"),
              ElementsAre("a\"b", "c\"", "", "unclosed quote"));
  EXPECT_THAT(tokens(" \t "), ElementsAre());
  EXPECT_THAT(tokens(""), ElementsAre());
}

LaunchRecord build(const std::string& command, const char* page) {
  LaunchRecord r;
  EXPECT_TRUE(build_launch_record(command, page, "/p/tavhelp.htm", &r));
  EXPECT_EQ(r.program, r.arguments.at(0));
  return r;
}

TEST(BuildLaunchRecord, QuotedProgramWithBlanksAndQuotedPlaceholder) {
  LaunchRecord r = build("\"/opt/Browser Files/browse\" -nohome \"%1\"",
                         "/pages/tav-disc.htm");
  EXPECT_EQ(r.program, "/opt/Browser Files/browse");
  EXPECT_THAT(r.arguments, ElementsAre("/opt/Browser Files/browse", "-nohome",
                                       "/pages/tav-disc.htm"));
  EXPECT_EQ(r.page_path, "/pages/tav-disc.htm");
  EXPECT_EQ(r.help_path, "/p/tavhelp.htm");
}

TEST(BuildLaunchRecord, BareProgramGetsThePagePathAppended) {
  LaunchRecord r = build("/opt/browser/browse", "/pages/tav-disc.htm");
  EXPECT_THAT(r.arguments,
              ElementsAre("/opt/browser/browse", "/pages/tav-disc.htm"));
  // Percent sequences other than the placeholder are not touched, with or
  // without one.
  r = build("browse --x=%s%d%%", "/pages/a b.htm");
  EXPECT_THAT(r.arguments,
              ElementsAre("browse", "--x=%s%d%%", "/pages/a b.htm"));
  r = build("browse --x=%s%d%%1 %n", "/p/%s.htm");
  EXPECT_THAT(r.arguments, ElementsAre("browse", "--x=%s%d%/p/%s.htm", "%n"));
}

TEST(BuildLaunchRecord, PlaceholderTwiceInOneToken) {
  LaunchRecord r = build("browse --open=%1,%1 -x", "/pages/tav-disc.htm");
  EXPECT_THAT(r.arguments, ElementsAre("browse",
                                       "--open=/pages/tav-disc.htm,/pages/"
                                       "tav-disc.htm",
                                       "-x"));
}

TEST(BuildLaunchRecord, LongArgumentsAndManyTokensAreKeptWhole) {
  std::string page = "/" + std::string(300, 'p') + "/tav-disc.htm";
  std::string command = "browse";
  for (int i = 1; i < 30; ++i) command += " a" + std::to_string(i);
  LaunchRecord with = build(command + " --page=%1", page.c_str());
  ASSERT_EQ(with.arguments.size(), 31u);
  EXPECT_EQ(with.arguments[29], "a29");
  EXPECT_EQ(with.arguments[30], "--page=" + page);

  LaunchRecord without = build(command, page.c_str());
  ASSERT_EQ(without.arguments.size(), 31u);
  EXPECT_EQ(without.arguments.back(), page);
}

TEST(BuildLaunchRecord, CommandWithoutTokens) {
  LaunchRecord r;
  EXPECT_FALSE(build_launch_record("  \t", "/p/tav-disc.htm", "/p/h", &r));
}

// The whole launch, with the open command in a test hive and a fake browser
// that records how it was started. The watcher ends the process, so every
// launch runs in a forked child.
class BrowserLaunchTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    work_ = make_temp_dir("launch");
    log_ = work_ + "/browser.log";
    ::setenv("TAV_REGISTRY", (work_ + "/registry.reg").c_str(), 1);
    ::setenv("FAKE_BROWSER_LOG", log_.c_str(), 1);
    ::unsetenv("FAKE_BROWSER_HOLD");
    ::unsetenv("BROWSER");
    ASSERT_EQ(WritePage(), 0);
    page_ = discovery_page_path;
    help_ = help_page_path;
    ASSERT_TRUE(exists(page_) && exists(help_));
  }
  void TearDown() override {
    ::unsetenv("TAV_REGISTRY");
    ::unsetenv("FAKE_BROWSER_HOLD");
    PageTest::TearDown();
  }

  // Installs the fake browser as <folder>/browse.
  std::string InstallBrowser(const char* folder_name) {
    std::string folder = work_ + "/" + folder_name;
    EXPECT_EQ(::mkdir(folder.c_str(), 0755), 0);
    std::string program = folder + "/browse";
    write_file(program, read_file(fake_browser_path()));
    EXPECT_EQ(::chmod(program.c_str(), 0755), 0);
    return program;
  }

  void RegisterCommand(const std::string& command) {
    std::string escaped;
    for (char c : command) {
      if (c == '\\' || c == '"') escaped += '\\';
      escaped += c;
    }
    write_file(work_ + "/registry.reg",
               "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\n"
               "@=\"tavtest.html\"\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\tavtest.html\\Shell\\"
               "Open\\command]\n@=\"" +
                   escaped + "\"\n");
  }

  // The lines the fake browser logged after its "started" line.
  std::vector<std::string> Logged() {
    std::vector<std::string> lines;
    std::string text = read_file(log_);
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos;
         start = nl + 1)
      lines.push_back(text.substr(start, nl - start));
    if (!lines.empty() && lines[0].rfind("started ", 0) == 0)
      lines.erase(lines.begin());
    return lines;
  }

  std::string work_, log_, page_, help_;
};

[[noreturn]] void wait_for_the_end() {
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

TEST_F(BrowserLaunchTest, BareProgramStartsAtOnceAndItsEndEndsTheProgram) {
  std::string program = InstallBrowser("Browser");
  RegisterCommand(program);
  std::string hold = work_ + "/hold";
  write_file(hold, "");
  ::setenv("FAKE_BROWSER_HOLD", hold.c_str(), 1);
  EXPECT_EXIT(
      {
        if (launch_browser(page_.c_str(), help_.c_str()) != 1) std::_Exit(2);
        // While the browser runs, both files stay.
        while (read_file(log_).empty())
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!exists(page_) || !exists(help_)) std::_Exit(3);
        remove_file(hold);
        wait_for_the_end();
      },
      testing::ExitedWithCode(1), "");
  EXPECT_THAT(Logged(), ElementsAre("argv0 " + program, "arg " + page_));
  EXPECT_FALSE(exists(page_));
  EXPECT_FALSE(exists(help_));
}

TEST_F(BrowserLaunchTest, QuotedPlaceholderStartsAfterFiveSeconds) {
  std::string program = InstallBrowser("Browser Files");
  RegisterCommand("\"" + program + "\" -nohome \"%1\"");
  auto before = std::chrono::system_clock::now();
  EXPECT_EXIT(
      {
        launch_browser(page_.c_str(), help_.c_str());
        wait_for_the_end();
      },
      testing::ExitedWithCode(1), "");
  EXPECT_THAT(Logged(),
              ElementsAre("argv0 " + program, "arg -nohome", "arg " + page_));
  long long started_ns = std::stoll(read_file(log_).substr(8));
  long long before_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            before.time_since_epoch())
                            .count();
  EXPECT_GE(started_ns - before_ns, 4'900'000'000LL);
  EXPECT_FALSE(exists(page_));
  EXPECT_FALSE(exists(help_));
}

TEST_F(BrowserLaunchTest, ProgramThatCannotStartShows107AndEnds) {
  RegisterCommand(work_ + "/no such browser");
  EXPECT_EXIT(
      {
        launch_browser(page_.c_str(), help_.c_str());
        wait_for_the_end();
      },
      testing::ExitedWithCode(1),
      testing::HasSubstr("tav: " + catalogue_text(107)));
  EXPECT_FALSE(exists(page_));
  EXPECT_FALSE(exists(help_));
}

TEST_F(BrowserLaunchTest, NoOpenCommandShows105AndKeepsTheHelpCopy) {
  // No hive entry, no $BROWSER and no desktop default to be found.
  write_file(work_ + "/registry.reg", "REGEDIT4\n");
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", work_.c_str(), 1);
  testing::internal::CaptureStderr();
  int result = launch_browser(page_.c_str(), help_.c_str());
  std::string err = testing::internal::GetCapturedStderr();
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(result, -1);
  EXPECT_NE(err.find("tav: " + catalogue_text(105)), std::string::npos) << err;
  EXPECT_FALSE(exists(page_));
  EXPECT_TRUE(exists(help_));
}

}  // namespace
}  // namespace page_test
