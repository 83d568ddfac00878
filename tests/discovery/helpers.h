// Small verbs shared by the discovery tests: addresses, simulator entities
// written as tav-sim options, unit lists as text.
#ifndef TAV_TESTS_DISCOVERY_HELPERS_H_
#define TAV_TESTS_DISCOVERY_HELPERS_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "discovery/ip/network_table.h"
#include "platform/net.h"
#include "sim/config.h"
#include "sim/rip_responder.h"
#include "sim/snmp_agent.h"
#include "tests/support/netns.h"
#include "tests/support/scratch.h"
#include "units/units.h"

namespace tav_test {

inline uint32_t ip(const char* dotted) { return net::inet_addr(dotted); }

// A simulator configuration from command-line words ("--unit", "name=..."),
// its IPX units on their interface when in frames (unless words say).
inline sim::Config sim_config(std::vector<std::string> words) {
  if (!units_ipx_interface().empty())
    words.insert(words.begin(), "--ipx-interface=" + units_ipx_interface());
  words.insert(words.begin(), "tav-sim");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  sim::Config config;
  std::string error;
  EXPECT_TRUE(sim::parse_command_line(static_cast<int>(argv.size()),
                                      argv.data(), &config, &error))
      << error;
  return config;
}

// The simulator entity that `kind` ("--unit", "--router") and `options`
// give, read by `read` (sim::snmp_unit_from_entity, ...).
template <typename T, typename Read>
T sim_entity(const char* kind, const std::string& options, Read read) {
  sim::Config c = sim_config({kind, options});
  T t{};
  std::string error;
  EXPECT_TRUE(!c.entities.empty() && read(c.entities[0], &t, &error))
      << options << ": " << error;
  return t;
}

// SNMP units, one per string of unit options.
inline std::vector<sim::SnmpUnit> snmp_units(
    const std::vector<std::string>& options) {
  std::vector<sim::SnmpUnit> units;
  for (const std::string& o : options)
    units.push_back(
        sim_entity<sim::SnmpUnit>("--unit", o, sim::snmp_unit_from_entity));
  return units;
}

inline sim::RipRouter rip_router(const std::string& options) {
  return sim_entity<sim::RipRouter>("--router", options,
                                    sim::rip_router_from_entity);
}

// A network table entry for the local interface `address`/`mask`.
inline NetworkEntry local_entry(const char* address, const char* mask,
                                uint32_t guessed = 0) {
  return {ip(address), ip(address) & ip(mask), ip(mask), guessed,
          natural_mask_of(ip(address))};
}

// Starts a simulator side, failing the test with the reason when it cannot.
template <typename Side>
bool started(Side& side) {
  std::string error;
  return side.start(&error) || (ADD_FAILURE() << error, false);
}

// IPX units from..to-1 as "name wdx/http@node", sockets in hex and the
// last node byte, separated by ", "; or one a line with their descriptions.
inline std::string ipx_units(const IpxUnitRecord* list, int from, int to,
                             bool described = false) {
  std::string out;
  for (int i = from; i < to; ++i) {
    char b[96];
    std::snprintf(
        b, sizeof b, "%s%s %X/%X@%d", i > from && !described ? ", " : "",
        list[i].name, net::ntohs_(list[i].wdx_port),
        net::ntohs_(list[i].address.sa_socket), list[i].address.sa_nodenum[5]);
    out += b;
    if (described) out += std::string(" ") + list[i].description + "\n";
  }
  return out;
}

// The published IPX units, one a line with their descriptions.
inline std::string published_units() {
  auto snap = published_ipx_units();
  return ipx_units(snap->units, 0, snap->count, true);
}

}  // namespace tav_test

#endif  // TAV_TESTS_DISCOVERY_HELPERS_H_
