// The discovery driver: the one entry into discovery.
//
// discover_units() reads the discovery settings, runs IPX discovery and then
// IP discovery as they allow, and returns both counts (0 for a disabled or
// empty search; the IPX count is -1 when IPX discovery fails).
// discover_units_using_ip() runs IP discovery alone (also used by install
// mode) and returns the IP unit count. Each call holds a DiscoveryRun, so
// runs from different threads never overlap; both publish the lists they
// rebuilt (units/units.h).
#ifndef TAV_DISCOVERY_DRIVER_H_
#define TAV_DISCOVERY_DRIVER_H_

#include <cstdint>

#include "units/units.h"

void discover_units(int* ipx_count, int* ip_count);
int discover_units_using_ip(uint32_t hop_limit);
int run_ip_probes(UnitRecord* list, int capacity, uint32_t hop_limit,
                  int starting_count);

// The hop limit of a "Discovery Max Hops" read: 2 when the read failed,
// else the text's leading decimal integer as an unsigned number (0 for text
// without one; -1 gives 0xFFFFFFFF, which admits every route).
uint32_t hop_limit_from_setting(bool read_ok, const char* text);

#endif  // TAV_DISCOVERY_DRIVER_H_
