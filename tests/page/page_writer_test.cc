// The discovery page's bytes, the help copy, and the page files' failures.
#include "page/page_writer.h"

#include "platform/net.h"
#include "tests/page/page_fixture.h"

namespace page_test {
namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;

std::string ip_line(const char* a, const char* rest) {
  return std::string("<A HREF=\"http://") + a + "/\">http://" + a + "/</A> " +
         rest + "<br>\n";
}
std::string ipx_line(const std::string& name, const std::string& text,
                     const std::string& link = "") {
  return "<A HREF=\"http://10.1.2.3:34/" + (link.empty() ? name : link) +
         "-HTML/\">" + name + "</A> " + text + "<br>\n";
}

class PageWriterTest : public PageTest {
 protected:
  // The page (counts past the lists read nothing stale): head, `sections`.
  void ExpectPage(const std::vector<IpUnit>& ip,
                  const std::vector<IpxUnit>& ipx,
                  const std::string& sections) {
    publish(ip, ipx);
    ASSERT_EQ(write_discovery_files(static_cast<int>(ip.size()) + 2,
                                    static_cast<int>(ipx.size()) + 2,
                                    discovery_page_path, help_page_path, 1),
              0);
    EXPECT_EQ(discovery_page_path, page_);
    EXPECT_EQ(help_page_path, help_);
    std::string page = read_text(page_), tail = sections + "</BODY></HTML>\n";
    ASSERT_GE(page.size(), tail.size());
    EXPECT_EQ(page.substr(page.size() - tail.size()), tail);
    EXPECT_THAT(
        page.substr(0, page.size() - tail.size()),
        AllOf(HasSubstr("<TITLE>"), HasSubstr(catalogue_text(114)),
              HasSubstr("HREF=\"http://10.1.2.3:34/$$Refresh$\""),
              HasSubstr("HREF=\"file://" + help_ + "\""),
              Not(ContainsRegex("%[sd12]")), Not(HasSubstr(ip_)),
              Not(HasSubstr(ipx_)), Not(HasSubstr(catalogue_text(117)))));
    // The gateway's copy: the same page, linking the help page it serves.
    const std::string link = "HREF=\"file://" + help_ + "\"";
    std::string served = page;
    served.replace(served.find(link), link.size(), "HREF=\"tavhelp.htm\"");
    EXPECT_EQ(served_discovery_page(), served);
  }
  const std::string ip_ = catalogue_text(115), ipx_ = catalogue_text(116);
};

TEST_F(PageWriterTest, SectionsAndLinesForEachMixOfUnits) {
  ExpectPage({{"192.168.1.20", "VEM_123456", "Print Server"},
              {"192.168.1.21", "VEM_123457", "MIO Based Printer"},
              {"10.0.0.9", "lab-printer", "Print Server"}},
             {},
             ip_ + ip_line("192.168.1.20", "VEM_123456 Print Server") +
                 ip_line("192.168.1.21", "VEM_123457 MIO Based Printer") +
                 ip_line("10.0.0.9", "lab-printer Print Server"));
  // Socket 0 means no web service: left out.
  ExpectPage({},
             {{"VEM_000001", 0x8060, "Print Server"},
              {"VEM_000002", 0, "Print Server"},
              {"VEM_000003", 80, "MIO Based Printer"}},
             ipx_ + ipx_line("VEM_000001", "Print Server") +
                 ipx_line("VEM_000003", "MIO Based Printer"));
  ExpectPage({}, {{"VEM_000002", 0, "Print Server"}}, ipx_);
  ExpectPage({}, {}, catalogue_text(117));
  // Names cannot inject markup; gateway links percent-encode them.
  ExpectPage({{"192.168.1.20", "<script>x()</script>", "a \"b\" & 'c'"}},
             {{"\"><img src=x>", 80, "<b>"}, {"a b#?%-x.y_z~", 80, "d"}},
             ip_ +
                 ip_line("192.168.1.20",
                         "&lt;script&gt;x()&lt;/script&gt; a &quot;b&quot; "
                         "&amp; &#39;c&#39;") +
                 ipx_ +
                 ipx_line("&quot;&gt;&lt;img src=x&gt;", "&lt;b&gt;",
                          "%22%3E%3Cimg%20src%3Dx%3E") +
                 ipx_line("a b#?%-x.y_z~", "d", "a%20b%23%3F%25%2Dx.y_z~"));
}

TEST_F(PageWriterTest, PercentSignsInTheHelpPathStayLiteral) {
  EXPECT_EQ(file_url_path("/a b/%s?#\"&\\:.htm"),
            "/a%20b/%25s%3F%23%22%26%5C%3A.htm");
  ASSERT_EQ(write_discovery_page(page_.c_str(), 0, 0, "/h %s%d%n.htm"), 1);
  EXPECT_THAT(read_text(page_),
              HasSubstr("HREF=\"file:///h%20%25s%25d%25n.htm\""));
}

TEST_F(PageWriterTest, HelpCopyIsMadeFromTheFirstSourceFound) {
  ASSERT_EQ(WritePage(1), 0);
  EXPECT_EQ(read_text(help_),
            read_text(source_dir() + "/catalogue/tavhelp.htm"));
  // (That a refresh leaves the copy is the end-to-end suite's.)
  write_text("tavhelp.htm", "local help");  // the current folder comes first
  ASSERT_EQ(WritePage(1), 0);
  EXPECT_EQ(read_text(help_), "local help");
}

TEST_F(PageWriterTest, PlantedSymlinksAreNeverFollowed) {
  std::string victim = make_temp_dir("victim") + "/victim";
  write_text(victim, "precious");
  ASSERT_EQ(::symlink(victim.c_str(), page_.c_str()), 0);
  // A page that cannot be written takes the help copy with it.
  EXPECT_THAT(stderr_of([&] { EXPECT_EQ(WritePage(), -1); }),
              HasSubstr(shown(106)));
  EXPECT_FALSE(file_exists(help_));
  remove_file(page_);
  ASSERT_EQ(::symlink(victim.c_str(), help_.c_str()), 0);
  EXPECT_THAT(stderr_of([&] { EXPECT_EQ(WritePage(), 0); }),
              HasSubstr(shown(112)));
  EXPECT_EQ(read_text(victim), "precious");
}

TEST_F(PageWriterTest, HostWithoutAddressEndsTheProgramWithMessage134) {
  char host[256] = "";
  ASSERT_EQ(::gethostname(host, sizeof host), 0);
  EXPECT_EXIT(
      {
        ScopedEnvironment nameless({.host_lookup = [](const char*, uint32_t*) {
          net::WSASetLastError(11001);
          return false;
        }});
        WritePage();
      },
      testing::ExitedWithCode(1),
      HasSubstr("tav: " + format_text(catalogue_text(134), {host, 11001})));
  EXPECT_FALSE(file_exists(page_));
  EXPECT_FALSE(file_exists(help_));
}

}  // namespace
}  // namespace page_test
