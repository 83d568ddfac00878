#include "platform/catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/scratch.h"

namespace {

using tav_test::ScratchDir;
using tav_test::write_text;

// A dialog's title and controls as "title|id kind label|...".
std::string dialog(int id) {
  const DialogTemplate* d = catalogue_dialog(id);
  if (d == nullptr) return "<none>";
  std::string out = d->title;
  for (const auto& c : d->controls)
    out += "|" + std::to_string(c.id) + " " + c.kind + " " + c.label;
  return out;
}

TEST(Catalogue, ParsesTextsBlocksDialogsAndIconAndRefusesBadFiles) {
  ScratchDir dir;
  write_text(dir.file("t.cat"),
             "# comment\n[texts]\n101 =   &About...  \n"
             "102 = two\\nlines \\\\ tab\\t end\nbad = skipped\nno equals\n"
             "113 = <<<\n<HTML>\\r\n# not a comment inside a block\n>>>\n"
             "[dialog 102]\ntitle = Settings\ncontrol 1013 check = &IP\n"
             "control 1000 edit = Hops = max\ncontrol x check = skipped\n"
             "[icon 128]\nfile = tav.svg\n");
  ASSERT_TRUE(catalogue_load(dir.file("t.cat")));
  write_text(dir.file("open.cat"), "[texts]\n113 = <<<\n<HTML>\n");
  for (const std::string& bad :
       {dir.file("absent.cat"), dir.path(), dir.file("open.cat")})
    EXPECT_FALSE(catalogue_load(bad)) << bad;  // keeps what was loaded
  EXPECT_EQ(catalogue_text(101), "&About...");
  EXPECT_EQ(catalogue_text(102), "two\nlines \\ tab\t end");
  EXPECT_EQ(catalogue_text(113), "<HTML>\r\n# not a comment inside a block\n");
  EXPECT_EQ(catalogue_text(999), "");
  EXPECT_EQ(dialog(102), "Settings|1013 check &IP|1000 edit Hops = max");
  EXPECT_EQ(dialog(100), "<none>");
  EXPECT_EQ(catalogue_icon_path(), dir.file("tav.svg"));
}

TEST(Catalogue, InsertsAndConversionsNeverTakeInputAsFormat) {
  EXPECT_EQ(fill_inserts("a%1b%2c%1", "X", "Y"), "aXbYcX");
  EXPECT_EQ(fill_inserts("%1|%2", "%2%s", "%1"), "%2%s|%1");
  EXPECT_EQ(fill_inserts("100% %3 %%1", "x"), "100% %3 %x");
  EXPECT_EQ(format_text("[%5.2s|%-4d|%04x|%X|%c|%%|%i]",
                        {"abc", 7, 255, 255u, 65, -3}),
            "[   ab|7   |00ff|FF|A|%|-3]");
  EXPECT_EQ(format_text("%u %x", {-1, -1}), "4294967295 ffffffff");
  EXPECT_EQ(format_text("host %s error %d", {"%n%s%x", 11001}),
            "host %n%s%x error 11001");
  // Missing, mistyped and unsupported conversions are written as they stand.
  EXPECT_EQ(format_text("%s %d %s", {"a"}), "a %d %s");
  EXPECT_EQ(format_text("%d|%s|%d", {"text", 5, 6}), "%d|%s|6");
  EXPECT_EQ(format_text("%n %p %f %*d %", {1, 2, 3}), "%n %p %f %*d %");
  EXPECT_LE(format_text("%999999999d", {1}).size(), 5000u);  // bounded
  EXPECT_EQ(format_inserts_and_args("<%1> %s:%d <%2> %s", "T%s", "C:%d/x",
                                    {"gw", 34, "$$Refresh$"}),
            "<T%s> gw:34 <C:%d/x> $$Refresh$");
}

TEST(ShippedCatalogue, HoldsEveryTextDialogAndIcon) {
  ASSERT_TRUE(catalogue_load(tav_test::build_dir() + "/resc.cat"));
  for (int id : {101, 102, 103, 105, 106, 107, 108, 109, 110, 111, 112,
                 113, 114, 115, 116, 117, 118, 119, 123, 125, 126, 127,
                 130, 131, 132, 133, 134, 900, 901, 902, 903, 904})
    EXPECT_FALSE(catalogue_text(id).empty()) << id;
  EXPECT_NE(catalogue_text(108).find("cap_net_bind_service"),
            std::string::npos);
  // Texts shown or written as they stand carry no conversions.
  for (int id : {114, 115, 116, 117, 118})
    EXPECT_EQ(catalogue_text(id).find('%'), std::string::npos) << id;
  EXPECT_EQ(catalogue_text(119).rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  EXPECT_NE(catalogue_text(119).find("\r\n\r\n"), std::string::npos);

  for (const char* control : {"|1000 edit ", "|1013 check ", "|1012 check "})
    EXPECT_NE(dialog(102).find(control), std::string::npos) << dialog(102);
  EXPECT_NE(dialog(100)[0], '<');  // the about box, with a title
  EXPECT_TRUE(std::filesystem::exists(catalogue_icon_path()));
}

}  // namespace
