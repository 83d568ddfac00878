// The discovery page as headless Chromium sees it: the links point where
// they should, and a screenshot of a page with units of both kinds is kept
// in <build>/tests/page/artifacts for a reviewer.
#include <filesystem>
#include <iostream>
#include <regex>

#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

// Headless Chromium on `file` with extra options; what it prints.
std::string chromium(const std::string& options, const std::string& file) {
  static const std::string profile = make_temp_dir("chromium");
  return command_output(
      "timeout 120 chromium --headless --no-sandbox --disable-gpu "
      "--no-first-run --disable-background-networking --disable-sync "
      "--disable-component-update --user-data-dir='" +
      profile + "' " + options + " 'file://" + file + "' 2>/dev/null");
}

TEST_F(PageTest, InBrowserLinksPointWhereTheyShouldAndAScreenshotIsKept) {
  if (std::system("command -v chromium >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "chromium is not installed: the page was not checked";
  publish({{"192.168.1.20", "VEM_123456", "Print Server"},
           {"192.168.1.21", "VEM_149130", "MIO Based Printer"},
           {"10.0.0.9", "lab<b>printer</b>", "Print Server"}},
          {{"VEM_000417", 0x8060, "Print Server"},
           {"VEM_000418", 0, "Print Server"},
           {"VEM_002345", 0x8060, "MIO Based Printer"}});
  ASSERT_EQ(WritePage(), 0);
  std::string dom = chromium("--dump-dom", page_);
  std::vector<std::string> links;
  std::regex href("<a href=\"([^\"]*)\"", std::regex::icase);
  for (std::sregex_iterator i(dom.begin(), dom.end(), href), e; i != e; ++i)
    links.push_back((*i)[1]);
  EXPECT_THAT(links,
              testing::ElementsAre("http://10.1.2.3:34/$$Refresh$",
                                   "file://" + help_, "http://192.168.1.20/",
                                   "http://192.168.1.21/", "http://10.0.0.9/",
                                   "http://10.1.2.3:34/VEM_000417-HTML/",
                                   "http://10.1.2.3:34/VEM_002345-HTML/"));
  EXPECT_THAT(dom, HasSubstr("lab&lt;b&gt;printer&lt;/b&gt;"));
  EXPECT_THAT(chromium("--dump-dom", help_), HasSubstr("-Configure"));

  std::string shot = executable_directory() + "/../tests/page/artifacts";
  std::filesystem::create_directories(shot);
  remove_file(shot += "/discovery-page.png");
  chromium("--screenshot='" + shot + "' --window-size=1000,700", page_);
  EXPECT_EQ(read_text(shot).substr(0, 4), "\x89PNG") << shot;
  std::cout << "screenshot kept: " << shot << "\n";
}

}  // namespace
}  // namespace page_test
