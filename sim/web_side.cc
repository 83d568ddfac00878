// The simulator's web side: each unit entity with an "http" key serves its
// pages (sim/web_pages.h) over SPX, which under the IPX-over-IPv4 mapping
// is TCP on the unit's address and HTTP socket number, and in Ethernet
// frames SPX on the unit's own stack (sim/ipx_units.h) for a unit with
// ipx=on (the others are IP units: TCP still). One thread accepts
// per unit, one thread serves each connection.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/net.h"
#include "platform/threads.h"
#include "sim/ipx_units.h"
#include "sim/sides.h"
#include "sim/web_pages.h"

namespace sim {
namespace {

constexpr int kRequestWaitMs = 10000;
constexpr size_t kMaxRequestHead = 65536;

bool send_all(net::Socket s, const char* data, size_t n) {
  while (n > 0) {
    int k = net::send(s, data, static_cast<int>(std::min<size_t>(n, 1 << 20)));
    if (k <= 0) return false;
    data += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// Reads more of the request; false when the browser side closed or waited
// too long.
bool read_more(net::Socket s, std::string* request) {
  if (net::wait_readable(s, kRequestWaitMs) != 1) return false;
  char buf[4096];
  int n = net::recv(s, buf, sizeof buf);
  if (n <= 0) return false;
  request->append(buf, static_cast<size_t>(n));
  return true;
}

size_t content_length_of(const std::string& head) {
  size_t pos = 0;
  while ((pos = head.find('\n', pos)) != std::string::npos) {
    ++pos;
    const char kName[] = "content-length:";
    if (head.size() - pos < sizeof kName - 1) break;
    bool match = true;
    for (size_t i = 0; i + 1 < sizeof kName && match; ++i)
      match = static_cast<char>(std::tolower(
                  static_cast<unsigned char>(head[pos + i]))) == kName[i];
    if (match)
      return std::strtoul(head.c_str() + pos + sizeof kName - 1, nullptr, 10);
  }
  return 0;
}

void serve_connection(net::Socket c, const WebUnitOptions& unit) {
  std::string request;
  size_t head_end;
  while ((head_end = request.find("\r\n\r\n")) == std::string::npos &&
         (head_end = request.find("\n\n")) == std::string::npos) {
    if (request.size() > kMaxRequestHead || !read_more(c, &request)) return;
  }
  size_t body_start = head_end + (request[head_end] == '\r' ? 4 : 2);
  size_t wanted = body_start + content_length_of(request.substr(0, head_end));
  while (request.size() < wanted && read_more(c, &request)) {
  }
  char method[64] = {}, path[2048] = {};
  std::sscanf(request.c_str(), "%63s %2047s", method, path);
  WebReply reply = unit.pages ? unit.pages(path)
                              : make_web_reply(unit, method, path, request);
  bool ok = send_all(c, reply.head.data(), reply.head.size());
  std::sort(
      reply.events.begin(), reply.events.end(),
      [](const WebEvent& a, const WebEvent& b) { return a.offset < b.offset; });
  size_t offset = 0;
  size_t next_event = 0;
  static thread_local char buf[65536];
  while (ok) {
    size_t limit = sizeof buf;
    while (next_event < reply.events.size() &&
           reply.events[next_event].offset <= offset) {
      const WebEvent& e = reply.events[next_event++];
      if (e.kind == WebEvent::kClose) {
        ok = false;
        break;
      }
      Sleep(static_cast<uint32_t>(e.ms));
    }
    if (!ok) break;
    if (next_event < reply.events.size())
      limit = std::min(limit, reply.events[next_event].offset - offset);
    size_t n = reply.body(offset, buf, limit);
    if (n == 0) break;
    ok = send_all(c, buf, n);
    offset += n;
  }
}

// Accepts on `listener` for good, serving each connection on a thread.
void accept_loop(net::Socket listener, const WebUnitOptions& unit) {
  for (;;) {
    net::OwnedSocket c(net::accept(listener));
    if (!c) {
      Sleep(10);
      continue;
    }
    serve_on_thread(std::move(c), [unit](net::OwnedSocket connection) {
      serve_connection(connection.get(), unit);
    });
  }
}

// Listens on `s` (bound when `bound`) and serves the unit's pages from a
// thread of its own; says why when it cannot.
bool serve_http(net::OwnedSocket s, bool bound, const WebUnitOptions& unit,
                uint32_t ip, long port) {
  if (!bound || net::listen(s.get(), 64) != 0) {
    char address[16];
    net::inet_ntoa(ip, address, sizeof address);
    std::fprintf(stderr, "tav-sim: unit %s: cannot serve http on %s:%ld\n",
                 unit.name.c_str(), address, port);
    return false;
  }
  return serve_on_thread(std::move(s), [unit](net::OwnedSocket listener) {
    accept_loop(listener.get(), unit);
  });
}

}  // namespace

bool serve_on_thread(net::OwnedSocket s,
                     std::function<void(net::OwnedSocket)> serve) {
  // A thread's function must be copyable: the socket is shared with it.
  auto held = std::make_shared<net::OwnedSocket>(std::move(s));
  return start_detached_thread(
      [held, serve = std::move(serve)] { serve(std::move(*held)); });
}

bool start_web_server(const WebUnitOptions& unit, uint32_t ip, long port) {
  net::OwnedSocket s(net::socket(net::AF_INET_, net::SOCK_STREAM_, 0));
  if (s) net::setsockopt_int(s.get(), net::SockOpt::kReuseAddr, 1);
  bool bound = port > 0 && port <= 65535 && ip != 0xFFFFFFFFu && s &&
               net::bind(s.get(), net::make_addr_in(
                                      ip, static_cast<uint16_t>(port))) == 0;
  return serve_http(std::move(s), bound, unit, ip, port);
}

bool start_web_side(const Config& config) {
  for (const Entity& e : config.entities) {
    if (e.kind != "unit" || !e.has("http")) continue;
    WebUnitOptions unit;
    unit.name = e.get("name", unit.name);
    unit.description = e.get("desc", e.get("description", unit.description));
    unit.pause_ms = e.get_number("pause", unit.pause_ms);
    unit.big_bin_size = e.get_number("bigbin", unit.big_bin_size);
    unit.big_htm_size = e.get_number("bightm", unit.big_htm_size);
    uint32_t ip = net::inet_addr(e.get("ip", "127.0.0.1").c_str());
    long port = e.get_number("http", -1);
    if (!(ipx_in_frames() && e.get_flag("ipx"))) {
      if (!start_web_server(unit, ip, port)) return false;
      continue;
    }
    // An IPX unit in frames serves over SPX on its own stack, whose
    // descriptors take the platform's socket calls.
    std::string error;
    ipx::Stack* stack = unit_stack(config, e, &error);
    if (stack == nullptr) {
      std::fprintf(stderr, "tav-sim: %s\n", error.c_str());
      return false;
    }
    net::SockAddrIpx at{};
    at.sa_family = net::AF_IPX_;
    at.sa_socket = net::htons_(static_cast<uint16_t>(port));
    int fd = port > 0 && port <= 65535 ? stack->socket(ipx::SocketKind::kStream)
                                       : net::INVALID_SOCKET;
    net::OwnedSocket s(fd < 0 ? net::INVALID_SOCKET : fd);
    bool bound = s && net::bind(s.get(), at) == 0;
    if (!serve_http(std::move(s), bound, unit, ip, port)) return false;
  }
  return true;
}

}  // namespace sim
