#include <cstdio>
#include <memory>

#include "sim/rip_responder.h"
#include "sim/sides.h"

namespace sim {

// Plays every router entity; the responder lives as long as the process.
bool start_rip_side(const Config& config) {
  std::vector<RipRouter> routers;
  for (const Entity& e : config.entities) {
    if (e.kind != "router") continue;
    RipRouter r;
    std::string error;
    if (!rip_router_from_entity(e, &r, &error)) {
      std::fprintf(stderr, "tav-sim: %s\n", error.c_str());
      return false;
    }
    routers.push_back(std::move(r));
  }
  if (routers.empty()) return true;
  return keep_started(std::make_unique<RipResponder>(std::move(routers)),
                      "RIP");
}

}  // namespace sim
