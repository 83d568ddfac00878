// Any datagram as a reply to each of the five SNMP requests: the checks
// read no byte beyond those received, and what they take fits its field.
#include "discovery/ip/snmp_codec.h"
#include "discovery/ip/unit_probe.h"
#include "discovery/ip/unit_queries.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2000) return 0;  // the largest receive buffer
  const int n = static_cast<int>(size);
  UnitRecord list[2] = {};
  const net::SockAddrIn from = net::make_addr_in(0x0100000A, 161);
  candidate_count = 0;
  int count = handle_hardware_reply(data, n, from, list, 2, 0);
  count = apply_unit_number_reply(data, n, net::make_addr_in(0x0200000A, 161),
                                  list, 2, count);
  apply_unit_port_reply(data, n, from, list, count);
  apply_unit_name_reply(data, n, from, list, count);
  fuzz::require(count == 0 || list[0].name[0] != '\0');
  apply_system_description_reply(data, n, &list[0]);
  char small[2];
  check_system_description_reply(data, n, small, sizeof small);
  return 0;
}
