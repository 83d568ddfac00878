// IPX in Ethernet frames: the registry of ipx::Stack instances, the choice
// of TAV_IPX, and the socket calls on the descriptors the stacks hand out
// (this layer's addresses and error numbers to the stack's and back).
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "ipx/host/stack.h"
#include "platform/net_internal.h"

namespace net {
namespace {

using internal::fail;

// The stacks of IPX in Ethernet frames: the process-wide one (started on
// first use, never stopped: other threads may use its sockets until the
// process ends) and any the simulator registered.
struct Stacks {
  std::mutex mu;
  bool tried = false;
  ipx::Stack* own = nullptr;
  int error = WSAEAFNOSUPPORT;
  std::vector<ipx::Stack*> all;
};
std::atomic<bool> g_any_stack{false};

Stacks& stacks() {
  static Stacks* s = new Stacks();
  return *s;
}

// A stack's error number as a Winsock number.
int winsock_number(int stack_error) {
  return stack_error >= 10000 ? stack_error
                              : winsock_error_from_errno(stack_error);
}

// The process-wide stack, started on first use; nullptr with the reason
// left for WSAGetLastError() when it cannot run.
ipx::Stack* own_stack() {
  Stacks& st = stacks();
  std::lock_guard<std::mutex> lock(st.mu);
  if (!st.tried) {
    st.tried = true;
    ipx::StackOptions options;
    options.interface = own_interface_name();
    options.broadcast_types =
        ipx::parse_frame_types(std::getenv("TAV_IPX_FRAMES"));
    int error = 0;
    std::unique_ptr<ipx::Stack> s = ipx::Stack::start(options, &error);
    if (s) {
      st.own = s.release();
      st.all.push_back(st.own);
      g_any_stack.store(true);
    } else {
      st.error = error != 0 ? winsock_number(error) : WSAEAFNOSUPPORT;
    }
  }
  if (st.own == nullptr) WSASetLastError(st.error);
  return st.own;
}

// The stack that handed out `s`, if any.
ipx::Stack* stack_of(Socket s) {
  if (!g_any_stack.load(std::memory_order_relaxed)) return nullptr;
  Stacks& st = stacks();
  std::lock_guard<std::mutex> lock(st.mu);
  for (ipx::Stack* k : st.all)
    if (k->owns(s)) return k;
  return nullptr;
}

// Turns a stack's result (a count, or a negative Winsock or errno number)
// into this layer's.
int from_stack(int rc) { return rc >= 0 ? rc : fail(winsock_number(-rc)); }

ipx::Address from_sockaddr(const SockAddrIpx& s) {
  ipx::Address a;
  std::memcpy(a.network.data(), s.sa_netnum, 4);
  std::memcpy(a.node.data(), s.sa_nodenum, 6);
  a.socket = ntohs_(s.sa_socket);
  return a;
}

SockAddrIpx to_sockaddr(const ipx::Address& a) {
  SockAddrIpx s{};
  s.sa_family = AF_IPX_;
  std::memcpy(s.sa_netnum, a.network.data(), 4);
  std::memcpy(s.sa_nodenum, a.node.data(), 6);
  s.sa_socket = htons_(a.socket);
  return s;
}

// Why a send or receive on a stack's SPX descriptor failed: what ended the
// connection, else "not connected" (the open is not answered yet).
int stack_failure(ipx::Stack* k, Socket s) {
  int why = k->socket_error(s);
  return fail(why > 0 ? why : WSAENOTCONN);
}

// True when `node` is the MAC of one of the host's interfaces.
bool node_is_own_mac(const uint8_t node[6]) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool own = false;
  for (ifaddrs* i = list; i != nullptr && !own; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
    own = ll->sll_halen == 6 && std::memcmp(ll->sll_addr, node, 6) == 0;
  }
  freeifaddrs(list);
  return own;
}

// Whether raw frames can be sent on the interface of the host's own
// address (not the loopback, where IPX in frames reaches nobody).
bool raw_frames_allowed() {
  static const bool allowed = [] {
    uint32_t own = 0;
    char name[IFNAMSIZ] = {};
    if (!host_own_address(&own) || (ntohl_(own) >> 24) == 127) return false;
    interface_name_of(own, name, sizeof name);
    if (name[0] == '\0') return false;
    int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_ifindex = static_cast<int>(if_nametoindex(name));
    bool ok = ll.sll_ifindex != 0 &&
              ::bind(fd, reinterpret_cast<sockaddr*>(&ll), sizeof ll) == 0;
    ::close(fd);
    return ok;
  }();
  return allowed;
}

}  // namespace

std::string own_interface_name() {
  uint32_t own = 0;
  char name[IFNAMSIZ] = {};
  if (host_own_address(&own)) interface_name_of(own, name, sizeof name);
  return name;
}

IpxMode ipx_mode() {
  const char* v = std::getenv("TAV_IPX");
  if (v != nullptr && std::strcmp(v, "off") == 0) return IpxMode::kOff;
  if (v != nullptr && std::strcmp(v, "ipv4") == 0) return IpxMode::kIpv4;
  if (v != nullptr && std::strcmp(v, "ethernet") == 0)
    return IpxMode::kEthernet;
  return raw_frames_allowed() ? IpxMode::kEthernet : IpxMode::kIpv4;
}

bool ipx_enabled() {
  const char* v = std::getenv("TAV_IPX");
  return v == nullptr || std::strcmp(v, "off") != 0;
}

void register_ipx_stack(ipx::Stack* stack) {
  Stacks& st = stacks();
  std::lock_guard<std::mutex> lock(st.mu);
  st.all.push_back(stack);
  g_any_stack.store(true);
}

void unregister_ipx_stack(ipx::Stack* stack) {
  Stacks& st = stacks();
  std::lock_guard<std::mutex> lock(st.mu);
  st.all.erase(std::remove(st.all.begin(), st.all.end(), stack), st.all.end());
}

namespace internal::ethernet {

Socket socket(int type) {
  if (type != SOCK_DGRAM_ && type != SOCK_STREAM_) return fail(10022);
  ipx::Stack* k = own_stack();
  if (k == nullptr) return INVALID_SOCKET;
  int fd =
      from_stack(k->socket(type == SOCK_DGRAM_ ? ipx::SocketKind::kDatagram
                                               : ipx::SocketKind::kStream));
  return fd < 0 ? INVALID_SOCKET : fd;
}

void local_network(uint8_t out[4]) {
  ipx::Stack* k = own_stack();
  ipx::NetworkNumber n = k != nullptr ? k->network() : ipx::NetworkNumber{};
  std::memcpy(out, n.data(), 4);
}

bool owns(Socket s) { return stack_of(s) != nullptr; }

std::optional<int> close(Socket s) {
  if (ipx::Stack* k = stack_of(s)) return from_stack(k->close(s));
  return std::nullopt;
}

std::optional<int> set_nonblocking(Socket s, bool on) {
  if (ipx::Stack* k = stack_of(s)) return from_stack(k->set_nonblocking(s, on));
  return std::nullopt;
}

std::optional<int> bind(Socket s, const SockAddrIpx& addr) {
  if (ipx::Stack* k = stack_of(s))
    return from_stack(k->bind(s, ntohs_(addr.sa_socket)));
  return std::nullopt;
}

// Refuses a node that is this host: one of its MACs, or the stack's node.
std::optional<int> connect(Socket s, const SockAddrIpx& addr) {
  ipx::Stack* k = stack_of(s);
  if (k == nullptr) return std::nullopt;
  if (node_is_own_mac(addr.sa_nodenum) ||
      std::memcmp(k->node().data(), addr.sa_nodenum, 6) == 0)
    return fail(10049);  // WSAEADDRNOTAVAIL
  return from_stack(k->connect(s, from_sockaddr(addr)));
}

std::optional<int> listen(Socket s, int backlog) {
  if (ipx::Stack* k = stack_of(s)) return from_stack(k->listen(s, backlog));
  return std::nullopt;
}

std::optional<int> accept(Socket s) {
  ipx::Stack* k = stack_of(s);
  if (k == nullptr) return std::nullopt;
  int c = from_stack(k->accept(s));
  return c < 0 ? INVALID_SOCKET : c;
}

std::optional<int> getsockname(Socket s, SockAddrIpx* addr) {
  ipx::Stack* k = stack_of(s);
  if (k == nullptr) return std::nullopt;
  ipx::Address a;
  int rc = from_stack(k->getsockname(s, &a));
  if (rc == 0) *addr = to_sockaddr(a);
  return rc;
}

std::optional<int> sendto(Socket s, const void* data, int len,
                          const SockAddrIpx& to) {
  if (ipx::Stack* k = stack_of(s))
    return from_stack(k->sendto(s, data, len, from_sockaddr(to)));
  return std::nullopt;
}

std::optional<int> recvfrom(Socket s, void* data, int len, SockAddrIpx* from) {
  if (stack_of(s) == nullptr) return std::nullopt;
  ipx::Address a;
  int rc = from_stack(ipx::Stack::recvfrom(s, data, len, &a));
  if (rc >= 0 && from != nullptr) *from = to_sockaddr(a);
  return rc;
}

std::optional<int> send_failed(Socket s) {
  if (ipx::Stack* k = stack_of(s)) return stack_failure(k, s);
  return std::nullopt;
}

// The end of an SPX connection that broke reads as its error; an open not
// yet answered (a pipe) as "would block" or "not connected".
std::optional<int> recv_ended(Socket s, void* data, int len, ssize_t n) {
  ipx::Stack* k = stack_of(s);
  if (k == nullptr) return std::nullopt;
  if (n < 0) {
    n = ::read(s, data, static_cast<size_t>(len));
    if (n < 0) return internal::fail_with_errno();
  }
  if (n == 0 && k->socket_error(s) > 0) return stack_failure(k, s);
  return static_cast<int>(n);
}

}  // namespace internal::ethernet
}  // namespace net
