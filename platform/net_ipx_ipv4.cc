// IPX mapped onto IPv4: an IPX datagram socket is a UDP socket, an SPX
// socket a TCP socket, the IPX socket number the port, node 00 00 a.b.c.d
// the address a.b.c.d and the network the host's own IPv4 network.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "platform/net_internal.h"

namespace net {
namespace {

// The directed broadcast of the host's own network; the limited broadcast
// when that network is 0 or unknown.
uint32_t ipx_broadcast_address() {
  uint32_t own = 0;
  if (!host_own_address(&own)) return INADDR_BROADCAST;
  uint32_t mask = interface_mask_of(own);
  if (mask == 0 || (own & mask) == 0) return INADDR_BROADCAST;
  return own | ~mask;
}

sockaddr_in ipx_to_native(const SockAddrIpx& a) {
  sockaddr_in s{};
  s.sin_family = AF_INET;
  s.sin_port = a.sa_socket;
  static const uint8_t kBroadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  if (std::memcmp(a.sa_nodenum, kBroadcast, 6) == 0) {
    s.sin_addr.s_addr = ipx_broadcast_address();
  } else {
    std::memcpy(&s.sin_addr.s_addr, a.sa_nodenum + 2, 4);
  }
  return s;
}

SockAddrIpx native_to_ipx(const sockaddr_in& s) {
  SockAddrIpx a{};
  a.sa_family = AF_IPX_;
  local_ipx_network(a.sa_netnum);
  std::memcpy(a.sa_nodenum + 2, &s.sin_addr.s_addr, 4);
  a.sa_socket = s.sin_port;
  return a;
}

}  // namespace

bool node_is_this_host(const uint8_t node[6], const uint32_t* own, int count,
                       bool loopback_allowed) {
  uint32_t mapped;
  std::memcpy(&mapped, node + 2, 4);
  if (mapped == 0) return true;
  if ((ntohl(mapped) >> 24) == 127) return !loopback_allowed;
  for (int i = 0; i < count; ++i)
    if (own[i] == mapped) return true;
  return false;
}

namespace internal::ipv4 {

Socket socket(bool datagram) {
  Socket s = native_socket(datagram ? SOCK_DGRAM : SOCK_STREAM);
  if (s != INVALID_SOCKET && datagram) {
    // IPX datagrams reach the broadcast node without a socket option.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  return s;
}

int bind(Socket s, const SockAddrIpx& addr) {
  // Any network and node bind to INADDR_ANY; a given node binds that host.
  sockaddr_in n{};
  n.sin_family = AF_INET;
  n.sin_port = addr.sa_socket;
  std::memcpy(&n.sin_addr.s_addr, addr.sa_nodenum + 2, 4);
  if (::bind(s, reinterpret_cast<sockaddr*>(&n), sizeof n) == 0) return 0;
  return fail_with_errno();
}

int connect(Socket s, const SockAddrIpx& addr) {
  constexpr int kMaxOwn = 64;
  ConfiguredInterface interfaces[kMaxOwn];
  uint32_t own[kMaxOwn];
  int count = list_interfaces(interfaces, kMaxOwn);
  for (int i = 0; i < count; ++i) own[i] = interfaces[i].address;
  uint32_t self = 0;
  bool on_loopback = host_own_address(&self) && (ntohl(self) >> 24) == 127;
  if (node_is_this_host(addr.sa_nodenum, own, count, on_loopback))
    return fail(10049);  // WSAEADDRNOTAVAIL
  return connect_native(s, ipx_to_native(addr), kSpxConnectTimeoutMs);
}

int getsockname(Socket s, SockAddrIpx* addr) {
  sockaddr_in n{};
  if (getsockname_native(s, &n) != 0) return SOCKET_ERROR;
  *addr = native_to_ipx(n);
  return 0;
}

int sendto(Socket s, const void* data, int len, const SockAddrIpx& to) {
  return sendto_native(s, data, len, ipx_to_native(to));
}

int recvfrom(Socket s, void* data, int len, SockAddrIpx* from) {
  sockaddr_in n{};
  int r = recvfrom_native(s, data, len, &n);
  if (r < 0) return r;
  if (from != nullptr) *from = native_to_ipx(n);
  return r;
}

void local_network(uint8_t out[4]) {
  uint32_t own = 0;
  uint32_t network = 0;
  if (host_own_address(&own)) network = own & interface_mask_of(own);
  std::memcpy(out, &network, 4);  // already big-endian
}

}  // namespace internal::ipv4
}  // namespace net
