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
#include "platform/net.h"

inline constexpr int kRouteRequestSize = 24;
inline constexpr int kRouteReplyBufferSize = 504;
inline constexpr int kRouteEntrySize = 20;
inline constexpr uint16_t kRipPort = 520;
inline constexpr int kMaxRouteEntries =
    (kRouteReplyBufferSize - 4) / kRouteEntrySize;
inline constexpr uint16_t kIpFamily = 2;

// One 20-byte entry of a reply. Addresses and masks in network byte order.
struct RouteEntry {
  uint16_t family;     // 2 = IP; 0xFFFF: a version-2 authentication entry
  uint16_t route_tag;  // zero in version 1
  uint32_t address;
  uint32_t mask;      // zero in version 1
  uint32_t next_hop;  // zero in version 1
  uint32_t metric;    // host order
};

// A response read from its bytes: the version and its complete entries.
struct RouteReply {
  int version;
  int entry_count;
  RouteEntry entries[kMaxRouteEntries];
};

void build_route_request(uint8_t out[kRouteRequestSize]);

// False unless `data` is a response (command 2) of 24 to 504 bytes; then
// fills *out with the entries before the first incomplete one.
bool parse_route_reply(const uint8_t* data, int length, RouteReply* out);

// Fills entry 0 with the local interface and runs the route probe on it;
// returns the number of entries (0 when the host has no address: nothing
// is then probed).
int build_network_table(NetworkEntry* table, int capacity, uint32_t hop_limit);

// Sends the request to the broadcast address of entry `index`, takes the
// replies for about a second and returns the new count (unchanged when the
// socket, bind or send fails).
int probe_routes(NetworkEntry* table, int index, int count, int capacity,
                 uint32_t hop_limit);

// Handles one received datagram: a response from the RIP port (520) has
// its entries passed to add_route until the table is full; anything else
// is ignored. Returns the new count.
int process_route_reply(NetworkEntry* table, int index, int count, int capacity,
                        uint32_t hop_limit, const uint8_t* data, int length,
                        const net::SockAddrIn& from);

// Adds one announced network unless it is not an IP entry, is already in
// the table, is the default route, or (version 1) is malformed or beyond
// the hop limit. Returns the new count. REQUIRES: count < capacity.
int add_route(NetworkEntry* table, int index, int count, uint32_t hop_limit,
              const RouteEntry& entry, int version);

// ORs the networks added since first_new that share the probed entry's
// natural mask into its mask, and stores the result in all of them.
void refine_guessed_mask(NetworkEntry* table, int index, int first_new,
                         int count);

#endif  // TAV_DISCOVERY_IP_ROUTE_PROBE_H_
