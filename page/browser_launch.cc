#include "page/browser_launch.h"

// Placeholder until the browser launch is built.
int launch_browser(const char*, const char*) { return -1; }
