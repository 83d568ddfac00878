#include "discovery/ip/unit_probe.h"

#include <cstring>

#include "discovery/exchange/datagram_exchange.h"
#include "discovery/ip/snmp_codec.h"
#include "platform/debug_log.h"
#include "platform/threads.h"

namespace {

constexpr int kBroadcastWaitMs = 500;
// Replies that keep arriving are taken for at most this long.
constexpr int kBroadcastListenBoundMs = 4000;
constexpr int kHardwareReplyBufferSize = 200;
constexpr uint8_t kUnitPrefix[3] = {0x00, 0x40, 0xAF};
constexpr uint8_t kReversedUnitPrefix[3] = {0x00, 0x02, 0xF5};

}  // namespace

void reverse_bits_of_bytes(const uint8_t in[6], uint8_t out[6]) {
  for (int i = 0; i < 6; ++i) {
    uint8_t b = in[i];
    uint8_t r = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (b & (1u << bit)) r = static_cast<uint8_t>(r | (0x80u >> bit));
    out[i] = r;
  }
}

int handle_hardware_reply(const uint8_t* data, int length,
                          const net::SockAddrIn& from, UnitRecord* list,
                          int capacity, int count) {
  uint8_t hardware[6];
  if (!check_hardware_address_reply(data, length, hardware)) return count;
  if (std::memcmp(hardware, kUnitPrefix, 3) == 0)
    return add_unit(from, hardware, list, capacity, count);
  if (std::memcmp(hardware, kReversedUnitPrefix, 3) == 0) {
    uint8_t canonical[6];
    reverse_bits_of_bytes(hardware, canonical);
    return add_unit(from, canonical, list, capacity, count);
  }
  // A device heard on two networks is asked, and holds a slot, once.
  for (int i = 0; i < candidate_count; ++i)
    if (candidate_list[i].sin_addr == from.sin_addr) return count;
  if (candidate_count < kCandidateCapacity)
    candidate_list[candidate_count++] = from;
  return count;
}

void send_wake_up_datagrams(const NetworkEntry* table, int networks) {
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0));
  if (!s) return;
  net::setsockopt_int(s.get(), net::SockOpt::kBroadcast, 1);
  Sleep(1);
  const uint8_t zeros[kWakeUpSize] = {};
  for (int i = 0; i < networks; ++i)
    net::sendto(
        s.get(), zeros, sizeof zeros,
        net::make_addr_in(broadcast_address_of(table[i]), kDiscardPort));
  Sleep(300);
}

int probe_units_by_broadcast(const NetworkEntry* table, int networks,
                             UnitRecord* list, int capacity,
                             int starting_count) {
  candidate_count = 0;
  send_wake_up_datagrams(table, networks);
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0));
  if (!s) return starting_count;
  net::setsockopt_int(s.get(), net::SockOpt::kBroadcast, 1);
  net::setsockopt_int(s.get(), net::SockOpt::kDebug, 1);
  net::setsockopt_int(s.get(), net::SockOpt::kRcvBuf, 131072);
  net::setsockopt_int(s.get(), net::SockOpt::kSndBuf, 32768);
  net::ioctlsocket_fionbio(s.get(), 1);
  Sleep(100);
  int count = starting_count;
  uint8_t request[kHardwareRequestSize];
  const int length = build_hardware_address_request(request);
  for (int i = 0; i < networks && count < capacity; ++i)
    net::sendto(s.get(), request, length,
                net::make_addr_in(broadcast_address_of(table[i]), kSnmpPort));
  Sleep(3);
  int packets = 0;
  if (count < capacity) {
    const ListenLimits limits = {kBroadcastWaitMs,
                                 milliseconds_now() + kBroadcastListenBoundMs,
                                 kHardwareReplyBufferSize, true};
    listen_for_datagrams(
        s.get(), limits,
        DatagramHandler<net::SockAddrIn>([&](const uint8_t* data, int n,
                                             const net::SockAddrIn& from) {
          ++packets;
          count = handle_hardware_reply(data, n, from, list, capacity, count);
          return count < capacity;
        }));
  }
  s.reset();
  count = query_unit_numbers(list, capacity, count);
  query_unit_ports(list, count);
  report("Found %d units out of %d packets received.\n", count, packets);
  switch (unit_model_strings().naming_mode) {
    case 2:
      name_units_by_lookup(list, count);
      break;
    case 3:
      query_unit_names(list, count);
      break;
    default:
      break;
  }
  return count;
}
