// Link rewriting on single lines: the resulting forms of each kind of
// value, the scan's edge cases, the forms capture and the buffer bound.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "gateway/forms_capture.h"
#include "gateway/link_rewriter.h"

namespace {

class RewriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&session_, 0, sizeof session_);
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
  GatewaySession session_;
};

TEST_F(RewriteTest, ResultingFormsOfValues) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"<a href=\"index.htm\">",
       "<a href=\"http://10.0.0.5:34/unit7/index.htm\">"},
      {"<a href=\"/index.htm\">",
       "<a href=\"http://10.0.0.5:34/unit7/index.htm\">"},
      {"<a href=\"  /index.htm\">",
       "<a href=\"http://10.0.0.5:34/unit7/index.htm\">"},
      {"<a href=\"\">", "<a href=\"http://10.0.0.5:34/unit7/\">"},
      {"<a href=\"  \">", "<a href=\"http://10.0.0.5:34/unit7/\">"},
      {"<a href=\"http://unit7/dir/x.htm\">",
       "<a href=\"http://10.0.0.5:34/unit7/dir/x.htm\">"},
      {"<a href=\"http://UNIT7/dir/x.htm\">",
       "<a href=\"http://10.0.0.5:34/unit7/dir/x.htm\">"},
      {"<a href=\"http://unit7\">", "<a href=\"http://10.0.0.5:34/unit7/\">"},
      {"<a href=\"http://other/x.htm\">", "<a href=\"http://other/x.htm\">"},
      {"<a href=\"javascript:history.back()\">",
       "<a href=\"javascript:history.back()\">"},
      {"<a href=\" /javascript:go()\">", "<a href=\"javascript:go()\">"},
      {"<a href=\"#top\">", "<a href=\"http://10.0.0.5:34/unit7/#top\">"},
  };
  for (const Case& c : cases) EXPECT_EQ(rewrite(c.in), c.out) << c.in;
}

TEST_F(RewriteTest, AttributeSpellingsAndQuotes) {
  EXPECT_EQ(rewrite("<A HREF=\"/status.htm\">S</A>\r\n"),
            "<A HREF=\"http://10.0.0.5:34/unit7/status.htm\">S</A>\r\n");
  EXPECT_EQ(rewrite("<img src = \"logo.gif\">"),
            "<img src = \"http://10.0.0.5:34/unit7/logo.gif\">");
  EXPECT_EQ(rewrite("<img src=\t\"Logo.GIF\">"),
            "<img src=\t\"http://10.0.0.5:34/unit7/Logo.GIF\">");
  // Single quotes and bare values are never rewritten; the scan goes on.
  EXPECT_EQ(
      rewrite("<a href='x.htm'>x</a> <a href=\"y.htm\">"),
      "<a href='x.htm'>x</a> <a href=\"http://10.0.0.5:34/unit7/y.htm\">");
  EXPECT_EQ(rewrite("<a href=x.htm>"), "<a href=x.htm>");
  // Keywords match inside longer words too.
  EXPECT_EQ(rewrite("<x hrefx=\"a\" datasrc=\"b\">"),
            "<x hrefx=\"a\" datasrc=\"http://10.0.0.5:34/unit7/b\">");
  // Another host is skipped and the link after it still rewritten.
  EXPECT_EQ(
      rewrite("<a href=\"http://other/x\"><a href=\"y\">"),
      "<a href=\"http://other/x\"><a href=\"http://10.0.0.5:34/unit7/y\">");
}

TEST_F(RewriteTest, LinesThatStayAsTheyAre) {
  for (const char* in : {"<p>No links here</p>\r\n", "<a href=\"open.htm\r\n",
                         "href=\"", "", "\r\n", "<a href =\n", "src"}) {
    EXPECT_EQ(rewrite(in), in);
  }
}

TEST_F(RewriteTest, TwoLinksAndWindowOpen) {
  EXPECT_EQ(rewrite("<a href=\"a.htm\"><img src=\"b.gif\">"),
            "<a href=\"http://10.0.0.5:34/unit7/a.htm\">"
            "<img src=\"http://10.0.0.5:34/unit7/b.gif\">");
  EXPECT_EQ(rewrite("<script>window.open(\"/help.htm\");</script>"),
            "<script>window.open(\"http://10.0.0.5:34/unit7/help.htm\");"
            "</script>");
  // Links before the window opening are left; links after it rewritten.
  EXPECT_EQ(
      rewrite("<a href=\"x\" onclick='window.open(\"/h\")'> src=\"y\""),
      "<a href=\"x\" onclick='window.open(\"http://10.0.0.5:34/unit7/h\")'>"
      " src=\"http://10.0.0.5:34/unit7/y\"");
  // Fewer than two characters after window.open: what there is is kept.
  EXPECT_EQ(rewrite("window.open("), "window.open(http://10.0.0.5:34/unit7");
  EXPECT_EQ(rewrite("window.open"), "window.openhttp://10.0.0.5:34/unit7");
}

TEST_F(RewriteTest, FormsCaptureAndPreviousPage) {
  EXPECT_EQ(rewrite("<form action=\"http://UNIT7/Forms/cfg\">"),
            "<form action=\"http://10.0.0.5:34/unit7/Forms/cfg\">");
  EXPECT_EQ(forms(), "cfg");
  // Only the first link of a line gets the capture before "previous page".
  EXPECT_EQ(
      rewrite("<a href=\"back.htm\">previous page</a>"),
      "<a href=\"http://10.0.0.5:34/unit7/cfgback.htm\">previous page</a>");
  EXPECT_EQ(rewrite("<a href=\"a\">x</a><a href=\"b\">previous page</a>"),
            "<a href=\"http://10.0.0.5:34/unit7/cfga\">x</a>"
            "<a href=\"http://10.0.0.5:34/unit7/b\">previous page</a>");
  // A longer capture is cut to 11 characters.
  rewrite("<form action=\"Forms/averyveryverylongname\">");
  EXPECT_EQ(forms(), "averyveryve");
  // No ">" after "Forms/": the previous capture stays; ">" at once: empty.
  rewrite("<form action=\"Forms/zzz\"");
  EXPECT_EQ(forms(), "averyveryve");
  rewrite("<a href=\"x\">Forms/>");
  EXPECT_EQ(forms(), "");
  // A capture is made only while the first link of a line is rewritten.
  rewrite("<a href=\"x\"><a href=\"Forms/late\">");
  EXPECT_EQ(forms(), "late");
  rewrite("no link Forms/none\">");
  EXPECT_EQ(forms(), "late");
}

TEST_F(RewriteTest, RewrittenLineNeverPassesItsBuffer) {
  // A 511-character line of the shortest links, with the longest unit
  // name: every replacement adds about 100 characters.
  std::memset(session_.unit.unit_name, 'N', kUnitNameSize - 1);
  session_.unit.unit_name[kUnitNameSize - 1] = '\0';
  std::strcpy(session_.host_address, "255.255.255.255");
  std::string in;
  while (in.size() + 6 <= 509) in += "src=\"\"";
  in += "\r\n";
  std::string out = rewrite(in);
  EXPECT_LT(out.size(), static_cast<size_t>(kRewriteLineSize));
  // The links that fit are rewritten, the rest of the line is unchanged.
  std::string url =
      "http://255.255.255.255:34/" + std::string(kUnitNameSize - 1, 'N') + "/";
  EXPECT_EQ(out.substr(0, 5 + url.size()), "src=\"" + url);
  size_t rewritten = 0;
  for (size_t p = 0; (p = out.find(url, p)) != std::string::npos; ++p)
    ++rewritten;
  EXPECT_GE(rewritten, 4u);
  EXPECT_LT(rewritten, in.size() / 6);
  std::string tail = in.substr(in.size() - 40);
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  // A full-length line of 1023 characters with a window opening that would
  // not fit stays as it is.
  std::string full = "window.open(\"" + std::string(1010, 'x');
  EXPECT_EQ(rewrite(full), full);
}

TEST_F(RewriteTest, FindLinkReportsValueAndPath) {
  const char* text = "<a href = \"http://unit7/p/q.htm\" >";
  char path[kLinkPathSize];
  const char* resume = nullptr;
  const char* value = find_link(&session_, text, path, &resume);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value - text, 11);
  EXPECT_STREQ(path, "p/q.htm");
  EXPECT_EQ(*resume, '"');
  EXPECT_EQ(find_link(&session_, resume, path, &resume), nullptr);
  EXPECT_EQ(find_first_keyword("xx ACTION src href") - "xx ACTION src href", 9);
  EXPECT_EQ(find_first_keyword("nothing"), nullptr);
  EXPECT_STREQ(skip_white(" \t\r\nx"), "x");
  EXPECT_STREQ(skip_white(""), "");
}

TEST(FormsCapture, ConcurrentWritersAndReadersSeeWholeCaptures) {
  auto writer = [](const char* name) {
    for (int i = 0; i < 2000; ++i) forms_capture_set(name, std::strlen(name));
  };
  std::thread a(writer, "aaaaaaaaaaa");
  std::thread b(writer, "bbbbbbbbbbb");
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
