// The route probe: asks the routers of a network for their whole table
// (RIP version 1 request, UDP port 520) and appends the networks announced
// within the hop limit to the network table; a guessed local mask is
// refined from the announced subnets.
//
// Runs on the discovery thread only.
#ifndef TAV_DISCOVERY_IP_ROUTE_PROBE_H_
#define TAV_DISCOVERY_IP_ROUTE_PROBE_H_

#include <cstdint>

#include "discovery/ip/network_table.h"

inline constexpr int kRouteRequestSize = 24;
inline constexpr int kRouteReplyBufferSize = 504;
inline constexpr int kRouteEntrySize = 20;
inline constexpr uint16_t kRipPort = 520;

void build_route_request(uint8_t out[kRouteRequestSize]);

// Sends the request to the broadcast address of entry `index`, takes the
// replies for about a second and returns the new count (unchanged when the
// socket, bind or send fails).
int probe_routes(NetworkEntry* table, int index, int count, int capacity,
                 uint32_t hop_limit);

// Handles one received datagram: a response (command 2) of at least 24
// bytes has its complete entries passed to add_route until the table is
// full. Returns the new count.
int process_route_reply(NetworkEntry* table, int index, int count, int capacity,
                        uint32_t hop_limit, const uint8_t* data, int length);

// Adds one announced network (a 20-byte reply entry) unless it is already
// in the table, the default route, or (version 1) malformed or beyond the
// hop limit. Returns the new count. REQUIRES: count < capacity.
int add_route(NetworkEntry* table, int index, int count, uint32_t hop_limit,
              const uint8_t* entry, int version);

// ORs the networks added since first_new that share the probed entry's
// natural mask into its mask, and stores the result in all of them.
void refine_guessed_mask(NetworkEntry* table, int index, int first_new,
                         int count);

#endif  // TAV_DISCOVERY_IP_ROUTE_PROBE_H_
