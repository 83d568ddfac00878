// IPX routers for the simulator (kind `ipxrouter`, in Ethernet frames only):
// each joins IPX networks, one per port, a port being a frame type on an
// interface (several ports may share one wire), and plays ipx::Router
// there: forwarding between them, RIP and SAP. Units on a segment behind
// it take that segment's `ipx-interface` and `ipx-network` keys. Keys:
// `ipx-node` (its MAC, 12 hex digits; default 02:EE:00:00:00:01),
// `ports` (a `;` list of FRAME:NETWORK@INTERFACE, e.g.
// "ethernet_ii:00BEEF01@b;802.3:00BEEF02@b;ethernet_ii:00000077@c") and
// `ticks` (per hop, default 1). See sim/README.md, "IPX routers".
#ifndef TAV_SIM_IPX_ROUTER_H_
#define TAV_SIM_IPX_ROUTER_H_

#include "sim/config.h"

namespace sim {

// Starts a thread per router for the rest of the process; false with a
// message on standard error when a key is bad or an interface cannot be
// opened. No router: true.
bool start_ipx_routers(const Config& config);

}  // namespace sim

#endif  // TAV_SIM_IPX_ROUTER_H_
