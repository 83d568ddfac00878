#include "platform/ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/catalogue.h"
#include "tests/platform/scratch.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A form template of two check boxes, an edit box and a label.
const char kCatalogue[] =
    "[texts]\n"
    "42 = Something went wrong.\n"
    "900 = HELP-LINE\n901 = (off)\n902 = New value:\n903 = NOT-IN-LIST\n"
    "904 = DISABLED\n"
    "[dialog 7]\n"
    "title = Form\n"
    "control 1 button = OK\n"
    "control 10 check = &First && more\n"
    "control 11 text = A label\n"
    "control 20 edit = &Number\n"
    "control 30 check = Third\n"
    "[dialog 100]\n"
    "title = About-Title\n"
    "control 5 text = About-Text\n";

// Records what the form did to it; OnOK succeeds when `accept` says so.
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
    clicks.push_back(id);
    if (id == 10) w.enable(20, w.get_check(10) == 1);
  }
  void OnSysCommand(DialogWindow&, int id) override {
    commands.push_back(id);
    show_about_box();
  }
  bool OnOK(DialogWindow& w) override {
    ++ok_calls;
    first = w.get_check(10);
    number = w.get_text(20);
    third = w.get_check(30);
    if (number == "bad") {
      w.set_focus(20);
      return false;
    }
    return true;
  }
  std::vector<int> clicks, commands;
  int ok_calls = 0, first = -1, third = -1;
  std::string number;
};

class Form : public ::testing::Test {
 protected:
  void SetUp() override {
    tav_test::write_text(dir_.file("f.cat"), kCatalogue);
    ASSERT_TRUE(catalogue_load(dir_.file("f.cat")));
  }
  // Runs the form on a script of answers; the transcript in output_.
  int run(const std::string& script) {
    FILE* in = fmemopen(const_cast<char*>(script.data()), script.size(), "r");
    if (script.empty()) in = std::fopen("/dev/null", "r");
    FILE* out = std::tmpfile();
    int result = DoModal(7, handler_, in, out);
    std::rewind(out);
    output_.clear();
    int c;
    while ((c = std::fgetc(out)) != EOF)
      output_.push_back(static_cast<char>(c));
    std::fclose(in);
    std::fclose(out);
    return result;
  }
  tav_test::ScratchDir dir_;
  Recorder handler_;
  std::string output_;
};

TEST_F(Form, ShowsControlsWithTheirStateAndConfirmsWithAnEmptyLine) {
  EXPECT_EQ(run("\n"), IDOK);
  EXPECT_NE(output_.find("Form\n"), std::string::npos) << output_;
  EXPECT_NE(output_.find("  1) [x] First & more\n"), std::string::npos)
      << output_;
  EXPECT_NE(output_.find("      A label\n"), std::string::npos);
  EXPECT_NE(output_.find("  2)     Number: 2\n"), std::string::npos);
  EXPECT_NE(output_.find("  3) [ ] Third  (off)\n"), std::string::npos);
  EXPECT_NE(output_.find("  a) About...\n"), std::string::npos);
  EXPECT_NE(output_.find("HELP-LINE"), std::string::npos);
  EXPECT_EQ(handler_.ok_calls, 1);
  EXPECT_EQ(handler_.first, 1);
  EXPECT_EQ(handler_.number, "2");
}

TEST_F(Form, TogglesChecksEditsTextAndReportsClicks) {
  EXPECT_EQ(run("1\n1\n2\n  12 \nok\n"), IDOK);
  EXPECT_EQ(handler_.clicks, (std::vector<int>{10, 10}));
  EXPECT_EQ(handler_.first, 1);
  EXPECT_EQ(handler_.number, "12");
  // An empty answer keeps the text.
  EXPECT_EQ(run("2\n\n\n"), IDOK);
  EXPECT_EQ(handler_.number, "2");
}

TEST_F(Form, DisabledControlsCannotBeChanged) {
  // 3 is disabled from the start; unchecking 1 disables 2.
  EXPECT_EQ(run("3\n1\n2\n\n"), IDOK);
  EXPECT_NE(output_.find("DISABLED"), std::string::npos);
  EXPECT_NE(output_.find("  2)     Number: 2  (off)\n"), std::string::npos);
  EXPECT_EQ(handler_.third, 0);
  EXPECT_EQ(handler_.first, 0);
  EXPECT_EQ(handler_.number, "2");
}

TEST_F(Form, SystemMenuLetterRunsItsCommand) {
  EXPECT_EQ(run("a\nq\n"), IDCANCEL);
  EXPECT_EQ(handler_.commands, (std::vector<int>{16}));
  EXPECT_NE(output_.find("About-Title\n  About-Text\n"), std::string::npos)
      << output_;
}

TEST_F(Form, CancelAndEndOfInputNeverConfirm) {
  for (const char* script : {"q\n", "1\nQUIT\n", "1\n", "", "2\n", "zz\n"}) {
    handler_.ok_calls = 0;
    EXPECT_EQ(run(script), IDCANCEL) << script;
    EXPECT_EQ(handler_.ok_calls, 0) << script;
  }
  EXPECT_NE(output_.find("NOT-IN-LIST"), std::string::npos);
}

TEST_F(Form, FailedConfirmAsksForTheFocusedBoxAtOnce) {
  EXPECT_EQ(run("2\nbad\n\n5\n\n"), IDOK);
  EXPECT_EQ(handler_.ok_calls, 2);
  EXPECT_EQ(handler_.number, "5");
}

TEST_F(Form, MessageBoxWritesTheTextOnStandardError) {
  CaptureStderr();
  message_box(42);
  message_box(4242);
  message_box_text("plain %s text");
  EXPECT_EQ(GetCapturedStderr(),
            "tav: Something went wrong.\ntav: message 4242\n"
            "tav: plain %s text\n");
}

TEST_F(Form, ProgressWindowIsSilentWhenStandardErrorIsNoTerminal) {
  CaptureStderr();
  {
    ProgressWindow progress;
    progress.set_status("working");
  }
  EXPECT_EQ(GetCapturedStderr(), "");
}

}  // namespace
