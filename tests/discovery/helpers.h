// Small verbs shared by the discovery tests: addresses, simulator entities
// written as tav-sim options, and captured standard output.
#ifndef TAV_TESTS_DISCOVERY_HELPERS_H_
#define TAV_TESTS_DISCOVERY_HELPERS_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "discovery/units.h"
#include "platform/net.h"
#include "sim/config.h"
#include "sim/rip_responder.h"
#include "sim/snmp_agent.h"

namespace tav_test {

inline uint32_t ip(const char* dotted) { return net::inet_addr(dotted); }

// A simulator configuration from command-line words ("--unit", "name=...").
inline sim::Config sim_config(std::vector<std::string> words) {
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

// SNMP units, one per string of unit options.
inline std::vector<sim::SnmpUnit> snmp_units(
    const std::vector<std::string>& options) {
  std::vector<sim::SnmpUnit> units;
  for (const std::string& o : options) {
    sim::Config c = sim_config({"--unit", o});
    units.emplace_back();
    std::string error;
    EXPECT_TRUE(
        !c.entities.empty() &&
        sim::snmp_unit_from_entity(c.entities[0], &units.back(), &error))
        << o << ": " << error;
  }
  return units;
}

inline sim::RipRouter rip_router(const std::string& options) {
  sim::Config c = sim_config({"--router", options});
  sim::RipRouter r;
  std::string error;
  EXPECT_TRUE(!c.entities.empty() &&
              sim::rip_router_from_entity(c.entities[0], &r, &error))
      << error;
  return r;
}

// IPX units from..to-1 as "name wdx/http@node", sockets in hex and the
// last node byte, separated by ", ".
inline std::string ipx_units(const IpxUnitRecord* list, int from, int to) {
  std::string out;
  for (int i = from; i < to; ++i) {
    char b[96];
    std::snprintf(b, sizeof b, "%s%s %X/%X@%d", i > from ? ", " : "",
                  list[i].name, net::ntohs_(list[i].wdx_port),
                  net::ntohs_(list[i].address.sa_socket),
                  list[i].address.sa_nodenum[5]);
    out += b;
  }
  return out;
}

// What f() writes on standard output.
template <typename F>
std::string stdout_of(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

}  // namespace tav_test

#endif  // TAV_TESTS_DISCOVERY_HELPERS_H_
