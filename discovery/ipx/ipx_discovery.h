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

#include "ipx/wire/sap.h"
#include "platform/net.h"
#include "units/units.h"

inline constexpr uint16_t kLocatorSocket = 0x8449;
inline constexpr uint16_t kUnitServiceType = 0x0414;
inline constexpr int kLocatorReplySize = 34;
inline constexpr int kLocatorNameSize = 20;
inline constexpr int kMaxSapServers = ipx::kSapMaxEntries;

// A locator reply as read from its bytes. Sockets in network byte order.
struct LocatorReply {
  char name[kLocatorNameSize + 1];
  uint16_t wdx_port;
  uint16_t http_port;
};

// False when the reply is to be ignored: longer than 34 bytes (too long
// for the receive buffer), another signature, no HTTP socket, or no name
// (the name is what arrived of its 20 bytes, up to its NUL).
bool parse_locator_reply(const uint8_t* data, int length, LocatorReply* out);

// One server entry of a SAP General Service Response.
struct SapServer {
  char name[sizeof(IpxUnitRecord::name)];  // empty when it had no NUL
  net::SockAddrIpx address;                // family 6
};

// The server entries of a response: 0 when it is to be ignored (not a
// General Service Response, or under 64 or over 450 bytes), else
// k = length / 64 entries in `out`.
int parse_sap_response(const uint8_t* data, int length,
                       SapServer out[kMaxSapServers]);

int discover_units_using_ipx();

// 1 when anything answers a SAP query for file servers within 2 s, else -1.
int file_servers_present();
// The local IPX network number, or 0 on failure. In Ethernet frames, where
// each frame type is a network of its own: that of the type the first unit
// answered in, else of the first learnt.
void get_local_ipx_network(uint8_t out[4]);
// Family 6, the local network, node FF..FF, the given socket (host order).
net::SockAddrIpx broadcast_destination(uint16_t socket);
// 0 with a broadcasting datagram socket in *out, or -1.
int open_locator_socket(net::OwnedSocket* out);
void send_locator_query(net::Socket s, net::SockAddrIpx destination);
// Collects locator replies into list from count 0, for 2 s after the last
// one and at most about 4 s in all; closes the socket.
void collect_locator_replies(IpxUnitRecord* list, net::OwnedSocket s,
                             int* count, int capacity);
// Adds the unit of one locator reply from `source` when the list has room
// and the same node has not answered the same (under another network).
void accept_locator_reply(IpxUnitRecord* list, int* count, int capacity,
                          const uint8_t* data, int length,
                          const net::SockAddrIpx& source);
// Two passes of the SAP query for the unit service type, merged into list.
// A pass ends 1 s after the last response, and at the latest about 6 s
// after its query.
void sap_query_units(IpxUnitRecord* list, int* count, int capacity);
// Merges at most free_room server entries of one response into list;
// entries without a name are skipped.
void accept_sap_response(const uint8_t* data, int length, IpxUnitRecord* list,
                         int* count, int free_room);
// Index of the first of the first n entries named `name`, or -1.
int find_ipx_unit(const IpxUnitRecord* list, const char* name, int n);
// Starts one probe per entry of the IPX unit list, at most probe_limit at
// once, and waits until all have ended (at least one 1000 ms sleep).
void run_probes(int count);

#endif  // TAV_DISCOVERY_IPX_IPX_DISCOVERY_H_
