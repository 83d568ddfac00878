// IPX RIP (socket 0x0453) requests and responses as pure codecs over byte
// buffers. Big-endian fields. Safe for concurrent use.
#ifndef TAV_IPX_WIRE_RIP_H_
#define TAV_IPX_WIRE_RIP_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ipx/wire/frame.h"

namespace ipx {

inline constexpr uint16_t kRipSocket = 0x0453;

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

#endif  // TAV_IPX_WIRE_RIP_H_
