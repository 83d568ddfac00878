// The protocol sides of the simulator. Each starts its own threads for the
// entities it plays and returns false (with a message on standard error)
// when it cannot start, e.g. a port it needs is taken.
#ifndef TAV_SIM_SIDES_H_
#define TAV_SIM_SIDES_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "discovery/ipx/ipx_discovery.h"
#include "ipx/wire/sap.h"
#include "platform/net.h"
#include "sim/config.h"

namespace sim {

// The IPX sockets a unit answers on: SAP and the units' own locator query.
inline constexpr uint16_t kSapPort = ipx::kSapSocket;
inline constexpr uint16_t kLocatorPort = kLocatorSocket;

bool start_web_side(const Config& config);   // HTTP over SPX (web_side.cc)
bool start_snmp_side(const Config& config);  // SNMP v1 agent (snmp_side.cc)
bool start_rip_side(const Config& config);   // RIP responder (rip_side.cc)
bool start_ipx_side(const Config& config);   // locator, SAP, WDX (ipx_side.cc)
bool start_hostile_side(const Config& config);  // --hostile (hostile_side.cc)

struct WebUnitOptions;
// Serves a unit's pages on ip:port (network order ip), one thread per
// connection; false with a message when the port cannot be had.
bool start_web_server(const WebUnitOptions& unit, uint32_t ip, long port);

// Runs serve(s) on a detached thread, which then owns `s`; false, with `s`
// closed, when no thread can be started (web_side.cc).
bool serve_on_thread(net::OwnedSocket s,
                     std::function<void(net::OwnedSocket)> serve);

// Starts a side's server and keeps it for the rest of the process (one per
// side, so `Server` names the side); reports a failure on standard error.
template <class Server>
bool keep_started(std::unique_ptr<Server> server, const char* side) {
  static std::unique_ptr<Server> kept;
  kept = std::move(server);
  std::string error;
  if (kept->start(&error)) return true;
  std::fprintf(stderr, "tav-sim: %s side: %s\n", side, error.c_str());
  return false;
}

}  // namespace sim

#endif  // TAV_SIM_SIDES_H_
