// The SPX machine between two peers over a lossy wire and a simulated clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ipx/spx/connection.h"

namespace {

using namespace spx;
using Bytes = std::vector<uint8_t>;

enum class Fate { kDeliver, kDrop, kRepeat, kLate };
using FatePlan = std::function<Fate(int index)>;

Fate deliver_all(int) { return Fate::kDeliver; }
Fate drop_all(int) { return Fate::kDrop; }

// Fates drawn from a fixed pseudo-random sequence, in percent (a periodic
// pattern can keep hitting the same packet of a repeated window forever).
FatePlan fates(uint32_t drop, uint32_t late, uint32_t repeat, uint32_t seed) {
  return [=](int i) {
    uint32_t h = (static_cast<uint32_t>(i) + seed) * 2654435761u >> 16;
    h %= 100;
    return h < drop                   ? Fate::kDrop
           : h < drop + late          ? Fate::kLate
           : h < drop + late + repeat ? Fate::kRepeat
                                      : Fate::kDeliver;
  };
}

// One direction of the wire: `latency` ms, ten more for kLate.
struct Wire {
  FatePlan plan = deliver_all;
  int64_t latency = 1;
  int sent = 0;
  std::multimap<int64_t, Packet> in_flight;
  std::vector<Packet> log;

  void put(const Packet& p, int64_t now) {
    log.push_back(p);
    Fate f = plan(sent++);
    if (f != Fate::kDrop)
      in_flight.emplace(now + latency + (f == Fate::kLate ? 9 : 0), p);
    if (f == Fate::kRepeat) in_flight.emplace(now + latency + 1, p);
  }
  int64_t next() const {
    return in_flight.empty() ? kNever : in_flight.begin()->first;
  }
  size_t probes() const {
    return std::count_if(log.begin(), log.end(), [](const Packet& p) {
      return p.header.connection_control ==
             (ipx::kSpxSystem | ipx::kSpxSendAck);
    });
  }
  // The highest sequence number of data sent, and the data bytes sent.
  std::pair<uint16_t, size_t> data_sent() const {
    std::pair<uint16_t, size_t> r{0, 0};
    for (const Packet& p : log)
      if (!(p.header.connection_control & ipx::kSpxSystem))
        r = {std::max(r.first, p.header.sequence), r.second + p.size};
    return r;
  }
};

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
  return b;
}

// One end: writes `out` (then closes if told), reads into `in` if told.
struct End {
  End(uint16_t id, const Limits& l) : conn(id, {}, l) {}
  Connection conn;
  Wire wire;
  Bytes out, in;
  size_t written = 0;
  bool reads = true, closes_after_data = false;
};

// A client (end 0) and a listener (end 1).
struct Pair {
  explicit Pair(const Limits& l = {}) : end{End(0x1001, l), End(0x2002, l)} {}
  End end[2];
  End &client = end[0], &server = end[1];
  int64_t now = 1000;

  // Runs until `done` holds or `limit_ms` of simulated time pass.
  bool run_until(const std::function<bool()>& done, int64_t limit_ms) {
    for (int64_t stop = now + limit_ms; now < stop;) {
      bool busy = step();
      if (done()) return true;
      int64_t next = now + 1;
      for (End& e : end)
        next = std::min({next, e.wire.next(), e.conn.next_deadline()});
      now = std::max(next, now + (busy ? 0 : 1));
      for (End& e : end) e.conn.tick(now);
    }
    return done();
  }
  bool delivered(int64_t limit_ms) {
    return run_until(
        [&] {
          return server.in.size() >= client.out.size() &&
                 client.in.size() >= server.out.size();
        },
        limit_ms);
  }
  void flush() {
    for (End& e : end)
      for (; !e.conn.outbox().empty(); e.conn.outbox().pop_front())
        e.wire.put(e.conn.outbox().front(), now);
  }
  bool step() {
    bool busy = false;
    flush();
    for (int to : {1, 0}) {
      Wire& w = end[1 - to].wire;
      Connection& c = end[to].conn;
      for (; !w.in_flight.empty() && w.in_flight.begin()->first <= now;
           busy = true) {
        Packet p = w.in_flight.begin()->second;
        w.in_flight.erase(w.in_flight.begin());
        if (c.state() == State::kIdle &&
            p.header.destination_id == ipx::kSpxUnknownId)
          c.accept(p.header, now);
        else
          c.receive(p.header, p.bytes(), now);
      }
    }
    for (End& e : end) {
      if (e.written < e.out.size())
        e.written += e.conn.write(std::span(e.out).subspan(e.written), now);
      if (e.closes_after_data && e.written == e.out.size()) e.conn.close(now);
      uint8_t buf[4096];
      for (size_t n; e.reads && (n = e.conn.read(buf, now)) > 0;)
        e.in.insert(e.in.end(), buf, buf + n);
    }
    flush();
    return busy;
  }
};

TEST(SpxConnection, DataArrivesWholeBothWaysOverAnImperfectWire) {
  const struct {
    const char* name;
    FatePlan to_server, to_client;
  } cases[] = {
      {"clean", deliver_all, deliver_all},
      {"request and answer lost",
       [](int i) { return i < 2 ? Fate::kDrop : Fate::kDeliver; },
       [](int i) { return i == 0 ? Fate::kDrop : Fate::kDeliver; }},
      {"lost, late and repeated", fates(10, 10, 5, 1), fates(10, 0, 0, 10)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    p.client.wire.plan = c.to_server;
    p.server.wire.plan = c.to_client;
    p.client.out = pattern(200 * 1000, 1);
    p.server.out = pattern(70 * 1000 + 3, 9);
    p.client.conn.open(p.now);
    ASSERT_TRUE(p.delivered(120 * 1000)) << p.server.in.size();
    EXPECT_EQ(p.server.in, p.client.out);
    EXPECT_EQ(p.client.in, p.server.out);
    EXPECT_EQ(p.client.conn.state(), State::kEstablished);
    EXPECT_EQ(p.server.conn.state(), State::kEstablished);
    if (c.name == std::string("clean")) {  // nothing sent twice
      EXPECT_EQ(p.client.wire.data_sent().second, p.client.out.size());
    }
  }
}

TEST(SpxConnection, ASilentPeerEndsTheConnectionWithinItsBounds) {
  // Mid-transfer: eight sends of the oldest packet, then reset.
  Pair p;
  p.client.out = pattern(100 * 1000, 5);
  p.client.conn.open(p.now);
  p.run_until([&] { return p.server.in.size() > 20000; }, 5000);
  p.server.wire.plan = drop_all;
  int64_t vanished = p.now;
  ASSERT_TRUE(p.run_until([&] { return p.client.conn.finished(); }, 60000));
  EXPECT_EQ(p.client.conn.state(), State::kBroken);
  EXPECT_EQ(p.client.conn.error(), kConnectionReset);
  EXPECT_GE(p.now - vanished, 5000);
  EXPECT_LE(p.now - vanished, 10000);

  // Idle: watchdogs every 6 s, then reset after 30 s of silence.
  Pair q;
  q.client.conn.open(q.now);
  q.run_until([&] { return q.client.conn.state() == State::kEstablished; }, 9);
  q.server.wire.plan = drop_all;
  size_t before = q.client.wire.log.size();
  int64_t quiet = q.now;
  ASSERT_TRUE(q.run_until([&] { return q.client.conn.finished(); }, 40000));
  EXPECT_EQ(q.client.conn.error(), kConnectionReset);
  EXPECT_GE(q.now - quiet, 30000);
  EXPECT_LE(q.now - quiet, 30050);
  EXPECT_EQ(q.client.wire.log.size() - before, 4u);       // at 6, 12, 18, 24 s
  EXPECT_EQ(q.server.conn.state(), State::kEstablished);  // it still hears

  // No listener: the request is repeated every 0.5 s, 4 s in all.
  Pair r;
  r.client.wire.plan = drop_all;
  r.client.conn.open(r.now);
  ASSERT_TRUE(r.run_until([&] { return r.client.conn.finished(); }, 10000));
  EXPECT_EQ(r.client.conn.error(), kTimedOut);
  EXPECT_EQ(r.now - 1000, 4000);
  EXPECT_EQ(r.client.wire.log.size(), 8u);
}

// Faults a unit or a hostile packet may cause: each ends well, in bounds.
TEST(SpxConnection, SlowPeersForgedPacketsAndShutWindowsStayBounded) {
  const struct {
    const char* name;
    size_t receive_packets;
    std::function<void(Pair&)> check;
  } cases[] = {
      {"peer acknowledging in 160 ms gets each packet once", 32,
       [](Pair& p) {
         p.client.wire.latency = p.server.wire.latency = 80;
         p.client.out = pattern(60 * 1000, 2);
         p.client.conn.open(p.now);
         ASSERT_TRUE(p.delivered(60 * 1000));
         // One window resent before the first round trip is measured.
         EXPECT_LT(p.client.wire.data_sent().second,
                   p.client.out.size() * 4 / 3);
       }},
      {"allocation 0x8000 ahead does not wedge the sender", 32,
       [](Pair& p) {
         p.client.out = pattern(80 * 1000, 4);
         p.client.conn.open(p.now);
         p.run_until([&] { return p.server.in.size() > 10000; }, 5000);
         Packet forged = p.server.wire.log.back();
         forged.header.allocation =
             static_cast<uint16_t>(forged.header.acknowledge + 0x8000 + 40);
         p.client.conn.receive(forged.header, {}, p.now);
         ASSERT_TRUE(p.delivered(5000));
         EXPECT_EQ(p.server.in, p.client.out);
       }},
      {"late packet to a lingering connection leaves no timer", 32,
       [](Pair& p) {
         p.client.out = pattern(5000, 6);
         p.client.closes_after_data = true;
         p.client.conn.open(p.now);
         ASSERT_TRUE(p.run_until(
             [&] { return p.server.conn.state() == State::kLinger; }, 3000));
         Packet late = p.client.wire.log.front();
         p.server.conn.receive(late.header, late.bytes(), p.now);
         p.run_until([] { return false; }, 3000);
         EXPECT_EQ(p.server.conn.state(), State::kClosed);
         EXPECT_EQ(p.server.conn.next_deadline(), kNever);
       }},
      {"shut window probed backed off; lost reopening ack repeated", 4,
       [](Pair& p) {
         p.server.reads = false;
         p.client.out = pattern(30 * 1000, 8);
         p.client.conn.open(p.now);
         p.run_until([] { return false; }, 5000);
         // Four packets sent anew, never past the allocation.
         EXPECT_EQ(p.client.wire.data_sent().first, 3);
         EXPECT_EQ(p.server.conn.readable(), 4 * ipx::kSpxMaxData);
         EXPECT_LE(p.client.wire.probes(), 10u);  // 100 ms each: 50
         p.server.reads = true;
         int first = p.server.wire.sent;
         p.server.wire.plan = [first](int i) {
           return i == first ? Fate::kDrop : Fate::kDeliver;
         };
         size_t had = p.server.in.size();
         int64_t t0 = p.now;
         ASSERT_TRUE(p.run_until(
             [&] { return p.server.in.size() > had + 4 * ipx::kSpxMaxData; },
             5000));
         EXPECT_LT(p.now - t0, 500);
       }},
      {"the end's lost first acknowledgement: the end is repeated", 32,
       [](Pair& p) {
         p.server.out = pattern(10000, 7);
         p.server.closes_after_data = true;
         p.client.wire.plan = [&p, dropped = false](int) mutable {
           if (dropped || p.client.wire.log.back().header.datastream_type !=
                              ipx::kSpxEndOfConnectionAck)
             return Fate::kDeliver;
           return dropped = true, Fate::kDrop;
         };
         p.client.conn.open(p.now);
         ASSERT_TRUE(p.run_until(
             [&] {
               return p.client.conn.finished() && p.server.conn.finished();
             },
             10000));
         EXPECT_EQ(p.client.conn.state(), State::kClosed);
         EXPECT_EQ(p.server.conn.state(), State::kClosed);
         EXPECT_EQ(p.client.in, p.server.out);
         EXPECT_TRUE(p.client.conn.at_end());
         EXPECT_EQ(p.server.conn.write(p.server.out, p.now), 0u);
       }},
      {"close behind a window that stays shut gives the queue up", 4,
       [](Pair& p) {
         p.server.reads = false;
         p.client.out = pattern(12 * 1000, 9);
         p.client.closes_after_data = true;
         p.client.conn.open(p.now);
         ASSERT_TRUE(
             p.run_until([&] { return p.client.conn.finished(); }, 30 * 1000));
         EXPECT_EQ(p.client.conn.error(), kConnectionReset);
         EXPECT_GT(p.now - 1000, 5000);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p(Limits{.receive_packets = c.receive_packets});
    c.check(p);
  }
}

}  // namespace
