#include "ipx/iface/interface.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "ipx/wire/rip.h"
#include "ipx/wire/spx.h"

namespace ipx {
namespace {

constexpr size_t kMaxPeerTypes = 1024;
// Frames taken per poll, so that a flood cannot starve the timers.
constexpr int kFramesPerPoll = 192;
// Routes kept (a flood of made-up networks cannot grow the table past it),
// how long one lasts unheard, and how often a missing one is asked for.
constexpr size_t kMaxRoutes = 1024;
constexpr int64_t kRouteLifeMs = 180 * 1000;
constexpr int64_t kRouteAskMs = 500;
// A connection through a router that resends this many rounds asks for its
// network again; a router that does not answer within the bound loses the
// route (RIP answers on a LAN come in milliseconds).
constexpr int kResendsBeforeAsking = 2;
constexpr int64_t kRouteAnswerMs = 1000;
constexpr uint16_t kUnreachable = 16;
// A route learnt from a passed-on packet: any RIP answer is better.
constexpr uint16_t kUnknownTicks = 0xFFFF;

bool is_zero(const NetworkNumber& n) { return n == NetworkNumber{}; }

}  // namespace

Interface::Interface(const InterfaceConfig& config)
    : config_(config), next_connection_id_(config.first_connection_id) {
  if (config_.broadcast_types == 0) config_.broadcast_types = kAllFrameTypes;
  if (config_.receive_types == 0) config_.receive_types = kAllFrameTypes;
  if (!is_zero(config_.network)) networks_.fill(config_.network);
  for (int t = 0; t < kFrameTypeCount; ++t)
    if (!is_zero(config_.type_networks[t]))
      networks_[t] = config_.type_networks[t];
  for (int t = 0; t < kFrameTypeCount && first_learnt_ < 0; ++t)
    if ((config_.broadcast_types & (1u << t)) && !is_zero(networks_[t]))
      first_learnt_ = t;
  if (first_learnt_ < 0) {
    // Ask the routers for the network numbers.
    send_packet({{}, kBroadcastMac, kRipSocket}, kPacketTypeRip, kRipSocket,
                encode_rip_request());
  }
}

NetworkNumber Interface::network() const {
  if (answered_ >= 0) return networks_[answered_];
  return first_learnt_ < 0 ? NetworkNumber{} : networks_[first_learnt_];
}

void Interface::answered(FrameType t) {
  if (answered_ < 0 && !is_zero(network(t))) answered_ = static_cast<int>(t);
}

bool Interface::local(const NetworkNumber& n) const {
  return is_zero(n) ||
         std::find(networks_.begin(), networks_.end(), n) != networks_.end();
}

bool Interface::route(const NetworkNumber& network, Mac* router) const {
  auto it = routes_.find(network);
  if (it == routes_.end()) return false;
  *router = it->second.router;
  return true;
}

Interface::Socket* Interface::find(Handle h) {
  auto it = sockets_.find(h);
  return it == sockets_.end() ? nullptr : &it->second;
}

const Interface::Socket* Interface::find(Handle h) const {
  auto it = sockets_.find(h);
  return it == sockets_.end() ? nullptr : &it->second;
}

Interface::Conn* Interface::conn_of(Handle h) {
  const Socket* s = find(h);
  if (s == nullptr || s->connection_id == 0) return nullptr;
  auto it = conns_.find(s->connection_id);
  return it == conns_.end() ? nullptr : it->second.get();
}

Interface::Handle Interface::open(SocketKind kind) {
  Handle h = next_handle_++;
  sockets_[h].kind = kind;
  return h;
}

uint16_t Interface::free_port() const {
  for (int i = 0; i < 0x4000; ++i) {
    uint16_t p = next_port_;
    next_port_ = next_port_ == kLastDynamic ? kFirstDynamic : next_port_ + 1;
    bool used = std::any_of(sockets_.begin(), sockets_.end(),
                            [p](const auto& e) { return e.second.port == p; });
    if (!used) return p;
  }
  return 0;
}

uint16_t Interface::free_connection_id() {
  for (;;) {
    uint16_t id = next_connection_id_++;
    if (id != 0 && id != kSpxUnknownId && conns_.count(id) == 0) return id;
  }
}

int Interface::bind(Handle h, uint16_t port) {
  Socket* s = find(h);
  if (s == nullptr) return -kNotSocket;
  if (s->port != 0) return -kInvalid;
  if (port == 0) {
    port = free_port();
    if (port == 0) return -kNoBuffers;
  } else if (std::any_of(sockets_.begin(), sockets_.end(), [port](auto& e) {
               return e.second.port == port && !e.second.accepted;
             })) {
    return -kAddressInUse;
  }
  s->port = port;
  return 0;
}

int Interface::local_address(Handle h, Address* out) const {
  const Socket* s = find(h);
  if (s == nullptr) return -kNotSocket;
  if (s->port == 0) return -kInvalid;
  *out = {network(), config_.node, s->port};
  return 0;
}

int Interface::sendto(Handle h, std::span<const uint8_t> data,
                      const Address& to) {
  Socket* s = find(h);
  if (s == nullptr) return -kNotSocket;
  if (s->kind != SocketKind::kDatagram) return -kInvalid;
  if (data.size() + kIpxHeaderSize > kMaxIpxPacket) return -kMessageSize;
  if (s->port == 0) {
    if (int rc = bind(h, 0); rc < 0) return rc;
  }
  send_packet(to, kPacketTypeExchange, s->port, data);
  return static_cast<int>(data.size());
}

bool Interface::receive(Handle h, Datagram* out) {
  Socket* s = find(h);
  if (s == nullptr || s->datagrams.empty()) return false;
  *out = std::move(s->datagrams.front());
  s->datagrams.pop_front();
  return true;
}

int Interface::connect(Handle h, const Address& to, int64_t now) {
  Socket* s = find(h);
  if (s == nullptr) return -kNotSocket;
  if (s->kind != SocketKind::kStream || s->listening) return -kInvalid;
  if (s->connection_id != 0) return -kAlreadyConnected;
  if (to.node == Mac{} || to.node == kBroadcastMac)
    return -kAddressNotAvailable;
  if (s->port == 0) {
    if (int rc = bind(h, 0); rc < 0) return rc;
  }
  uint16_t id = free_connection_id();
  auto c = std::make_unique<Conn>(id, config_.timing, config_.limits);
  c->peer = to;
  c->port = s->port;
  now_ = now;
  c->machine.open(now);
  s->connection_id = id;
  flush(*c);
  conns_[id] = std::move(c);
  return 0;
}

int Interface::listen(Handle h, int backlog) {
  Socket* s = find(h);
  if (s == nullptr) return -kNotSocket;
  if (s->kind != SocketKind::kStream || s->connection_id != 0) return -kInvalid;
  if (s->port == 0) {
    if (int rc = bind(h, 0); rc < 0) return rc;
  }
  s->listening = true;
  s->backlog = static_cast<size_t>(std::clamp(backlog, 1, 16));
  return 0;
}

bool Interface::listening(Handle h) const {
  const Socket* s = find(h);
  return s != nullptr && s->listening;
}

size_t Interface::waiting(Handle listener) const {
  const Socket* s = find(listener);
  return s == nullptr ? 0 : s->ready.size();
}

Interface::Handle Interface::accept(Handle listener) {
  Socket* s = find(listener);
  if (s == nullptr || s->ready.empty()) return 0;
  Handle h = s->ready.front();
  s->ready.pop_front();
  return h;
}

spx::Connection* Interface::connection(Handle h) {
  Conn* c = conn_of(h);
  return c == nullptr ? nullptr : &c->machine;
}

void Interface::release(Handle h, int64_t now) {
  if (Conn* c = conn_of(h)) {
    c->released = true;
    c->machine.close(now);
  }
  sockets_.erase(h);
}

int Interface::close(Handle h, int64_t now) {
  Socket* s = find(h);
  if (s == nullptr) return -kNotSocket;
  // Connections that came in and were never taken end in order too.
  std::deque<Handle> ready = std::move(s->ready);
  for (Handle waiting : ready) release(waiting, now);
  release(h, now);
  return 0;
}

void Interface::poll(int64_t now, Device& device) {
  now_ = now;
  std::erase_if(routes_, [now](const auto& r) {
    return now - r.second.heard >= kRouteLifeMs ||
           (r.second.answer_by > 0 && now >= r.second.answer_by);
  });
  std::erase_if(asked_,
                [now](const auto& a) { return now - a.second >= kRouteAskMs; });
  std::vector<uint8_t> buf;
  for (int i = 0; i < kFramesPerPoll && device.receive(&buf); ++i) {
    auto f = decode_frame(buf);
    if (!f || f->source == config_.node ||
        !(config_.receive_types & frame_bit(f->type)))
      continue;
    if (f->ipx.destination.node != config_.node &&
        f->ipx.destination.node != kBroadcastMac)
      continue;
    handle_frame(*f, now);
  }
  for (auto it = conns_.begin(); it != conns_.end();) {
    Conn& c = *it->second;
    c.machine.tick(now);
    if (c.machine.unanswered() >= kResendsBeforeAsking) doubt_route(c.peer);
    flush(c);
    bool gone = c.released && c.machine.finished();
    it = gone ? conns_.erase(it) : std::next(it);
  }
  for (; !to_send_.empty(); to_send_.pop_front())
    device.transmit(to_send_.front());
  device.flush();
}

int64_t Interface::next_deadline() const {
  int64_t deadline = spx::kNever;
  for (const auto& [id, c] : conns_) {
    if (!c->machine.outbox().empty()) return 0;
    deadline = std::min(deadline, c->machine.next_deadline());
  }
  return to_send_.empty() ? deadline : 0;
}

void Interface::learn(const Frame& f, int64_t now) {
  if (peer_types_.size() >= kMaxPeerTypes) peer_types_.clear();
  peer_types_[f.source] = f.type;
  const int t = static_cast<int>(f.type);
  NetworkNumber& network = networks_[t];
  if (is_zero(network) && f.ipx.transport_control == 0 &&
      !is_zero(f.ipx.source.network))
    network = f.ipx.source.network;
  uint16_t op = 0;
  std::vector<RipEntry> routes;
  if (is_zero(network) && f.ipx.destination.socket == kRipSocket &&
      decode_rip(f.data, &op, &routes) && op == kRipResponse) {
    auto nearest = std::min_element(
        routes.begin(), routes.end(),
        [](const RipEntry& a, const RipEntry& b) { return a.hops < b.hops; });
    if (!is_zero(nearest->network)) network = nearest->network;
  }
  if (first_learnt_ < 0 && !is_zero(network)) first_learnt_ = t;
  learn_routes(f, now);
}

void Interface::learn_routes(const Frame& f, int64_t now) {
  const NetworkNumber& from = f.ipx.source.network;
  auto known = routes_.find(from);
  if (f.ipx.transport_control > 0 && !local(from)) {
    // A router passed it on: its MAC is the way back (the peer may know
    // only that router alive).
    if (known != routes_.end() && known->second.router == f.source) {
      known->second.heard = now;
      known->second.answer_by = 0;
    } else if (known != routes_.end() || routes_.size() < kMaxRoutes) {
      routes_[from] = {f.source, f.type, f.ipx.transport_control, kUnknownTicks,
                       now};
    }
  }
  uint16_t op = 0;
  std::vector<RipEntry> entries;
  if (f.ipx.destination.socket != kRipSocket ||
      !decode_rip(f.data, &op, &entries) || op != kRipResponse)
    return;
  for (const RipEntry& e : entries) {
    if (local(e.network)) continue;
    auto it = routes_.find(e.network);
    bool same = it != routes_.end() && it->second.router == f.source;
    if (e.hops >= kUnreachable) {
      if (same) routes_.erase(it);
      continue;
    }
    Route r{f.source, f.type, e.hops, e.ticks, now};
    if (it == routes_.end()) {
      if (routes_.size() < kMaxRoutes) routes_[e.network] = r;
    } else if (same || it->second.answer_by > 0 || r.ticks < it->second.ticks ||
               (r.ticks == it->second.ticks && r.hops < it->second.hops)) {
      it->second = r;
    }
  }
}

void Interface::handle_frame(const Frame& f, int64_t now) {
  learn(f, now);
  if (f.ipx.packet_type == kPacketTypeSpx && f.data.size() >= kSpxHeaderSize) {
    handle_spx(f, now);
  } else {
    deliver_datagram(f, now);
  }
}

void Interface::handle_spx(const Frame& f, int64_t now) {
  SpxHeader h;
  decode_spx_header(f.data, &h);
  std::span<const uint8_t> payload = f.data.subspan(kSpxHeaderSize);
  const Address& from = f.ipx.source;
  Conn* conn = nullptr;
  if (h.destination_id != kSpxUnknownId) {
    auto it = conns_.find(h.destination_id);
    if (it != conns_.end() && it->second->peer.node == from.node &&
        it->second->peer.socket == from.socket)
      conn = it->second.get();
  } else {
    for (auto& [id, c] : conns_)
      if (c->peer.node == from.node && c->peer.socket == from.socket &&
          c->machine.peer_id() == h.source_id)
        conn = c.get();
  }
  if (conn != nullptr) {
    answered(f.type);
    conn->machine.receive(h, payload, now);
    flush(*conn);
    return;
  }
  if (h.destination_id != kSpxUnknownId) return;
  // A connection request: taken by a listener on the socket, if one has
  // room. SPX has no refusal; without one the requester hears nothing.
  auto listener =
      std::find_if(sockets_.begin(), sockets_.end(), [&](const auto& e) {
        return e.second.listening && e.second.port == f.ipx.destination.socket;
      });
  if (listener == sockets_.end() ||
      listener->second.ready.size() >= listener->second.backlog)
    return;
  uint16_t id = free_connection_id();
  auto c = std::make_unique<Conn>(id, config_.timing, config_.limits);
  c->peer = from;
  c->port = listener->second.port;
  c->machine.accept(h, now);
  flush(*c);
  conns_[id] = std::move(c);
  Handle accepted = open(SocketKind::kStream);
  Socket& a = sockets_[accepted];
  a.port = listener->second.port;
  a.connection_id = id;
  a.accepted = true;
  listener->second.ready.push_back(accepted);
}

void Interface::deliver_datagram(const Frame& f, int64_t now) {
  auto s = std::find_if(sockets_.begin(), sockets_.end(), [&](const auto& e) {
    return e.second.kind == SocketKind::kDatagram &&
           e.second.port == f.ipx.destination.socket;
  });
  if (s == sockets_.end()) return;
  if (repeats_.repeated(f.ipx.source, f.ipx.destination.socket, f.type, f.data,
                        now))
    return;
  // A full queue loses the datagram, as a busy IPX socket would.
  if (s->second.datagrams.size() >= kDatagramQueue) return;
  s->second.datagrams.push_back(
      {f.ipx.source, std::vector<uint8_t>(f.data.begin(), f.data.end())});
  answered(f.type);
}

void Interface::flush(Conn& c) {
  auto& out = c.machine.outbox();
  uint8_t buf[kSpxHeaderSize + kSpxMaxData];
  for (; !out.empty(); out.pop_front()) {
    const spx::Packet& p = out.front();
    encode_spx_header(p.header, buf);
    std::memcpy(buf + kSpxHeaderSize, p.data.data(), p.size);
    send_packet(c.peer, kPacketTypeSpx, c.port, {buf, kSpxHeaderSize + p.size});
  }
}

FrameTypes Interface::destination_of(const Address& to, Mac* mac) {
  *mac = to.node;
  if (to.node == kBroadcastMac) return config_.broadcast_types;
  // Knowing none of our networks, we cannot tell another from ours: a LAN
  // without routers, as far as we know yet.
  if (!local(to.network) && first_learnt_ >= 0) {
    auto r = routes_.find(to.network);
    if (r == routes_.end()) {
      ask_route(to.network);
      return 0;
    }
    *mac = r->second.router;
    return frame_bit(r->second.type);
  }
  // A network of ours names its frame type; else the type the node used;
  // a node not heard yet is tried in every type at once.
  FrameTypes by_network = 0;
  for (int t = 0; t < kFrameTypeCount; ++t)
    if (!is_zero(to.network) && networks_[t] == to.network)
      by_network |= 1u << t;
  auto heard = peer_types_.find(to.node);
  if (heard != peer_types_.end() &&
      (by_network == 0 || (by_network & frame_bit(heard->second))))
    return frame_bit(heard->second);
  FrameTypes types = by_network & config_.broadcast_types;
  return types != 0        ? types
         : by_network != 0 ? by_network
                           : config_.broadcast_types;
}

void Interface::doubt_route(const Address& peer) {
  auto r = routes_.find(peer.network);
  if (r == routes_.end() || local(peer.network)) return;
  if (ask_route(peer.network) && r->second.answer_by == 0)
    r->second.answer_by = now_ + kRouteAnswerMs;
}

bool Interface::ask_route(const NetworkNumber& network) {
  if (asked_.count(network) != 0 || asked_.size() >= kMaxRoutes) return false;
  asked_[network] = now_;
  const RipEntry wanted{network, 0xFFFF, 0xFFFF};
  send_packet({{}, kBroadcastMac, kRipSocket}, kPacketTypeRip, kRipSocket,
              encode_rip(kRipRequest, {&wanted, 1}));
  return true;
}

void Interface::send_packet(const Address& to, uint8_t packet_type,
                            uint16_t from_port, std::span<const uint8_t> data) {
  Mac mac;
  FrameTypes types = destination_of(to, &mac);
  IpxHeader h;
  h.packet_type = packet_type;
  h.destination = to;
  bool to_this_network = to.node == kBroadcastMac && local(to.network);
  for (int i = 0; i < kFrameTypeCount; ++i) {
    if (!(types & (1u << i))) continue;
    auto t = static_cast<FrameType>(i);
    h.source = {networks_[i], config_.node, from_port};
    if (to_this_network) h.destination.network = networks_[i];
    std::vector<uint8_t> frame = encode_frame(t, mac, config_.node, h, data);
    if (!frame.empty()) to_send_.push_back(std::move(frame));
  }
}

}  // namespace ipx
