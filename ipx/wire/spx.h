// SPX: the 12-byte header after the IPX header (packet type 5), as a pure
// codec. Big-endian on the wire, host values in the struct. Safe for
// concurrent use.
#ifndef TAV_IPX_WIRE_SPX_H_
#define TAV_IPX_WIRE_SPX_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "ipx/wire/frame.h"

namespace ipx {

inline constexpr size_t kSpxHeaderSize = 12;
inline constexpr size_t kSpxMaxData = 576 - kIpxHeaderSize - kSpxHeaderSize;
inline constexpr uint8_t kSpxSystem = 0x80;
inline constexpr uint8_t kSpxSendAck = 0x40;
inline constexpr uint8_t kSpxAttention = 0x20;
inline constexpr uint8_t kSpxEndOfMessage = 0x10;
inline constexpr uint8_t kSpxEndOfConnection = 0xFE;
inline constexpr uint8_t kSpxEndOfConnectionAck = 0xFF;
inline constexpr uint16_t kSpxUnknownId = 0xFFFF;

struct SpxHeader {
  uint8_t connection_control = 0;
  uint8_t datastream_type = 0;
  uint16_t source_id = 0;
  uint16_t destination_id = 0;
  uint16_t sequence = 0;
  uint16_t acknowledge = 0;
  uint16_t allocation = 0;
  bool operator==(const SpxHeader&) const = default;
};

void encode_spx_header(const SpxHeader& h, uint8_t out[kSpxHeaderSize]);
// False when `data` is shorter than 12 bytes.
bool decode_spx_header(std::span<const uint8_t> data, SpxHeader* h);

}  // namespace ipx

#endif  // TAV_IPX_WIRE_SPX_H_
