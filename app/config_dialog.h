// The configuration dialog of "-Configure": switches IP and IPX discovery
// on or off and sets the hop limit of IP discovery, stored in the settings.
//
// ConfigDialog is the handler of dialog template 102: control 1000 the hop
// count, 1013 the IP search check box, 1012 the IPX search check box
// (disabled without an IPX/SPX stack). Confirming validates the hop count
// (text 102 when it is invalid and IP search is on) and writes the three
// settings, showing text 103 for each that cannot be written; cancelling
// writes nothing. Runs on one thread.
#ifndef TAV_APP_CONFIG_DIALOG_H_
#define TAV_APP_CONFIG_DIALOG_H_

#include <string>

#include "platform/ui.h"

inline constexpr int IDD_CONFIG_DIALOG = 102;
inline constexpr int IDC_MAX_HOPS = 1000;
inline constexpr int IDC_IPX_SEARCH = 1012;
inline constexpr int IDC_IP_SEARCH = 1013;
inline constexpr int IDM_ABOUTBOX = 16;

// Not empty, decimal digits only, 0 to 15.
bool is_valid_hop_count(const std::string& text);

class ConfigDialog : public DialogHandler {
 public:
  bool OnInitDialog(DialogWindow& w) override;
  void OnClicked(DialogWindow& w, int control_id) override;
  void OnSysCommand(DialogWindow& w, int command_id) override;
  bool OnOK(DialogWindow& w) override;

 private:
  std::string hop_text_;
  int ip_search_ = 0;
  int ipx_search_ = 0;
};

// Shows the dialog modally; IDOK or IDCANCEL.
int run_configuration_dialog();

#endif  // TAV_APP_CONFIG_DIALOG_H_
