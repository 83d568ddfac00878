// The SPX connection machine between two peers over a simulated wire that
// loses, repeats and reorders packets, with a simulated clock.
#include "platform/spx_connection.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace spx;
using Bytes = std::vector<uint8_t>;

enum class Fate { kDeliver, kDrop, kRepeat, kLate };
using FatePlan = std::function<Fate(int index)>;

Fate deliver_all(int) { return Fate::kDeliver; }

// One direction of the wire: a millisecond of latency, ten for kLate.
struct Wire {
  FatePlan plan = deliver_all;
  int sent = 0;
  std::multimap<int64_t, Packet> in_flight;
  std::vector<Packet> log;

  void put(const Packet& p, int64_t now) {
    log.push_back(p);
    Fate f = plan(sent++);
    if (f != Fate::kDrop)
      in_flight.emplace(now + (f == Fate::kLate ? 10 : 1), p);
    if (f == Fate::kRepeat) in_flight.emplace(now + 2, p);
  }
  int64_t next() const {
    return in_flight.empty() ? kNever : in_flight.begin()->first;
  }
};

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
  return b;
}

// A client and a listener joined by two wires. Each side writes what it is
// given and reads what arrives unless told to stop reading.
struct Pair {
  explicit Pair(const Timing& t = {}, const Limits& l = {})
      : client(0x1001, t, l), server(0x2002, t, l) {}

  Connection client, server;
  Wire to_server, to_client;
  Bytes client_out, server_out, client_in, server_in;
  size_t client_sent = 0, server_sent = 0;
  int64_t now = 1000;
  bool busy = false;
  bool server_reads = true;
  // Which side closes once all it was given is written (none by default).
  Connection* closes_after_data = nullptr;

  void open() { client.open(now); }
  // Runs until `done` holds or `limit_ms` of simulated time pass.
  bool run_until(const std::function<bool()>& done, int64_t limit_ms) {
    int64_t end = now + limit_ms;
    while (now < end) {
      step();
      if (done()) return true;
      int64_t next =
          std::min({to_server.next(), to_client.next(), client.next_deadline(),
                    server.next_deadline(), now + 1});
      now = std::max(next, now + (busy ? 0 : 1));
      client.tick(now);
      server.tick(now);
    }
    return done();
  }
  bool both_delivered(int64_t limit_ms) {
    size_t a = client_out.size(), b = server_out.size();
    return run_until(
        [&] { return server_in.size() >= a && client_in.size() >= b; },
        limit_ms);
  }

  void flush() {
    for (auto [c, w] : {std::pair{&client, &to_server}, {&server, &to_client}})
      for (; !c->outbox().empty(); c->outbox().pop_front())
        w->put(c->outbox().front(), now);
  }
  void arrive(Wire& w, Connection& c) {
    while (!w.in_flight.empty() && w.in_flight.begin()->first <= now) {
      Packet p = w.in_flight.begin()->second;
      w.in_flight.erase(w.in_flight.begin());
      if (c.state() == State::kIdle &&
          p.header.destination_id == ipx::kSpxUnknownId)
        c.accept(p.header, now);
      else
        c.receive(p.header, p.bytes(), now);
      busy = true;
    }
  }
  void app(Connection& c, Bytes& out, size_t& sent, Bytes& in, bool reads) {
    if (sent < out.size()) sent += c.write(std::span(out).subspan(sent), now);
    if (closes_after_data == &c && sent == out.size()) c.close(now);
    uint8_t buf[4096];
    while (reads) {
      size_t n = c.read(buf, now);
      if (n == 0) break;
      in.insert(in.end(), buf, buf + n);
    }
  }
  void step() {
    busy = false;
    flush();
    arrive(to_server, server);
    arrive(to_client, client);
    app(client, client_out, client_sent, client_in, true);
    app(server, server_out, server_sent, server_in, server_reads);
    flush();
  }
};

TEST(SpxConnection, DataArrivesWholeBothWaysOverAnImperfectWire) {
  // Fates drawn from a fixed pseudo-random sequence: a periodic pattern
  // can keep hitting the same packet of a repeated window forever.
  auto chance = [](int percent, Fate f, uint32_t seed) {
    return [=](int i) {
      uint32_t h = (static_cast<uint32_t>(i) + seed) * 2654435761u;
      return (h >> 16) % 100 < static_cast<uint32_t>(percent) ? f
                                                              : Fate::kDeliver;
    };
  };
  auto mixed = [&](int i) {
    Fate f = chance(10, Fate::kDrop, 1)(i);
    if (f == Fate::kDeliver) f = chance(10, Fate::kLate, 2)(i);
    if (f == Fate::kDeliver) f = chance(5, Fate::kRepeat, 3)(i);
    return f;
  };
  const struct {
    const char* name;
    FatePlan to_server, to_client;
  } cases[] = {
      {"clean", deliver_all, deliver_all},
      {"10% lost each way", chance(10, Fate::kDrop, 4),
       chance(10, Fate::kDrop, 5)},
      {"request and answer lost",
       [](int i) { return i < 2 ? Fate::kDrop : Fate::kDeliver; },
       [](int i) { return i == 0 ? Fate::kDrop : Fate::kDeliver; }},
      {"repeats", chance(20, Fate::kRepeat, 6), chance(20, Fate::kRepeat, 7)},
      {"reordered", chance(25, Fate::kLate, 8), chance(15, Fate::kLate, 9)},
      {"lost, late and repeated", mixed, chance(10, Fate::kDrop, 10)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    p.to_server.plan = c.to_server;
    p.to_client.plan = c.to_client;
    Bytes up = pattern(200 * 1000, 1), down = pattern(70 * 1000 + 3, 9);
    p.client_out = up;
    p.server_out = down;
    p.open();
    ASSERT_TRUE(p.both_delivered(120 * 1000));
    EXPECT_EQ(p.server_in, up);
    EXPECT_EQ(p.client_in, down);
    EXPECT_EQ(p.client.state(), State::kEstablished);
    EXPECT_EQ(p.server.state(), State::kEstablished);
    if (std::string(c.name) == "clean") {  // nothing sent twice
      size_t sent = 0;
      for (const Packet& pk : p.to_server.log)
        if (!(pk.header.connection_control & ipx::kSpxSystem)) sent += pk.size;
      EXPECT_EQ(sent, up.size());
    }
  }
}

TEST(SpxConnection, AFullWindowStopsTheSenderUntilTheReaderMakesRoom) {
  Limits small;
  small.receive_packets = 4;
  Pair p({}, small);
  p.server_reads = false;
  Bytes data = pattern(50 * 1000, 3);
  p.client_out = data;
  p.open();
  p.run_until([] { return false; }, 3000);
  // The sender never passes the allocation: four packets are all it sent
  // anew, whatever it repeated to probe the shut window.
  uint16_t highest = 0;
  for (const Packet& pk : p.to_server.log)
    if (!(pk.header.connection_control & ipx::kSpxSystem))
      highest = std::max(highest, pk.header.sequence);
  EXPECT_EQ(highest, 3);
  EXPECT_EQ(p.server.readable(), 4 * ipx::kSpxMaxData);
  EXPECT_EQ(p.client.state(), State::kEstablished);
  p.server_reads = true;
  ASSERT_TRUE(p.both_delivered(60 * 1000));
  EXPECT_EQ(p.server_in, data);
}

TEST(SpxConnection, ASilentPeerEndsTheConnectionWithinItsBounds) {
  // Mid-transfer: eight sends of the oldest packet, then reset.
  Pair p;
  p.client_out = pattern(100 * 1000, 5);
  p.open();
  p.run_until([&] { return p.server_in.size() > 20000; }, 5000);
  p.to_client.plan = [](int) { return Fate::kDrop; };
  int64_t vanished = p.now;
  ASSERT_TRUE(p.run_until([&] { return p.client.finished(); }, 60 * 1000));
  EXPECT_EQ(p.client.state(), State::kBroken);
  EXPECT_EQ(p.client.error(), kConnectionReset);
  EXPECT_GE(p.now - vanished, 5000);
  EXPECT_LE(p.now - vanished, 10000);

  // Idle: watchdogs every 6 s, then reset after 30 s of silence.
  Pair q;
  q.open();
  q.run_until([&] { return q.client.state() == State::kEstablished; }, 100);
  q.to_client.plan = [](int) { return Fate::kDrop; };
  size_t before = q.to_server.log.size();
  int64_t quiet = q.now;
  ASSERT_TRUE(q.run_until([&] { return q.client.finished(); }, 40 * 1000));
  EXPECT_EQ(q.client.error(), kConnectionReset);
  EXPECT_GE(q.now - quiet, 30000);
  EXPECT_LE(q.now - quiet, 30050);
  EXPECT_EQ(q.to_server.log.size() - before, 4u);    // at 6, 12, 18, 24 s
  EXPECT_EQ(q.server.state(), State::kEstablished);  // it still hears us

  // No listener: the request is repeated every 0.5 s, 4 s in all.
  Pair r;
  r.to_server.plan = [](int) { return Fate::kDrop; };
  r.open();
  ASSERT_TRUE(r.run_until([&] { return r.client.finished(); }, 10000));
  EXPECT_EQ(r.client.error(), kTimedOut);
  EXPECT_EQ(r.now - 1000, 4000);
  EXPECT_EQ(r.to_server.log.size(), 8u);
}

TEST(SpxConnection, EitherSideClosesAfterItsDataAndTheOtherReadsTheEnd) {
  for (bool client_closes : {true, false}) {
    for (bool lose_first_answer : {false, true}) {
      SCOPED_TRACE(testing::Message() << "client closes " << client_closes
                                      << ", lost FF " << lose_first_answer);
      Pair p;
      Bytes data = pattern(10000, 7);
      if (client_closes)
        p.client_out = data;
      else
        p.server_out = data;
      p.open();
      Connection& closer = client_closes ? p.client : p.server;
      Connection& other = client_closes ? p.server : p.client;
      Wire& back = client_closes ? p.to_client : p.to_server;
      p.closes_after_data = &closer;
      bool dropped = !lose_first_answer;
      back.plan = [&](int) {
        if (dropped || back.log.back().header.datastream_type !=
                           ipx::kSpxEndOfConnectionAck)
          return Fate::kDeliver;
        dropped = true;
        return Fate::kDrop;
      };
      ASSERT_TRUE(p.run_until(
          [&] { return closer.finished() && other.finished(); }, 10000));
      EXPECT_EQ(closer.state(), State::kClosed);
      EXPECT_EQ(other.state(), State::kClosed);
      EXPECT_EQ(client_closes ? p.server_in : p.client_in, data);
      EXPECT_TRUE(other.at_end());
      EXPECT_EQ(closer.write(data, p.now), 0u);
    }
  }
}

}  // namespace
