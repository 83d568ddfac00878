#include "app/config_dialog.h"

#include <strings.h>

#include <string>

#include "gateway/listener.h"
#include "platform/catalogue.h"
#include "platform/net.h"
#include "platform/settings_store.h"

namespace {

constexpr int kSettingCapacity = 100;
constexpr const char* kMaxHops = "Discovery Max Hops";
constexpr const char* kIpSearch = "Enable IP Search";
constexpr const char* kIpxSearch = "Enable IPX Search";

// Sets *flag from a stored search value when it can be read.
void read_search_flag(const char* name, int* flag) {
  char value[kSettingCapacity];
  if (qel_get_registry_string(kTavKeyPath, name, value, sizeof value) == 0)
    *flag = strcasecmp(value, "No") == 0 ? 0 : 1;
}

// Writes one setting; text 103 when it cannot be written.
void write_setting(const char* name, const std::string& text) {
  if (create_key(kTavKeyPath, name, text.c_str(),
                 static_cast<int>(text.size() + 1)) != 0)
    message_box(103);
}

}  // namespace

bool is_valid_hop_count(const std::string& text) {
  if (text.empty()) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > 15) return false;
  }
  return true;
}

bool ConfigDialog::OnInitDialog(DialogWindow& w) {
  std::string about = catalogue_text(101);
  if (!about.empty()) w.append_system_menu(IDM_ABOUTBOX, about);

  hop_text_ = "2";
  char value[kSettingCapacity];
  if (qel_get_registry_string(kTavKeyPath, kMaxHops, value, sizeof value) ==
      0) {
    hop_text_ = value;
    if (!is_valid_hop_count(hop_text_)) hop_text_ = "2";
  }

  net::WSAStartup(0x0002);
  if (isIpxPresent()) {
    ipx_search_ = 1;
    read_search_flag(kIpxSearch, &ipx_search_);
  } else {
    w.enable(IDC_IPX_SEARCH, false);
    ipx_search_ = 0;
  }
  net::WSACleanup();

  ip_search_ = 1;
  read_search_flag(kIpSearch, &ip_search_);

  w.set_text(IDC_MAX_HOPS, hop_text_);
  w.set_check(IDC_IP_SEARCH, ip_search_);
  w.set_check(IDC_IPX_SEARCH, ipx_search_);
  w.enable(IDC_MAX_HOPS, w.get_check(IDC_IP_SEARCH) == 1);
  return true;
}

void ConfigDialog::OnClicked(DialogWindow& w, int control_id) {
  if (control_id == IDC_IP_SEARCH)
    w.enable(IDC_MAX_HOPS, w.get_check(IDC_IP_SEARCH) == 1);
}

void ConfigDialog::OnSysCommand(DialogWindow& /*w*/, int command_id) {
  if (command_id >= 16 && command_id <= 31) show_about_box();
}

bool ConfigDialog::OnOK(DialogWindow& w) {
  hop_text_ = w.get_text(IDC_MAX_HOPS);
  ip_search_ = w.get_check(IDC_IP_SEARCH);
  ipx_search_ = w.get_check(IDC_IPX_SEARCH);
  int hops = 2;
  if (is_valid_hop_count(hop_text_)) {
    hops = std::stoi(hop_text_);
  } else if (ip_search_) {
    message_box(102);
    w.set_focus(IDC_MAX_HOPS);
    return false;
  }
  write_setting(kMaxHops, std::to_string(hops));
  write_setting(kIpSearch, ip_search_ ? "Yes" : "No");
  write_setting(kIpxSearch, ipx_search_ ? "Yes" : "No");
  return true;
}

int run_configuration_dialog() {
  ConfigDialog dialog;
  return DoModal(IDD_CONFIG_DIALOG, dialog);
}
