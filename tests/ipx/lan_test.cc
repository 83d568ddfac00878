// Interfaces on an in-memory LAN with a simulated clock: frame types,
// networks, routers, SPX opens, loss and closes, without root.
#include "ipx/device/lan.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ipx/device/fault_device.h"
#include "ipx/device/router.h"
#include "ipx/iface/interface.h"
#include "ipx/wire/rip.h"
#include "ipx/wire/sap.h"

namespace {

using namespace ipx;
using Handle = Interface::Handle;

constexpr FrameTypes kEth2 = frame_bit(FrameType::kEthernetII);
const NetworkNumber kNet = {0x00, 0xBE, 0xEF, 0x01};

constexpr FrameTypes k8023 = frame_bit(FrameType::k8023Raw);
constexpr FrameTypes k8022 = frame_bit(FrameType::k8022);

struct Node {
  Node(Lan& lan, uint8_t n, FrameTypes types, NetworkNumber network,
       spx::Timing timing)
      : port(lan.attach()),
        fault(*port),
        iface({.node = {0x02, 0, 0, 0, 0, n},
               .network = network,
               .broadcast_types = types,
               .receive_types = types,
               .timing = timing,
               .first_connection_id = static_cast<uint16_t>(n * 100)}) {}
  std::unique_ptr<Lan::Port> port;
  FaultDevice fault;
  Interface iface;
};

// A LAN of nodes (and a second one, `far`, behind routers) and a clock;
// run() polls every node and router each millisecond, and `each_ms`.
struct Net {
  Lan lan, far;
  std::vector<std::unique_ptr<Node>> nodes;
  std::vector<std::unique_ptr<Lan::Port>> router_ports;
  std::vector<std::unique_ptr<Router>> routers;
  std::function<void()> each_ms = [] {};
  int64_t now = 0;

  Interface& add(FrameTypes types, NetworkNumber network = {},
                 spx::Timing timing = {}, Lan* on = nullptr) {
    auto n = static_cast<uint8_t>(nodes.size() + 1);
    nodes.push_back(
        std::make_unique<Node>(on ? *on : lan, n, types, network, timing));
    return nodes.back()->iface;
  }
  // A router between `lan` (a network per frame type) and `far`.
  Router& add_router(uint8_t n,
                     std::vector<std::pair<FrameType, NetworkNumber>> here,
                     NetworkNumber there, uint16_t ticks) {
    router_ports.push_back(lan.attach());
    Device* near = router_ports.back().get();
    router_ports.push_back(far.attach());
    std::vector<RouterPort> ports{
        {router_ports.back().get(), FrameType::kEthernetII, there}};
    for (auto [type, network] : here) ports.push_back({near, type, network});
    routers.push_back(std::make_unique<Router>(Mac{0x02, 0xEE, 0, 0, 0, n},
                                               std::move(ports), ticks));
    return *routers.back();
  }
  void remove(const Router& gone) {
    for (auto& r : routers)
      if (r.get() == &gone) r.reset();
  }
  // Runs until `done` holds or `ms` have passed; false on the time-out.
  bool run(
      int64_t ms, const std::function<bool()>& done = [] { return false; }) {
    for (int64_t end = now + ms; now < end; ++now) {
      for (auto& n : nodes) n->iface.poll(now, n->fault);
      for (auto& r : routers)
        if (r) r->poll(now);
      each_ms();
      if (done()) return true;
    }
    return false;
  }
};

std::span<const uint8_t> bytes(const std::string& s, size_t from = 0) {
  return {reinterpret_cast<const uint8_t*>(s.data()) + from, s.size() - from};
}

std::string read_all(spx::Connection& c, int64_t now) {
  std::string out;
  uint8_t buf[4096];
  for (size_t n; (n = c.read(buf, now)) > 0;)
    out.append(reinterpret_cast<char*>(buf), n);
  return out;
}

// A client connection from `a` to a listener on `b`, and the connection
// `b` accepted; nullopt when the open did not succeed within 2 s.
struct Pair {
  Handle client = 0, server = 0;
};
std::optional<Pair> open(Net& net, Interface& a, Interface& b) {
  Handle l = b.open(SocketKind::kStream);
  Address where;
  if (b.listen(l, 1) != 0 || b.local_address(l, &where) != 0) return {};
  Pair p{a.open(SocketKind::kStream), 0};
  if (a.connect(p.client, where, net.now) != 0) return {};
  bool ok = net.run(2000, [&] {
    return a.connection(p.client)->state() == spx::State::kEstablished &&
           b.waiting(l) > 0;
  });
  p.server = b.accept(l);
  return ok ? std::optional(p) : std::nullopt;
}

TEST(IpxLan, SocketNumbersAndDatagramsAreCheckedAsWinsockDoes) {
  Net net;
  Interface& a = net.add(kEth2);
  Handle u = a.open(SocketKind::kDatagram), v = a.open(SocketKind::kDatagram);
  Handle s = a.open(SocketKind::kStream);
  Address me;
  std::vector<uint8_t> huge(kMaxIpxPacket);
  const Address self{a.network(), a.node(), 1};
  struct Row {
    const char* what;
    std::function<int()> call;
    int expected;
  } rows[] = {
      {"unbound name", [&] { return a.local_address(u, &me); }, -10022},
      {"bind", [&] { return a.bind(u, 0x8449); }, 0},
      {"in use", [&] { return a.bind(v, 0x8449); }, -10048},
      {"bound twice", [&] { return a.bind(u, 0x0453); }, -10022},
      {"too long", [&] { return a.sendto(u, huge, self); }, -10040},
      {"datagram on SPX", [&] { return a.sendto(s, huge, self); }, -10022},
      {"connect to node 0", [&] { return a.connect(s, {}, 0); }, -10049},
      {"unknown socket", [&] { return a.bind(999, 1); }, -10038},
  };
  for (const Row& r : rows) EXPECT_EQ(r.call(), r.expected) << r.what;
  ASSERT_EQ(a.bind(v, 0), 0);
  ASSERT_EQ(a.local_address(v, &me), 0);
  EXPECT_GE(me.socket, kFirstDynamic);
  EXPECT_LE(me.socket, kLastDynamic);
}

// Each row: what happens to a connection, and how it must end.
TEST(IpxLan, ConnectionsOpenCarryAndEndWithinTheirBounds) {
  const spx::Timing quick{.connect_retry = 100, .rto_max = 400};
  std::string big(200000, '\0');  // no period a reordering could hide in
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 2654435761u >> 24);
  struct Row {
    const char* what;
    int drop, reorder;  // on the server's device, both ways
    int closer;         // 0 client, 1 server
    int64_t bound_ms;   // the end comes within this
  } rows[] = {
      {"client closes", 0, 0, 0, 100},
      {"server closes", 0, 0, 1, 100},
      {"lossy and reordering wire", 10, 5, 0, 60000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Net net;
    Interface& a = net.add(kEth2, kNet, quick);
    Interface& b = net.add(kEth2, kNet, quick);
    net.nodes[1]->fault.set_loss(r.drop, r.reorder);
    auto p = open(net, a, b);
    ASSERT_TRUE(p);
    spx::Connection& client = *a.connection(p->client);
    spx::Connection& server = *b.connection(p->server);
    // The client sends `big`; the server echoes what it reads.
    size_t sent = 0;
    std::string echoed, got, back;
    net.run(r.bound_ms + 60000, [&] {
      sent += client.write(bytes(big, sent), net.now);
      std::string in = read_all(server, net.now);
      got += in;
      echoed += in;
      echoed.erase(0, server.write(bytes(echoed), net.now));
      back += read_all(client, net.now);
      return client.finished() || back.size() == big.size();
    });
    ASSERT_EQ(got, big);
    ASSERT_EQ(back, big);
    // The other reads the end after all the data; both end in order, and
    // the closed one is dropped.
    Interface& closer = r.closer == 0 ? a : b;
    Handle closing = r.closer == 0 ? p->client : p->server;
    spx::Connection& other = r.closer == 0 ? server : client;
    int64_t t0 = net.now;
    ASSERT_EQ(closer.close(closing, net.now), 0);
    EXPECT_TRUE(net.run(r.bound_ms, [&] {
      read_all(other, net.now);
      return other.at_end();
    }));
    EXPECT_TRUE(net.run(5000, [&] { return other.finished(); }));
    EXPECT_EQ(other.error(), 0);
    EXPECT_LT(net.now - t0, quick.linger + r.bound_ms);
    EXPECT_EQ(closer.next_deadline(), spx::kNever);
  }
}

TEST(IpxLan, TheNetworkIsLearntFromTheLanAndAFullBacklogStaysSilent) {
  Net net;
  Interface& a = net.add(kEth2);
  Interface& b = net.add(kEth2);
  Interface& c = net.add(kEth2, kNet);
  Handle l = b.open(SocketKind::kStream);
  ASSERT_EQ(b.listen(l, 1), 0);
  Address where;
  ASSERT_EQ(b.local_address(l, &where), 0);
  // Two requests from nodes of no known network, one answered: the second
  // waits for room in the backlog and hears nothing.
  Handle first = a.open(SocketKind::kStream),
         second = c.open(SocketKind::kStream);
  ASSERT_EQ(a.connect(first, where, net.now), 0);
  net.run(10);
  ASSERT_EQ(c.connect(second, where, net.now), 0);
  net.run(300);
  EXPECT_EQ(b.waiting(l), 1u);
  EXPECT_EQ(c.connection(second)->state(), spx::State::kConnecting);
  EXPECT_EQ(a.connection(first)->state(), spx::State::kEstablished);
  // b learnt c's network from its request (transport control 0); a, which
  // heard only b, knows none yet.
  EXPECT_EQ(b.network(), kNet);
  EXPECT_EQ(a.network(), NetworkNumber{});
  EXPECT_NE(b.accept(l), 0);
  net.run(600);
  EXPECT_EQ(c.connection(second)->state(), spx::State::kEstablished);
  // Our network is that of the type a program was first answered in (802.3
  // here), not of the type first learnt (Ethernet II, from c's broadcast).
  const NetworkNumber n2 = {0, 0, 0, 0x12};
  Interface &host = net.add(kAllFrameTypes), &raw = net.add(k8023, n2);
  Handle hs = host.open(SocketKind::kDatagram),
         cs = c.open(SocketKind::kDatagram),
         rs = raw.open(SocketKind::kDatagram);
  ASSERT_EQ(host.bind(hs, 0x4444), 0);
  c.sendto(cs, bytes("x"), {{}, kBroadcastMac, 0x4545});
  net.run(5);
  EXPECT_EQ(host.network(), kNet);
  raw.sendto(rs, bytes("x"), {{}, host.node(), 0x4444});
  net.run(5);
  EXPECT_EQ(host.network(), n2);
}

// N1, N2, N3 on our wire (Ethernet II, 802.3, 802.2) via router 1 to R on
// the far wire; router 2 reaches R at more ticks. The host, of no network
// given, finds the units by SAP and reaches each at every address told.
TEST(IpxLan, EveryUnitOfAnInternetworkIsReachedAtEveryAddressListed) {
  const NetworkNumber n1 = {0, 0, 0, 0x11}, n2 = {0, 0, 0, 0x12},
                      n3 = {0, 0, 0, 0x13}, r = {0, 0, 0, 0x77};
  Net net;
  Router& slow = net.add_router(2, {{FrameType::kEthernetII, n1}}, r, 5);
  Router& fast = net.add_router(1,
                                {{FrameType::kEthernetII, n1},
                                 {FrameType::k8023Raw, n2},
                                 {FrameType::k8022, n3}},
                                r, 1);
  Lan::Port spy(net.lan);
  Interface& host = net.add(kAllFrameTypes);
  struct Unit {
    const char* what;
    Interface* iface;
    Handle sap, listener;
    bool answers;
    std::string got;
    std::vector<Handle> accepted;
  } units[] = {
      {"routed", &net.add(kEth2, r, {}, &net.far), 0, 0, true, {}, {}},
      {"802.3 only", &net.add(k8023), 0, 0, true, {}, {}},
      {"two networks", &net.add(kEth2 | k8022), 0, 0, true, {}, {}},
      {"802.2, silent", &net.add(k8022), 0, 0, false, {}, {}},
      {"SNAP", &net.add(frame_bit(FrameType::kSnap)), 0, 0, true, {}, {}},
  };
  const uint16_t kService = 0x8060;
  for (Unit& u : units) {
    u.sap = u.iface->open(SocketKind::kDatagram);
    u.listener = u.iface->open(SocketKind::kStream);
    ASSERT_EQ(u.iface->bind(u.sap, kSapSocket), 0);
    ASSERT_EQ(u.iface->bind(u.listener, kService), 0);
    ASSERT_EQ(u.iface->listen(u.listener, 4), 0);
  }
  // Units answer SAP queries with their own address, as they know it.
  net.each_ms = [&] {
    for (Unit& u : units) {
      for (Datagram d; u.iface->receive(u.sap, &d);) {
        uint16_t op, type;
        if (!u.answers || !decode_sap_query(d.data, &op, &type)) continue;
        SapEntry e{
            0x0414, u.what, {u.iface->network(), u.iface->node(), kService}, 0};
        u.iface->sendto(
            u.sap, encode_sap_response(kSapGeneralResponse, {&e, 1}), d.source);
      }
      for (Handle h; (h = u.iface->accept(u.listener)) != 0;)
        u.accepted.push_back(h);
      for (Handle h : u.accepted)
        if (spx::Connection* c = u.iface->connection(h))
          u.got += read_all(*c, net.now);
    }
  };
  net.run(300);  // networks learnt from the routers; SAP tables filled
  EXPECT_EQ(host.network(FrameType::k8023Raw), n2);
  EXPECT_EQ(host.network(FrameType::kSnap), NetworkNumber{});
  for (std::vector<uint8_t> b; spy.receive(&b);) continue;
  Handle q = host.open(SocketKind::kDatagram);
  ASSERT_EQ(host.sendto(q, encode_sap_query(kSapGeneralQuery, 0x0414),
                        {{}, kBroadcastMac, kSapSocket}),
            4);
  net.run(1);
  // Each broadcast carries the network of its frame type, or 0.
  size_t broadcasts = 0;
  for (std::vector<uint8_t> b; spy.receive(&b);) {
    auto f = decode_frame(b);
    if (!f || f->source != host.node() || f->destination != kBroadcastMac)
      continue;
    ++broadcasts;
    EXPECT_EQ(f->ipx.destination.network, host.network(f->type));
    EXPECT_EQ(f->ipx.source.network, host.network(f->type));
  }
  EXPECT_EQ(broadcasts, 4u);
  net.run(49);
  std::vector<Address> listed;
  int two_network_answers = 0;  // in two types, under two networks: once
  for (Datagram d; host.receive(q, &d);) {
    two_network_answers += d.source.node == units[2].iface->node();
    uint16_t op;
    std::vector<SapEntry> entries;
    if (decode_sap_response(d.data, &op, &entries))
      for (const SapEntry& e : entries) listed.push_back(e.address);
  }
  EXPECT_EQ(two_network_answers, 1);
  const Unit& routed = units[0];
  EXPECT_NE(std::find(listed.begin(), listed.end(),
                      Address{r, routed.iface->node(), kService}),
            listed.end());
  // The silent unit, heard of by other means, at no network yet known.
  listed.push_back({{}, units[3].iface->node(), kService});
  for (const Address& a : listed) {
    SCOPED_TRACE(testing::Message() << "unit node " << int(a.node[5]));
    Handle c = host.open(SocketKind::kStream);
    ASSERT_EQ(host.connect(c, a, net.now), 0);
    spx::Connection& m = *host.connection(c);
    ASSERT_TRUE(net.run(2000, [&] { return m.writable() > 0; }));
    m.write(bytes("GET /"), net.now);
    ASSERT_TRUE(net.run(
        500, [&] { return m.readable() == 0 && m.writable() == 16 * 1024; }));
    host.close(c, net.now);
    net.run(50);
  }
  for (const Unit& u : units)
    for (const Address& a : listed)
      if (a.node == u.iface->node()) {
        EXPECT_NE(u.got.find("GET /"), std::string::npos) << u.what;
      }
  // Packets for R went to the router with fewer ticks, in its frame type.
  Mac via;
  ASSERT_TRUE(host.route(r, &via));
  EXPECT_EQ(via, fast.mac());
  EXPECT_GT(fast.forwarded(), 0u);
  EXPECT_EQ(slow.forwarded(), 0u);
  for (std::vector<uint8_t> b; spy.receive(&b);) {
    auto f = decode_frame(b);
    if (f && f->source == host.node() && f->ipx.destination.network == r) {
      EXPECT_EQ(f->destination, fast.mac());
    }
  }
  // Router 1 vanishes mid-connection: the second resend asks for R again
  // and within 1 s router 2's answer is taken.
  Handle c = host.open(SocketKind::kStream);
  ASSERT_EQ(host.connect(c, {r, routed.iface->node(), kService}, net.now), 0);
  spx::Connection& m = *host.connection(c);
  ASSERT_TRUE(net.run(2000, [&] { return m.writable() > 0; }));
  net.remove(fast);
  m.write(bytes("GET /again"), net.now);
  EXPECT_TRUE(net.run(5000, [&] {
    return units[0].got.find("GET /again") != std::string::npos;
  }));
  EXPECT_TRUE(net.run(2000, [&] { return m.writable() == 16 * 1024; }));
  ASSERT_TRUE(host.route(r, &via));
  EXPECT_EQ(via, slow.mac());
  EXPECT_GT(slow.forwarded(), 0u);
  // Router 2 vanishes too, with no connection left: its route, unheard
  // for 3 minutes, ages out, and the next packet for R asks RIP afresh.
  host.close(c, net.now);
  for (Unit& u : units)
    for (Handle h : u.accepted) u.iface->close(h, net.now);
  ASSERT_TRUE(
      net.run(20000, [&] { return host.next_deadline() == spx::kNever; }));
  net.remove(slow);
  net.run(181 * 1000);
  EXPECT_FALSE(host.route(r, &via));
  for (std::vector<uint8_t> b; spy.receive(&b);) continue;
  host.sendto(q, bytes("x"), {r, routed.iface->node(), kService});
  net.run(1);
  bool asked = false;
  for (std::vector<uint8_t> b; spy.receive(&b);) {
    auto f = decode_frame(b);
    asked |= f && f->source == host.node() &&
             f->ipx.destination.socket == kRipSocket;
  }
  EXPECT_TRUE(asked);
}

}  // namespace
