#include "sim/ipx_side.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "ipx/host/stack.h"
#include "platform/net.h"
#include "sim/ipx_replies.h"
#include "sim/ipx_units.h"
#include "sim/sides.h"
#include "sim/snmp_udp.h"

namespace sim {

namespace {

constexpr int kUnitsPerMs = 8;  // spread of a broadcast's answers
constexpr int64_t kIdleCloseMs = 10000;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int bound_socket(int type, uint32_t ip, uint16_t port, std::string* error) {
  int s = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (type == SOCK_DGRAM) {
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = ip;
  a.sin_port = htons(port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (type == SOCK_STREAM && ::listen(s, 64) != 0)) {
    char text[16];
    net::inet_ntoa(ip, text, sizeof text);
    *error = std::string("cannot bind ") + text + ":" + std::to_string(port) +
             ": " + std::strerror(errno);
    ::close(s);
    return -1;
  }
  return s;
}

// A socket of a unit's own stack bound to `port`: a non-blocking listener
// for a stream socket.
int stack_socket(ipx::Stack* stack, ipx::SocketKind kind, uint16_t port,
                 std::string* error) {
  int s = stack->socket(kind);
  int rc = s < 0 ? s : stack->bind(s, port);
  if (rc == 0 && kind == ipx::SocketKind::kStream) rc = stack->listen(s, 64);
  if (rc == 0) rc = stack->set_nonblocking(s, true);
  if (rc == 0) return s;
  *error = "cannot bind IPX socket " + std::to_string(port) + ": error " +
           std::to_string(-rc);
  if (s >= 0) stack->close(s);
  return -1;
}

// Closes a descriptor of the host's or of a unit's stack.
void close_socket(ipx::Stack* stack, int fd) {
  if (fd < 0) return;
  if (stack != nullptr) {
    stack->close(fd);
  } else {
    ::close(fd);
  }
}

}  // namespace

struct IpxSide::Unit : IpxUnit {
  int listener = -1;
  Entity entity;
  ipx::Stack* stack = nullptr;  // in Ethernet frames: the unit's own

  // Where its SAP entries say it is: its stack's network and node, or over
  // IPv4 the host's IPX network and node 00 00 followed by its address.
  ipx::Address node() const {
    ipx::Address a;
    if (stack != nullptr) {
      a.network = stack->network();
      a.node = stack->node();
    } else {
      net::local_ipx_network(a.network.data());
      std::memcpy(a.node.data() + 2, &ip, 4);
    }
    return a;
  }
};

struct IpxSide::Loop {
  // A socket that takes queries for some units: over IPv4 one for all of
  // them, in Ethernet frames one per unit on its own stack.
  struct Receiver {
    int fd;
    bool locator;
    ipx::Stack* stack;
    std::vector<std::shared_ptr<Unit>> units;
  };
  struct Pending {
    int64_t due;
    size_t receiver;
    sockaddr_in to;
    ipx::Address to_ipx;
    uint32_t from_ip;
    std::vector<uint8_t> bytes;
  };
  struct Connection {
    int fd;
    std::shared_ptr<Unit> unit;
    std::vector<uint8_t> received;
    int64_t reply_due = -1;
    int64_t last_activity;
  };
  std::vector<Receiver> receivers;
  std::vector<Pending> pending;
  std::vector<Connection> connections;

  ~Loop() {
    for (auto& r : receivers) close_socket(r.stack, r.fd);
    for (auto& c : connections) close_socket(c.unit->stack, c.fd);
  }
};

IpxSide::IpxSide(const Config& config)
    : config_(config), loop_(std::make_unique<Loop>()) {
  for (const Entity& e : config.entities) {
    bool unit = e.kind == "unit" && e.get_flag("ipx");
    if (!unit && e.kind != "fileserver") continue;
    auto u = std::make_shared<Unit>();
    static_cast<IpxUnit&>(*u) = ipx_unit_of(e);
    u->entity = e;
    units_.push_back(std::move(u));
  }
}

IpxSide::~IpxSide() { stop(); }

int IpxSide::size() const { return static_cast<int>(units_.size()); }

void IpxSide::stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  for (auto& u : units_) {
    close_socket(u->stack, u->listener);
    u->listener = -1;
  }
}

bool IpxSide::start(std::string* error) {
  if (units_.empty()) return true;
  bool frames = ipx_in_frames();
  bool any_unit = false;
  auto& receivers = loop_->receivers;
  for (auto& u : units_) {
    if (frames) {
      u->stack = unit_stack(config_, u->entity, error);
      if (u->stack == nullptr) return false;
      int sap =
          stack_socket(u->stack, ipx::SocketKind::kDatagram, kSapPort, error);
      if (sap < 0) return false;
      receivers.push_back({sap, false, u->stack, {u}});
      // It announces its services as it starts, as print servers do, so a
      // router that started first lists it at once.
      if (answers_sap(*u, 0xFFFF) && !u->foreign)
        loop_->pending.push_back({now_ms() + u->delay_ms,
                                  receivers.size() - 1,
                                  {},
                                  {{}, ipx::kBroadcastMac, kSapPort},
                                  u->ip,
                                  sap_response(*u, u->node())});
      if (!u->file_server) {
        int locator = stack_socket(u->stack, ipx::SocketKind::kDatagram,
                                   kLocatorPort, error);
        if (locator < 0) return false;
        receivers.push_back({locator, true, u->stack, {u}});
      }
    }
    if (u->file_server) continue;
    any_unit = true;
    if (u->wdx == 0) continue;
    u->listener =
        frames ? stack_socket(u->stack, ipx::SocketKind::kStream, u->wdx, error)
               : bound_socket(SOCK_STREAM, u->ip, u->wdx, error);
    if (u->listener < 0) return false;
  }
  if (!frames && any_unit) {
    int s = bound_socket(SOCK_DGRAM, INADDR_ANY, kLocatorPort, error);
    if (s < 0) return false;
    receivers.push_back({s, true, nullptr, units_});
  }
  if (!frames) {
    int s = bound_socket(SOCK_DGRAM, INADDR_ANY, kSapPort, error);
    if (s < 0) return false;
    receivers.push_back({s, false, nullptr, units_});
  }

  thread_ = std::thread([this] {
    Loop& loop = *loop_;
    std::vector<pollfd> fds;
    std::vector<uint8_t> buffer(2048);
    while (!stop_.load()) {
      int64_t now = now_ms();
      // Send what is due.
      for (size_t i = 0; i < loop.pending.size();) {
        Loop::Pending& p = loop.pending[i];
        if (p.due > now) {
          ++i;
          continue;
        }
        Loop::Receiver& r = loop.receivers[p.receiver];
        if (r.stack != nullptr) {
          r.stack->sendto(r.fd, p.bytes.data(),
                          static_cast<int>(p.bytes.size()), p.to_ipx);
        } else {
          send_from(r.fd, p.from_ip, p.to.sin_addr.s_addr, p.to.sin_port,
                    p.bytes.data(), p.bytes.size());
        }
        loop.pending.erase(loop.pending.begin() +
                           static_cast<std::ptrdiff_t>(i));
      }
      for (auto& c : loop.connections) {
        if (c.reply_due < 0 || c.reply_due > now) continue;
        std::vector<uint8_t> r = description_reply(*c.unit);
        served_.fetch_add(1);
        ::send(c.fd, r.data(), r.size(), MSG_NOSIGNAL);
        c.reply_due = -1;
      }

      fds.clear();
      for (auto& r : loop.receivers) fds.push_back({r.fd, POLLIN, 0});
      for (auto& u : units_) fds.push_back({u->listener, POLLIN, 0});
      size_t first_connection = fds.size();
      for (auto& c : loop.connections) fds.push_back({c.fd, POLLIN, 0});
      bool replies_due = !loop.pending.empty();
      for (auto& c : loop.connections) replies_due |= c.reply_due >= 0;
      int timeout = replies_due ? 1 : 50;
      if (::poll(fds.data(), fds.size(), timeout) < 0) continue;
      now = now_ms();

      for (size_t which = 0; which < loop.receivers.size(); ++which) {
        if (!(fds[which].revents & POLLIN)) continue;
        Loop::Receiver& r = loop.receivers[which];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ipx::Address from_ipx;
        ssize_t n = r.stack != nullptr
                        ? ipx::Stack::recvfrom(r.fd, buffer.data(),
                                               static_cast<int>(buffer.size()),
                                               &from_ipx)
                        : ::recvfrom(r.fd, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0) continue;
        uint16_t sap_type = 0;
        IpxQuery query = read_ipx_query(buffer.data(), static_cast<size_t>(n),
                                        r.locator, &sap_type);
        int order = 0;
        for (auto& u : r.units) {
          std::vector<uint8_t> answer;
          if (query == IpxQuery::kLocator && u->locator) {
            answer = locator_reply(*u);
          } else if (query == IpxQuery::kSap && answers_sap(*u, sap_type)) {
            answer = sap_response(*u, u->node());
          } else {
            continue;
          }
          loop.pending.push_back({now + u->delay_ms + order++ / kUnitsPerMs,
                                  which, from, from_ipx, u->ip,
                                  std::move(answer)});
        }
      }
      size_t index = loop.receivers.size();
      for (auto& u : units_) {
        if (fds[index++].revents & POLLIN) {
          int c = u->stack != nullptr ? u->stack->accept(u->listener)
                                      : ::accept4(u->listener, nullptr, nullptr,
                                                  SOCK_CLOEXEC | SOCK_NONBLOCK);
          if (c >= 0) loop.connections.push_back({c, u, {}, -1, now});
        }
      }
      std::vector<Loop::Connection> kept;
      for (size_t i = 0; i < loop.connections.size(); ++i) {
        Loop::Connection& c = loop.connections[i];
        bool close_it = now - c.last_activity > kIdleCloseMs;
        size_t f = first_connection + i;
        if (f < fds.size() && (fds[f].revents & (POLLIN | POLLHUP | POLLERR))) {
          ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), 0);
          if (n <= 0) {
            close_it = true;
          } else {
            c.last_activity = now;
            c.received.insert(c.received.end(), buffer.begin(),
                              buffer.begin() + n);
            static const uint8_t kRequest[4] = {0x00, 0x64, 0x00, 0x02};
            if (c.received.size() >= 4) {
              bool is_request =
                  std::memcmp(c.received.data(), kRequest, 4) == 0;
              c.received.erase(c.received.begin(), c.received.begin() + 4);
              if (!is_request || c.unit->wdx_reply == "close") {
                close_it = true;
              } else if (c.unit->wdx_reply == "normal") {
                c.reply_due = now + c.unit->wdx_delay_ms;
              }
            }
          }
        }
        if (close_it) {
          close_socket(c.unit->stack, c.fd);
        } else {
          kept.push_back(std::move(c));
        }
      }
      loop.connections = std::move(kept);
      int open = static_cast<int>(loop.connections.size());
      if (open > max_open_.load()) max_open_.store(open);
    }
  });
  return true;
}

bool start_ipx_side(const Config& config) {
  return keep_started(std::make_unique<IpxSide>(config), "IPX");
}

}  // namespace sim
