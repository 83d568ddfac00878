#include "app/config_dialog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "gateway/listener.h"
#include "platform/catalogue.h"
#include "platform/settings_store.h"
#include "tests/platform/scratch.h"

namespace {

using tav_test::ScopedEnv;
using tav_test::ScratchHive;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// The dialog's controls as plain state.
class FakeWindow : public DialogWindow {
 public:
  std::string get_text(int id) override { return text[id]; }
  void set_text(int id, const std::string& t) override { text[id] = t; }
  int get_check(int id) override { return check[id]; }
  void set_check(int id, int c) override { check[id] = c; }
  void enable(int id, bool e) override { enabled[id] = e; }
  bool is_enabled(int id) override {
    return enabled.count(id) == 0 || enabled[id];
  }
  void set_focus(int id) override { focus = id; }
  void append_system_menu(int command, const std::string& t) override {
    menu.push_back({command, t});
  }
  std::map<int, std::string> text;
  std::map<int, int> check;
  std::map<int, bool> enabled;
  int focus = 0;
  std::vector<std::pair<int, std::string>> menu;
};

void store(const char* name, const char* value) {
  CaptureStdout();
  create_key(kTavKeyPath, name, value, static_cast<int>(strlen(value) + 1));
  GetCapturedStdout();
}

std::string stored(const char* name) {
  char value[100];
  CaptureStdout();
  int rc = qel_get_registry_string(kTavKeyPath, name, value, sizeof value);
  GetCapturedStdout();
  return rc == 0 ? value : "<absent>";
}

class ConfigDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(catalogue_load((std::filesystem::path(__FILE__).parent_path() /
                                "../../catalogue/resc.cat")
                                   .string()));
  }
  // Runs the dialog's initialisation; the reports it prints are dropped.
  void init() {
    CaptureStdout();
    dialog_.OnInitDialog(window_);
    GetCapturedStdout();
  }
  bool confirm() {
    CaptureStdout();
    bool closed = dialog_.OnOK(window_);
    stdout_ = GetCapturedStdout();
    return closed;
  }
  ScratchHive hive_;
  ScopedEnv no_ipx_{"TAV_IPX", "off"};
  ConfigDialog dialog_;
  FakeWindow window_;
  std::string stdout_;
};

TEST(HopCount, AcceptsDecimalZeroToFifteenOnly) {
  for (const char* ok : {"0", "2", "15", "007", "0015"})
    EXPECT_TRUE(is_valid_hop_count(ok)) << ok;
  for (const char* bad :
       {"", "16", "-1", "3a", " 3", "3 ", "+3", "99999999999999999999"})
    EXPECT_FALSE(is_valid_hop_count(bad)) << bad;
}

TEST_F(ConfigDialogTest, FirstRunShowsDefaultsWithoutIpxStack) {
  init();
  EXPECT_EQ(window_.text[IDC_MAX_HOPS], "2");
  EXPECT_EQ(window_.check[IDC_IP_SEARCH], 1);
  EXPECT_EQ(window_.check[IDC_IPX_SEARCH], 0);
  EXPECT_FALSE(window_.is_enabled(IDC_IPX_SEARCH));
  EXPECT_TRUE(window_.is_enabled(IDC_MAX_HOPS));
  ASSERT_EQ(window_.menu.size(), 1u);
  EXPECT_EQ(window_.menu[0].first, 16);
  EXPECT_EQ(window_.menu[0].second, catalogue_text(101));
}

TEST_F(ConfigDialogTest, InvalidStoredHopCountsShowAsTwo) {
  for (const char* bad : {"16", "-1", "", "3a"}) {
    store("Discovery Max Hops", bad);
    init();
    EXPECT_EQ(window_.text[IDC_MAX_HOPS], "2") << bad;
  }
  store("Discovery Max Hops", "15");
  init();
  EXPECT_EQ(window_.text[IDC_MAX_HOPS], "15");
}

TEST_F(ConfigDialogTest, StoredNoInAnyCaseUnchecksIpAndDisablesHops) {
  store("Enable IP Search", "nO");
  store("Enable IPX Search", "Yes");  // ignored without a stack
  init();
  EXPECT_EQ(window_.check[IDC_IP_SEARCH], 0);
  EXPECT_FALSE(window_.is_enabled(IDC_MAX_HOPS));
  EXPECT_EQ(window_.check[IDC_IPX_SEARCH], 0);

  // Checking IP enables the hop box at once, unchecking disables it.
  window_.check[IDC_IP_SEARCH] = 1;
  dialog_.OnClicked(window_, IDC_IP_SEARCH);
  EXPECT_TRUE(window_.is_enabled(IDC_MAX_HOPS));
  window_.check[IDC_IP_SEARCH] = 0;
  dialog_.OnClicked(window_, IDC_IP_SEARCH);
  EXPECT_FALSE(window_.is_enabled(IDC_MAX_HOPS));
}

TEST_F(ConfigDialogTest, ConfirmWritesAllThreeSettings) {
  init();
  window_.text[IDC_MAX_HOPS] = "07";
  CaptureStderr();
  EXPECT_TRUE(confirm());
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(stored("Discovery Max Hops"), "7");
  EXPECT_EQ(stored("Enable IP Search"), "Yes");
  EXPECT_EQ(stored("Enable IPX Search"), "No");  // no IPX stack
}

TEST_F(ConfigDialogTest, InvalidHopWithIpOnShowsMessageAndWritesNothing) {
  init();
  window_.text[IDC_MAX_HOPS] = "16";
  CaptureStderr();
  EXPECT_FALSE(confirm());
  EXPECT_EQ(GetCapturedStderr(), "tav: " + catalogue_text(102) + "\n");
  EXPECT_EQ(window_.focus, IDC_MAX_HOPS);
  EXPECT_FALSE(std::filesystem::exists(hive_.path()));
}

TEST_F(ConfigDialogTest, InvalidHopWithIpOffIsSavedAsTwoSilently) {
  init();
  window_.check[IDC_IP_SEARCH] = 0;
  window_.text[IDC_MAX_HOPS] = "abc";
  CaptureStderr();
  EXPECT_TRUE(confirm());
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(stored("Discovery Max Hops"), "2");
  EXPECT_EQ(stored("Enable IP Search"), "No");
}

TEST_F(ConfigDialogTest, EachFailedWriteShowsItsMessage) {
  init();
  tav_test::write_text(hive_.dir().file("plain"), "x");
  ScopedEnv unwritable("TAV_REGISTRY",
                       hive_.dir().file("plain/registry.reg").c_str());
  CaptureStderr();
  EXPECT_TRUE(confirm());
  std::string line = "tav: " + catalogue_text(103) + "\n";
  EXPECT_EQ(GetCapturedStderr(), line + line + line);
  EXPECT_NE(stdout_.find("create_key() failed.\n"), std::string::npos);
}

TEST_F(ConfigDialogTest, AboutBoxOpensForSystemCommandsSixteenToThirtyOne) {
  CaptureStderr();
  dialog_.OnSysCommand(window_, 15);
  dialog_.OnSysCommand(window_, 32);
  EXPECT_EQ(GetCapturedStderr(), "");
  CaptureStderr();
  dialog_.OnSysCommand(window_, 16);
  EXPECT_NE(GetCapturedStderr().find(catalogue_dialog(100)->title),
            std::string::npos);
}

TEST_F(ConfigDialogTest, IpxBoxFollowsTheStoredValueWithAStack) {
  ScopedEnv ipx("TAV_IPX", nullptr);
  if (!isIpxPresent()) GTEST_SKIP() << "no IPX stack on this host";
  store("Enable IPX Search", "no");
  init();
  EXPECT_TRUE(window_.is_enabled(IDC_IPX_SEARCH));
  EXPECT_EQ(window_.check[IDC_IPX_SEARCH], 0);
  store("Enable IPX Search", "anything");
  init();
  EXPECT_EQ(window_.check[IDC_IPX_SEARCH], 1);
}

// Runs run_configuration_dialog() in a child whose standard input is the
// script; returns its result and the form it showed.
int run_piped(const std::string& script, std::string* form) {
  tav_test::ScratchDir dir;
  std::string in_path = dir.file("in"), err_path = dir.file("err");
  tav_test::write_text(in_path, script);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(in_path.c_str(), O_RDONLY);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int out = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(err, 2);
    dup2(out, 1);
    _exit(run_configuration_dialog());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  *form = tav_test::read_text(err_path);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ConfigDialogTest, PipedAnswersDriveTheForm) {
  std::string form;
  // Invalid hop: message 102, then the hop box is asked for again.
  EXPECT_EQ(run_piped("2\n99\n\n4\n\n", &form), IDOK);
  EXPECT_NE(form.find(catalogue_text(102)), std::string::npos) << form;
  EXPECT_NE(form.find(catalogue_text(901)), std::string::npos);  // IPX box
  EXPECT_EQ(stored("Discovery Max Hops"), "4");
  EXPECT_EQ(stored("Enable IP Search"), "Yes");
  EXPECT_EQ(stored("Enable IPX Search"), "No");

  // Unchecking IP and cancelling, or running out of input, writes nothing.
  std::string before = tav_test::read_text(hive_.path());
  EXPECT_EQ(run_piped("1\nq\n", &form), IDCANCEL);
  EXPECT_EQ(run_piped("1\n", &form), IDCANCEL);
  EXPECT_EQ(tav_test::read_text(hive_.path()), before);

  EXPECT_EQ(run_piped("1\n\n", &form), IDOK);
  EXPECT_EQ(stored("Enable IP Search"), "No");
}

}  // namespace
