// The configuration dialog of "-Configure": switches IP and IPX discovery
// on or off and sets the hop limit of IP discovery, stored in the settings.
// run_configuration_dialog() shows it modally and returns IDOK or IDCANCEL.
#ifndef TAV_APP_CONFIG_DIALOG_H_
#define TAV_APP_CONFIG_DIALOG_H_

int run_configuration_dialog();

#endif  // TAV_APP_CONFIG_DIALOG_H_
