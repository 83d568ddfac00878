#include "ipx/device/router.h"

#include <algorithm>

#include "ipx/wire/rip.h"

namespace ipx {
namespace {

constexpr uint16_t kAllServerTypes = 0xFFFF;
constexpr NetworkNumber kAllNetworks = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kMaxTransportControl = 16;
constexpr size_t kMaxServers = 256;

bool is_zero(const NetworkNumber& n) { return n == NetworkNumber{}; }

}  // namespace

Router::Router(const Mac& mac, std::vector<RouterPort> ports, uint16_t ticks)
    : mac_(mac), ports_(std::move(ports)), ticks_(ticks) {}

void Router::poll(int64_t now) {
  now_ = now;
  std::vector<Device*> devices;
  for (const RouterPort& p : ports_)
    if (std::find(devices.begin(), devices.end(), p.device) == devices.end())
      devices.push_back(p.device);
  std::vector<uint8_t> buf;
  for (Device* d : devices) {
    while (d->receive(&buf)) {
      auto f = decode_frame(buf);
      if (!f || f->source == mac_) continue;
      for (size_t i = 0; i < ports_.size(); ++i)
        if (ports_[i].device == d && ports_[i].type == f->type) handle(i, *f);
    }
  }
  if (now >= next_broadcast_) {
    next_broadcast_ = now + kBroadcastEveryMs;
    for (size_t i = 0; i < ports_.size(); ++i) {
      broadcast_rip(i);
      ask_servers(i);
    }
  }
  for (Device* d : devices) d->flush();
}

void Router::handle(size_t port, const Frame& f) {
  const Address& to = f.ipx.destination;
  bool for_us = f.destination == mac_ || f.destination == kBroadcastMac;
  if (!for_us) return;
  bool here = is_zero(to.network) || to.network == ports_[port].network;
  if (!here) {
    if (f.destination == mac_) forward(f);
    return;
  }
  if (to.socket == kRipSocket) {
    answer_rip(port, f);
  } else if (to.socket == kSapSocket) {
    answer_sap(port, f);
  }
}

void Router::send(size_t port, const Address& to, const Mac& mac, uint8_t type,
                  uint16_t socket, std::span<const uint8_t> data) {
  IpxHeader h;
  h.packet_type = type;
  h.destination = to;
  h.source = {ports_[port].network, mac_, socket};
  auto frame = encode_frame(ports_[port].type, mac, mac_, h, data);
  if (!frame.empty()) ports_[port].device->transmit(frame);
}

void Router::answer_rip(size_t port, const Frame& f) {
  uint16_t op = 0;
  std::vector<RipEntry> asked;
  if (!decode_rip(f.data, &op, &asked) || op != kRipRequest) return;
  bool all = std::any_of(asked.begin(), asked.end(), [](const RipEntry& e) {
    return e.network == kAllNetworks;
  });
  std::vector<RipEntry> known;
  for (size_t i = 0; i < ports_.size(); ++i) {
    const NetworkNumber& n = ports_[i].network;
    bool wanted =
        std::any_of(asked.begin(), asked.end(),
                    [&](const RipEntry& e) { return e.network == n; });
    if ((all && i != port) || wanted) known.push_back({n, 1, ticks_});
  }
  if (known.empty()) return;
  Address back = f.ipx.source;
  if (is_zero(back.network)) back.network = ports_[port].network;
  send(port, back, f.source, kPacketTypeRip, kRipSocket,
       encode_rip(kRipResponse, known));
}

void Router::broadcast_rip(size_t port) {
  std::vector<RipEntry> known;
  for (size_t i = 0; i < ports_.size(); ++i)
    if (i != port) known.push_back({ports_[i].network, 1, ticks_});
  if (!known.empty())
    send(port, {ports_[port].network, kBroadcastMac, kRipSocket}, kBroadcastMac,
         kPacketTypeRip, kRipSocket, encode_rip(kRipResponse, known));
}

void Router::ask_servers(size_t port) {
  send(port, {ports_[port].network, kBroadcastMac, kSapSocket}, kBroadcastMac,
       kPacketTypeExchange, kSapSocket,
       encode_sap_query(kSapGeneralQuery, kAllServerTypes));
}

void Router::answer_sap(size_t port, const Frame& f) {
  uint16_t op = 0, type = 0;
  std::vector<SapEntry> entries;
  if (decode_sap_response(f.data, &op, &entries)) {
    for (SapEntry& e : entries) {
      if (is_zero(e.address.network)) e.address.network = ports_[port].network;
      auto key = std::make_pair(e.name, e.server_type);
      if (servers_.size() < kMaxServers || servers_.count(key) != 0)
        servers_[key] = {e, port};
    }
    return;
  }
  if (!decode_sap_query(f.data, &op, &type)) return;
  std::vector<SapEntry> answer;
  for (const auto& [key, s] : servers_) {
    if (s.port == port ||
        (type != kAllServerTypes && s.entry.server_type != type))
      continue;
    answer.push_back(s.entry);
    ++answer.back().hops;
  }
  if (answer.empty() && now_ >= next_ask_) {
    // Nothing heard beyond this port yet: ask there, for the next query.
    next_ask_ = now_ + kAskEmptyEveryMs;
    for (size_t i = 0; i < ports_.size(); ++i)
      if (i != port) ask_servers(i);
  }
  uint16_t reply =
      op == kSapNearestQuery ? kSapNearestResponse : kSapGeneralResponse;
  for (size_t at = 0; at < answer.size(); at += kSapMaxEntries) {
    size_t n = std::min(kSapMaxEntries, answer.size() - at);
    send(port, f.ipx.source, f.source, kPacketTypeExchange, kSapSocket,
         encode_sap_response(reply, {answer.data() + at, n}));
  }
}

void Router::forward(const Frame& f) {
  const Address& to = f.ipx.destination;
  if (to.node == kBroadcastMac ||
      f.ipx.transport_control + 1 >= kMaxTransportControl)
    return;
  for (size_t i = 0; i < ports_.size(); ++i) {
    if (ports_[i].network != to.network) continue;
    IpxHeader h = f.ipx;
    ++h.transport_control;
    auto frame = encode_frame(ports_[i].type, to.node, mac_, h, f.data);
    if (!frame.empty()) ports_[i].device->transmit(frame);
    ++forwarded_;
    return;
  }
}

}  // namespace ipx
