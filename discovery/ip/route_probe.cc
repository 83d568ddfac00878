#include "discovery/ip/route_probe.h"

#include <cstring>

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

bool all_zero(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

}  // namespace

void build_route_request(uint8_t out[kRouteRequestSize]) {
  std::memset(out, 0, kRouteRequestSize);
  out[0] = 1;    // request
  out[1] = 1;    // version 1
  out[23] = 16;  // metric: infinity, with family 0: the whole table
}

int probe_routes(NetworkEntry* table, int index, int count, int capacity,
                 uint32_t hop_limit) {
  net::Socket s = net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0);
  if (s == net::INVALID_SOCKET) return count;
  NetworkEntry& probed = table[index];
  if (net::bind(s, net::make_addr_in(probed.local_address, 0)) != 0) {
    net::closesocket(s);
    return count;
  }
  // Without it the broadcast send is refused on this platform.
  net::setsockopt_int(s, net::SockOpt::kBroadcast, 1);
  uint8_t request[kRouteRequestSize];
  build_route_request(request);
  if (net::sendto(s, request, sizeof request,
                  net::make_addr_in(broadcast_address_of(probed), kRipPort)) ==
      net::SOCKET_ERROR) {
    net::closesocket(s);
    return count;
  }
  const int64_t deadline = seconds_now() + 1;
  const int first_new = count;
  int ready;
  do {
    ready = net::wait_readable(s, 1000);
    if (ready == net::SOCKET_ERROR) {
      net::closesocket(s);
      return count;
    }
    if (ready == 1) {
      uint8_t reply[kRouteReplyBufferSize];
      net::SockAddrIn from{};
      int n = net::recvfrom(s, reply, sizeof reply, &from);
      if (n != net::SOCKET_ERROR)
        count = process_route_reply(table, index, count, capacity, hop_limit,
                                    reply, n);
    }
  } while (seconds_now() < deadline && ready == 1);
  net::closesocket(s);
  if (probed.mask_guessed == 1)
    refine_guessed_mask(table, index, first_new, count);
  return count;
}

int process_route_reply(NetworkEntry* table, int index, int count, int capacity,
                        uint32_t hop_limit, const uint8_t* data, int length) {
  if (length < kRouteRequestSize || data[0] != 2) return count;
  const int version = data[1];
  for (int off = 4; off + kRouteEntrySize <= length; off += kRouteEntrySize) {
    if (count >= capacity) break;
    count = add_route(table, index, count, hop_limit, data + off, version);
  }
  return count;
}

int add_route(NetworkEntry* table, int index, int count, uint32_t hop_limit,
              const uint8_t* entry, int version) {
  if (version == 1) {
    uint16_t family = static_cast<uint16_t>(entry[0] << 8 | entry[1]);
    if (family != 2 || !all_zero(entry + 2, 2) || !all_zero(entry + 8, 8) ||
        read_be32(entry + 16) > hop_limit)
      return count;
  }
  const uint32_t address = read_raw32(entry + 4);
  const uint32_t announced_mask = read_raw32(entry + 8);
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
