#include "app/install_mode.h"

// Placeholder until install mode is built.
int run_install_mode() { return -1; }
