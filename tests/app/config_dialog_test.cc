// The configuration dialog against a fake window (GTK: the desktop suite).
#include "app/config_dialog.h"

#include <map>

#include "platform/catalogue.h"
#include "tests/app/tav_process.h"

namespace tav_test {
namespace {

// The dialog's controls as plain state.
struct FakeWindow : DialogWindow {
  std::string get_text(int id) override { return text[id]; }
  void set_text(int id, const std::string& t) override { text[id] = t; }
  int get_check(int id) override { return check[id]; }
  void set_check(int id, int c) override { check[id] = c; }
  void enable(int id, bool e) override { enabled[id] = e; }
  bool is_enabled(int id) override { return !enabled.count(id) || enabled[id]; }
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

class ConfigDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { catalogue_load(build_dir() + "/resc.cat"); }
  // Initialises the dialog: "<hops> IP<+|-> IPX<+|->", "(off)" if disabled.
  std::string Init() {
    stdout_of([&] { dialog_.OnInitDialog(w_); });
    auto box = [&](int id, const char* name) {
      return name + std::string(w_.check[id] ? "+" : "-") + Off(id);
    };
    return w_.text[IDC_MAX_HOPS] + Off(IDC_MAX_HOPS) +
           box(IDC_IP_SEARCH, " IP") + box(IDC_IPX_SEARCH, " IPX");
  }
  std::string Off(int id) { return w_.is_enabled(id) ? "" : "(off)"; }
  // Confirms with this hop text: whether it closed; what it showed in err_.
  bool Confirm(const char* hops) {
    w_.text[IDC_MAX_HOPS] = hops;
    bool closed = false;
    err_ = stderr_of([&] { closed = dialog_.OnOK(w_); });
    return closed;
  }
  static std::string Saved() {
    return stored("Discovery Max Hops") + " " + stored("Enable IP Search") +
           " " + stored("Enable IPX Search");
  }
  ScratchHive hive_;
  ScopedEnv no_ipx_{"TAV_IPX", "off"};
  ConfigDialog dialog_;
  FakeWindow w_;
  std::string err_;
};

// First-run defaults without IPX; the IP box enables the hop box and text.
TEST_F(ConfigDialogTest, HopBoxFollowsTheIpBoxAndOnlyValidSettingsAreSaved) {
  EXPECT_EQ(Init(), "2 IP+ IPX-(off)");
  EXPECT_EQ(w_.menu, (decltype(w_.menu){{16, catalogue_text(101)}}));
  EXPECT_TRUE(Confirm("07"));
  EXPECT_EQ(err_ + Saved(), "7 Yes No");
  store("Enable IP Search", "nO");
  store("Enable IPX Search", "Yes");  // ignored without a stack
  EXPECT_EQ(Init(), "7(off) IP- IPX-(off)");
  w_.check[IDC_IP_SEARCH] = 1;
  dialog_.OnClicked(w_, IDC_IP_SEARCH);
  EXPECT_EQ(Off(IDC_MAX_HOPS), "");
  EXPECT_FALSE(Confirm("16"));
  EXPECT_EQ(err_, shown(102));
  EXPECT_EQ(w_.focus, IDC_MAX_HOPS);
  EXPECT_EQ(Saved(), "7 nO Yes") << "nothing written";
  w_.check[IDC_IP_SEARCH] = 0;
  dialog_.OnClicked(w_, IDC_IP_SEARCH);
  EXPECT_EQ(Off(IDC_MAX_HOPS), "(off)");
  EXPECT_TRUE(Confirm("abc"));
  EXPECT_EQ(err_ + Saved(), "2 No No");
  // Stored hop counts that are not 0 to 15 in plain digits show as 2.
  store("Enable IP Search", "Yes");
  for (std::string hops :
       {"16", "-1", "", "3a", " 3", "+3", "9999999999", "15"}) {
    store("Discovery Max Hops", hops);
    EXPECT_EQ(Init(),
              (hops == "15" ? "15" : "2") + std::string(" IP+ IPX-(off)"))
        << hops;
  }
  // Each failed write shows message 103.
  write_text(hive_.dir().file("plain"), "x");
  ScopedEnv unwritable("TAV_REGISTRY",
                       hive_.dir().file("plain/registry.reg").c_str());
  EXPECT_TRUE(Confirm("2"));
  EXPECT_EQ(err_, shown(103) + shown(103) + shown(103));
}

}  // namespace
}  // namespace tav_test
