// A hostile unit for robustness tests: it answers every discovery probe of
// the program (SNMP, RIP, locator, SAP, the WDX description over SPX) and
// every gateway request (HTTP over SPX) with replies made to break parsers,
// and it floods every socket that probed it with junk datagrams, so that a
// listen loop that waits for silence would never end.
//
// The replies are pure functions of the request (this file); the sockets
// and the flood live in sim/hostile_side.cc. See sim/README.md, section
// "Hostile unit", for the keys and what each reply holds.
#ifndef TAV_SIM_HOSTILE_H_
#define TAV_SIM_HOSTILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/web_pages.h"

namespace sim {

struct HostileUnit {
  std::string name = "Hostile";  // its one well-formed name
  uint32_t ip = 0;               // network order
  uint16_t wdx = 16384;          // TCP port of its description service
  uint16_t http = 16385;         // TCP port of its web server
  long flood_ms = 400;           // junk to every prober this often; 0: none
  long hold_ms = 20000;          // how long /silent.htm keeps quiet
};

// Reads a --hostile entity; false with *error on a bad key.
bool hostile_unit_from_entity(const Entity& entity, HostileUnit* unit,
                              std::string* error);

// One datagram to send back; `other_port`: from a port other than the one
// the request came in on.
struct HostileDatagram {
  std::vector<uint8_t> bytes;
  bool other_port = false;
};

// The answers to one request that arrived on UDP `port` (161 SNMP, 520 RIP,
// 1106 SAP, 33865 locator); empty for a datagram that is no request.
std::vector<HostileDatagram> hostile_replies(const HostileUnit& unit,
                                             uint16_t port,
                                             const uint8_t* request,
                                             size_t length);

// Junk datagram number i of the flood (they cycle).
std::vector<uint8_t> hostile_junk(unsigned i);

// Description reply number i (they cycle, one per connection).
std::vector<uint8_t> hostile_description(unsigned i);

// The web server's reply to `path` (see sim/README.md for the pages).
WebReply make_hostile_web_reply(const HostileUnit& unit,
                                const std::string& path);

}  // namespace sim

#endif  // TAV_SIM_HOSTILE_H_
