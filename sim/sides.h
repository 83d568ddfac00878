// The protocol sides of the simulator. Each starts its own threads for the
// entities it plays and returns false (with a message on standard error)
// when it cannot start, e.g. a port it needs is taken.
#ifndef TAV_SIM_SIDES_H_
#define TAV_SIM_SIDES_H_

#include "sim/config.h"

namespace sim {

bool start_web_side(const Config& config);   // HTTP over SPX (web_side.cc)
bool start_snmp_side(const Config& config);  // SNMP v1 agent (snmp_side.cc)
bool start_rip_side(const Config& config);   // RIP responder (rip_side.cc)
bool start_ipx_side(const Config& config);   // locator, SAP, WDX (ipx_side.cc)

}  // namespace sim

#endif  // TAV_SIM_SIDES_H_
