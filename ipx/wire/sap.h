// SAP (socket 0x0452) queries and responses as pure codecs over byte
// buffers. Big-endian fields. Safe for concurrent use.
#ifndef TAV_IPX_WIRE_SAP_H_
#define TAV_IPX_WIRE_SAP_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ipx/wire/frame.h"

namespace ipx {

inline constexpr uint16_t kSapSocket = 0x0452;
// The server type of file servers.
inline constexpr uint16_t kSapFileServerType = 0x0004;

// SAP operations.
inline constexpr uint16_t kSapGeneralQuery = 0x0001;
inline constexpr uint16_t kSapGeneralResponse = 0x0002;
inline constexpr uint16_t kSapNearestQuery = 0x0003;
inline constexpr uint16_t kSapNearestResponse = 0x0004;
inline constexpr size_t kSapEntrySize = 64;
inline constexpr size_t kSapNameSize = 48;
inline constexpr size_t kSapMaxEntries = 7;
inline constexpr size_t kSapMaxResponse = 2 + kSapMaxEntries * kSapEntrySize;

struct SapEntry {
  uint16_t server_type = 0;
  std::string name;  // at most 47 bytes are sent, NUL-padded to 48
  Address address;
  uint16_t hops = 0;
  bool operator==(const SapEntry&) const = default;
};

// A query: operation (1 or 3) and server type.
std::array<uint8_t, 4> encode_sap_query(uint16_t operation,
                                        uint16_t server_type);
// False unless `data` holds at least 4 bytes with operation 1 or 3.
bool decode_sap_query(std::span<const uint8_t> data, uint16_t* operation,
                      uint16_t* server_type);
// One 64-byte server entry of a response.
void encode_sap_entry(const SapEntry& e, uint8_t out[kSapEntrySize]);
// A response: operation (2 or 4) and up to 7 entries (more are left out).
std::vector<uint8_t> encode_sap_response(uint16_t operation,
                                         std::span<const SapEntry> entries);
// Reads the operation (2 or 4) and its size / 64 entries (the last may lack
// its hops, which then read 0). A name without NUL in its 48 bytes is
// malformed and comes out empty. False when the operation is another, or
// the response is under 64 or over 2 + 7 * 64 bytes.
bool decode_sap_response(std::span<const uint8_t> data, uint16_t* operation,
                         std::vector<SapEntry>* entries);

}  // namespace ipx

#endif  // TAV_IPX_WIRE_SAP_H_
