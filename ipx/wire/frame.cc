#include "ipx/wire/frame.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace ipx {
namespace {

constexpr uint8_t kLlcIpx[3] = {0xE0, 0xE0, 0x03};
constexpr uint8_t kSnapIpx[8] = {0xAA, 0xAA, 0x03, 0x00,
                                 0x00, 0x00, 0x81, 0x37};

// The bytes between the 802.3 length field and the IPX packet.
std::span<const uint8_t> llc_header(FrameType t) {
  switch (t) {
    case FrameType::k8022:
      return kLlcIpx;
    case FrameType::kSnap:
      return kSnapIpx;
    default:
      return {};
  }
}

bool starts_with(std::span<const uint8_t> data, std::span<const uint8_t> p) {
  return data.size() >= p.size() &&
         std::equal(p.begin(), p.end(), data.begin());
}

}  // namespace

void encode_address(const Address& a, uint8_t out[kAddressSize]) {
  std::memcpy(out, a.network.data(), 4);
  std::memcpy(out + 4, a.node.data(), 6);
  put16(out + 10, a.socket);
}

Address decode_address(const uint8_t in[kAddressSize]) {
  Address a;
  std::memcpy(a.network.data(), in, 4);
  std::memcpy(a.node.data(), in + 4, 6);
  a.socket = get16(in + 10);
  return a;
}

const char* frame_type_name(FrameType t) {
  switch (t) {
    case FrameType::kEthernetII:
      return "ethernet_ii";
    case FrameType::k8023Raw:
      return "802.3";
    case FrameType::k8022:
      return "802.2";
    case FrameType::kSnap:
      return "snap";
  }
  return "";
}

FrameTypes parse_frame_types(const char* text) {
  if (text == nullptr) return 0;
  FrameTypes set = 0;
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p != ',' && *p != '\0') {
      if (!std::isspace(static_cast<unsigned char>(*p)))
        item += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
      continue;
    }
    bool known = false;
    for (int i = 0; i < kFrameTypeCount; ++i) {
      auto t = static_cast<FrameType>(i);
      if (item == frame_type_name(t)) {
        set |= frame_bit(t);
        known = true;
      }
    }
    if (!known) return 0;
    item.clear();
    if (*p == '\0') break;
  }
  return set;
}

void encode_ipx_header(const IpxHeader& h, uint8_t out[kIpxHeaderSize]) {
  put16(out, h.checksum);
  put16(out + 2, h.length);
  out[4] = h.transport_control;
  out[5] = h.packet_type;
  encode_address(h.destination, out + 6);
  encode_address(h.source, out + 18);
}

bool decode_ipx_header(std::span<const uint8_t> packet, IpxHeader* h) {
  if (packet.size() < kIpxHeaderSize) return false;
  const uint8_t* p = packet.data();
  h->checksum = get16(p);
  h->length = get16(p + 2);
  if (h->length < kIpxHeaderSize || h->length > packet.size()) return false;
  h->transport_control = p[4];
  h->packet_type = p[5];
  h->destination = decode_address(p + 6);
  h->source = decode_address(p + 18);
  return true;
}

std::optional<Frame> decode_frame(std::span<const uint8_t> frame) {
  if (frame.size() < kEthernetHeader) return std::nullopt;
  Frame f;
  std::memcpy(f.destination.data(), frame.data(), 6);
  std::memcpy(f.source.data(), frame.data() + 6, 6);
  uint16_t type_or_length = get16(frame.data() + 12);
  std::span<const uint8_t> payload = frame.subspan(kEthernetHeader);
  if (type_or_length == kEthertypeIpx) {
    f.type = FrameType::kEthernetII;
  } else if (type_or_length <= kEthernetMaxPayload) {
    if (type_or_length > payload.size()) return std::nullopt;
    payload = payload.first(type_or_length);
    if (starts_with(payload, kSnapIpx)) {
      f.type = FrameType::kSnap;
    } else if (starts_with(payload, kLlcIpx)) {
      f.type = FrameType::k8022;
    } else if (payload.size() >= 2 && payload[0] == 0xFF &&
               payload[1] == 0xFF) {
      f.type = FrameType::k8023Raw;
    } else {
      return std::nullopt;
    }
    payload = payload.subspan(llc_header(f.type).size());
  } else {
    return std::nullopt;
  }
  if (!decode_ipx_header(payload, &f.ipx)) return std::nullopt;
  f.data = payload.subspan(kIpxHeaderSize, f.ipx.length - kIpxHeaderSize);
  return f;
}

std::vector<uint8_t> encode_frame(FrameType type, const Mac& destination,
                                  const Mac& source, const IpxHeader& ipx,
                                  std::span<const uint8_t> data) {
  std::span<const uint8_t> llc = llc_header(type);
  size_t ipx_length = kIpxHeaderSize + data.size();
  if (ipx_length > kEthernetMaxPayload - llc.size()) return {};
  std::vector<uint8_t> out(kEthernetHeader + llc.size() + ipx_length);
  std::memcpy(out.data(), destination.data(), 6);
  std::memcpy(out.data() + 6, source.data(), 6);
  put16(out.data() + 12, type == FrameType::kEthernetII
                             ? kEthertypeIpx
                             : static_cast<uint16_t>(llc.size() + ipx_length));
  uint8_t* p = out.data() + kEthernetHeader;
  std::copy(llc.begin(), llc.end(), p);
  p += llc.size();
  IpxHeader h = ipx;
  h.length = static_cast<uint16_t>(ipx_length);
  encode_ipx_header(h, p);
  if (!data.empty()) std::memcpy(p + kIpxHeaderSize, data.data(), data.size());
  if (out.size() < kEthernetMinFrame) out.resize(kEthernetMinFrame, 0);
  return out;
}

}  // namespace ipx
