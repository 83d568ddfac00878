#include "platform/ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/catalogue.h"
#include "tests/support/scratch.h"

namespace {

// A form template of two check boxes, an edit box and a label.
const char kCatalogue[] =
    "[texts]\n900 = HELP-LINE\n901 = (off)\n"
    "902 = New value:\n903 = NOT-IN-LIST\n904 = DISABLED\n"
    "[dialog 7]\ntitle = Form\ncontrol 1 button = OK\n"
    "control 10 check = &First && more\ncontrol 11 text = A label\n"
    "control 20 edit = &Number\ncontrol 30 check = Third\n"
    "[dialog 100]\ntitle = About-Title\ncontrol 5 text = About-Text\n";

// Unchecking 10 disables 20; OnOK refuses the number "bad". The result of
// a run: "<result> <first> <third> <number>".
class Recorder : public DialogHandler {
 public:
  bool OnInitDialog(DialogWindow& w) override {
    w.set_check(10, 1);
    w.set_text(20, "2");
    w.enable(30, false);
    w.append_system_menu(16, "&About...");
    return true;
  }
  void OnClicked(DialogWindow& w, int id) override {
    if (id == 10) w.enable(20, w.get_check(10) == 1);
  }
  void OnSysCommand(DialogWindow&, int) override { show_about_box(); }
  bool OnOK(DialogWindow& w) override {
    result = std::to_string(w.get_check(10)) + " " +
             std::to_string(w.get_check(30)) + " " + w.get_text(20);
    if (w.get_text(20) != "bad") return true;
    w.set_focus(20);
    return false;
  }
  std::string result;
};

class Form : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.write("f.cat", kCatalogue);
    ASSERT_TRUE(catalogue_load(dir_.file("f.cat")));
  }
  // Runs the form on a script of answers; the transcript in output_.
  std::string run(std::string script) {
    Recorder handler;
    FILE* in = script.empty() ? std::fopen("/dev/null", "r")
                              : fmemopen(script.data(), script.size(), "r");
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    int r = DoModal(7, handler, in, out);
    std::fclose(in);
    std::fclose(out);
    output_.assign(text, size);
    std::free(text);
    return r == IDOK ? "OK " + handler.result : r == IDCANCEL ? "CANCEL" : "?";
  }
  tav_test::ScratchDir dir_;
  std::string output_;
};

// Shown with their state; an empty line confirms, "q" and the end cancel.
TEST_F(Form, ShowsControlsAndAnswersToggleEditConfirmAndCancel) {
  EXPECT_EQ(run("\n"), "OK 1 0 2");
  for (const char* shown :
       {"Form\n", "  1) [x] First & more\n", "      A label\n",
        "  2)     Number: 2\n", "  3) [ ] Third  (off)\n", "  a) About...\n",
        "HELP-LINE"})
    EXPECT_NE(output_.find(shown), std::string::npos) << shown << output_;
  EXPECT_EQ(run("1\n1\n2\n  12 \nok\n"), "OK 1 0 12");
  // 3 is disabled from the start; unchecking 1 disables 2.
  EXPECT_EQ(run("3\n1\n2\n\n"), "OK 0 0 2");
  EXPECT_NE(output_.find("DISABLED"), std::string::npos);
  EXPECT_NE(output_.find("  2)     Number: 2  (off)\n"), std::string::npos);
  // A failed confirm asks for the focused box at once.
  EXPECT_EQ(run("2\nbad\n\n5\n\n"), "OK 1 0 5");
  EXPECT_EQ(run("a\nq\n"), "CANCEL");
  EXPECT_NE(output_.find("About-Title\n  About-Text\n"), std::string::npos)
      << output_;
  for (const char* script : {"1\nQUIT\n", "1\n", "", "2\n", "zz\n"})
    EXPECT_EQ(run(script), "CANCEL") << script;
  EXPECT_NE(output_.find("NOT-IN-LIST"), std::string::npos);
}

}  // namespace
