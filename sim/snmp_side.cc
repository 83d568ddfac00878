#include <cstdio>
#include <memory>

#include "sim/sides.h"
#include "sim/snmp_agent.h"

namespace sim {

// Plays every unit entity that has an IPv4 address (ip=); the agent lives
// as long as the process.
bool start_snmp_side(const Config& config) {
  std::vector<SnmpUnit> units;
  for (const Entity& e : config.entities) {
    if (e.kind != "unit" || !e.has("ip") || !e.get_flag("snmp", true)) continue;
    SnmpUnit u;
    std::string error;
    if (!snmp_unit_from_entity(e, &u, &error)) {
      std::fprintf(stderr, "tav-sim: %s\n", error.c_str());
      return false;
    }
    units.push_back(std::move(u));
  }
  if (units.empty()) return true;
  return keep_started(std::make_unique<SnmpAgent>(std::move(units)), "SNMP");
}

}  // namespace sim
