// What the parts of the socket layer share. net.cc holds the calls of
// platform/net.h, the Winsock numbers, host identity and IPv4; it hands IPX
// to net_ipx_ipv4.cc (IPX mapped onto IPv4) or net_ipx_ethernet.cc (IPX in
// Ethernet frames on ipx::Stack, the registry of stacks, TAV_IPX).
#ifndef TAV_PLATFORM_NET_INTERNAL_H_
#define TAV_PLATFORM_NET_INTERNAL_H_

#include <netinet/in.h>
#include <sys/types.h>

#include <optional>

#include "platform/net.h"

namespace net::internal {

// Leaves `winsock_error` for WSAGetLastError(); returns SOCKET_ERROR, which
// is INVALID_SOCKET too.
int fail(int winsock_error);
// The same with errno's Winsock number.
int fail_with_errno();

// An IPv4 socket of the native type, close-on-exec.
Socket native_socket(int native_type);
// Connects; a blocking connect waits at most bound_ms when it is not
// negative (10060 after it).
int connect_native(Socket s, const sockaddr_in& addr, int bound_ms);
int sendto_native(Socket s, const void* data, int len, const sockaddr_in& to);
// One datagram longer than the buffer fails with 10040 (WSAEMSGSIZE), as
// Winsock reports it, instead of arriving cut short.
int recvfrom_native(Socket s, void* data, int len, sockaddr_in* from);
int getsockname_native(Socket s, sockaddr_in* out);

// IPX mapped onto IPv4 (TAV_IPX=ipv4): UDP and TCP stand in for IPX and
// SPX, node 00 00 a.b.c.d is the IPv4 address a.b.c.d.
namespace ipv4 {
Socket socket(bool datagram);
int bind(Socket s, const SockAddrIpx& addr);
int connect(Socket s, const SockAddrIpx& addr);
int getsockname(Socket s, SockAddrIpx* addr);
int sendto(Socket s, const void* data, int len, const SockAddrIpx& to);
int recvfrom(Socket s, void* data, int len, SockAddrIpx* from);
void local_network(uint8_t out[4]);
}  // namespace ipv4

// IPX in Ethernet frames (TAV_IPX=ethernet). The calls on a descriptor give
// the result when a stack handed `s` out, and nothing when none did (the
// caller serves it as an IPv4 socket).
namespace ethernet {
Socket socket(int type);
void local_network(uint8_t out[4]);
bool owns(Socket s);
std::optional<int> close(Socket s);
std::optional<int> set_nonblocking(Socket s, bool on);
std::optional<int> bind(Socket s, const SockAddrIpx& addr);
std::optional<int> connect(Socket s, const SockAddrIpx& addr);
std::optional<int> listen(Socket s, int backlog);
std::optional<int> accept(Socket s);
std::optional<int> getsockname(Socket s, SockAddrIpx* addr);
std::optional<int> sendto(Socket s, const void* data, int len,
                          const SockAddrIpx& to);
std::optional<int> recvfrom(Socket s, void* data, int len, SockAddrIpx* from);
// A send that failed for more than a lack of room, or a receive that got
// `n` (0, or -1 with ENOTSOCK): the outcome on a stack's SPX descriptor.
std::optional<int> send_failed(Socket s);
std::optional<int> recv_ended(Socket s, void* data, int len, ssize_t n);
}  // namespace ethernet

}  // namespace net::internal

#endif  // TAV_PLATFORM_NET_INTERNAL_H_
