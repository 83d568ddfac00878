#include "sim/rip_responder.h"

#include <cstdlib>
#include <cstring>

#include "sim/snmp_udp.h"

namespace sim {

namespace {

constexpr size_t kEntriesPerDatagram = 25;

void put_be32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(static_cast<uint8_t>(v >> shift));
}

void put_raw32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t b[4];
  std::memcpy(b, &v, 4);
  out->insert(out->end(), b, b + 4);
}

}  // namespace

bool rip_router_from_entity(const Entity& e, RipRouter* r, std::string* error) {
  if (!parse_ip(e.get("ip"), &r->ip)) {
    *error = "router: ip=" + e.get("ip") + " is not a dotted address";
    return false;
  }
  r->version = static_cast<int>(e.get_number("version", 1));
  r->extra_bytes = static_cast<int>(e.get_number("extra-bytes", 0));
  r->silent = e.get_flag("silent");
  std::string text = e.get("routes");
  std::string item;
  auto flush = [&]() -> bool {
    if (item.empty()) return true;
    RipRoute route;
    size_t slash = item.find('/');
    std::string net = item.substr(0, slash);
    std::string rest = slash == std::string::npos ? "" : item.substr(slash + 1);
    size_t slash2 = rest.find('/');
    std::string metric = rest.substr(0, slash2);
    std::string mask =
        slash2 == std::string::npos ? "" : rest.substr(slash2 + 1);
    if (!parse_ip(net, &route.network) ||
        (!mask.empty() && !parse_ip(mask, &route.mask))) {
      *error = "router: bad route " + item;
      return false;
    }
    if (!metric.empty())
      route.metric =
          static_cast<uint32_t>(std::strtoul(metric.c_str(), nullptr, 10));
    r->routes.push_back(route);
    item.clear();
    return true;
  };
  for (char c : text) {
    if (c == '+' || c == ';' || c == ' ' || c == ',') {
      if (!flush()) return false;
    } else {
      item += c;
    }
  }
  return flush();
}

std::vector<std::vector<uint8_t>> rip_responses(const RipRouter& router,
                                                const uint8_t* request,
                                                size_t length) {
  if (router.silent || length != 24 || request[0] != 1) return {};
  // The whole-table request: address family 0 and metric 16.
  if (request[4] != 0 || request[5] != 0 || request[20] != 0 ||
      request[21] != 0 || request[22] != 0 || request[23] != 16)
    return {};
  std::vector<std::vector<uint8_t>> out;
  size_t i = 0;
  do {
    std::vector<uint8_t> d = {2, static_cast<uint8_t>(router.version), 0, 0};
    for (size_t k = 0; k < kEntriesPerDatagram && i < router.routes.size();
         ++k, ++i) {
      const RipRoute& route = router.routes[i];
      d.push_back(0), d.push_back(2), d.push_back(0), d.push_back(0);
      put_raw32(&d, route.network);
      put_raw32(&d, router.version >= 2 ? route.mask : 0);
      put_be32(&d, 0);
      put_be32(&d, route.metric);
    }
    out.push_back(std::move(d));
  } while (i < router.routes.size());
  out.back().insert(out.back().end(), static_cast<size_t>(router.extra_bytes),
                    0);
  return out;
}

RipResponder::RipResponder(std::vector<RipRouter> routers)
    : routers_(std::move(routers)) {}

RipResponder::~RipResponder() { stop(); }

bool RipResponder::start(std::string* error, uint16_t port) {
  for (const auto& r : routers_) ifindex_.push_back(interface_index_of(r.ip));
  return UdpServer::start(error, port);
}

void RipResponder::on_datagram(const Datagram& d) {
  bool to_router = false;
  for (const auto& r : routers_) to_router = to_router || r.ip == d.to_ip;
  for (size_t i = 0; i < routers_.size(); ++i) {
    const RipRouter& r = routers_[i];
    if (to_router
            ? r.ip != d.to_ip
            : (ifindex_[i] != 0 && d.ifindex != 0 && ifindex_[i] != d.ifindex))
      continue;
    for (const auto& reply : rip_responses(r, d.data, d.length))
      send_from(fd(), r.ip, d.from_ip, d.from_port, reply.data(), reply.size());
  }
}

}  // namespace sim
