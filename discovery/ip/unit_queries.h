// The per-unit SNMP queries of IP discovery: unit number (turns candidates
// into units), port, name and system description, and the naming by
// reverse look-up. All go to UDP port 161; every request is sent once.
//
// Run on the discovery thread only. The apply_* functions are the pure
// handling of one reply.
#ifndef TAV_DISCOVERY_IP_UNIT_QUERIES_H_
#define TAV_DISCOVERY_IP_UNIT_QUERIES_H_

#include <cstdint>

#include "platform/net.h"
#include "units/units.h"

// Devices that answered the broadcast probe (unit_probe.h) without a
// unit's hardware address: asked for a unit number.
inline constexpr int kCandidateCapacity = 500;
extern net::SockAddrIn candidate_list[kCandidateCapacity];
extern int candidate_count;

// Asks every address of the candidate list for its unit number; returns
// the new unit count.
int query_unit_numbers(UnitRecord* list, int capacity, int count);
void query_unit_ports(UnitRecord* list, int count);
void query_unit_names(UnitRecord* list, int count);
// Sets every unit's description; the generic one when a unit gives none.
void describe_units(UnitRecord* list, int count);
// 0 when the unit's reply set its description, -1 otherwise.
int query_system_description(UnitRecord* unit);
// Replaces each unit's name by the host name of its address when that is
// not empty and shorter than 40 characters.
void name_units_by_lookup(UnitRecord* list, int count);

// 00-40-AF and the 24-bit number n * 8, most significant byte first.
void hardware_from_unit_number(long n, uint8_t hardware[6]);

int apply_unit_number_reply(const uint8_t* data, int length,
                            const net::SockAddrIn& from, UnitRecord* list,
                            int capacity, int count);
void apply_unit_port_reply(const uint8_t* data, int length,
                           const net::SockAddrIn& from, UnitRecord* list,
                           int count);
void apply_unit_name_reply(const uint8_t* data, int length,
                           const net::SockAddrIn& from, UnitRecord* list,
                           int count);
// The description of `unit` from a reply; 0 when set, -1 otherwise.
int apply_system_description_reply(const uint8_t* data, int length,
                                   UnitRecord* unit);

#endif  // TAV_DISCOVERY_IP_UNIT_QUERIES_H_
