// The simulator's RIP responder: answers the request for the whole routing
// table (one entry, family 0, metric 16) on UDP port 520 with a response of
// version 1 or 2 listing the configured networks and metrics (masks in
// version 2), 25 entries per datagram. Requests to one of its routers'
// addresses are answered by that router; broadcasts by every router on the
// interface they arrived on.
#ifndef TAV_SIM_RIP_RESPONDER_H_
#define TAV_SIM_RIP_RESPONDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/snmp_udp.h"

namespace sim {

struct RipRoute {
  uint32_t network = 0;  // network order
  uint32_t metric = 1;
  uint32_t mask = 0;  // network order; sent in version 2 only
};

struct RipRouter {
  uint32_t ip = 0;  // network order
  int version = 1;
  std::vector<RipRoute> routes;
  int extra_bytes = 0;  // zero bytes appended: an incomplete last entry
  bool silent = false;
};

// routes=NET/METRIC[/MASK] entries separated by '+', ';' or ' ' (or ','
// inside quotes); see sim/README.md.
bool rip_router_from_entity(const Entity& entity, RipRouter* router,
                            std::string* error);

// The response datagrams to one request; empty unless it asks for the
// whole table.
std::vector<std::vector<uint8_t>> rip_responses(const RipRouter& router,
                                                const uint8_t* request,
                                                size_t length);

class RipResponder : public UdpServer {
 public:
  explicit RipResponder(std::vector<RipRouter> routers);
  ~RipResponder() override;

  bool start(std::string* error, uint16_t port = 520);

 private:
  void on_datagram(const Datagram& d) override;

  std::vector<RipRouter> routers_;
  std::vector<int> ifindex_;
};

}  // namespace sim

#endif  // TAV_SIM_RIP_RESPONDER_H_
