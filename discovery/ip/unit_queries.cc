#include "discovery/ip/unit_queries.h"

#include <cstdio>
#include <cstring>

#include "discovery/exchange/datagram_exchange.h"
#include "discovery/ip/snmp_codec.h"
#include "platform/threads.h"

net::SockAddrIn candidate_list[kCandidateCapacity];
int candidate_count = 0;

namespace {

constexpr int kQueryWaitMs = 500;
// Replies that keep arriving are taken for at most this long.
constexpr int kQueryListenBoundMs = 4000;
constexpr int kListReplyBufferSize = 200;
constexpr int kDescriptionBufferSize = 2000;

UnitRecord* unit_at(const net::SockAddrIn& from, UnitRecord* list, int count) {
  for (int i = 0; i < count; ++i)
    if (list[i].address.sin_addr == from.sin_addr) return &list[i];
  return nullptr;
}

// Sends `request` to port 161 of every target, then hands each reply that
// arrives within half a second of the previous one, for at most
// kQueryListenBoundMs, to `handle`, which returns false to stop early.
void run_list_query(const uint8_t* request, int length,
                    const net::SockAddrIn* targets, int target_count,
                    const DatagramHandler<net::SockAddrIn>& handle) {
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0));
  if (!s) return;
  net::setsockopt_int(s.get(), net::SockOpt::kRcvBuf, 131072);
  net::setsockopt_int(s.get(), net::SockOpt::kSndBuf, 32768);
  Sleep(1);
  for (int i = 0; i < target_count; ++i) {
    net::SockAddrIn to = targets[i];
    to.sin_port = net::htons_(kSnmpPort);
    net::sendto(s.get(), request, length, to);
  }
  const ListenLimits limits = {kQueryWaitMs,
                               milliseconds_now() + kQueryListenBoundMs,
                               kListReplyBufferSize};
  listen_for_datagrams(s.get(), limits, handle);
}

void query_each_unit(const uint8_t* request, int length, UnitRecord* list,
                     int count,
                     void (*apply)(const uint8_t*, int, const net::SockAddrIn&,
                                   UnitRecord*, int)) {
  net::SockAddrIn targets[kIpUnitCapacity];
  int n = count < kIpUnitCapacity ? count : kIpUnitCapacity;
  for (int i = 0; i < n; ++i) targets[i] = list[i].address;
  run_list_query(
      request, length, targets, n,
      [&](const uint8_t* data, int len, const net::SockAddrIn& from) {
        apply(data, len, from, list, count);
        return true;
      });
}

}  // namespace

void hardware_from_unit_number(long n, uint8_t hardware[6]) {
  hardware[0] = 0x00;
  hardware[1] = 0x40;
  hardware[2] = 0xAF;
  hardware[3] = static_cast<uint8_t>(n >> 13);
  hardware[4] = static_cast<uint8_t>(n >> 5);
  hardware[5] = static_cast<uint8_t>(n << 3);
}

int apply_unit_number_reply(const uint8_t* data, int length,
                            const net::SockAddrIn& from, UnitRecord* list,
                            int capacity, int count) {
  long number = 0;
  if (!check_unit_number_reply(data, length, &number)) return count;
  uint8_t hardware[6];
  hardware_from_unit_number(number, hardware);
  return add_unit(from, hardware, list, capacity, count);
}

void apply_unit_port_reply(const uint8_t* data, int length,
                           const net::SockAddrIn& from, UnitRecord* list,
                           int count) {
  uint8_t port[2];
  if (!check_unit_port_reply(data, length, port)) return;
  UnitRecord* unit = unit_at(from, list, count);
  if (unit == nullptr) return;
  if (port[0] == 0 && port[1] == 0) {
    unit->address.sin_port =
        net::htons_(unit_model_strings().default_unit_port);
  } else {
    std::memcpy(&unit->address.sin_port, port, 2);
  }
}

void apply_unit_name_reply(const uint8_t* data, int length,
                           const net::SockAddrIn& from, UnitRecord* list,
                           int count) {
  char name[sizeof list[0].name];
  if (!check_unit_name_reply(data, length, name, sizeof name)) return;
  UnitRecord* unit = unit_at(from, list, count);
  if (unit != nullptr) std::memcpy(unit->name, name, sizeof name);
}

int apply_system_description_reply(const uint8_t* data, int length,
                                   UnitRecord* unit) {
  switch (check_system_description_reply(data, length, unit->description,
                                         sizeof unit->description)) {
    case DescriptionReply::kText:
      return 0;
    case DescriptionReply::kMio:
      std::snprintf(unit->description, sizeof unit->description, "%s",
                    unit_model_strings().mio_description);
      return 0;
    case DescriptionReply::kNone:
      break;
  }
  return -1;
}

int query_unit_numbers(UnitRecord* list, int capacity, int count) {
  uint8_t request[kUnitQueryRequestSize];
  int length = build_unit_number_request(request);
  run_list_query(
      request, length, candidate_list, candidate_count,
      [&](const uint8_t* data, int len, const net::SockAddrIn& from) {
        count = apply_unit_number_reply(data, len, from, list, capacity, count);
        return count < capacity;
      });
  return count;
}

void query_unit_ports(UnitRecord* list, int count) {
  uint8_t request[kUnitQueryRequestSize];
  int length = build_unit_port_request(request);
  query_each_unit(request, length, list, count, apply_unit_port_reply);
}

void query_unit_names(UnitRecord* list, int count) {
  uint8_t request[kUnitQueryRequestSize];
  int length = build_unit_name_request(request);
  query_each_unit(request, length, list, count, apply_unit_name_reply);
}

int query_system_description(UnitRecord* unit) {
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_DGRAM_, 0));
  if (!s) return -1;
  uint8_t request[kDescriptionRequestSize];
  int length = build_system_description_request(request);
  net::SockAddrIn to = unit->address;
  to.sin_port = net::htons_(kSnmpPort);
  net::sendto(s.get(), request, length, to);
  if (net::wait_readable(s.get(), kQueryWaitMs) != 1) return -1;
  uint8_t reply[kDescriptionBufferSize];
  net::SockAddrIn from{};
  int n = net::recvfrom(s.get(), reply, sizeof reply, &from);
  if (n == net::SOCKET_ERROR) return -1;
  return apply_system_description_reply(reply, n, unit);
}

void describe_units(UnitRecord* list, int count) {
  for (int i = 0; i < count; ++i) {
    if (query_system_description(&list[i]) == -1)
      std::snprintf(list[i].description, sizeof list[i].description, "%s",
                    unit_model_strings().generic_description);
  }
}

void name_units_by_lookup(UnitRecord* list, int count) {
  for (int i = 0; i < count; ++i) {
    char host[256];
    if (!net::reverse_lookup(list[i].address.sin_addr, host, sizeof host))
      continue;
    size_t n = std::strlen(host);
    if (n > 0 && n < 40) std::memcpy(list[i].name, host, n + 1);
  }
}
