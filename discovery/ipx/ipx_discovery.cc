#include "discovery/ipx/ipx_discovery.h"

// Placeholder until IPX discovery is built: no unit is found.
int discover_units_using_ipx() { return 0; }
