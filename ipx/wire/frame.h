// IPX on Ethernet: pure codecs over byte buffers (no socket, no
// clock). Multi-byte fields are big-endian on the wire; the structs below
// hold them as host values.
//
// - Frames: Ethernet II (type 0x8137), 802.3 raw (length, then the IPX
//   checksum FF FF), 802.2 LLC (length, E0 E0 03) and SNAP (length,
//   AA AA 03 00 00 00 81 37). Frames are padded to the Ethernet minimum of
//   60 bytes; the IPX length field, not the frame, says where a packet ends.
// - The 30-byte IPX header.
//
// Every decoder checks lengths before reading and returns false (or
// nothing) for anything short, oversized or of another protocol. All
// functions are safe for concurrent use.
#ifndef TAV_IPX_WIRE_FRAME_H_
#define TAV_IPX_WIRE_FRAME_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ipx {

using Mac = std::array<uint8_t, 6>;
using NetworkNumber = std::array<uint8_t, 4>;

inline constexpr Mac kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

enum class FrameType : uint8_t { kEthernetII, k8023Raw, k8022, kSnap };
inline constexpr int kFrameTypeCount = 4;

// A set of frame types as a bit mask (bit i = FrameType i).
using FrameTypes = unsigned;
inline constexpr FrameTypes kAllFrameTypes = 0xF;
inline constexpr FrameTypes frame_bit(FrameType t) {
  return 1u << static_cast<unsigned>(t);
}

// Parses a list of frame types: a comma list of ethernet_ii, 802.3, 802.2
// and snap (blanks and case ignored). Returns the set, or 0 when the text
// is empty or names anything else.
FrameTypes parse_frame_types(const char* text);
// The name parse_frame_types() takes for `t`.
const char* frame_type_name(FrameType t);

inline constexpr size_t kEthernetHeader = 14;
inline constexpr size_t kEthernetMinFrame = 60;  // without the checksum
inline constexpr size_t kEthernetMaxPayload = 1500;
inline constexpr uint16_t kEthertypeIpx = 0x8137;

// An IPX address: network, node (a MAC on Ethernet) and socket.
struct Address {
  NetworkNumber network{};
  Mac node{};
  uint16_t socket = 0;
  bool operator==(const Address&) const = default;
};

// An address on the wire: network (4), node (6), socket (2).
inline constexpr size_t kAddressSize = 12;
void encode_address(const Address& a, uint8_t out[kAddressSize]);
Address decode_address(const uint8_t in[kAddressSize]);

inline constexpr size_t kIpxHeaderSize = 30;
inline constexpr uint16_t kNoChecksum = 0xFFFF;

// Packet types we send and look at.
inline constexpr uint8_t kPacketTypeRip = 1;
inline constexpr uint8_t kPacketTypeExchange = 4;
inline constexpr uint8_t kPacketTypeSpx = 5;

struct IpxHeader {
  uint16_t checksum = kNoChecksum;
  uint16_t length = 0;  // header + data; encode_frame() fills it in
  uint8_t transport_control = 0;
  uint8_t packet_type = 0;
  Address destination;
  Address source;
};

// The IPX packet that fits in one frame of any type (1500 less the 8-byte
// SNAP header).
inline constexpr size_t kMaxIpxPacket = kEthernetMaxPayload - 8;

// Writes the 30-byte header to out (sets no length: callers do).
void encode_ipx_header(const IpxHeader& h, uint8_t out[kIpxHeaderSize]);
// Reads a header from the start of `packet`. False when it is shorter than
// 30 bytes or its length field is under 30 or past the end of `packet`.
bool decode_ipx_header(std::span<const uint8_t> packet, IpxHeader* h);

// A received frame, as decode_frame() finds it.
struct Frame {
  Mac destination{};
  Mac source{};
  FrameType type = FrameType::kEthernetII;
  IpxHeader ipx;
  std::span<const uint8_t> data;  // the IPX data, inside the frame given
};

// Recognises an IPX packet in an Ethernet frame of any of the four types and
// cuts it at its IPX length. Nothing for other protocols, truncated frames,
// an 802.3 length past the frame, or an IPX length under 30 or past the
// frame's payload.
std::optional<Frame> decode_frame(std::span<const uint8_t> frame);

// Builds a frame of type `type` carrying `ipx` (its length set to 30 plus
// the data size) and `data`, padded to 60 bytes. Returns an empty vector
// when the packet would not fit in one frame.
std::vector<uint8_t> encode_frame(FrameType type, const Mac& destination,
                                  const Mac& source, const IpxHeader& ipx,
                                  std::span<const uint8_t> data);

// Big-endian helpers shared by the codecs.
inline uint16_t get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

}  // namespace ipx

#endif  // TAV_IPX_WIRE_FRAME_H_
