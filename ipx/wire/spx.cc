#include "ipx/wire/spx.h"

namespace ipx {

void encode_spx_header(const SpxHeader& h, uint8_t out[kSpxHeaderSize]) {
  out[0] = h.connection_control;
  out[1] = h.datastream_type;
  put16(out + 2, h.source_id);
  put16(out + 4, h.destination_id);
  put16(out + 6, h.sequence);
  put16(out + 8, h.acknowledge);
  put16(out + 10, h.allocation);
}

bool decode_spx_header(std::span<const uint8_t> data, SpxHeader* h) {
  if (data.size() < kSpxHeaderSize) return false;
  const uint8_t* p = data.data();
  h->connection_control = p[0];
  h->datastream_type = p[1];
  h->source_id = get16(p + 2);
  h->destination_id = get16(p + 4);
  h->sequence = get16(p + 6);
  h->acknowledge = get16(p + 8);
  h->allocation = get16(p + 10);
  return true;
}

}  // namespace ipx
