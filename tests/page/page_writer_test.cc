// The discovery page's bytes, the help copy, and the page files' failures.
#include "page/page_writer.h"

#include "platform/net.h"
#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string ip_line(const char* a, const char* rest) {
  return std::string("<A HREF=\"http://") + a + "/\">http://" + a + "/</A> " +
         rest + "<br>\n";
}
std::string ipx_line(const char* name, const char* description) {
  return std::string("<A HREF=\"http://10.1.2.3:34/") + name + "-HTML/\">" +
         name + "</A> " + description + "<br>\n";
}

class PageWriterTest : public PageTest {
 protected:
  // The page must be the complete head (title, text 114, refresh and help
  // links, nothing left unfilled) followed by exactly `tail`.
  void ExpectPage(const std::string& tail) {
    std::string page = read_file(page_);
    ASSERT_GE(page.size(), tail.size());
    EXPECT_EQ(page.substr(page.size() - tail.size()), tail);
    std::string head = page.substr(0, page.size() - tail.size());
    EXPECT_THAT(head, HasSubstr("<TITLE>"));
    EXPECT_THAT(head, HasSubstr(catalogue_text(114)));
    EXPECT_THAT(head, HasSubstr("HREF=\"http://10.1.2.3:34/$$Refresh$\""));
    EXPECT_THAT(head, HasSubstr("HREF=\"file://" + help_ + "\""));
    for (const char* left : {"%s", "%d", "%1", "%2"})
      EXPECT_THAT(head, Not(HasSubstr(left)));
    for (int section : {115, 116, 117})
      EXPECT_THAT(head, Not(HasSubstr(catalogue_text(section))));
  }
};

TEST_F(PageWriterTest, SectionsAndLinesForEachMixOfUnits) {
  const std::string end = "</BODY></HTML>\n";
  publish({{"192.168.1.20", "VEM_123456", "Print Server"},
           {"192.168.1.21", "VEM_123457", "MIO Based Printer"},
           {"10.0.0.9", "lab-printer", "Print Server"}},
          {});
  ASSERT_EQ(WritePage(), 0);
  EXPECT_STREQ(discovery_page_path, page_.c_str());
  EXPECT_STREQ(help_page_path, help_.c_str());
  ExpectPage(catalogue_text(115) +
             ip_line("192.168.1.20", "VEM_123456 Print Server") +
             ip_line("192.168.1.21", "VEM_123457 MIO Based Printer") +
             ip_line("10.0.0.9", "lab-printer Print Server") + end);

  // IPX only: 116 right after the head; socket 0 means no web service.
  publish({}, {{"VEM_000001", 0x8060, "Print Server"},
               {"VEM_000002", 0, "Print Server"},
               {"VEM_000003", 80, "MIO Based Printer"}});
  ASSERT_EQ(WritePage(), 0);
  ExpectPage(catalogue_text(116) + ipx_line("VEM_000001", "Print Server") +
             ipx_line("VEM_000003", "MIO Based Printer") + end);

  publish({}, {{"VEM_000002", 0, "Print Server"}});
  ASSERT_EQ(WritePage(), 0);
  ExpectPage(catalogue_text(116) + end);

  publish({}, {});
  ASSERT_EQ(WritePage(), 0);
  ExpectPage(catalogue_text(117) + end);

  // Both kinds; counts beyond the published lists read nothing stale.
  publish({{"192.168.1.20", "A", "Print Server"}}, {{"B", 80, "d"}});
  ASSERT_EQ(write_discovery_files(5, 9, discovery_page_path, help_page_path, 0),
            0);
  ExpectPage(catalogue_text(115) + ip_line("192.168.1.20", "A Print Server") +
             catalogue_text(116) + ipx_line("B", "d") + end);
}

TEST_F(PageWriterTest, NamesFromDevicesCannotInjectMarkup) {
  publish({{"192.168.1.20", "<script>x()</script>", "a \"b\" & 'c'"}},
          {{"\"><img src=x>", 80, "<b>"}});
  ASSERT_EQ(WritePage(), 0);
  std::string page = read_file(page_);
  EXPECT_THAT(page, HasSubstr("&lt;script&gt;x()&lt;/script&gt; a &quot;b"
                              "&quot; &amp; &#39;c&#39;<br>"));
  EXPECT_THAT(page,
              HasSubstr(ipx_line("&quot;&gt;&lt;img src=x&gt;", "&lt;b&gt;")));
  EXPECT_THAT(page, Not(HasSubstr("<script>")));
  EXPECT_THAT(page, Not(HasSubstr("<img")));
}

TEST_F(PageWriterTest, PercentSignsInTheHelpPathStayLiteral) {
  EXPECT_EQ(file_url_path("/a b/%s?#\"&\\:.htm"),
            "/a%20b/%25s%3F%23%22%26%5C%3A.htm");
  ASSERT_EQ(write_discovery_page(page_.c_str(), 0, 0, "/h %s%d%n.htm"), 1);
  std::string page = read_file(page_);
  EXPECT_THAT(page, HasSubstr("HREF=\"file:///h%20%25s%25d%25n.htm\""));
  EXPECT_THAT(page, HasSubstr("HREF=\"http://10.1.2.3:34/$$Refresh$\""));
}

TEST_F(PageWriterTest, HelpCopyIsMadeOnceAndTheLocalSourceComesFirst) {
  ASSERT_EQ(WritePage(1), 0);
  EXPECT_EQ(read_file(help_),
            read_file(source_dir() + "/catalogue/tavhelp.htm"));
  write_file(help_, "changed since");
  publish({}, {{"NEW", 80, "d"}});
  ASSERT_EQ(WritePage(0), 0);  // a refresh
  EXPECT_THAT(read_file(page_), HasSubstr("NEW-HTML"));
  EXPECT_EQ(read_file(help_), "changed since");

  write_file("tavhelp.htm", "local help");
  ASSERT_EQ(WritePage(1), 0);
  EXPECT_EQ(read_file(help_), "local help");
}

TEST_F(PageWriterTest, MissingHelpSourceStillWritesThePage) {
  ::setenv("TAV_CATALOGUE", (make_temp_dir("nocat") + "/resc.cat").c_str(), 1);
  testing::internal::CaptureStderr();
  int result = WritePage();
  std::string err = testing::internal::GetCapturedStderr();
  ::setenv("TAV_CATALOGUE", catalogue_path().c_str(), 1);
  EXPECT_EQ(result, 0);
  EXPECT_THAT(err, HasSubstr("tav: " + catalogue_text(111)));
  EXPECT_TRUE(file_exists(page_));
  EXPECT_FALSE(file_exists(help_));
}

TEST_F(PageWriterTest, PlantedSymlinksAreNeverFollowed) {
  std::string victim = make_temp_dir("victim") + "/victim";
  write_file(victim, "precious");
  ASSERT_EQ(::symlink(victim.c_str(), page_.c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(WritePage(), -1);  // the help copy goes with the page
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("tav: " + catalogue_text(106)));
  EXPECT_FALSE(file_exists(help_));

  remove_file(page_);
  ASSERT_EQ(::symlink(victim.c_str(), help_.c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(WritePage(), 0);
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              HasSubstr("tav: " + catalogue_text(112)));
  EXPECT_EQ(read_file(victim), "precious");
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
      HasSubstr("tav: " + format_text(catalogue_text(134), {host, 11001})));
  EXPECT_FALSE(file_exists(page_));
  EXPECT_FALSE(file_exists(help_));
}

}  // namespace
}  // namespace page_test
