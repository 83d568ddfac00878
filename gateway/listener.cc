#include "gateway/listener.h"

// Placeholder until the gateway is built.
int gateway_listener() { return 0; }
int isIpxPresent() { return 0; }
