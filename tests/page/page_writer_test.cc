// The discovery page's bytes, the help copy, and the page files' failures.
#include "page/page_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/catalogue.h"
#include "platform/files.h"
#include "platform/net.h"
#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

const char kClose[] = "</BODY></HTML>\n";

class PageWriterTest : public PageTest {
 protected:
  // Checks that `page` ends with `tail` and that what comes before is the
  // complete head: title, text 114, the refresh and help links, and no
  // conversion or insert left unfilled.
  void ExpectHeadThen(const std::string& page, const std::string& tail) {
    ASSERT_GE(page.size(), tail.size());
    EXPECT_EQ(page.substr(page.size() - tail.size()), tail);
    std::string head = page.substr(0, page.size() - tail.size());
    EXPECT_NE(head.find("<TITLE>"), std::string::npos);
    EXPECT_NE(head.find(catalogue_text(114)), std::string::npos);
    EXPECT_NE(head.find("HREF=\"http://10.1.2.3:34/$$Refresh$\""),
              std::string::npos)
        << head;
    EXPECT_NE(head.find("HREF=\"file://" + dir_ + "/tavhelp.htm\""),
              std::string::npos)
        << head;
    for (const char* left : {"%s", "%d", "%1", "%2"})
      EXPECT_EQ(head.find(left), std::string::npos) << left;
    EXPECT_EQ(head.back(), '\n');
  }
};

TEST_F(PageWriterTest, ThreeIpUnitsAndNoIpx) {
  publish({{"192.168.1.20", "VEM_123456", "Print Server"},
           {"192.168.1.21", "VEM_123457", "MIO Based Printer"},
           {"10.0.0.9", "lab-printer", "Print Server"}},
          {});
  ASSERT_EQ(WritePage(), 0);
  EXPECT_STREQ(discovery_page_path, (dir_ + "/tav-disc.htm").c_str());
  EXPECT_STREQ(help_page_path, (dir_ + "/tavhelp.htm").c_str());
  ExpectHeadThen(
      Page(), catalogue_text(115) +
                  "<A HREF=\"http://192.168.1.20/\">http://192.168.1.20/</A> "
                  "VEM_123456 Print Server<br>\n"
                  "<A HREF=\"http://192.168.1.21/\">http://192.168.1.21/</A> "
                  "VEM_123457 MIO Based Printer<br>\n"
                  "<A HREF=\"http://10.0.0.9/\">http://10.0.0.9/</A> "
                  "lab-printer Print Server<br>\n" +
                  kClose);
}

TEST_F(PageWriterTest, IpxUnitsOnlyFollowTheHeadDirectly) {
  publish({}, {{"VEM_000001", 0x8060, "Print Server"},
               {"VEM_000002", 80, "MIO Based Printer"}});
  ASSERT_EQ(WritePage(), 0);
  std::string page = Page();
  ExpectHeadThen(page, catalogue_text(116) +
                           "<A HREF=\"http://10.1.2.3:34/VEM_000001-HTML/\">"
                           "VEM_000001</A> Print Server<br>\n"
                           "<A HREF=\"http://10.1.2.3:34/VEM_000002-HTML/\">"
                           "VEM_000002</A> MIO Based Printer<br>\n" +
                           kClose);
  EXPECT_EQ(page.find(catalogue_text(115)), std::string::npos);
  EXPECT_EQ(page.find(catalogue_text(117)), std::string::npos);
}

TEST_F(PageWriterTest, IpxUnitWithoutWebServiceIsLeftOut) {
  publish({}, {{"VEM_000001", 0, "Print Server"},
               {"VEM_000002", 80, "Print Server"},
               {"VEM_000003", 0, "Print Server"}});
  ASSERT_EQ(WritePage(), 0);
  ExpectHeadThen(Page(), catalogue_text(116) +
                             "<A HREF=\"http://10.1.2.3:34/VEM_000002-HTML/\">"
                             "VEM_000002</A> Print Server<br>\n" +
                             kClose);

  // Even when no IPX unit has a web service, the section is there.
  publish({}, {{"VEM_000001", 0, "Print Server"}});
  ASSERT_EQ(WritePage(), 0);
  ExpectHeadThen(Page(), catalogue_text(116) + kClose);
}

TEST_F(PageWriterTest, NoUnitsAtAll) {
  ASSERT_EQ(WritePage(), 0);
  ExpectHeadThen(Page(), catalogue_text(117) + kClose);
}

TEST_F(PageWriterTest, BothKindsInListOrderAndOnlyThePublishedCount) {
  publish({{"192.168.1.20", "A", "Print Server"}}, {{"B", 80, "Print Server"}});
  ASSERT_EQ(write_discovery_files(5, 9, discovery_page_path, help_page_path, 1),
            0);
  ExpectHeadThen(Page(),
                 catalogue_text(115) +
                     "<A HREF=\"http://192.168.1.20/\">http://192.168.1.20/"
                     "</A> A Print Server<br>\n" +
                     catalogue_text(116) +
                     "<A HREF=\"http://10.1.2.3:34/B-HTML/\">B</A> Print "
                     "Server<br>\n" +
                     kClose);
}

TEST_F(PageWriterTest, NamesAndDescriptionsFromDevicesCannotInjectMarkup) {
  publish({{"192.168.1.20", "<script>x()</script>", "a \"b\" & 'c'"}},
          {{"\"><img src=x onerror=y>", 80, "<b>bold</b>"}});
  ASSERT_EQ(WritePage(), 0);
  std::string page = Page();
  EXPECT_NE(page.find("</A> &lt;script&gt;x()&lt;/script&gt; a &quot;b&quot; "
                      "&amp; &#39;c&#39;<br>\n"),
            std::string::npos);
  EXPECT_NE(page.find("<A HREF=\"http://10.1.2.3:34/"
                      "&quot;&gt;&lt;img src=x onerror=y&gt;-HTML/\">"
                      "&quot;&gt;&lt;img src=x onerror=y&gt;</A> "
                      "&lt;b&gt;bold&lt;/b&gt;<br>\n"),
            std::string::npos);
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
}

TEST_F(PageWriterTest, PercentSignsInThePathsNeverActAsConversions) {
  EXPECT_EQ(file_url_path("/tmp/a b/%s%d?#\"&\\:x.htm"),
            "/tmp/a%20b/%25s%25d%3F%23%22%26%5C%3Ax.htm");
  std::string page_path = dir_ + "/tav-disc.htm";
  ASSERT_EQ(write_discovery_page(page_path.c_str(), 0, 0, "/h %s%d%n/x.htm"),
            1);
  std::string page = Page();
  EXPECT_NE(page.find("HREF=\"file:///h%20%25s%25d%25n/x.htm\""),
            std::string::npos);
  EXPECT_NE(page.find("HREF=\"http://10.1.2.3:34/$$Refresh$\""),
            std::string::npos);
}

TEST_F(PageWriterTest, RefreshReplacesThePageButNotTheHelpCopy) {
  publish({{"192.168.1.20", "OLD", "Print Server"}}, {});
  ASSERT_EQ(WritePage(1), 0);
  std::string help = dir_ + "/tavhelp.htm";
  ASSERT_EQ(read_file(help),
            read_file(source_dir() + "/catalogue/tavhelp.htm"));
  write_file(help, "changed by the user");

  publish({}, {{"NEW", 80, "Print Server"}});
  ASSERT_EQ(WritePage(0), 0);
  std::string page = Page();
  EXPECT_EQ(page.find("OLD"), std::string::npos);
  EXPECT_NE(page.find("NEW-HTML"), std::string::npos);
  EXPECT_EQ(read_file(help), "changed by the user");
  EXPECT_STREQ(help_page_path, help.c_str());
}

TEST_F(PageWriterTest, HelpSourceInTheCurrentFolderComesFirst) {
  write_file("tavhelp.htm", "local help");
  ASSERT_EQ(WritePage(), 0);
  EXPECT_EQ(read_file(help_page_path), "local help");
}

TEST_F(PageWriterTest, MissingHelpSourceStillWritesThePage) {
  std::string empty = make_temp_dir("nocat");
  ::setenv("TAV_CATALOGUE", (empty + "/resc.cat").c_str(), 1);
  testing::internal::CaptureStderr();
  int result = WritePage();
  std::string err = testing::internal::GetCapturedStderr();
  ::setenv("TAV_CATALOGUE", catalogue_path().c_str(), 1);
  EXPECT_EQ(result, 0);
  EXPECT_NE(err.find("tav: " + catalogue_text(111)), std::string::npos) << err;
  EXPECT_TRUE(exists(discovery_page_path));
  EXPECT_FALSE(exists(help_page_path));
}

TEST_F(PageWriterTest, PlantedSymlinksAreNeverFollowed) {
  std::string victim_dir = make_temp_dir("victim");
  std::string victim = victim_dir + "/victim";
  write_file(victim, "precious");

  // At the page path: the page fails, the help copy goes too.
  ASSERT_EQ(::symlink(victim.c_str(), (dir_ + "/tav-disc.htm").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(WritePage(), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("tav: " + catalogue_text(106)), std::string::npos) << err;
  EXPECT_EQ(read_file(victim), "precious");
  EXPECT_FALSE(exists(dir_ + "/tavhelp.htm"));

  // At the help path: the help copy fails, the page is still written.
  remove_file(dir_ + "/tav-disc.htm");
  ASSERT_EQ(::symlink(victim.c_str(), (dir_ + "/tavhelp.htm").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(WritePage(), 0);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("tav: " + catalogue_text(112)), std::string::npos) << err;
  EXPECT_EQ(read_file(victim), "precious");
  EXPECT_NE(Page().find("</BODY></HTML>"), std::string::npos);
}

bool failing_lookup(const char*, uint32_t*) {
  net::WSASetLastError(11001);
  return false;
}

TEST_F(PageWriterTest, HostWithoutAddressEndsTheProgramWithMessage134) {
  char host[256] = "";
  ASSERT_EQ(::gethostname(host, sizeof host), 0);
  EXPECT_EXIT(
      {
        set_host_lookup(failing_lookup);
        WritePage();
      },
      testing::ExitedWithCode(1),
      testing::HasSubstr("tav: " +
                         format_text(catalogue_text(134), {host, 11001})));
  EXPECT_FALSE(exists(dir_ + "/tav-disc.htm"));
  EXPECT_FALSE(exists(dir_ + "/tavhelp.htm"));
}

}  // namespace
}  // namespace page_test
