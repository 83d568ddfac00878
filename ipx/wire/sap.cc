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

std::vector<uint8_t> encode_sap_response(uint16_t operation,
                                         std::span<const SapEntry> entries) {
  size_t n = std::min(entries.size(), kSapMaxEntries);
  std::vector<uint8_t> out(2 + n * kSapEntrySize, 0);
  put16(out.data(), operation);
  for (size_t i = 0; i < n; ++i) {
    const SapEntry& e = entries[i];
    uint8_t* p = out.data() + 2 + i * kSapEntrySize;
    put16(p, e.server_type);
    std::memcpy(p + 2, e.name.data(),
                std::min(e.name.size(), kSapNameSize - 1));
    std::memcpy(p + 50, e.address.network.data(), 4);
    std::memcpy(p + 54, e.address.node.data(), 6);
    put16(p + 60, e.address.socket);
    put16(p + 62, e.hops);
  }
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
    std::memcpy(e.address.network.data(), p + 50, 4);
    std::memcpy(e.address.node.data(), p + 54, 6);
    e.address.socket = get16(p + 60);
    // The hops of a last entry cut short after its socket are not there.
    if (p + kSapEntrySize <= data.data() + data.size()) e.hops = get16(p + 62);
    entries->push_back(std::move(e));
  }
  return true;
}

}  // namespace ipx
