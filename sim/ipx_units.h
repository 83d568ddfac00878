// IPX in Ethernet frames for the simulator: each unit (or file server) is a
// node of its own on one interface, played by a stack of its own
// (ipx/host/stack.h) that answers to the unit's node number and hears
// and sends only the unit's frame types. The stacks are registered with
// platform/net, so the sides use the ordinary socket calls on their
// descriptors, and live as long as the process.
//
// Used when the platform's IPX mode is ethernet (TAV_IPX, as for the
// program). Keys: `ipx-node` (12 hex digits, '-' or ':' allowed; default
// 00 00 followed by the unit's IPv4 address, the node it has over IPv4 too)
// and `frame` (the frame types, as TAV_IPX_FRAMES: a list of ethernet_ii,
// 802.3, 802.2, snap joined by '+' or ';'; default ethernet_ii), and
// `ipx-interface` and `ipx-network` as the globals below, for this unit (a
// unit on a segment behind a router), and `ipx-networks` (a `;` list of
// FRAME:HEX: the network of each of its frame types). Globals:
// `--ipx-interface=NAME` (default: the interface of the host's own
// address) and `--ipx-network=HEX` (the network number the units know from
// the start; default: learned from the LAN, 0 until then) and
// `--ipx-loss=DROP[/REORDER]` (percent of the frames each node sends and
// receives that are dropped, and that are passed on after the next one: a
// lossy wire).
#ifndef TAV_SIM_IPX_UNITS_H_
#define TAV_SIM_IPX_UNITS_H_

#include <string>

#include "ipx/host/stack.h"
#include "sim/config.h"

namespace sim {

// Hex digits to bytes, skipping '-' and ':'; false unless exactly `n`.
bool parse_hex(const std::string& text, uint8_t* out, size_t n);

// True when the simulator plays IPX in Ethernet frames.
bool ipx_in_frames();

// The stack of the unit `e` (made on first use; one per node number);
// nullptr with a message in *error when it cannot be had.
ipx::Stack* unit_stack(const Config& config, const Entity& e,
                       std::string* error);

}  // namespace sim

#endif  // TAV_SIM_IPX_UNITS_H_
