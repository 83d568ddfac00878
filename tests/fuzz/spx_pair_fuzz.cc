// Two SPX connections over a wire whose loss, repeats, delays and forged
// packets come from the input, as do the programs' writes, reads and
// closes; then a long lossless period. What must hold: reads are a prefix
// of the other's writes; no data past the peer's allocation; deadlines
// after tick() in the future; everything written before a close arrives,
// or an error is reported; one call queues at most a window and two system
// packets, none too long, and an end holds no more than its buffer. Forged
// data (the pair's ids) leaves only the reading end's bounds checked.
#include <map>
#include <vector>

#include "ipx/spx/connection.h"
#include "ipx/wire/spx.h"
#include "tests/fuzz/fuzz.h"

namespace {

using spx::Connection;
using spx::Packet;

bool before(uint16_t a, uint16_t b) { return static_cast<int16_t>(a - b) < 0; }

uint8_t stream_byte(int side, size_t i) {
  return static_cast<uint8_t>(i * (side ? 7 : 13) + (i >> 8) + side);
}

struct Input {
  std::span<const uint8_t> in;
  bool empty() const { return in.empty(); }
  uint8_t next() {
    uint8_t b = in.empty() ? 0 : in[0];
    in = in.subspan(in.empty() ? 0 : 1);
    return b;
  }
};

struct End {
  End(uint16_t id, const spx::Limits& l) : conn(id, {}, l) {}
  Connection conn;
  size_t written = 0, read = 0;
  bool closed = false;
  bool forged = false;       // a forged packet with our ids reached us
  bool forged_data = false;  // and it was data
  // The highest allocation the peer's own packets gave, and whether one did.
  uint16_t granted = 0;
  bool granted_known = false;
};

struct InFlight {
  int to;
  Packet packet;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{{data, size}};
  spx::Limits limits;
  limits.receive_packets = 1 + in.next() % 8;
  limits.window = 1 + in.next() % 8;
  limits.send_bytes = 2048;
  End end[2] = {End(0x1001, limits), End(0x2002, limits)};
  std::multimap<int64_t, InFlight> wire;
  int64_t now = 0;
  end[0].conn.open(now);

  // Sends what an end has queued, each packet to its fate.
  auto bounded = [&](End& e, size_t queued) {
    fuzz::require(e.conn.outbox().size() <= queued + limits.window + 2);
    fuzz::require(e.conn.readable() <=
                  limits.receive_packets * ipx::kSpxMaxData);
  };
  auto flush = [&](int from, bool lossless) {
    auto& out = end[from].conn.outbox();
    for (; !out.empty(); out.pop_front()) {
      const Packet& p = out.front();
      const End& e = end[from];
      fuzz::require(p.size <= ipx::kSpxMaxData);
      if (!(p.header.connection_control & ipx::kSpxSystem) && e.granted_known &&
          !e.forged)
        fuzz::require(!before(e.granted, p.header.sequence));
      uint8_t fate = lossless ? 0 : in.next();
      int64_t delay = 1 + (fate >> 4) * (fate & 1 ? 200 : 3);
      if ((fate & 0x0E) == 0x0E) continue;  // lost
      wire.insert({now + delay, {1 - from, p}});
      if ((fate & 0x0E) == 0x0C) wire.insert({now + delay + 5, {1 - from, p}});
    }
  };
  auto deliver = [&](const InFlight& f, bool real) {
    End& e = end[f.to];
    const ipx::SpxHeader& h = f.packet.header;
    const size_t queued = e.conn.outbox().size();
    if (e.conn.state() == spx::State::kIdle) {
      if (h.destination_id != ipx::kSpxUnknownId || !real) return;
      e.conn.accept(h, now);
    } else {
      e.conn.receive(h, f.packet.bytes(), now);
    }
    bounded(e, queued);
    uint16_t peer_id = end[1 - f.to].conn.local_id();
    if (real && h.source_id == peer_id &&
        (!e.granted_known || before(e.granted, h.allocation))) {
      e.granted = h.allocation;
      e.granted_known = true;
    }
  };
  auto programs = [&](int side, uint8_t cmd, uint8_t arg) {
    End& e = end[side];
    const size_t queued = e.conn.outbox().size();
    uint8_t buf[2048];
    if ((cmd & 3) == 0 && !e.closed) {
      size_t n = std::min<size_t>(arg * 8u, sizeof buf);
      for (size_t i = 0; i < n; ++i) buf[i] = stream_byte(side, e.written + i);
      e.written += e.conn.write({buf, n}, now);
    } else if ((cmd & 3) == 1 || cmd == 0xFF) {
      size_t n = e.conn.read({buf, cmd == 0xFF ? sizeof buf : arg * 8u}, now);
      for (size_t i = 0; i < n && !e.forged_data; ++i, ++e.read) {
        fuzz::require(e.read < end[1 - side].written);
        fuzz::require(buf[i] == stream_byte(1 - side, e.read));
      }
    } else if ((cmd & 3) == 2 && (arg & 0xF0) == 0xF0) {
      e.closed = true;
      e.conn.close(now);
    }
    bounded(e, queued);
  };
  auto advance = [&](int64_t to) {
    while (!wire.empty() && wire.begin()->first <= to) {
      auto it = wire.begin();
      now = std::max(now, it->first);
      InFlight f = it->second;
      wire.erase(it);
      deliver(f, true);
    }
    now = std::max(now, to);
    for (End& e : end) {
      const size_t queued = e.conn.outbox().size();
      e.conn.tick(now);
      fuzz::require(e.conn.next_deadline() > now);
      bounded(e, queued);
    }
  };

  while (!in.empty()) {
    uint8_t cmd = in.next(), arg = in.next();
    int side = cmd >> 7;
    switch ((cmd >> 4) & 7) {
      case 0:
      case 1:
      case 2:
        programs(side, cmd, arg);
        break;
      case 3:
      case 4:
        advance(now + arg * ((cmd & 1) ? 100 : 3));
        break;
      case 5: {  // a packet from a third party, or forged
        InFlight f{side, {}};
        ipx::SpxHeader& h = f.packet.header;
        uint8_t raw[ipx::kSpxHeaderSize];
        for (uint8_t& b : raw) b = in.next();
        ipx::decode_spx_header(raw, &h);
        h.connection_control |= ipx::kSpxSystem;
        h.datastream_type = 0;
        if (arg & 1) {
          h.source_id = end[1 - side].conn.local_id();
          h.destination_id = end[side].conn.local_id();
          end[side].forged = true;
          if (arg & 2) {
            h.connection_control &= ~ipx::kSpxSystem;
            end[side].forged_data = true;
          }
        } else if (h.source_id == end[1 - side].conn.local_id()) {
          ++h.source_id;
        }
        f.packet.size = static_cast<uint16_t>(arg % 64);
        deliver(f, false);
        break;
      }
      default:
        break;
    }
    for (int s : {0, 1}) flush(s, false);
  }
  // The long lossless period: both programs read all, the wire is clean.
  const int64_t quiet_end = now + 120 * 1000;
  while (true) {
    if (now >= quiet_end) break;
    for (int s : {0, 1}) {
      programs(s, 0xFF, 0);
      flush(s, true);
    }
    int64_t next = now + 1000;
    for (End& e : end) next = std::min(next, e.conn.next_deadline());
    if (!wire.empty()) next = std::min(next, wire.begin()->first);
    advance(std::max(next, now + 1));
    for (int s : {0, 1}) flush(s, true);
  }
  for (int s : {0, 1}) {
    const End &writer = end[s], &reader = end[1 - s];
    if (reader.forged_data) continue;
    bool error = writer.conn.error() != 0 || reader.conn.error() != 0;
    // An end read without error (not of the reader's own close) follows
    // every byte written before it.
    if (reader.conn.at_end() && reader.conn.error() == 0 && !reader.closed)
      fuzz::require(reader.read == writer.written);
    if (writer.closed && !error) fuzz::require(reader.read == writer.written);
  }
  return 0;
}
