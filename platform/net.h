// Sockets for the program's logic, with the names and error numbers of the
// socket library the program was designed around.
//
// Contract:
// - Every call that fails returns SOCKET_ERROR (or INVALID_SOCKET) and leaves
//   a Winsock error number for WSAGetLastError() on the calling thread:
//   10035 would block, 10055 no buffers, 10047 family not supported, 10048
//   address in use, 10061 refused, 10060 timed out, 10054 reset, 10057 not
//   connected, 10022 invalid, 10013 access denied, anything else 10000+errno.
// - IPX and SPX run either in real Ethernet frames (TAV_IPX=ethernet, see
//   ipx_mode()) or over IPv4 (TAV_IPX=ipv4): there an IPX datagram socket
//   is a UDP socket, an SPX stream socket a TCP socket, and the IPX socket
//   number is the port. With TAV_IPX=off every IPX or SPX socket fails with
//   10047, which is how a host without the stack looks.
// - A blocking connect on an SPX socket is bounded (kSpxConnectTimeoutMs).
// - Sends never raise SIGPIPE. Waits use poll(), so descriptors above 1023
//   work.
// - All calls are safe for concurrent use on different sockets.
#ifndef TAV_PLATFORM_NET_H_
#define TAV_PLATFORM_NET_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

using Socket = int;
inline constexpr Socket INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// Address families, socket types and protocols as the program names them.
inline constexpr int AF_INET_ = 2;
inline constexpr int AF_IPX_ = 6;
inline constexpr int SOCK_STREAM_ = 1;
inline constexpr int SOCK_DGRAM_ = 2;
inline constexpr int NSPROTO_IPX = 1000;
inline constexpr int NSPROTO_SPX = 1256;

// Winsock error numbers the logic compares against.
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEACCES = 10013;

inline constexpr int kSpxConnectTimeoutMs = 4000;

// The 16-byte IPv4 socket address: family 2, port and address in network
// byte order, 8 zero bytes.
struct SockAddrIn {
  uint16_t sin_family;
  uint16_t sin_port;  // network byte order
  uint32_t sin_addr;  // network byte order
  uint8_t sin_zero[8];
};
static_assert(sizeof(SockAddrIn) == 16);

// The 14-byte IPX socket address: family 6 (little-endian when stored),
// network number, node number, socket number (network byte order).
struct SockAddrIpx {
  uint16_t sa_family;
  uint8_t sa_netnum[4];
  uint8_t sa_nodenum[6];
  uint16_t sa_socket;  // network byte order
};
static_assert(sizeof(SockAddrIpx) == 14);
static_assert(offsetof(SockAddrIpx, sa_netnum) == 2);
static_assert(offsetof(SockAddrIpx, sa_nodenum) == 6);
static_assert(offsetof(SockAddrIpx, sa_socket) == 12);

// Byte order helpers (the logic keeps ports and addresses as on the wire).
uint16_t htons_(uint16_t v);
uint16_t ntohs_(uint16_t v);
uint32_t htonl_(uint32_t v);
uint32_t ntohl_(uint32_t v);

// Start-up and clean-up of the library: nothing to do on POSIX; both
// always succeed (0).
int WSAStartup(uint16_t version);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// Converts an errno value to its Winsock number (the one place that does).
int winsock_error_from_errno(int err);

Socket socket(int af, int type, int protocol);
int closesocket(Socket s);

// The one owner of a socket: closes it (closesocket) when destroyed, when
// given another, or when reset. Move-only; release() gives the socket up
// without closing it. Every socket the program opens is held by one, or
// by the one named place that closes a shared table's sockets.
class OwnedSocket {
 public:
  OwnedSocket() = default;
  explicit OwnedSocket(Socket s) : s_(s) {}
  OwnedSocket(OwnedSocket&& other) noexcept : s_(other.release()) {}
  OwnedSocket& operator=(OwnedSocket&& other) noexcept {
    reset(other.release());
    return *this;
  }
  OwnedSocket(const OwnedSocket&) = delete;
  OwnedSocket& operator=(const OwnedSocket&) = delete;
  ~OwnedSocket() { reset(); }

  Socket get() const { return s_; }
  bool valid() const { return s_ != INVALID_SOCKET; }
  explicit operator bool() const { return valid(); }
  Socket release() {
    Socket s = s_;
    s_ = INVALID_SOCKET;
    return s;
  }
  // Closes the socket held, if any (and unless it is `s`), and holds `s`.
  void reset(Socket s = INVALID_SOCKET) {
    Socket old = s_;
    s_ = s;
    if (old != INVALID_SOCKET && old != s) closesocket(old);
  }

 private:
  Socket s_ = INVALID_SOCKET;
};

// Non-blocking mode on (non-zero) or off, as ioctlsocket(FIONBIO).
int ioctlsocket_fionbio(Socket s, unsigned long on);

enum class SockOpt { kBroadcast, kDebug, kRcvBuf, kSndBuf, kReuseAddr };
int setsockopt_int(Socket s, SockOpt opt, int value);

int bind(Socket s, const SockAddrIn& addr);
int bind(Socket s, const SockAddrIpx& addr);
int connect(Socket s, const SockAddrIn& addr);
// Refuses with 10049 (WSAEADDRNOTAVAIL) a node that leads back to this host
// (node_is_this_host() over the host's interface addresses, or in Ethernet
// frames a node that is one of the host's MAC addresses): a unit's
// address comes from the network and must not reach local services. A host
// whose own address is on the loopback (a namespace with no other
// interface, as the demo makes without root) has its units there, so 127/8
// is let through there.
int connect(Socket s, const SockAddrIpx& addr);

// Which IPX/SPX stack the host has (TAV_IPX): real IPX in Ethernet frames
// (a user-space stack, ipx/host/stack.h, started on first use and kept
// for the life of the process), IPX mapped onto IPv4, or none. Unset, it
// is ethernet where the process may send raw frames on a non-loopback
// interface holding the host's own address, else ipv4.
enum class IpxMode { kOff, kIpv4, kEthernet };
IpxMode ipx_mode();

}  // namespace net

namespace ipx {
class Stack;
}

namespace net {

// Makes the socket calls of this layer serve the descriptors of `stack`
// too (the simulator plays each unit with a stack of its own); the stack
// must outlive its registration.
void register_ipx_stack(ipx::Stack* stack);
void unregister_ipx_stack(ipx::Stack* stack);
// The interface that holds the host's own address, where IPX in Ethernet
// frames runs; empty when there is none.
std::string own_interface_name();

// True when the IPv4 address that `node` maps to (its bytes 2 to 5) is
// 0.0.0.0, in 127/8 (unless `loopback_allowed`), or one of the `count`
// addresses of `own` (network order). Pure.
bool node_is_this_host(const uint8_t node[6], const uint32_t* own, int count,
                       bool loopback_allowed);
int listen(Socket s, int backlog);
// Accepts a connection; the new socket inherits non-blocking mode from the
// listening socket, as Winsock does.
Socket accept(Socket s);
int getsockname(Socket s, SockAddrIn* addr);
int getsockname(Socket s, SockAddrIpx* addr);

// Returns bytes moved, 0 for an orderly close (recv), or SOCKET_ERROR.
int send(Socket s, const void* data, int len);
int recv(Socket s, void* data, int len);
int sendto(Socket s, const void* data, int len, const SockAddrIn& to);
int sendto(Socket s, const void* data, int len, const SockAddrIpx& to);
int recvfrom(Socket s, void* data, int len, SockAddrIn* from);
int recvfrom(Socket s, void* data, int len, SockAddrIpx* from);

// Waits for one socket: 1 ready, 0 time-out, SOCKET_ERROR on error.
// A negative timeout waits without bound.
int wait_readable(Socket s, int timeout_ms);
int wait_writable(Socket s, int timeout_ms);
// Waits for the first of two sockets to be readable (or to fail or hang
// up): 1 with *ready telling which (1: a, 2: b, 3: both), 0 on time-out,
// SOCKET_ERROR on error (*ready 0 unless 1 is returned).
int wait_readable_either(Socket a, Socket b, int timeout_ms, int* ready);

// Dotted text to an address in network byte order; 0xFFFFFFFF (INADDR_NONE)
// when the text is not a dotted address.
uint32_t inet_addr(const char* text);
// Network-order address to dotted text (out needs 16 bytes).
void inet_ntoa(uint32_t addr, char* out, size_t size);
SockAddrIn make_addr_in(uint32_t addr_net, uint16_t port_host);

// Host identity.
int gethostname(char* name, int size);
// The host's own address: the first IPv4 address of an interface that is up
// and not loopback (preferring the interface of the default route), else the
// resolver's answer for the host name, else 127.0.0.1. Network byte order.
// Returns false only when no address at all can be had.
bool host_own_address(uint32_t* addr);
// The mask of the interface holding `addr` (network order), or 0 if unknown.
uint32_t interface_mask_of(uint32_t addr);
// The name of the interface holding `addr`, for the route step; empty if
// none. out needs at least 32 bytes.
void interface_name_of(uint32_t addr, char* out, size_t size);
// Resolves a host name to its first IPv4 address (network order); the
// host's own name yields host_own_address(). Returns false when it has none.
bool resolve_host(const char* name, uint32_t* addr);
// Reverse look-up: writes the host name of `addr` to out; false when none.
bool reverse_lookup(uint32_t addr, char* out, size_t size);

struct ConfiguredInterface {
  uint32_t address;  // network order
  uint32_t mask;     // network order
};
// The IPv4 interfaces of the host that are up (loopback included), in
// interface order. Returns how many were stored.
int list_interfaces(ConfiguredInterface* out, int max);

// True unless TAV_IPX=off.
bool ipx_enabled();
// The IPX network number of this host: its own IPv4 network (address AND
// mask), big-endian bytes.
void local_ipx_network(uint8_t out[4]);

// The pending error of a socket (SO_ERROR) as a Winsock number, 0 when none:
// how a connect that ended while nobody waited on it turned out. Reading
// it clears it. SOCKET_ERROR when it cannot be read.
int socket_error(Socket s);

}  // namespace net

#endif  // TAV_PLATFORM_NET_H_
