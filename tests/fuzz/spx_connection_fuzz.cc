// Arbitrary packets, calls and time steps into an SPX connection: it stays
// within its bounds, sends at most a window and two system packets per call
// and never a packet longer than SPX allows.
#include "ipx/spx/connection.h"
#include "ipx/wire/spx.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  spx::Limits limits;
  limits.receive_packets = 4;
  limits.send_bytes = 2048;
  spx::Connection c(0x1234, {}, limits);
  int64_t now = 0;
  std::span<const uint8_t> in(data, size);
  if (!in.empty() && (in[0] & 1)) {
    c.open(now);
  } else {
    ipx::SpxHeader request{0xC0, 0, 0x4321, 0xFFFF, 0, 0, 3};
    c.accept(request, now);
  }
  uint8_t buf[1024] = {};
  // Each record: a command byte, then for packets a header and a length.
  while (in.size() >= 2) {
    uint8_t cmd = in[0];
    size_t queued = c.outbox().size();
    in = in.subspan(1);
    switch (cmd % 5) {
      case 0: {
        ipx::SpxHeader h;
        if (!ipx::decode_spx_header(in, &h)) return 0;
        in = in.subspan(ipx::kSpxHeaderSize);
        size_t n = in.empty() ? 0 : std::min<size_t>(in[0], in.size() - 1);
        c.receive(h, in.subspan(1, n), now);
        in = in.subspan(n + (in.empty() ? 0 : 1));
        break;
      }
      case 1:
        c.write(std::span<const uint8_t>(buf, in[0] * 4u), now);
        in = in.subspan(1);
        break;
      case 2:
        c.read(std::span<uint8_t>(buf, in[0] * 4u), now);
        in = in.subspan(1);
        break;
      case 3:
        now += in[0] * 37;
        c.tick(now);
        in = in.subspan(1);
        break;
      case 4:
        c.close(now);
        break;
    }
    fuzz::require(c.readable() <= limits.receive_packets * ipx::kSpxMaxData);
    for (const spx::Packet& p : c.outbox())
      fuzz::require(p.size <= ipx::kSpxMaxData);
    // One call sends at most a window of data and two system packets.
    fuzz::require(c.outbox().size() <= queued + limits.window + 2);
    if (cmd & 0x80) c.outbox().clear();
  }
  return 0;
}
