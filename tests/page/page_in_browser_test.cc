// The discovery page as a real browser sees it: headless Chromium loads it,
// the links must point where they should, and screenshots of the page (units
// of both kinds) and of the help page are kept for a reviewer.
#include <sys/stat.h>

#include <cstdio>
#include <iostream>
#include <regex>

#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

class PageInBrowserTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    if (std::system("command -v chromium >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "chromium is not installed (apt-get install -y "
                      "chromium): the page was not checked in a browser";
    profile_ = make_temp_dir("chromium");
  }
  // Headless Chromium on a file, with extra options; what it prints.
  std::string Chromium(const std::string& options, const std::string& file) {
    std::string command =
        "timeout 120 chromium --headless --no-sandbox --disable-gpu "
        "--disable-quic --no-first-run --disable-background-networking "
        "--disable-component-update --disable-sync --user-data-dir='" +
        profile_ + "' " + options + " 'file://" + file + "' 2>>'" + profile_ +
        "/chromium.log'";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
      char buf[4096];
      for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
      ::pclose(p);
    }
    return out;
  }
  std::string profile_;
};

TEST_F(PageInBrowserTest, LinksPointWhereTheyShouldAndScreenshotsAreKept) {
  publish({{"192.168.1.20", "VEM_123456", "Print Server"},
           {"192.168.1.21", "VEM_149130", "MIO Based Printer"},
           {"10.0.0.9", "lab<b>printer</b>", "Print Server"}},
          {{"VEM_000417", 0x8060, "Print Server"},
           {"VEM_000418", 0, "Print Server"},
           {"VEM_002345", 0x8060, "MIO Based Printer"}});
  ASSERT_EQ(WritePage(), 0);

  std::string dom = Chromium("--dump-dom", page_);
  std::vector<std::string> links;
  std::regex href("<a href=\"([^\"]*)\"", std::regex::icase);
  for (std::sregex_iterator i(dom.begin(), dom.end(), href), e; i != e; ++i)
    links.push_back((*i)[1]);
  EXPECT_THAT(links,
              testing::ElementsAre("http://10.1.2.3:34/$$Refresh$",
                                   "file://" + help_, "http://192.168.1.20/",
                                   "http://192.168.1.21/", "http://10.0.0.9/",
                                   "http://10.1.2.3:34/VEM_000417-HTML/",
                                   "http://10.1.2.3:34/VEM_002345-HTML/"))
      << "see " << profile_ << "/chromium.log";
  EXPECT_THAT(dom, testing::HasSubstr("lab&lt;b&gt;printer&lt;/b&gt;"));
  EXPECT_THAT(Chromium("--dump-dom", help_), testing::HasSubstr("-Configure"));

  const char* build = std::getenv("TAV_BUILD_DIR");
  std::string shots =
      (build && *build ? std::string(build) : executable_directory() + "/..") +
      "/tests/page";
  ::mkdir(shots.c_str(), 0755);
  ::mkdir((shots += "/artifacts").c_str(), 0755);
  for (const auto& [name, file] : {std::pair{"discovery-page.png", page_},
                                   std::pair{"help-page.png", help_}}) {
    std::string shot = shots + "/" + name;
    remove_file(shot);
    Chromium("--screenshot='" + shot + "' --window-size=1000,700", file);
    EXPECT_EQ(read_file(shot).substr(0, 4), "\x89PNG") << shot;
    std::cout << "screenshot kept: " << shot << "\n";
  }
}

}  // namespace
}  // namespace page_test
