#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ipx_stack.h"

namespace net {
namespace {

thread_local int t_last_error = 0;

int fail_with_errno() {
  t_last_error = winsock_error_from_errno(errno);
  return SOCKET_ERROR;
}

sockaddr_in to_native(const SockAddrIn& a) {
  sockaddr_in s{};
  s.sin_family = AF_INET;
  s.sin_port = a.sin_port;
  s.sin_addr.s_addr = a.sin_addr;
  return s;
}

SockAddrIn from_native(const sockaddr_in& s) {
  SockAddrIn a{};
  a.sin_family = AF_INET_;
  a.sin_port = s.sin_port;
  a.sin_addr = s.sin_addr.s_addr;
  return a;
}

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

bool is_blocking(Socket s) {
  int flags = fcntl(s, F_GETFL, 0);
  return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

int connect_native(Socket s, const sockaddr_in& addr, int bound_ms) {
  if (bound_ms < 0 || !is_blocking(s)) {
    if (::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) ==
        0)
      return 0;
    return fail_with_errno();
  }
  // A blocking connect with a bound: connect without blocking, wait, and
  // read the outcome from SO_ERROR.
  int flags = fcntl(s, F_GETFL, 0);
  fcntl(s, F_SETFL, flags | O_NONBLOCK);
  int rc = ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  int err = rc == 0 ? 0 : errno;
  if (rc != 0 && err == EINPROGRESS) {
    pollfd p{s, POLLOUT, 0};
    int n = ::poll(&p, 1, bound_ms);
    if (n == 0) {
      err = ETIMEDOUT;
    } else if (n < 0) {
      err = errno;
    } else {
      socklen_t len = sizeof err;
      if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  fcntl(s, F_SETFL, flags);
  if (err == 0) return 0;
  t_last_error = winsock_error_from_errno(err);
  return SOCKET_ERROR;
}

int wait_for(Socket s, short events, int timeout_ms) {
  pollfd p{s, events, 0};
  int n;
  do {
    n = ::poll(&p, 1, timeout_ms);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fail_with_errno();
  if (n == 0) return 0;
  if (p.revents & POLLNVAL) {
    t_last_error = 10038;  // WSAENOTSOCK
    return SOCKET_ERROR;
  }
  // Errors and hang-ups count as ready: the following call reports them.
  return 1;
}

// Receives one datagram. One longer than the buffer fails with 10040
// (WSAEMSGSIZE), as Winsock reports it, instead of arriving cut short.
int recvfrom_native(Socket s, void* data, int len, sockaddr_in* from) {
  iovec iov{data, static_cast<size_t>(len)};
  msghdr msg{};
  msg.msg_name = from;
  msg.msg_namelen = sizeof *from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t r = ::recvmsg(s, &msg, 0);
  if (r < 0) return fail_with_errno();
  if (msg.msg_flags & MSG_TRUNC) {
    t_last_error = 10040;  // WSAEMSGSIZE
    return SOCKET_ERROR;
  }
  return static_cast<int>(r);
}

// The interface holding the default route, from /proc/net/route.
bool default_route_interface(char* name, size_t size) {
  FILE* f = std::fopen("/proc/net/route", "r");
  if (f == nullptr) return false;
  char line[256];
  bool found = false;
  if (std::fgets(line, sizeof line, f) != nullptr) {  // header
    while (std::fgets(line, sizeof line, f) != nullptr) {
      char ifname[64];
      unsigned long dest = 1;
      if (std::sscanf(line, "%63s %lx", ifname, &dest) == 2 && dest == 0) {
        std::snprintf(name, size, "%s", ifname);
        found = true;
        break;
      }
    }
  }
  std::fclose(f);
  return found;
}

struct IfaceMatch {
  uint32_t addr = 0;
  uint32_t mask = 0;
  char name[IFNAMSIZ] = {};
};

bool first_up_non_loopback(IfaceMatch* out) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  char preferred[64] = {};
  bool have_pref = default_route_interface(preferred, sizeof preferred);
  bool found = false;
  for (int pass = have_pref ? 0 : 1; pass < 2 && !found; ++pass) {
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
      if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK))
        continue;
      if (pass == 0 && std::strcmp(i->ifa_name, preferred) != 0) continue;
      out->addr = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
      out->mask =
          i->ifa_netmask
              ? reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr
              : 0;
      std::snprintf(out->name, sizeof out->name, "%s", i->ifa_name);
      found = true;
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

bool find_interface(uint32_t addr, IfaceMatch* out) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  // An exact match first; else the interface whose network holds the
  // address (127.0.1.1 from the resolver lies on the loopback's network).
  bool found = false;
  for (int pass = 0; pass < 2 && !found; ++pass) {
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
      uint32_t a = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
      uint32_t m =
          i->ifa_netmask
              ? reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr
              : 0;
      if (pass == 0 ? a != addr : (m == 0 || (a & m) != (addr & m))) continue;
      out->addr = addr;
      out->mask = m;
      std::snprintf(out->name, sizeof out->name, "%s", i->ifa_name);
      found = true;
      break;
    }
  }
  freeifaddrs(list);
  return found;
}

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

// The process-wide stack, started on first use; nullptr with the reason
// in t_last_error when it cannot run.
ipx::Stack* own_stack() {
  Stacks& st = stacks();
  std::lock_guard<std::mutex> lock(st.mu);
  if (!st.tried) {
    st.tried = true;
    int error = 0;
    std::unique_ptr<ipx::Stack> s = ipx::Stack::start({}, &error);
    if (s) {
      st.own = s.release();
      st.all.push_back(st.own);
      g_any_stack.store(true);
    } else {
      st.error = error != 0 ? error : WSAEAFNOSUPPORT;
    }
  }
  if (st.own == nullptr) t_last_error = st.error;
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

// Turns a stack's result (a count, or a negative Winsock number) into this
// layer's.
int from_stack(int rc) {
  if (rc >= 0) return rc;
  t_last_error = -rc;
  return SOCKET_ERROR;
}

// Why a send or receive on a stack's SPX descriptor failed: what ended the
// connection, else "not connected" (the open is not answered yet).
int stack_failure(ipx::Stack* k, Socket s) {
  int why = k->socket_error(s);
  t_last_error = why > 0 ? why : WSAENOTCONN;
  return SOCKET_ERROR;
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
    if (!host_own_address(&own) || (ntohl(own) >> 24) == 127) return false;
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

IpxMode ipx_mode() {
  const char* v = std::getenv("TAV_IPX");
  if (v != nullptr && std::strcmp(v, "off") == 0) return IpxMode::kOff;
  if (v != nullptr && std::strcmp(v, "ipv4") == 0) return IpxMode::kIpv4;
  if (v != nullptr && std::strcmp(v, "ethernet") == 0)
    return IpxMode::kEthernet;
  return raw_frames_allowed() ? IpxMode::kEthernet : IpxMode::kIpv4;
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

uint16_t htons_(uint16_t v) { return htons(v); }
uint16_t ntohs_(uint16_t v) { return ntohs(v); }
uint32_t htonl_(uint32_t v) { return htonl(v); }
uint32_t ntohl_(uint32_t v) { return ntohl(v); }

int WSAStartup(uint16_t) { return 0; }

int WSACleanup() { return 0; }

int WSAGetLastError() { return t_last_error; }
void WSASetLastError(int error) { t_last_error = error; }

int winsock_error_from_errno(int err) {
  switch (err) {
    case EWOULDBLOCK:
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EINPROGRESS:
      return WSAEWOULDBLOCK;
    case ENOBUFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
      return WSAENOBUFS;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNRESET:
      return WSAECONNRESET;
    case ENOTCONN:
      return WSAENOTCONN;
    case EINVAL:
      return WSAEINVAL;
    case EACCES:
      return WSAEACCES;
    default:
      return 10000 + err;
  }
}

bool ipx_enabled() {
  const char* v = std::getenv("TAV_IPX");
  return v == nullptr || std::strcmp(v, "off") != 0;
}

Socket socket(int af, int type, int protocol) {
  int native_type;
  if (af == AF_IPX_) {
    if (!ipx_enabled()) {
      t_last_error = WSAEAFNOSUPPORT;
      return INVALID_SOCKET;
    }
    bool datagram =
        type == SOCK_DGRAM_ && (protocol == NSPROTO_IPX || protocol == 0);
    bool stream =
        type == SOCK_STREAM_ && (protocol == NSPROTO_SPX || protocol == 0);
    if ((datagram || stream) && ipx_mode() == IpxMode::kEthernet) {
      ipx::Stack* k = own_stack();
      if (k == nullptr) return INVALID_SOCKET;
      int fd = from_stack(k->socket(type));
      return fd < 0 ? INVALID_SOCKET : fd;
    }
    if (datagram) {
      native_type = SOCK_DGRAM;
    } else if (type == SOCK_STREAM_ &&
               (protocol == NSPROTO_SPX || protocol == 0)) {
      native_type = SOCK_STREAM;
    } else {
      t_last_error = WSAEINVAL;
      return INVALID_SOCKET;
    }
  } else if (af == AF_INET_) {
    native_type = type == SOCK_STREAM_ ? SOCK_STREAM : SOCK_DGRAM;
  } else {
    t_last_error = WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }
  int s = ::socket(AF_INET, native_type | SOCK_CLOEXEC, 0);
  if (s < 0) {
    fail_with_errno();
    return INVALID_SOCKET;
  }
  if (af == AF_IPX_ && native_type == SOCK_DGRAM) {
    // IPX datagrams reach the broadcast node without a socket option.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  return s;
}

int closesocket(Socket s) {
  if (ipx::Stack* k = stack_of(s)) return from_stack(k->close(s));
  if (::close(s) == 0) return 0;
  return fail_with_errno();
}

int ioctlsocket_fionbio(Socket s, unsigned long on) {
  if (ipx::Stack* k = stack_of(s))
    return from_stack(k->set_nonblocking(s, on != 0));
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0) return fail_with_errno();
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (fcntl(s, F_SETFL, flags) != 0) return fail_with_errno();
  return 0;
}

int setsockopt_int(Socket s, SockOpt opt, int value) {
  // The stack's datagrams reach the broadcast node without the option, and
  // its buffers are its own: the options are taken and have no effect.
  if (stack_of(s) != nullptr) return 0;
  int name = SO_BROADCAST;
  switch (opt) {
    case SockOpt::kBroadcast:
      name = SO_BROADCAST;
      break;
    case SockOpt::kDebug:
      name = SO_DEBUG;
      break;
    case SockOpt::kRcvBuf:
      name = SO_RCVBUF;
      break;
    case SockOpt::kSndBuf:
      name = SO_SNDBUF;
      break;
    case SockOpt::kReuseAddr:
      name = SO_REUSEADDR;
      break;
  }
  if (::setsockopt(s, SOL_SOCKET, name, &value, sizeof value) == 0) return 0;
  return fail_with_errno();
}

int bind(Socket s, const SockAddrIn& addr) {
  sockaddr_in n = to_native(addr);
  if (::bind(s, reinterpret_cast<sockaddr*>(&n), sizeof n) == 0) return 0;
  return fail_with_errno();
}

int bind(Socket s, const SockAddrIpx& addr) {
  if (ipx::Stack* k = stack_of(s)) return from_stack(k->bind(s, addr));
  // Any network and node bind to INADDR_ANY; a given node binds that host.
  sockaddr_in n{};
  n.sin_family = AF_INET;
  n.sin_port = addr.sa_socket;
  std::memcpy(&n.sin_addr.s_addr, addr.sa_nodenum + 2, 4);
  if (::bind(s, reinterpret_cast<sockaddr*>(&n), sizeof n) == 0) return 0;
  return fail_with_errno();
}

int connect(Socket s, const SockAddrIn& addr) {
  return connect_native(s, to_native(addr), -1);
}

int connect(Socket s, const SockAddrIpx& addr) {
  constexpr int kMaxOwn = 64;
  ConfiguredInterface interfaces[kMaxOwn];
  uint32_t own[kMaxOwn];
  int count = list_interfaces(interfaces, kMaxOwn);
  for (int i = 0; i < count; ++i) own[i] = interfaces[i].address;
  uint32_t self = 0;
  bool on_loopback = host_own_address(&self) && (ntohl(self) >> 24) == 127;
  if (ipx::Stack* k = stack_of(s)) {
    if (node_is_own_mac(addr.sa_nodenum) ||
        std::memcmp(k->node().data(), addr.sa_nodenum, 6) == 0) {
      t_last_error = 10049;  // WSAEADDRNOTAVAIL
      return SOCKET_ERROR;
    }
    return from_stack(k->connect(s, addr));
  }
  if (node_is_this_host(addr.sa_nodenum, own, count, on_loopback)) {
    t_last_error = 10049;  // WSAEADDRNOTAVAIL
    return SOCKET_ERROR;
  }
  return connect_native(s, ipx_to_native(addr), kSpxConnectTimeoutMs);
}

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

int listen(Socket s, int backlog) {
  if (ipx::Stack* k = stack_of(s)) return from_stack(k->listen(s, backlog));
  if (::listen(s, backlog) == 0) return 0;
  return fail_with_errno();
}

Socket accept(Socket s) {
  if (ipx::Stack* k = stack_of(s)) {
    int c = from_stack(k->accept(s));
    return c < 0 ? INVALID_SOCKET : c;
  }
  int flags = fcntl(s, F_GETFL, 0);
  int extra = (flags >= 0 && (flags & O_NONBLOCK)) ? SOCK_NONBLOCK : 0;
  int c = ::accept4(s, nullptr, nullptr, SOCK_CLOEXEC | extra);
  if (c < 0) {
    fail_with_errno();
    return INVALID_SOCKET;
  }
  return c;
}

int getsockname(Socket s, SockAddrIn* addr) {
  sockaddr_in n{};
  socklen_t len = sizeof n;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&n), &len) != 0)
    return fail_with_errno();
  *addr = from_native(n);
  return 0;
}

int getsockname(Socket s, SockAddrIpx* addr) {
  if (ipx::Stack* k = stack_of(s)) return from_stack(k->getsockname(s, addr));
  sockaddr_in n{};
  socklen_t len = sizeof n;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&n), &len) != 0)
    return fail_with_errno();
  *addr = native_to_ipx(n);
  return 0;
}

int send(Socket s, const void* data, int len) {
  ssize_t n = ::send(s, data, static_cast<size_t>(len), MSG_NOSIGNAL);
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS) {
    if (ipx::Stack* k = stack_of(s)) return stack_failure(k, s);
  }
  if (n < 0) return fail_with_errno();
  return static_cast<int>(n);
}

int recv(Socket s, void* data, int len) {
  ssize_t n = ::recv(s, data, static_cast<size_t>(len), 0);
  if (n <= 0 && len > 0 && (n == 0 || errno == ENOTSOCK)) {
    // The end of an SPX connection that broke reads as its error; an open
    // not yet answered (a pipe) as "would block" or "not connected".
    ipx::Stack* k = stack_of(s);
    if (k != nullptr && n < 0) {
      n = ::read(s, data, static_cast<size_t>(len));
      if (n < 0) return fail_with_errno();
    }
    if (k != nullptr && n == 0 && k->socket_error(s) > 0)
      return stack_failure(k, s);
  }
  if (n < 0) return fail_with_errno();
  return static_cast<int>(n);
}

int sendto(Socket s, const void* data, int len, const SockAddrIn& to) {
  sockaddr_in n = to_native(to);
  ssize_t r = ::sendto(s, data, static_cast<size_t>(len), MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&n), sizeof n);
  if (r < 0) return fail_with_errno();
  return static_cast<int>(r);
}

int sendto(Socket s, const void* data, int len, const SockAddrIpx& to) {
  if (ipx::Stack* k = stack_of(s))
    return from_stack(k->sendto(s, data, len, to));
  sockaddr_in n = ipx_to_native(to);
  ssize_t r = ::sendto(s, data, static_cast<size_t>(len), MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&n), sizeof n);
  if (r < 0) return fail_with_errno();
  return static_cast<int>(r);
}

int recvfrom(Socket s, void* data, int len, SockAddrIn* from) {
  sockaddr_in n{};
  int r = recvfrom_native(s, data, len, &n);
  if (r < 0) return r;
  if (from != nullptr) *from = from_native(n);
  return r;
}

int recvfrom(Socket s, void* data, int len, SockAddrIpx* from) {
  if (stack_of(s) != nullptr)
    return from_stack(ipx::Stack::recvfrom(s, data, len, from));
  sockaddr_in n{};
  int r = recvfrom_native(s, data, len, &n);
  if (r < 0) return r;
  if (from != nullptr) *from = native_to_ipx(n);
  return r;
}

int wait_readable(Socket s, int timeout_ms) {
  return wait_for(s, POLLIN, timeout_ms);
}

int wait_writable(Socket s, int timeout_ms) {
  return wait_for(s, POLLOUT, timeout_ms);
}

uint32_t inet_addr(const char* text) {
  in_addr a{};
  if (text == nullptr || ::inet_aton(text, &a) == 0) return INADDR_NONE;
  return a.s_addr;
}

void inet_ntoa(uint32_t addr, char* out, size_t size) {
  const auto* b = reinterpret_cast<const uint8_t*>(&addr);
  std::snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

SockAddrIn make_addr_in(uint32_t addr_net, uint16_t port_host) {
  SockAddrIn a{};
  a.sin_family = AF_INET_;
  a.sin_port = htons(port_host);
  a.sin_addr = addr_net;
  return a;
}

int gethostname(char* name, int size) {
  if (::gethostname(name, static_cast<size_t>(size)) == 0) {
    name[size - 1] = '\0';
    return 0;
  }
  return fail_with_errno();
}

bool host_own_address(uint32_t* addr) {
  IfaceMatch m;
  if (first_up_non_loopback(&m)) {
    *addr = m.addr;
    return true;
  }
  char name[256];
  if (::gethostname(name, sizeof name) == 0) {
    name[sizeof name - 1] = '\0';
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &res) == 0 && res != nullptr) {
      *addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
      ::freeaddrinfo(res);
      return true;
    }
  }
  *addr = htonl(INADDR_LOOPBACK);
  return true;
}

uint32_t interface_mask_of(uint32_t addr) {
  IfaceMatch m;
  return find_interface(addr, &m) ? m.mask : 0;
}

void interface_name_of(uint32_t addr, char* out, size_t size) {
  IfaceMatch m;
  if (find_interface(addr, &m)) {
    std::snprintf(out, size, "%s", m.name);
  } else if (size > 0) {
    out[0] = '\0';
  }
}

bool resolve_host(const char* name, uint32_t* addr) {
  char own[256];
  if (::gethostname(own, sizeof own) == 0) {
    own[sizeof own - 1] = '\0';
    if (std::strcmp(own, name) == 0) return host_own_address(addr);
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &res) != 0 || res == nullptr) {
    t_last_error = 11001;  // WSAHOST_NOT_FOUND
    return false;
  }
  *addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return true;
}

bool reverse_lookup(uint32_t addr, char* out, size_t size) {
  sockaddr_in n{};
  n.sin_family = AF_INET;
  n.sin_addr.s_addr = addr;
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&n), sizeof n, host,
                    sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
    return false;
  std::snprintf(out, size, "%s", host);
  return true;
}

int list_interfaces(ConfiguredInterface* out, int max) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  int n = 0;
  for (ifaddrs* i = list; i != nullptr && n < max; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_UP) == 0) continue;
    out[n].address =
        reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    out[n].mask =
        i->ifa_netmask
            ? reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr
            : 0;
    ++n;
  }
  freeifaddrs(list);
  return n;
}

void local_ipx_network(uint8_t out[4]) {
  if (ipx_mode() == IpxMode::kEthernet) {
    ipx::Stack* k = own_stack();
    ipx::NetworkNumber n = k != nullptr ? k->network() : ipx::NetworkNumber{};
    std::memcpy(out, n.data(), 4);
    return;
  }
  uint32_t own = 0;
  uint32_t network = 0;
  if (host_own_address(&own)) network = own & interface_mask_of(own);
  std::memcpy(out, &network, 4);  // already big-endian
}

int socket_error(Socket s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
    return fail_with_errno();
  return err == 0 ? 0 : winsock_error_from_errno(err);
}

}  // namespace net
