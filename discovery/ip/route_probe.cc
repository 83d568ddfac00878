#include "discovery/ip/route_probe.h"

#include <cstring>

#include "discovery/exchange/datagram_exchange.h"
#include "platform/net.h"
#include "platform/threads.h"

namespace {

uint32_t read_be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// The address and mask fields are kept as on the wire (network order).
uint32_t read_raw32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

uint16_t read_be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

constexpr int kRouteWaitMs = 1000;
constexpr uint8_t kResponse = 2;
// Offsets in the reply, and in each of its entries.
constexpr int kCommandOffset = 0;
constexpr int kVersionOffset = 1;
constexpr int kFirstEntryOffset = 4;
constexpr int kFamilyOffset = 0;
constexpr int kRouteTagOffset = 2;
constexpr int kAddressOffset = 4;
constexpr int kMaskOffset = 8;
constexpr int kNextHopOffset = 12;
constexpr int kMetricOffset = 16;

}  // namespace

void build_route_request(uint8_t out[kRouteRequestSize]) {
  std::memset(out, 0, kRouteRequestSize);
  out[0] = 1;    // request
  out[1] = 1;    // version 1
  out[23] = 16;  // metric: infinity, with family 0: the whole table
}

int probe_routes(NetworkEntry* table, int index, int count, int capacity,
                 uint32_t hop_limit) {
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0));
  if (!s) return count;
  NetworkEntry& probed = table[index];
  if (net::bind(s.get(), net::make_addr_in(probed.local_address, 0)) != 0)
    return count;
  // Without it the broadcast send is refused on this platform.
  net::setsockopt_int(s.get(), net::SockOpt::kBroadcast, 1);
  uint8_t request[kRouteRequestSize];
  build_route_request(request);
  if (net::sendto(s.get(), request, sizeof request,
                  net::make_addr_in(broadcast_address_of(probed), kRipPort)) ==
      net::SOCKET_ERROR)
    return count;
  // Replies are taken until the clock passes the next whole second.
  const ListenLimits limits = {kRouteWaitMs, (seconds_now() + 1) * 1000,
                               kRouteReplyBufferSize};
  const int first_new = count;
  ListenEnd end = listen_for_datagrams(
      s.get(), limits,
      DatagramHandler<net::SockAddrIn>(
          [&](const uint8_t* data, int length, const net::SockAddrIn& from) {
            count = process_route_reply(table, index, count, capacity,
                                        hop_limit, data, length, from);
            return true;
          }));
  s.reset();
  if (end != ListenEnd::kWaitFailed && probed.mask_guessed == 1)
    refine_guessed_mask(table, index, first_new, count);
  return count;
}

bool parse_route_reply(const uint8_t* data, int length, RouteReply* out) {
  if (length < kRouteRequestSize || length > kRouteReplyBufferSize ||
      data[kCommandOffset] != kResponse)
    return false;
  out->version = data[kVersionOffset];
  out->entry_count = 0;
  for (int off = kFirstEntryOffset; off + kRouteEntrySize <= length;
       off += kRouteEntrySize) {
    const uint8_t* e = data + off;
    RouteEntry& r = out->entries[out->entry_count++];
    r.family = read_be16(e + kFamilyOffset);
    r.route_tag = read_be16(e + kRouteTagOffset);
    r.address = read_raw32(e + kAddressOffset);
    r.mask = read_raw32(e + kMaskOffset);
    r.next_hop = read_raw32(e + kNextHopOffset);
    r.metric = read_be32(e + kMetricOffset);
  }
  return true;
}

int process_route_reply(NetworkEntry* table, int index, int count, int capacity,
                        uint32_t hop_limit, const uint8_t* data, int length,
                        const net::SockAddrIn& from) {
  RouteReply reply;
  if (from.sin_port != net::htons_(kRipPort) ||
      !parse_route_reply(data, length, &reply))
    return count;
  for (int i = 0; i < reply.entry_count && count < capacity; ++i)
    count = add_route(table, index, count, hop_limit, reply.entries[i],
                      reply.version);
  return count;
}

int add_route(NetworkEntry* table, int index, int count, uint32_t hop_limit,
              const RouteEntry& entry, int version) {
  // Other families (a version-2 authentication entry) announce no network.
  if (entry.family != kIpFamily) return count;
  if (version == 1 && (entry.route_tag != 0 || entry.mask != 0 ||
                       entry.next_hop != 0 || entry.metric > hop_limit))
    return count;
  const uint32_t address = entry.address;
  const uint32_t announced_mask = entry.mask;
  if (address == 0) return count;
  for (int i = 0; i < count; ++i) {
    if (table[i].network != address) continue;
    if (version >= 2 && announced_mask != 0) {
      table[i].mask = announced_mask;
      table[i].mask_guessed = 0;
    }
    return count;
  }
  NetworkEntry& probed = table[index];
  NetworkEntry& added = table[count];
  added = NetworkEntry{};
  added.local_address = probed.local_address;
  added.network = address;
  added.natural_mask = natural_mask_of(address);
  added.mask = added.natural_mask == probed.natural_mask ? probed.mask
                                                         : added.natural_mask;
  if (version >= 2) {
    if (announced_mask != 0) added.mask = announced_mask;
    probed.mask_guessed = 0;
  }
  return count + 1;
}

void refine_guessed_mask(NetworkEntry* table, int index, int first_new,
                         int count) {
  NetworkEntry& probed = table[index];
  uint32_t mask = probed.mask;
  for (int i = first_new; i < count; ++i)
    if (table[i].natural_mask == probed.natural_mask) mask |= table[i].network;
  probed.mask = mask;
  for (int i = first_new; i < count; ++i)
    if (table[i].natural_mask == probed.natural_mask) table[i].mask = mask;
}

int build_network_table(NetworkEntry* table, int capacity, uint32_t hop_limit) {
  int count = find_local_interface(table);
  const int local_entries = count;
  for (int i = 0; i < local_entries; ++i)
    count = probe_routes(table, i, count, capacity, hop_limit);
  return count;
}
