// IPX discovery: finds the units of the local IPX network (NetWare bindery,
// or the locator and SAP broadcasts), describes them over SPX, and sorts
// the IPX unit list. Returns the IPX unit count, or -1 when there is no IPX
// stack. Runs on the discovery thread; the caller holds a DiscoveryRun, and
// nothing here runs outside one (the probes it starts have all ended when
// it returns).
//
// The steps are exposed for tests; each works on the list it is given.
#ifndef TAV_DISCOVERY_IPX_IPX_DISCOVERY_H_
#define TAV_DISCOVERY_IPX_IPX_DISCOVERY_H_

#include <cstdint>

#include "discovery/units.h"
#include "platform/net.h"

inline constexpr uint16_t kSapSocket = 0x0452;
inline constexpr uint16_t kLocatorSocket = 0x8449;
inline constexpr uint16_t kFileServerType = 0x0004;
inline constexpr uint16_t kUnitServiceType = 0x0414;
inline constexpr int kLocatorReplySize = 34;
inline constexpr int kSapEntrySize = 64;
inline constexpr int kSapResponseSize = 2 + 7 * kSapEntrySize;

int discover_units_using_ipx();

// 1 when anything answers a SAP query for file servers within 2 s, else -1.
int file_servers_present();
// The local IPX network number, or 0 on failure.
void get_local_ipx_network(uint8_t out[4]);
// Family 6, the local network, node FF..FF, the given socket (host order).
net::SockAddrIpx broadcast_destination(uint16_t socket);
// 0 with a broadcasting datagram socket in *out, or -1.
int open_locator_socket(net::Socket* out);
void send_locator_query(net::Socket s, net::SockAddrIpx destination);
// Collects locator replies into list from count 0; closes the socket.
void collect_locator_replies(IpxUnitRecord* list, net::Socket s, int* count,
                             int capacity);
void accept_locator_reply(IpxUnitRecord* list, net::Socket s, int* count,
                          int capacity);
// Two passes of the SAP query for the unit service type, merged into list.
void sap_query_units(IpxUnitRecord* list, int* count, int capacity);
// Reads one SAP response and merges at most free_room of its entries.
void accept_sap_response(net::Socket s, IpxUnitRecord* list, int* count,
                         int free_room);
// Index of the first of the first n entries named `name`, or -1.
int find_ipx_unit(const IpxUnitRecord* list, const char* name, int n);
// Starts one probe per entry of the IPX unit list, at most probe_limit at
// once, and waits until all have ended (at least one 1000 ms sleep).
void run_probes(int count);

#endif  // TAV_DISCOVERY_IPX_IPX_DISCOVERY_H_
