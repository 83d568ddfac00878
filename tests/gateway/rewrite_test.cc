// Link rewriting of single lines: each kind of value, the scan's edge cases,
// the forms capture and the buffer bound.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "gateway/forms_capture.h"
#include "gateway/link_rewriter.h"
#include "tests/gateway/harness.h"

namespace {

using harness::via;

class RewriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::strcpy(session_.host_address, "10.0.0.5");
    std::strcpy(session_.unit.unit_name, "unit7");
    forms_capture_set("", 0);
  }
  std::string rewrite(const std::string& in) {
    char line[kRewriteLineSize];
    std::snprintf(line, sizeof line, "%s", in.c_str());
    rewrite_links(&session_, line);
    return line;
  }
  std::string forms() {
    char f[kFormsCaptureSize];
    forms_capture_get(f);
    return f;
  }
  GatewaySession session_{};
};

TEST_F(RewriteTest, ResultingForms) {
  const struct {
    const char* in;
    const char* out;  // '@': the unit's gateway URL
    const char* name = "unit7";
  } cases[] = {
      {"<a href=\"  /index.htm\">", "<a href=\"@index.htm\">"},
      {"<a href=\"  \">", "<a href=\"@\">"},
      {"<a href=\"http://UNIT7/dir/x.htm\">", "<a href=\"@dir/x.htm\">"},
      {"<a href=\"http://unit7\">", "<a href=\"@\">"},
      // The host is the unit's name whole, up to the end of the host name;
      // links to other hosts stay.
      {"<a href=\"http://unit7.lan/x\"><a href=\"http://unit7:80/y\">",
       "<a href=\"@x\"><a href=\"@y\">"},
      {"<a href=\"http://unit77/x\"><a href=\"http://unit7x\"><a href=\"y\">",
       "<a href=\"http://unit77/x\"><a href=\"http://unit7x\"><a href=\"@y\">"},
      {"<a href=\" /javascript:go()\">", "<a href=\"javascript:go()\">"},
      {"<a href=\"#top\">", "<a href=\"@#top\">"},
      {"<A HREF=\"/Status.htm\">S</A>\r\n",
       "<A HREF=\"@Status.htm\">S</A>\r\n"},
      {"<img src = \"logo.gif\">", "<img src = \"@logo.gif\">"},
      {"<a href='x'> <a href=x> <a href=\"y\">",
       "<a href='x'> <a href=x> <a href=\"@y\">"},
      {"<x hrefx=\"a\" datasrc=\"b\">", "<x hrefx=\"a\" datasrc=\"@b\">"},
      {"<script>window.open(\"/help.htm\");</script>",
       "<script>window.open(\"@help.htm\");</script>"},
      {"<a href=\"x\" x='window.open(\"/h\")'> src=\"y\"",
       "<a href=\"x\" x='window.open(\"@h\")'> src=\"@y\""},
      {"window.open(", "window.open(http://10.0.0.5:34/unit7"},
      // No name captures every host, nor a short one every host it begins; a
      // name goes into the URL percent-encoded.
      {"<a href=\"http://o/x\">", "<a href=\"http://o/x\">", ""},
      {"<a href=\"http://vega/x\">", "<a href=\"http://vega/x\">", "V"},
      {"<a href=\"http://v/x\">", "<a href=\"http://10.0.0.5:34/V/x\">", "V"},
      {"<a href=\"x\">", "<a href=\"http://10.0.0.5:34/a%20b%23/x\">", "a b#"},
  };
  for (const auto& c : cases) {
    std::strcpy(session_.unit.unit_name, c.name);
    EXPECT_EQ(rewrite(c.in), via(c.out)) << c.name << " " << c.in;
  }
  // Lines without a complete link, and javascript: links, stay as they are.
  for (const char* in : {"<a href=\"open.htm\r\n", "href=\"", "<a href =\n",
                         "<a href=\"javascript:history.back()\">"})
    EXPECT_EQ(rewrite(in), in);
}

TEST_F(RewriteTest, FormsCaptureAndPreviousPage) {
  forms_capture_set("cfg", 3);
  // Only the first link of a line gets it, when "previous page" follows.
  EXPECT_EQ(rewrite("<a href=\"a\">x</a><a href=\"b\">previous page</a>"),
            via("<a href=\"@cfga\">x</a><a href=\"@b\">previous page</a>"));
  rewrite("<form action=\"Forms/averyveryverylongname\">");
  EXPECT_EQ(forms(), "averyveryve");  // cut to 11 characters
  rewrite("<form action=\"Forms/zzz\"");
  EXPECT_EQ(forms(), "averyveryve");  // no ">": the capture stays
  rewrite("<a href=\"x\">Forms/>");
  EXPECT_EQ(forms(), "");
  rewrite("no link Forms/none\">");
  EXPECT_EQ(forms(), "");  // captured only while a first link is rewritten
}

TEST_F(RewriteTest, RewrittenLineNeverPassesItsBuffer) {
  // The shortest links with the longest name and address: each adds 106
  // characters. Those that fit are rewritten, the rest stays as it was.
  std::memset(session_.unit.unit_name, 'N', kUnitNameSize - 1);
  std::strcpy(session_.host_address, "255.255.255.255");
  std::string in;
  while (in.size() < 504) in += "src=\"\"";
  in += "\r\n";
  std::string url =
      "http://255.255.255.255:34/" + std::string(kUnitNameSize - 1, 'N') + "/";
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "src=\"" + url + "\"";
  EXPECT_EQ(rewrite(in), expected + in.substr(4 * 6));
  std::string full = "window.open(\"" + std::string(1010, 'x');
  EXPECT_EQ(rewrite(full), full);
}

TEST(FormsCapture, ReadersNeverSeeAHalfWrittenCapture) {
  auto writer = [](const char* name) {
    for (int i = 0; i < 2000; ++i) forms_capture_set(name, std::strlen(name));
  };
  std::thread a(writer, "aaaaaaaaaaa"), b(writer, "bbbbbbbbbbb");
  for (int i = 0; i < 2000; ++i) {
    char f[kFormsCaptureSize];
    forms_capture_get(f);
    std::string s = f;
    EXPECT_TRUE(s.empty() || s == "aaaaaaaaaaa" || s == "bbbbbbbbbbb") << s;
  }
  a.join();
  b.join();
}

}  // namespace
