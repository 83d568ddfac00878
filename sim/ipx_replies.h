// What a simulated IPX unit (or file server) answers, as pure functions of
// its keys: the locator reply, the SAP response and the WDX description.
// The sockets that carry them live in sim/ipx_side.cc. See sim/README.md,
// section "IPX side", for the keys.
#ifndef TAV_SIM_IPX_REPLIES_H_
#define TAV_SIM_IPX_REPLIES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ipx/wire/frame.h"
#include "sim/config.h"

namespace sim {

struct IpxUnit {
  bool file_server = false;
  std::string name;
  uint32_t ip = 0;  // network order
  uint16_t wdx = 0, http = 0;
  std::string description = "Simulated print server";
  int a_items = 0, b_items = 0;
  bool description_nul = true;
  bool locator = true, sap = true;
  bool foreign = false, zero_sockets = false, no_nul = false;
  int sap_entries = 2;
  int delay_ms = 0;
  std::string wdx_reply = "normal";  // normal, silent, close
  int wdx_delay_ms = 0;
};

// The unit of a `unit` entity with ipx=on, or a `fileserver` entity.
IpxUnit ipx_unit_of(const Entity& e);

enum class IpxQuery { kNone, kLocator, kSap };
// What a datagram to the locator socket (`locator`) or the SAP socket asks;
// the server type of a SAP query in *sap_type.
IpxQuery read_ipx_query(const uint8_t* data, size_t size, bool locator,
                        uint16_t* sap_type);
// Whether `u` answers a SAP query for `sap_type`.
bool answers_sap(const IpxUnit& u, uint16_t sap_type);

std::vector<uint8_t> locator_reply(const IpxUnit& u);
// The unit's entries at `node` (network and node; the socket is each
// entry's own).
std::vector<uint8_t> sap_response(const IpxUnit& u, const ipx::Address& node);
std::vector<uint8_t> description_reply(const IpxUnit& u);

}  // namespace sim

#endif  // TAV_SIM_IPX_REPLIES_H_
