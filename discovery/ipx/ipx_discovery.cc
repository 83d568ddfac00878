#include "discovery/ipx/ipx_discovery.h"

#include <cstring>
#include <utility>

#include "discovery/exchange/datagram_exchange.h"
#include "discovery/ipx/bindery_scan.h"
#include "discovery/ipx/probe.h"
#include "platform/debug_log.h"
#include "platform/threads.h"

namespace {

constexpr size_t kNameSize = sizeof(IpxUnitRecord::name);
constexpr uint8_t kLocatorSignature[4] = {0xFF, 0xFF, 0xC1, 0x00};
// Offsets in a locator reply.
constexpr int kLocatorWdxOffset = 10;
constexpr int kLocatorHttpOffset = 12;
constexpr int kLocatorNameOffset = 14;
constexpr int kLocatorWaitMs = 2000;
constexpr int kLocatorBoundSeconds = 4;
constexpr int kSapWaitMs = 1000;
// Responses that keep arriving are taken for at most this long per pass.
constexpr int kSapPassBoundMs = 5000;

net::OwnedSocket ipx_datagram_socket() {
  return net::OwnedSocket(
      net::socket(net::AF_IPX_, net::SOCK_DGRAM_, net::NSPROTO_IPX));
}

net::SockAddrIpx wildcard_address() {
  net::SockAddrIpx a{};
  a.sa_family = net::AF_IPX_;
  return a;
}

int send_sap_query(net::Socket s, uint16_t server_type) {
  const auto query = ipx::encode_sap_query(ipx::kSapGeneralQuery, server_type);
  return net::sendto(s, query.data(), static_cast<int>(query.size()),
                     broadcast_destination(ipx::kSapSocket));
}

void copy_name(char* dst, const char* src, size_t n) {
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// Adds an entry named `name` (already NUL-terminated) at the end.
IpxUnitRecord& append(IpxUnitRecord* list, int* count, const char* name) {
  IpxUnitRecord& u = list[*count];
  u = IpxUnitRecord{};
  copy_name(u.name, name, strnlen(name, kNameSize - 1));
  ++*count;
  return u;
}

}  // namespace

int discover_units_using_ipx() {
  // The platform version value never reports the version whose pending SPX
  // sockets must be kept, so keep_pending_spx_sockets stays as it is.
  if (net::WSAStartup(0x0101) != 0) return -1;
  int count = 0;
  if (file_servers_present() == 1) {
    count = ScanBinderyForPS();
    DebugLog("ScanBinderyForPS() found %d units.\n", count);
    Sleep(1000);
  }
  if (count == 0) {
    net::OwnedSocket locator;
    if (open_locator_socket(&locator) != 0) return -1;
    std::memset(ipx_unit_list, 0, sizeof ipx_unit_list);
    send_locator_query(locator.get(), broadcast_destination(kLocatorSocket));
    collect_locator_replies(ipx_unit_list, std::move(locator), &count,
                            kIpxUnitCapacity);
    sap_query_units(ipx_unit_list, &count, kIpxUnitCapacity);
  }
  run_probes(count);
  sort_ipx_units(ipx_unit_list, count);
  ipx_unit_count = count;
  publish_ipx_units(ipx_unit_list, count);
  DebugLog("Exiting from discover_units_using_ipx(), %d units found.\n", count);
  return count;
}

void run_probes(int count) {
  for (int i = 0; i < count; ++i) {
    while (probes_running.load() >= probe_limit.load()) Sleep(50);
    start_probe(i);
    Sleep(1);
  }
  do {
    Sleep(1000);
  } while (probes_running.load() != 0);
}

int file_servers_present() {
  net::OwnedSocket sock = ipx_datagram_socket();
  if (!sock) return -1;
  if (net::bind(sock.get(), wildcard_address()) != 0) return -1;
  if (net::setsockopt_int(sock.get(), net::SockOpt::kBroadcast, 1) != 0)
    return -1;
  if (send_sap_query(sock.get(), ipx::kSapFileServerType) == net::SOCKET_ERROR)
    return -1;
  int64_t t0 = seconds_now();
  while (true) {
    int ready = net::wait_readable(sock.get(), 1000);
    if (ready == 1) return 1;
    if (ready != 0) return -1;
    if (seconds_now() >= t0 + 2) return -1;
  }
}

void get_local_ipx_network(uint8_t out[4]) {
  std::memset(out, 0, 4);
  net::OwnedSocket sock = ipx_datagram_socket();
  if (!sock) return;
  if (net::bind(sock.get(), wildcard_address()) != 0) return;
  net::SockAddrIpx bound{};
  if (net::getsockname(sock.get(), &bound) != 0) return;
  std::memcpy(out, bound.sa_netnum, 4);
}

net::SockAddrIpx broadcast_destination(uint16_t socket) {
  net::SockAddrIpx a{};
  a.sa_family = net::AF_IPX_;
  get_local_ipx_network(a.sa_netnum);
  std::memset(a.sa_nodenum, 0xFF, sizeof a.sa_nodenum);
  a.sa_socket = net::htons_(socket);
  return a;
}

int open_locator_socket(net::OwnedSocket* out) {
  net::OwnedSocket s = ipx_datagram_socket();
  if (!s) return -1;
  net::bind(s.get(), wildcard_address());
  if (net::setsockopt_int(s.get(), net::SockOpt::kBroadcast, 1) != 0) return -1;
  *out = std::move(s);
  return 0;
}

void send_locator_query(net::Socket s, net::SockAddrIpx destination) {
  static const uint8_t kQuery[6] = {0xFF, 0xFF, 0xC1, 0x00, 0x01, 0xF4};
  destination.sa_socket = net::htons_(kLocatorSocket);
  net::sendto(s, kQuery, sizeof kQuery, destination);
}

void collect_locator_replies(IpxUnitRecord* list, net::OwnedSocket s,
                             int* count, int capacity) {
  *count = 0;
  const ListenLimits limits = {kLocatorWaitMs,
                               (seconds_now() + kLocatorBoundSeconds) * 1000,
                               kLocatorReplySize};
  listen_for_datagrams(
      s.get(), limits,
      DatagramHandler<net::SockAddrIpx>(
          [&](const uint8_t* data, int length, const net::SockAddrIpx& from) {
            accept_locator_reply(list, count, capacity, data, length, from);
            return true;
          }));
}

bool parse_locator_reply(const uint8_t* data, int length, LocatorReply* out) {
  if (length <= kLocatorNameOffset || length > kLocatorReplySize) return false;
  if (std::memcmp(data, kLocatorSignature, sizeof kLocatorSignature) != 0)
    return false;
  std::memcpy(&out->wdx_port, data + kLocatorWdxOffset, 2);
  std::memcpy(&out->http_port, data + kLocatorHttpOffset, 2);
  if (out->http_port == 0) return false;
  const char* name = reinterpret_cast<const char*>(data + kLocatorNameOffset);
  copy_name(out->name, name,
            strnlen(name, static_cast<size_t>(length - kLocatorNameOffset)));
  return out->name[0] != '\0';
}

void accept_locator_reply(IpxUnitRecord* list, int* count, int capacity,
                          const uint8_t* data, int length,
                          const net::SockAddrIpx& source) {
  LocatorReply reply;
  if (!parse_locator_reply(data, length, &reply) || *count >= capacity) return;
  // A unit bound to several frame types answers under each one's network.
  for (int i = 0; i < *count; ++i)
    if (std::memcmp(list[i].address.sa_nodenum, source.sa_nodenum, 6) == 0 &&
        list[i].address.sa_socket == reply.http_port &&
        std::strncmp(list[i].name, reply.name, kNameSize) == 0)
      return;
  IpxUnitRecord& u = append(list, count, reply.name);
  u.address = source;
  u.address.sa_family = net::AF_IPX_;
  u.address.sa_socket = reply.http_port;
  u.wdx_port = reply.wdx_port;
}

void sap_query_units(IpxUnitRecord* list, int* count, int capacity) {
  net::OwnedSocket sock = ipx_datagram_socket();
  if (!sock) return;
  net::bind(sock.get(), wildcard_address());
  if (net::setsockopt_int(sock.get(), net::SockOpt::kBroadcast, 1) != 0) return;
  for (int pass = 0; pass < 2; ++pass) {
    if (send_sap_query(sock.get(), kUnitServiceType) == net::SOCKET_ERROR)
      return;
    const ListenLimits limits = {
        kSapWaitMs, milliseconds_now() + kSapPassBoundMs, ipx::kSapMaxResponse};
    ListenEnd end = listen_for_datagrams(
        sock.get(), limits,
        DatagramHandler<net::SockAddrIpx>(
            [&](const uint8_t* data, int length, const net::SockAddrIpx&) {
              accept_sap_response(data, length, list, count, capacity - *count);
              return true;
            }));
    if (end == ListenEnd::kWaitFailed) return;
  }
}

int parse_sap_response(const uint8_t* data, int length,
                       SapServer out[kMaxSapServers]) {
  uint16_t operation = 0;
  std::vector<ipx::SapEntry> entries;
  if (length < 0 ||
      !ipx::decode_sap_response({data, static_cast<size_t>(length)}, &operation,
                                &entries) ||
      operation != ipx::kSapGeneralResponse)
    return 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ipx::SapEntry& e = entries[i];
    SapServer& server = out[i];
    copy_name(server.name, e.name.data(), e.name.size());
    server.address = net::SockAddrIpx{};
    server.address.sa_family = net::AF_IPX_;
    std::memcpy(server.address.sa_netnum, e.address.network.data(), 4);
    std::memcpy(server.address.sa_nodenum, e.address.node.data(), 6);
    server.address.sa_socket = net::htons_(e.address.socket);
  }
  return static_cast<int>(entries.size());
}

void accept_sap_response(const uint8_t* data, int length, IpxUnitRecord* list,
                         int* count, int free_room) {
  SapServer servers[kMaxSapServers];
  const int k = parse_sap_response(data, length, servers);
  const int n = k < free_room ? k : free_room;
  for (int i = 0; i < n; ++i) {
    char* name = servers[i].name;
    const net::SockAddrIpx& address = servers[i].address;
    if (name[0] == '\0') continue;  // a unit without a name is not listed
    if (std::strstr(name, "-HTML") != nullptr &&
        std::strncmp(name, "CS", 2) != 0) {
      *std::strchr(name, '-') = '\0';
      if (name[0] == '\0') continue;
      int index = find_ipx_unit(list, name, *count);
      if (index >= 0) {
        list[index].address = address;
      } else {
        append(list, count, name).address = address;
      }
    } else if (std::strchr(name, '-') == nullptr) {
      int index = find_ipx_unit(list, name, *count);
      if (index >= 0) {
        list[index].wdx_port = address.sa_socket;
      } else {
        append(list, count, name).wdx_port = address.sa_socket;
      }
    }
  }
}

int find_ipx_unit(const IpxUnitRecord* list, const char* name, int n) {
  for (int i = 0; i < n; ++i) {
    if (std::strncmp(list[i].name, name, kNameSize) == 0) return i;
  }
  return -1;
}
