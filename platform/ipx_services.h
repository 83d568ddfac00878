// The IPX services the stack and the program speak besides SPX, as pure
// codecs over byte buffers: SAP (socket 0x0452) queries and responses and
// IPX RIP (socket 0x0453) requests and responses. Big-endian fields. All
// functions are safe for concurrent use.
#ifndef TAV_PLATFORM_IPX_SERVICES_H_
#define TAV_PLATFORM_IPX_SERVICES_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/ipx_wire.h"

namespace ipx {

inline constexpr uint16_t kSapSocket = 0x0452;
inline constexpr uint16_t kRipSocket = 0x0453;

// SAP operations.
inline constexpr uint16_t kSapGeneralQuery = 0x0001;
inline constexpr uint16_t kSapGeneralResponse = 0x0002;
inline constexpr uint16_t kSapNearestQuery = 0x0003;
inline constexpr uint16_t kSapNearestResponse = 0x0004;
inline constexpr size_t kSapEntrySize = 64;
inline constexpr size_t kSapNameSize = 48;
inline constexpr size_t kSapMaxEntries = 7;

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
// A response: operation (2 or 4) and up to 7 entries (more are left out).
std::vector<uint8_t> encode_sap_response(uint16_t operation,
                                         std::span<const SapEntry> entries);
// Reads the operation (2 or 4) and every whole entry, at most 7; a name
// without NUL in its 48 bytes is taken whole. False when the operation is
// another or no whole entry is present.
bool decode_sap_response(std::span<const uint8_t> data, uint16_t* operation,
                         std::vector<SapEntry>* entries);

// IPX RIP operations.
inline constexpr uint16_t kRipRequest = 0x0001;
inline constexpr uint16_t kRipResponse = 0x0002;
inline constexpr size_t kRipEntrySize = 8;
inline constexpr size_t kRipMaxEntries = 50;

struct RipEntry {
  NetworkNumber network{};
  uint16_t hops = 0;
  uint16_t ticks = 0;
  bool operator==(const RipEntry&) const = default;
};

// The request for every network: operation 1, network FF FF FF FF, hops and
// ticks FF FF.
std::vector<uint8_t> encode_rip_request();
std::vector<uint8_t> encode_rip(uint16_t operation,
                                std::span<const RipEntry> entries);
// Reads the operation (1 or 2) and every whole entry, at most 50. False for
// another operation or no whole entry.
bool decode_rip(std::span<const uint8_t> data, uint16_t* operation,
                std::vector<RipEntry>* entries);

}  // namespace ipx

#endif  // TAV_PLATFORM_IPX_SERVICES_H_
