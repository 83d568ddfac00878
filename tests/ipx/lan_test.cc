// Interfaces on an in-memory LAN, driven by a simulated clock: what the
// veth suite shows of the stack (nodes of every frame type, the SPX open and
// its bound, loss, a vanishing peer, both closes), without root or a
// network namespace.
#include "ipx/device/lan.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ipx/device/fault_device.h"
#include "ipx/iface/interface.h"
#include "ipx/wire/sap.h"

namespace {

using namespace ipx;
using Handle = Interface::Handle;

constexpr FrameTypes kEth2 = frame_bit(FrameType::kEthernetII);
const NetworkNumber kNet = {0x00, 0xBE, 0xEF, 0x01};

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

// A LAN of nodes and a clock; run() polls every node each millisecond.
struct Net {
  Lan lan;
  std::vector<std::unique_ptr<Node>> nodes;
  int64_t now = 0;

  Interface& add(FrameTypes types, NetworkNumber network = {},
                 spx::Timing timing = {}) {
    auto n = static_cast<uint8_t>(nodes.size() + 1);
    nodes.push_back(std::make_unique<Node>(lan, n, types, network, timing));
    return nodes.back()->iface;
  }
  // Runs until `done` holds or `ms` have passed; false on the time-out.
  bool run(
      int64_t ms, const std::function<bool()>& done = [] { return false; }) {
    for (int64_t end = now + ms; now < end; ++now) {
      for (auto& n : nodes) n->iface.poll(now, n->fault);
      if (done()) return true;
    }
    return false;
  }
};

Address at(const Interface& i, uint16_t socket) {
  return {i.network(), i.node(), socket};
}

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

TEST(IpxLan, NodesOfEveryFrameTypeAnswerOnceAndTakeConnections) {
  Net net;
  Interface& host = net.add(kAllFrameTypes);
  const FrameTypes kinds[] = {
      kEth2, frame_bit(FrameType::k8023Raw), frame_bit(FrameType::k8022),
      frame_bit(FrameType::kSnap), kEth2 | frame_bit(FrameType::kSnap)};
  std::vector<Handle> sap;
  for (FrameTypes t : kinds) {
    Interface& unit = net.add(t, kNet);
    sap.push_back(unit.open(SocketKind::kDatagram));
    ASSERT_EQ(unit.bind(sap.back(), kSapSocket), 0);
  }
  Handle q = host.open(SocketKind::kDatagram);
  auto query = encode_sap_query(kSapGeneralQuery, 0x0414);
  ASSERT_EQ(host.sendto(q, query, {{}, kBroadcastMac, kSapSocket}), 4);
  // Each unit hears the query once in its own types and answers each copy.
  net.run(5);
  for (size_t i = 0; i < sap.size(); ++i) {
    Interface& unit = net.nodes[i + 1]->iface;
    for (Datagram d; unit.receive(sap[i], &d);)
      unit.sendto(sap[i], d.data, d.source);
  }
  net.run(5);
  std::vector<Mac> answered;
  for (Datagram d; host.receive(q, &d);) answered.push_back(d.source.node);
  ASSERT_EQ(answered.size(), std::size(kinds));  // the two-type node once
  // The host learnt the network from the answers, and reaches every node
  // in the type it heard from it.
  EXPECT_EQ(host.network(), kNet);
  for (size_t i = 0; i < std::size(kinds); ++i) {
    SCOPED_TRACE(i);
    Interface& unit = net.nodes[i + 1]->iface;
    EXPECT_EQ(answered[i], unit.node());
    auto p = open(net, host, unit);
    ASSERT_TRUE(p);
    host.connection(p->client)->write(bytes("GET /"), net.now);
    net.run(20);
    EXPECT_EQ(read_all(*unit.connection(p->server), net.now), "GET /");
  }
}

TEST(IpxLan, SocketNumbersAndDatagramsAreCheckedAsWinsockDoes) {
  Net net;
  Interface& a = net.add(kEth2);
  Handle u = a.open(SocketKind::kDatagram), v = a.open(SocketKind::kDatagram);
  Handle s = a.open(SocketKind::kStream);
  Address me;
  std::vector<uint8_t> huge(kMaxIpxPacket);
  struct Row {
    const char* what;
    std::function<int()> call;
    int expected;
  } rows[] = {
      {"unbound name", [&] { return a.local_address(u, &me); }, -10022},
      {"bind", [&] { return a.bind(u, 0x8449); }, 0},
      {"in use", [&] { return a.bind(v, 0x8449); }, -10048},
      {"bound twice", [&] { return a.bind(u, 0x0453); }, -10022},
      {"too long", [&] { return a.sendto(u, huge, at(a, 1)); }, -10040},
      {"datagram on SPX", [&] { return a.sendto(s, huge, at(a, 1)); }, -10022},
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
    int drop, reorder;       // on the server's device, both ways
    bool listener;           // false: nobody listens
    int vanish_after_bytes;  // -1: the server stays
    int closer;              // 0 client, 1 server
    int expected_error;      // of the client's connection
    int64_t bound_ms;        // the end comes within this
  } rows[] = {
      {"client closes", 0, 0, true, -1, 0, 0, 100},
      {"server closes", 0, 0, true, -1, 1, 0, 100},
      {"lossy and reordering wire", 10, 5, true, -1, 0, 0, 60000},
      {"nobody listens", 0, 0, false, -1, 0, spx::kTimedOut, 8 * 100 + 50},
      {"peer vanishes", 0, 0, true, 1000, 0, spx::kConnectionReset,
       100 + 200 + 6 * 400 + 500},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Net net;
    Interface& a = net.add(kEth2, kNet, quick);
    Interface& b = net.add(kEth2, kNet, quick);
    net.nodes[1]->fault.set_loss(r.drop, r.reorder);
    if (!r.listener) {
      Handle c = a.open(SocketKind::kStream);
      ASSERT_EQ(a.connect(c, at(b, 0x8450), net.now), 0);
      spx::Connection& m = *a.connection(c);
      EXPECT_TRUE(net.run(r.bound_ms, [&] { return m.finished(); }));
      EXPECT_GT(net.now, r.bound_ms - 200);
      EXPECT_EQ(m.error(), r.expected_error);
      continue;
    }
    auto p = open(net, a, b);
    ASSERT_TRUE(p);
    spx::Connection& client = *a.connection(p->client);
    spx::Connection& server = *b.connection(p->server);
    // The client sends `big`; the server echoes what it reads.
    size_t sent = 0;
    std::string echoed, got, back;
    int64_t vanished = -1;
    net.run(r.bound_ms + 60000, [&] {
      sent += client.write(bytes(big, sent), net.now);
      std::string in = read_all(server, net.now);
      got += in;
      echoed += in;
      echoed.erase(0, server.write(bytes(echoed), net.now));
      back += read_all(client, net.now);
      if (r.vanish_after_bytes >= 0 && vanished < 0 &&
          got.size() >= size_t(r.vanish_after_bytes)) {
        net.nodes[1]->fault.set_loss(100, 0);
        vanished = net.now;
      }
      return client.finished() || back.size() == big.size();
    });
    if (vanished >= 0) {
      EXPECT_TRUE(client.finished());
      EXPECT_LT(net.now - vanished, r.bound_ms);
      EXPECT_EQ(client.error(), r.expected_error);
      continue;
    }
    ASSERT_EQ(got, big);
    ASSERT_EQ(back, big);
    // The closing side's end reaches the other, which reads it after all
    // the data; both connections then end in order, and the closed one is
    // dropped.
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
}

}  // namespace
