// The socket calls of platform/net.h, the Winsock numbers and IPv4; host
// identity is in net_host.cc. IPX is handed to net_ipx_ipv4.cc or
// net_ipx_ethernet.cc.
#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/net_internal.h"

namespace net {

using internal::fail;
using internal::fail_with_errno;

namespace {

thread_local int t_last_error = 0;

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

bool is_blocking(Socket s) {
  int flags = fcntl(s, F_GETFL, 0);
  return flags >= 0 && (flags & O_NONBLOCK) == 0;
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
    return fail(10038);  // WSAENOTSOCK
  }
  // Errors and hang-ups count as ready: the following call reports them.
  return 1;
}

}  // namespace

namespace internal {

int fail(int winsock_error) {
  t_last_error = winsock_error;
  return SOCKET_ERROR;
}

int fail_with_errno() { return fail(winsock_error_from_errno(errno)); }

Socket native_socket(int native_type) {
  int s = ::socket(AF_INET, native_type | SOCK_CLOEXEC, 0);
  return s < 0 ? fail_with_errno() : s;
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
  return fail(winsock_error_from_errno(err));
}

int sendto_native(Socket s, const void* data, int len, const sockaddr_in& to) {
  ssize_t r = ::sendto(s, data, static_cast<size_t>(len), MSG_NOSIGNAL,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (r < 0) return fail_with_errno();
  return static_cast<int>(r);
}

int recvfrom_native(Socket s, void* data, int len, sockaddr_in* from) {
  iovec iov{data, static_cast<size_t>(len)};
  msghdr msg{};
  msg.msg_name = from;
  msg.msg_namelen = sizeof *from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  ssize_t r = ::recvmsg(s, &msg, 0);
  if (r < 0) return fail_with_errno();
  if (msg.msg_flags & MSG_TRUNC) return fail(10040);  // WSAEMSGSIZE
  return static_cast<int>(r);
}

int getsockname_native(Socket s, sockaddr_in* out) {
  socklen_t len = sizeof *out;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(out), &len) != 0)
    return fail_with_errno();
  return 0;
}

}  // namespace internal

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

Socket socket(int af, int type, int protocol) {
  if (af == AF_INET_)
    return internal::native_socket(type == SOCK_STREAM_ ? SOCK_STREAM
                                                        : SOCK_DGRAM);
  if (af != AF_IPX_ || !ipx_enabled()) return fail(WSAEAFNOSUPPORT);
  bool datagram =
      type == SOCK_DGRAM_ && (protocol == NSPROTO_IPX || protocol == 0);
  bool stream =
      type == SOCK_STREAM_ && (protocol == NSPROTO_SPX || protocol == 0);
  if (!datagram && !stream) return fail(WSAEINVAL);
  if (ipx_mode() == IpxMode::kEthernet) return internal::ethernet::socket(type);
  return internal::ipv4::socket(datagram);
}

int closesocket(Socket s) {
  if (auto rc = internal::ethernet::close(s)) return *rc;
  if (::close(s) == 0) return 0;
  return fail_with_errno();
}

int ioctlsocket_fionbio(Socket s, unsigned long on) {
  if (auto rc = internal::ethernet::set_nonblocking(s, on != 0)) return *rc;
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0) return fail_with_errno();
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (fcntl(s, F_SETFL, flags) != 0) return fail_with_errno();
  return 0;
}

int setsockopt_int(Socket s, SockOpt opt, int value) {
  // The stack's datagrams reach the broadcast node without the option, and
  // its buffers are its own: the options are taken and have no effect.
  if (internal::ethernet::owns(s)) return 0;
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
  if (auto rc = internal::ethernet::bind(s, addr)) return *rc;
  return internal::ipv4::bind(s, addr);
}

int connect(Socket s, const SockAddrIn& addr) {
  return internal::connect_native(s, to_native(addr), -1);
}

int connect(Socket s, const SockAddrIpx& addr) {
  if (auto rc = internal::ethernet::connect(s, addr)) return *rc;
  return internal::ipv4::connect(s, addr);
}

int listen(Socket s, int backlog) {
  if (auto rc = internal::ethernet::listen(s, backlog)) return *rc;
  if (::listen(s, backlog) == 0) return 0;
  return fail_with_errno();
}

Socket accept(Socket s) {
  if (auto c = internal::ethernet::accept(s)) return *c;
  int flags = fcntl(s, F_GETFL, 0);
  int extra = (flags >= 0 && (flags & O_NONBLOCK)) ? SOCK_NONBLOCK : 0;
  int c = ::accept4(s, nullptr, nullptr, SOCK_CLOEXEC | extra);
  if (c < 0) return fail_with_errno();
  return c;
}

int getsockname(Socket s, SockAddrIn* addr) {
  sockaddr_in n{};
  if (internal::getsockname_native(s, &n) != 0) return SOCKET_ERROR;
  *addr = from_native(n);
  return 0;
}

int getsockname(Socket s, SockAddrIpx* addr) {
  if (auto rc = internal::ethernet::getsockname(s, addr)) return *rc;
  return internal::ipv4::getsockname(s, addr);
}

int send(Socket s, const void* data, int len) {
  ssize_t n = ::send(s, data, static_cast<size_t>(len), MSG_NOSIGNAL);
  if (n >= 0) return static_cast<int>(n);
  int err = errno;
  if (err != EAGAIN && err != EWOULDBLOCK && err != ENOBUFS) {
    if (auto rc = internal::ethernet::send_failed(s)) return *rc;
  }
  return fail(winsock_error_from_errno(err));
}

int recv(Socket s, void* data, int len) {
  ssize_t n = ::recv(s, data, static_cast<size_t>(len), 0);
  int err = errno;
  if (n <= 0 && len > 0 && (n == 0 || err == ENOTSOCK)) {
    if (auto rc = internal::ethernet::recv_ended(s, data, len, n)) return *rc;
  }
  if (n < 0) return fail(winsock_error_from_errno(err));
  return static_cast<int>(n);
}

int sendto(Socket s, const void* data, int len, const SockAddrIn& to) {
  return internal::sendto_native(s, data, len, to_native(to));
}

int sendto(Socket s, const void* data, int len, const SockAddrIpx& to) {
  if (auto rc = internal::ethernet::sendto(s, data, len, to)) return *rc;
  return internal::ipv4::sendto(s, data, len, to);
}

int recvfrom(Socket s, void* data, int len, SockAddrIn* from) {
  sockaddr_in n{};
  int r = internal::recvfrom_native(s, data, len, &n);
  if (r < 0) return r;
  if (from != nullptr) *from = from_native(n);
  return r;
}

int recvfrom(Socket s, void* data, int len, SockAddrIpx* from) {
  if (auto rc = internal::ethernet::recvfrom(s, data, len, from)) return *rc;
  return internal::ipv4::recvfrom(s, data, len, from);
}

int wait_readable(Socket s, int timeout_ms) {
  return wait_for(s, POLLIN, timeout_ms);
}

int wait_writable(Socket s, int timeout_ms) {
  return wait_for(s, POLLOUT, timeout_ms);
}

int wait_readable_either(Socket a, Socket b, int timeout_ms, int* ready) {
  *ready = 0;
  pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  int n;
  do {
    n = ::poll(p, 2, timeout_ms);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fail_with_errno();
  if (n == 0) return 0;
  if ((p[0].revents | p[1].revents) & POLLNVAL) return fail(10038);
  *ready = (p[0].revents != 0 ? 1 : 0) | (p[1].revents != 0 ? 2 : 0);
  return 1;
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

int socket_error(Socket s) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
    return fail_with_errno();
  return err == 0 ? 0 : winsock_error_from_errno(err);
}

}  // namespace net
