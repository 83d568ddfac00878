#include "sim/snmp_udp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

int open_wildcard_udp(uint16_t port, std::string* error) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  int buf = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    *error =
        "bind UDP port " + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool receive_datagram(int fd, Datagram* d) {
  sockaddr_in from{};
  iovec iov{d->data, sizeof d->data};
  alignas(cmsghdr) char control[256];
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
  if (n < 0) return false;
  d->length = static_cast<size_t>(n);
  d->from_ip = from.sin_addr.s_addr;
  d->from_port = from.sin_port;
  d->to_ip = 0;
  d->ifindex = 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
       c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      d->to_ip = info.ipi_addr.s_addr;
      d->ifindex = info.ipi_ifindex;
    }
  }
  return true;
}

bool send_from(int fd, uint32_t source_ip, uint32_t to_ip, uint16_t to_port,
               const uint8_t* data, size_t length) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = to_ip;
  to.sin_port = to_port;
  iovec iov{const_cast<uint8_t*>(data), length};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr msg{};
  msg.msg_name = &to;
  msg.msg_namelen = sizeof to;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  cmsghdr* c = CMSG_FIRSTHDR(&msg);
  c->cmsg_level = IPPROTO_IP;
  c->cmsg_type = IP_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  info.ipi_spec_dst.s_addr = source_ip;
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
  return ::sendmsg(fd, &msg, 0) == static_cast<ssize_t>(length);
}

int interface_index_of(uint32_t ip) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  int index = 0;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if (reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr != ip)
      continue;
    index = static_cast<int>(if_nametoindex(i->ifa_name));
    break;
  }
  freeifaddrs(list);
  return index;
}

bool parse_ip(const std::string& text, uint32_t* ip) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *ip = a.s_addr;
  return true;
}

UdpServer::~UdpServer() { stop(); }

bool UdpServer::start(std::string* error, uint16_t port) {
  fd_ = open_wildcard_udp(port, error);
  if (fd_ < 0) return false;
  if (::pipe(wake_) != 0) {
    *error = "pipe failed";
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void UdpServer::stop() {
  if (!thread_.joinable()) return;
  char c = 0;
  while (::write(wake_[1], &c, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  ::close(fd_);
  ::close(wake_[0]);
  ::close(wake_[1]);
  fd_ = -1;
}

void UdpServer::run() {
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int n = ::poll(fds, 2, timer_ms());
    if (n > 0 && (fds[1].revents & POLLIN)) return;
    on_timer();
    if (n <= 0 || !(fds[0].revents & POLLIN)) continue;
    Datagram d;
    while (receive_datagram(fd_, &d)) {
      received_.fetch_add(1);
      on_datagram(d);
    }
  }
}

}  // namespace sim
