// Any frame off the wire: the decoders read nothing outside it, and what
// they accept encodes back to a frame that decodes to the same packet.
#include <algorithm>

#include "ipx/wire/frame.h"
#include "ipx/wire/rip.h"
#include "ipx/wire/sap.h"
#include "ipx/wire/spx.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  std::vector<ipx::SapEntry> sap;
  std::vector<ipx::RipEntry> rip;
  uint16_t op = 0, type = 0;
  ipx::SpxHeader spx;
  ipx::decode_sap_query(in, &op, &type);
  ipx::decode_sap_response(in, &op, &sap);
  ipx::decode_rip(in, &op, &rip);
  ipx::decode_spx_header(in, &spx);
  auto f = ipx::decode_frame(in);
  if (!f) return 0;
  fuzz::require(f->data.size() + ipx::kIpxHeaderSize == f->ipx.length);
  std::vector<uint8_t> again =
      ipx::encode_frame(f->type, f->destination, f->source, f->ipx, f->data);
  if (again.empty()) return 0;  // a big packet fits its own type only
  auto g = ipx::decode_frame(again);
  fuzz::require(g && g->type == f->type && g->ipx.source == f->ipx.source &&
                g->ipx.destination == f->ipx.destination &&
                std::ranges::equal(g->data, f->data));
  return 0;
}
