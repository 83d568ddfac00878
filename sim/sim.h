// The unit simulator: plays one or more units on a test or demo network.
// Each protocol side lives in its own module (sim/web_*, sim/snmp_*,
// sim/rip_*, sim/ipx_*); sim/main.cc is the command line.
#ifndef TAV_SIM_SIM_H_
#define TAV_SIM_SIM_H_

namespace sim {

// The simulator's version text.
const char* version();

}  // namespace sim

#endif  // TAV_SIM_SIM_H_
