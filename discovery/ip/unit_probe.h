// The unit broadcast probe: wakes every network of the table, asks it by
// directed broadcast for the hardware address of interface 1 over SNMP,
// recognises units by the vendor prefix (00-40-AF, or its bit-reversed form
// 00-02-F5), keeps other devices as candidates, then runs the unit-number
// and unit-port queries, reports the count and runs the naming pass.
//
// Runs on the discovery thread only; the candidate list is process-wide.
#ifndef TAV_DISCOVERY_IP_UNIT_PROBE_H_
#define TAV_DISCOVERY_IP_UNIT_PROBE_H_

#include <cstdint>

#include "discovery/ip/network_table.h"
#include "discovery/ip/unit_queries.h"
#include "platform/net.h"
#include "units/units.h"

inline constexpr uint16_t kDiscardPort = 9;
inline constexpr int kWakeUpSize = 100;

// Returns the new unit count; writes "Found %d units out of %d packets
// received.\n" to standard output. With no network nothing is sent.
int probe_units_by_broadcast(const NetworkEntry* table, int networks,
                             UnitRecord* list, int capacity,
                             int starting_count);

// 100 zero bytes to the discard port of every network's broadcast address.
void send_wake_up_datagrams(const NetworkEntry* table, int networks);

// Handles one reply to the broadcast: a unit is added, another device
// becomes a candidate (once per address, while the list has room),
// anything else is ignored. Returns the new count.
int handle_hardware_reply(const uint8_t* data, int length,
                          const net::SockAddrIn& from, UnitRecord* list,
                          int capacity, int count);

// Reverses the bit order of each byte (00-02-F5 becomes 00-40-AF).
void reverse_bits_of_bytes(const uint8_t in[6], uint8_t out[6]);

#endif  // TAV_DISCOVERY_IP_UNIT_PROBE_H_
