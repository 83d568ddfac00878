// The IPX codecs against bytes written out by hand from the wire reference.
#include <gtest/gtest.h>

#include <vector>

#include "ipx/wire/frame.h"
#include "ipx/wire/rip.h"
#include "ipx/wire/sap.h"
#include "ipx/wire/spx.h"

namespace {

using namespace ipx;
using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Mac kUs = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const Bytes kMacs = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                     0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
IpxHeader sap_query_header() {
  IpxHeader h;
  h.packet_type = kPacketTypeExchange;
  h.destination = {{}, kBroadcastMac, kSapSocket};
  h.source = {{}, kUs, 0x4000};
  return h;
}

struct FrameCase {
  FrameType type;
  Bytes after_macs;  // type or length, then LLC or SNAP header
};

// The IPX packet inside is tshark's to judge (ipx_tshark_test.cc); here the
// frame's own bytes and what a decoder takes back.
TEST(IpxFrames, EachTypeEncodesAsWrittenPaddedTo60AndDecodesBack) {
  const FrameCase cases[] = {
      {FrameType::kEthernetII, {0x81, 0x37}},
      {FrameType::k8023Raw, {0x00, 0x22}},
      {FrameType::k8022, {0x00, 0x25, 0xE0, 0xE0, 0x03}},
      {FrameType::kSnap,
       {0x00, 0x2A, 0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x81, 0x37}},
  };
  auto query = encode_sap_query(kSapGeneralQuery, 0x0414);
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(frame_type_name(c.type));
    Bytes head = cat({kMacs, c.after_macs}),
          got = encode_frame(c.type, kBroadcastMac, kUs, sap_query_header(),
                             query);
    ASSERT_EQ(got.size(), 60u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + head.size()), head);
    EXPECT_EQ(got[head.size() + 34], 0);  // padding after the 34-byte packet
    auto f = decode_frame(got);           // the padding is cut off
    ASSERT_TRUE(f);
    EXPECT_EQ(f->ipx.length, 34);
    EXPECT_EQ(encode_frame(f->type, f->destination, f->source, f->ipx, f->data),
              got);
  }
  // Too big for one frame of the type: nothing is built.
  EXPECT_TRUE(encode_frame(FrameType::kSnap, kBroadcastMac, kUs,
                           sap_query_header(), Bytes(1463))
                  .empty());
  EXPECT_FALSE(encode_frame(FrameType::kEthernetII, kBroadcastMac, kUs,
                            sap_query_header(), Bytes(1470))
                   .empty());
}

TEST(IpxFrames, WhatIsNotAWholeIpxPacketIsDropped) {
  Bytes eth2 = encode_frame(FrameType::kEthernetII, kBroadcastMac, kUs,
                            sap_query_header(),
                            encode_sap_query(kSapGeneralQuery, 0x0414));
  eth2.resize(14 + 34);
  const Bytes kSapQueryPacket(eth2.begin() + 14, eth2.end());
  auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes b = eth2;
    std::copy(bytes.begin(), bytes.end(), b.begin() + at);
    return b;
  };
  const Bytes bad[] = {
      Bytes(kMacs),                                 // no type
      Bytes(eth2.begin(), eth2.end() - 1),          // IPX length past
      with(12, {0x08, 0x00}),                       // IPv4
      with(12, {0x05, 0xDD}),                       // neither type
      with(16, {0x00, 0x1D}),                       // IPX length 29
      cat({kMacs, {0x00, 0x40}, kSapQueryPacket}),  // 802.3 past end
      cat({kMacs, {0x00, 0x25, 0x42, 0x42, 0x03}, kSapQueryPacket}),  // STP
      cat({kMacs,
           {0x00, 0x22},
           {0x00, 0x00},  // raw without FF FF
           Bytes(kSapQueryPacket.begin() + 2, kSapQueryPacket.end())}),
      // The 802.3 length, not the frame, bounds the packet.
      cat({kMacs, {0x00, 0x21}, kSapQueryPacket}),
  };
  for (size_t i = 0; i < std::size(bad); ++i)
    EXPECT_FALSE(decode_frame(bad[i])) << "case " << i;
}

TEST(IpxFrames, FrameTypeListsParseAsTheEnvironmentWritesThem) {
  EXPECT_EQ(parse_frame_types("ethernet_ii,802.3,802.2,snap"), kAllFrameTypes);
  EXPECT_EQ(parse_frame_types(" SNAP , 802.2"),
            frame_bit(FrameType::kSnap) | frame_bit(FrameType::k8022));
  EXPECT_EQ(parse_frame_types("802.3"), frame_bit(FrameType::k8023Raw));
  for (const char* bad : {"", "token_ring", "snap,,802.2", "snap,"})
    EXPECT_EQ(parse_frame_types(bad), 0u) << bad;
}

TEST(SpxHeaderCodec, FieldsSitWhereTheReferenceSays) {
  const Bytes bytes = {0xC0, 0xFE, 0x12, 0x34, 0xFF, 0xFF,
                       0x00, 0x07, 0x00, 0x08, 0x00, 0x0B};
  SpxHeader h{0xC0, 0xFE, 0x1234, 0xFFFF, 7, 8, 11};
  uint8_t out[kSpxHeaderSize];
  encode_spx_header(h, out);
  EXPECT_EQ(Bytes(out, out + kSpxHeaderSize), bytes);
  SpxHeader back;
  ASSERT_TRUE(decode_spx_header(bytes, &back));
  EXPECT_EQ(back, h);
  EXPECT_FALSE(decode_spx_header(std::span(bytes).first(11), &back));
}

TEST(SapAndRip, ResponsesCarryNamedEntriesAndNetworks) {
  SapEntry unit{
      0x0414, "VEM_123456-HTML", {{0x00, 0x00, 0xBE, 0xEF}, kUs, 0x8450}, 1};
  Bytes sap = encode_sap_response(kSapGeneralResponse, {&unit, 1});
  ASSERT_EQ(sap.size(), 66u);
  EXPECT_EQ(Bytes(sap.begin(), sap.begin() + 4),
            Bytes({0x00, 0x02, 0x04, 0x14}));
  EXPECT_EQ(sap[2 + 2 + 15], 0);  // NUL-padded name
  EXPECT_EQ(Bytes(sap.begin() + 52, sap.end()),
            Bytes({0x00, 0x00, 0xBE, 0xEF, 0x02, 0, 0, 0, 0, 0x01, 0x84, 0x50,
                   0x00, 0x01}));
  uint16_t op = 0;
  std::vector<SapEntry> entries;
  ASSERT_TRUE(decode_sap_response(sap, &op, &entries));
  EXPECT_EQ(op, kSapGeneralResponse);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], unit);
  // A name filling all 48 bytes has no NUL and comes out empty; a partial
  // entry is ignored.
  std::fill(sap.begin() + 4, sap.begin() + 52, 'N');
  sap.resize(sap.size() + 30, 0);
  ASSERT_TRUE(decode_sap_response(sap, &op, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "");
  EXPECT_FALSE(decode_sap_response(Bytes(65, 0), &op, &entries));

  EXPECT_EQ(encode_rip_request(), Bytes({0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF}));
  const Bytes answer = {0x00, 0x02, 0x00, 0x00, 0xBE, 0xEF, 0x00, 0x01,
                        0x00, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00};
  std::vector<RipEntry> routes;
  ASSERT_TRUE(decode_rip(answer, &op, &routes));
  EXPECT_EQ(op, kRipResponse);
  ASSERT_EQ(routes.size(), 1u);  // the trailing 5 bytes are no entry
  EXPECT_EQ(routes[0], (RipEntry{{0x00, 0x00, 0xBE, 0xEF}, 1, 2}));
  EXPECT_FALSE(
      decode_rip(Bytes({0x00, 0x03, 0, 0, 0, 0, 0, 0, 0, 0}), &op, &routes));
}

}  // namespace
