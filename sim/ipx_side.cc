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
#include "sim/ipx_units.h"
#include "sim/sides.h"
#include "sim/snmp_udp.h"

namespace sim {

namespace {

constexpr uint16_t kFileServerType = 0x0004;
constexpr uint16_t kUnitServiceType = 0x0414;
constexpr int kUnitsPerMs = 8;  // spread of a broadcast's answers
constexpr int64_t kIdleCloseMs = 10000;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v & 0xFF));
}

// A name field of `size` bytes: NUL-padded, or filled with '_' after the
// name and without any NUL when no_nul is set.
void put_name(std::vector<uint8_t>* out, const std::string& name, size_t size,
              bool no_nul) {
  for (size_t i = 0; i < size; ++i) {
    char c = i < name.size() ? name[i] : (no_nul ? '_' : '\0');
    if (i == size - 1 && !no_nul && i < name.size()) c = '\0';
    out->push_back(static_cast<uint8_t>(c));
  }
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

struct IpxSide::Unit {
  bool file_server = false;
  std::string name;
  uint32_t ip = 0;  // network order
  uint16_t wdx = 0, http = 0;
  std::string description = "Simulated print server";
  int a_items = 0, b_items = 0;
  bool description_nul = true;
  bool locator = true, sap = true;
  bool foreign = false, zero_sockets = false, no_nul = false;
  int sap_entries = 2;
  int delay_ms = 0;
  std::string wdx_reply = "normal";  // normal, silent, close
  int wdx_delay_ms = 0;
  int listener = -1;
  Entity entity;
  ipx::Stack* stack = nullptr;  // in Ethernet frames: the unit's own

  std::vector<uint8_t> locator_reply() const {
    std::vector<uint8_t> r;
    if (foreign) {
      r = {0x12, 0x34, 0x56, 0x78};
    } else {
      r = {0xFF, 0xFF, 0xC1, 0x00};
    }
    r.insert(r.end(), 6, 0);
    put16(&r, zero_sockets ? 0 : wdx);
    put16(&r, zero_sockets ? 0 : http);
    put_name(&r, name, 20, no_nul);
    return r;
  }

  void put_entry(std::vector<uint8_t>* r, uint16_t type, const std::string& n,
                 uint16_t socket) const {
    put16(r, type);
    put_name(r, n, 48, no_nul);
    if (stack != nullptr) {
      ipx::NetworkNumber network = stack->network();
      r->insert(r->end(), network.begin(), network.end());
      ipx::Mac node = stack->node();
      r->insert(r->end(), node.begin(), node.end());
    } else {
      uint8_t network[4];
      net::local_ipx_network(network);
      r->insert(r->end(), network, network + 4);
      r->push_back(0);
      r->push_back(0);
      const auto* node = reinterpret_cast<const uint8_t*>(&ip);
      r->insert(r->end(), node, node + 4);
    }
    put16(r, zero_sockets ? 0 : socket);
    put16(r, 1);  // hops
  }

  std::vector<uint8_t> sap_response() const {
    std::vector<uint8_t> r;
    put16(&r, foreign ? 0x0003 : 0x0002);
    if (file_server) {
      put_entry(&r, kFileServerType, name, 0x0451);
      return r;
    }
    put_entry(&r, kUnitServiceType, name, wdx);
    if (sap_entries >= 2) put_entry(&r, kUnitServiceType, name + "-HTML", http);
    for (int i = 2; i < sap_entries; ++i)
      put_entry(&r, kUnitServiceType, name + "-F" + std::to_string(i), wdx);
    return r;
  }

  std::vector<uint8_t> description_reply() const {
    std::vector<uint8_t> r(26, 0);
    r.push_back(static_cast<uint8_t>(a_items));
    r.insert(r.end(), 2 * static_cast<size_t>(a_items), 0xAA);
    r.push_back(static_cast<uint8_t>(b_items));
    r.insert(r.end(), 2 * static_cast<size_t>(b_items), 0xBB);
    r.insert(r.end(), description.begin(), description.end());
    if (description_nul) r.push_back(0);
    return r;
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
    u->entity = e;
    u->file_server = !unit;
    u->name = e.get("name", unit ? "VEM_000001" : "FS1");
    u->ip = net::inet_addr(e.get("ip", "127.0.0.1").c_str());
    u->wdx = static_cast<uint16_t>(e.get_number("wdx", unit ? 0x4000 : 0));
    u->http = static_cast<uint16_t>(e.get_number("http", unit ? 0x4001 : 0));
    u->description = e.get("desc", u->description);
    u->a_items = static_cast<int>(e.get_number("wdx-a", 0)) & 0xFF;
    u->b_items = static_cast<int>(e.get_number("wdx-b", 0)) & 0xFF;
    u->description_nul = e.get_flag("desc-nul", true);
    u->locator = unit && e.get_flag("locator", true);
    u->sap = e.get_flag("sap", true);
    if (e.get("reply") == "none") u->locator = u->sap = false;
    u->foreign = e.get("signature") == "foreign";
    u->zero_sockets = e.get_flag("zero-sockets");
    u->no_nul = e.get_flag("no-nul");
    u->sap_entries = static_cast<int>(e.get_number("sap-entries", 2));
    u->delay_ms = static_cast<int>(e.get_number("delay", 0));
    u->wdx_reply = e.get("wdx-reply", "normal");
    u->wdx_delay_ms = static_cast<int>(e.get_number("wdx-delay", 0));
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
        std::vector<uint8_t> r = c.unit->description_reply();
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
        bool locator_query = r.locator && n == 6 && buffer[0] == 0xFF &&
                             buffer[1] == 0xFF && buffer[2] == 0xC1 &&
                             buffer[3] == 0x00;
        uint16_t sap_type = 0;
        if (!r.locator && n == 4 && buffer[0] == 0 && buffer[1] == 1)
          sap_type = static_cast<uint16_t>(buffer[2] << 8 | buffer[3]);
        int order = 0;
        for (auto& u : r.units) {
          std::vector<uint8_t> answer;
          if (locator_query && u->locator) {
            answer = u->locator_reply();
          } else if (sap_type != 0 && u->sap &&
                     sap_type == (u->file_server ? kFileServerType
                                                 : kUnitServiceType)) {
            answer = u->sap_response();
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
