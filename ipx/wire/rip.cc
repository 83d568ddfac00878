#include "ipx/wire/rip.h"

#include <algorithm>
#include <cstring>

namespace ipx {

std::vector<uint8_t> encode_rip_request() {
  RipEntry all{{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFF};
  return encode_rip(kRipRequest, std::span<const RipEntry>(&all, 1));
}

std::vector<uint8_t> encode_rip(uint16_t operation,
                                std::span<const RipEntry> entries) {
  size_t n = std::min(entries.size(), kRipMaxEntries);
  std::vector<uint8_t> out(2 + n * kRipEntrySize);
  put16(out.data(), operation);
  for (size_t i = 0; i < n; ++i) {
    uint8_t* p = out.data() + 2 + i * kRipEntrySize;
    std::memcpy(p, entries[i].network.data(), 4);
    put16(p + 4, entries[i].hops);
    put16(p + 6, entries[i].ticks);
  }
  return out;
}

bool decode_rip(std::span<const uint8_t> data, uint16_t* operation,
                std::vector<RipEntry>* entries) {
  entries->clear();
  if (data.size() < 2 + kRipEntrySize) return false;
  *operation = get16(data.data());
  if (*operation != kRipRequest && *operation != kRipResponse) return false;
  size_t n = std::min((data.size() - 2) / kRipEntrySize, kRipMaxEntries);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = data.data() + 2 + i * kRipEntrySize;
    RipEntry e;
    std::memcpy(e.network.data(), p, 4);
    e.hops = get16(p + 4);
    e.ticks = get16(p + 6);
    entries->push_back(e);
  }
  return true;
}

}  // namespace ipx
