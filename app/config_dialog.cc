#include "app/config_dialog.h"

#include "platform/ui.h"

// Placeholder until the dialog is built.
int run_configuration_dialog() { return IDCANCEL; }
