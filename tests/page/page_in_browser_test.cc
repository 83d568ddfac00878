// The discovery page as a real browser sees it: headless Chromium loads the
// page, its links must point where they should, and a screenshot of a page
// with units of both kinds is kept for a reviewer to look at.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <regex>

#include "page/page_writer.h"
#include "platform/files.h"
#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

std::string find_chromium() {
  for (const char* name : {"chromium", "chromium-browser"}) {
    std::string probe = std::string("command -v ") + name + " 2>/dev/null";
    FILE* p = ::popen(probe.c_str(), "r");
    if (p == nullptr) continue;
    char line[512] = "";
    bool found = std::fgets(line, sizeof line, p) != nullptr;
    ::pclose(p);
    if (found) {
      std::string path = line;
      while (!path.empty() && path.back() == '\n') path.pop_back();
      return path;
    }
  }
  return "";
}

std::string artifacts_dir() {
  const char* build = std::getenv("TAV_BUILD_DIR");
  std::string dir =
      (build && *build ? std::string(build) : executable_directory() + "/..") +
      "/tests/page/artifacts";
  for (size_t i = 1; i <= dir.size(); ++i)
    if (i == dir.size() || dir[i] == '/')
      ::mkdir(dir.substr(0, i).c_str(), 0755);
  return dir;
}

class PageInBrowserTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    chromium_ = find_chromium();
    if (chromium_.empty())
      GTEST_SKIP() << "chromium is not installed (apt-get install -y "
                      "chromium); the page was not checked in a browser";
    profile_ = make_temp_dir("chromium");
  }

  // Runs headless Chromium on a file URL with extra options; its output.
  std::string Chromium(const std::string& options, const std::string& url) {
    std::string command =
        "timeout 120 '" + chromium_ +
        "' --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking "
        "--disable-component-update --disable-sync --user-data-dir='" +
        profile_ + "' " + options + " '" + url + "' 2>>'" + profile_ +
        "/chromium.log'";
    FILE* p = ::popen(command.c_str(), "r");
    std::string out;
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
  }

  std::string chromium_, profile_;
};

std::vector<std::string> hrefs(const std::string& dom) {
  std::vector<std::string> out;
  std::regex href("<a href=\"([^\"]*)\"", std::regex::icase);
  for (std::sregex_iterator it(dom.begin(), dom.end(), href), end; it != end;
       ++it)
    out.push_back((*it)[1]);
  return out;
}

TEST_F(PageInBrowserTest, LinksPointWhereTheyShouldAndAScreenshotIsKept) {
  publish({{"192.168.1.20", "VEM_123456", "Print Server"},
           {"192.168.1.21", "VEM_149130", "MIO Based Printer"},
           {"10.0.0.9", "lab<b>printer</b>", "Print Server"}},
          {{"VEM_000417", 0x8060, "Print Server"},
           {"VEM_000418", 0, "Print Server"},
           {"VEM_002345", 0x8060, "MIO Based Printer"}});
  ASSERT_EQ(WritePage(), 0);
  const std::string page_url = std::string("file://") + discovery_page_path;

  std::string dom = Chromium("--dump-dom", page_url);
  ASSERT_FALSE(dom.empty())
      << "chromium gave no DOM; see " << profile_ << "/chromium.log";
  EXPECT_THAT(hrefs(dom),
              testing::ElementsAre("http://10.1.2.3:34/$$Refresh$",
                                   std::string("file://") + help_page_path,
                                   "http://192.168.1.20/",
                                   "http://192.168.1.21/", "http://10.0.0.9/",
                                   "http://10.1.2.3:34/VEM_000417-HTML/",
                                   "http://10.1.2.3:34/VEM_002345-HTML/"));
  // The name's markup stays text.
  EXPECT_NE(dom.find("lab&lt;b&gt;printer&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(dom.find("<b>"), std::string::npos);

  // The help link leads to the help copy.
  std::string help_dom =
      Chromium("--dump-dom", std::string("file://") + help_page_path);
  EXPECT_NE(help_dom.find("-Configure"), std::string::npos);
  EXPECT_NE(help_dom.find("-install"), std::string::npos);

  std::string shots = artifacts_dir();
  for (const auto& [name, url] :
       {std::pair{std::string("discovery-page.png"), page_url},
        std::pair{std::string("help-page.png"),
                  std::string("file://") + help_page_path}}) {
    std::string shot = shots + "/" + name;
    remove_file(shot);
    Chromium("--screenshot='" + shot + "' --window-size=1000,700", url);
    std::string png = read_file(shot);
    ASSERT_GT(png.size(), 1000u) << "no screenshot at " << shot;
    EXPECT_EQ(png.substr(1, 3), "PNG");
    std::cout << "screenshot kept: " << shot << "\n";
    RecordProperty(name, shot);
  }
}

}  // namespace
}  // namespace page_test
