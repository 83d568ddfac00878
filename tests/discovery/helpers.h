// Small verbs shared by the discovery tests: addresses, simulator entities
// written as tav-sim options, and captured standard output.
#ifndef TAV_TESTS_DISCOVERY_HELPERS_H_
#define TAV_TESTS_DISCOVERY_HELPERS_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// What f() writes on standard output.
template <typename F>
std::string stdout_of(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

}  // namespace tav_test

#endif  // TAV_TESTS_DISCOVERY_HELPERS_H_
