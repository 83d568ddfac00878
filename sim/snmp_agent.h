// The simulator's SNMP v1 agent: answers GetRequests on UDP port 161 for
// any number of simulated units, as the units do (hardware address of
// interface 1, unit number, unit port as a 4-byte INTEGER, unit name,
// system description), and misbehaves on demand.
//
// One socket bound to the wildcard address serves every unit: a request to
// a unit's own address is answered by that unit; any other destination (a
// broadcast) is answered by every unit whose address is on the interface
// the request arrived on. Replies leave from the unit's own address.
#ifndef TAV_SIM_SNMP_AGENT_H_
#define TAV_SIM_SNMP_AGENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/snmp_udp.h"

namespace sim {

struct SnmpUnit {
  uint32_t ip = 0;  // network byte order
  uint8_t hw[6] = {0x00, 0x40, 0xAF, 0x00, 0x00, 0x08};
  std::string number;  // unit-number answer; empty: none
  long port = 10001;
  int port_size = 4;  // bytes of the INTEGER (the program reads only 4)
  std::string name;   // empty: the name request is not answered
  bool has_description = true;
  std::string description = "Simulated print server";
  std::string community = "public";
  long request_id = -1;    // >= 0: reply with this id instead of the request's
  bool long_form = false;  // every length in the long form 81 xx
  int truncate = 0;        // > 0: cut every reply to this many bytes
  int delay_ms = 0;        // answer this late
  std::vector<std::string> silent;  // objects not answered; "all" for all
  bool answers_broadcast = true;
};

// Reads a unit entity (see sim/README.md); false with *error on bad keys.
bool snmp_unit_from_entity(const Entity& entity, SnmpUnit* unit,
                           std::string* error);

// The unit's reply to one request datagram; empty when it stays silent
// (wrong community, not a GetRequest, an object it keeps silent about).
std::vector<uint8_t> snmp_reply(const SnmpUnit& unit, const uint8_t* request,
                                size_t length);

class SnmpAgent : public UdpServer {
 public:
  explicit SnmpAgent(std::vector<SnmpUnit> units);
  ~SnmpAgent() override;

  // Binds the port (default 161) and starts answering; false with *error.
  bool start(std::string* error, uint16_t port = 161);

 private:
  struct Pending;
  void on_datagram(const Datagram& d) override;
  int timer_ms() override;
  void on_timer() override;

  std::vector<SnmpUnit> units_;
  std::vector<int> unit_ifindex_;
  std::vector<Pending> pending_;  // late answers, in due order
};

}  // namespace sim

#endif  // TAV_SIM_SNMP_AGENT_H_
