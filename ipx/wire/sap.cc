#include "ipx/wire/sap.h"

#include <algorithm>
#include <cstring>

namespace ipx {

std::array<uint8_t, 4> encode_sap_query(uint16_t operation,
                                        uint16_t server_type) {
  std::array<uint8_t, 4> out{};
  put16(out.data(), operation);
  put16(out.data() + 2, server_type);
  return out;
}

bool decode_sap_query(std::span<const uint8_t> data, uint16_t* operation,
                      uint16_t* server_type) {
  if (data.size() < 4) return false;
  *operation = get16(data.data());
  *server_type = get16(data.data() + 2);
  return *operation == kSapGeneralQuery || *operation == kSapNearestQuery;
}

void encode_sap_entry(const SapEntry& e, uint8_t out[kSapEntrySize]) {
  std::memset(out, 0, kSapEntrySize);
  put16(out, e.server_type);
  std::memcpy(out + 2, e.name.data(),
              std::min(e.name.size(), kSapNameSize - 1));
  encode_address(e.address, out + 50);
  put16(out + 62, e.hops);
}

std::vector<uint8_t> encode_sap_response(uint16_t operation,
                                         std::span<const SapEntry> entries) {
  size_t n = std::min(entries.size(), kSapMaxEntries);
  std::vector<uint8_t> out(2 + n * kSapEntrySize, 0);
  put16(out.data(), operation);
  for (size_t i = 0; i < n; ++i)
    encode_sap_entry(entries[i], out.data() + 2 + i * kSapEntrySize);
  return out;
}

bool decode_sap_response(std::span<const uint8_t> data, uint16_t* operation,
                         std::vector<SapEntry>* entries) {
  entries->clear();
  if (data.size() < kSapEntrySize || data.size() > kSapMaxResponse)
    return false;
  *operation = get16(data.data());
  if (*operation != kSapGeneralResponse && *operation != kSapNearestResponse)
    return false;
  for (size_t i = 0; i < data.size() / kSapEntrySize; ++i) {
    const uint8_t* p = data.data() + 2 + i * kSapEntrySize;
    SapEntry e;
    e.server_type = get16(p);
    const char* name = reinterpret_cast<const char*>(p + 2);
    size_t len = strnlen(name, kSapNameSize);
    if (len < kSapNameSize) e.name.assign(name, len);
    e.address = decode_address(p + 50);
    // The hops of a last entry cut short after its socket are not there.
    if (p + kSapEntrySize <= data.data() + data.size()) e.hops = get16(p + 62);
    entries->push_back(std::move(e));
  }
  return true;
}

}  // namespace ipx
