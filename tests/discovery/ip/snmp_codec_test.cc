#include "discovery/ip/snmp_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/snmp_agent.h"

namespace {

std::string hex(const uint8_t* p, int n) {
  std::string out;
  char b[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    out += b;
  }
  return out;
}

const char kCommunityHex[] = "70 75 62 6C 69 63";  // "public"

TEST(SnmpRequestTest, FiveRequestsHaveTheirExactBytes) {
  uint8_t b[44];
  EXPECT_EQ(build_hardware_address_request(b), 42);
  EXPECT_EQ(hex(b, 42), std::string("30 28 02 01 00 04 06 ") + kCommunityHex +
                            " A0 1B 02 01 00 02 01 00 02 01 00 30 10 30 0E 06 "
                            "0A 2B 06 01 02 01 02 02 01 06 01 05 00");
  EXPECT_EQ(build_system_description_request(b), 40);
  EXPECT_EQ(hex(b, 40), std::string("30 26 02 01 00 04 06 ") + kCommunityHex +
                            " A0 19 02 01 00 02 01 00 02 01 00 30 0E 30 0C 06 "
                            "08 2B 06 01 02 01 01 01 00 05 00");
  const std::string unit_head = std::string("30 2A 02 01 00 04 06 ") +
                                kCommunityHex +
                                " A0 1D 02 01 00 02 01 00 02 01 00 30 12 30 10 "
                                "06 0C 2B 06 01 04 01 87 05 01 01 ";
  EXPECT_EQ(build_unit_number_request(b), 44);
  EXPECT_EQ(hex(b, 44), unit_head + "02 07 00 05 00");
  EXPECT_EQ(build_unit_port_request(b), 44);
  EXPECT_EQ(hex(b, 44), unit_head + "04 05 00 05 00");
  EXPECT_EQ(build_unit_name_request(b), 44);
  EXPECT_EQ(hex(b, 44), unit_head + "03 02 00 05 00");
}

// Replies come from the simulator's agent, so that codec and simulator are
// held to the same layout.
std::vector<uint8_t> reply_to(const sim::SnmpUnit& unit,
                              int (*build)(uint8_t*)) {
  uint8_t request[44];
  int n = build(request);
  return sim::snmp_reply(unit, request, static_cast<size_t>(n));
}

int hw_request(uint8_t* b) { return build_hardware_address_request(b); }
int number_request(uint8_t* b) { return build_unit_number_request(b); }
int port_request(uint8_t* b) { return build_unit_port_request(b); }
int name_request(uint8_t* b) { return build_unit_name_request(b); }
int description_request(uint8_t* b) {
  return build_system_description_request(b);
}

TEST(HardwareReplyTest, AcceptsTheUnitsReplyAndRefusesOtherEncodings) {
  sim::SnmpUnit unit;
  const uint8_t hw[6] = {0x00, 0x02, 0xF5, 0x48, 0x2C, 0x6A};
  std::copy(hw, hw + 6, unit.hw);
  std::vector<uint8_t> r = reply_to(unit, hw_request);
  ASSERT_EQ(r.size(), 48u);
  uint8_t got[6] = {};
  ASSERT_TRUE(check_hardware_address_reply(r.data(), 48, got));
  EXPECT_EQ(hex(got, 6), "00 02 F5 48 2C 6A");

  EXPECT_FALSE(check_hardware_address_reply(r.data(), 47, got));
  unit.request_id = 1;
  r = reply_to(unit, hw_request);
  EXPECT_FALSE(check_hardware_address_reply(r.data(), int(r.size()), got));
  unit.request_id = -1;
  unit.long_form = true;
  r = reply_to(unit, hw_request);
  EXPECT_FALSE(check_hardware_address_reply(r.data(), int(r.size()), got));
  // A reply to another object, or with a 5-byte value, is refused too.
  unit.long_form = false;
  r = reply_to(unit, hw_request);
  r[40] = 0x02;
  EXPECT_FALSE(check_hardware_address_reply(r.data(), int(r.size()), got));
}

TEST(UnitNumberReplyTest, ReadsSixCharactersAndOnlyThoseReceived) {
  sim::SnmpUnit unit;
  unit.number = "123456";
  std::vector<uint8_t> r = reply_to(unit, number_request);
  ASSERT_EQ(r.size(), 50u);
  long n = -1;
  ASSERT_TRUE(check_unit_number_reply(r.data(), 50, &n));
  EXPECT_EQ(n, 123456);
  // 49 bytes hold five of the six characters; the sixth is not read.
  std::vector<uint8_t> cut(r.begin(), r.begin() + 49);
  ASSERT_TRUE(check_unit_number_reply(cut.data(), 49, &n));
  EXPECT_EQ(n, 12345);
  EXPECT_FALSE(check_unit_number_reply(r.data(), 48, &n));

  unit.number = "abcdef";
  r = reply_to(unit, number_request);
  ASSERT_TRUE(check_unit_number_reply(r.data(), int(r.size()), &n));
  EXPECT_EQ(n, 0);
  unit.number = "1234567";  // seven characters: length byte 7
  r = reply_to(unit, number_request);
  EXPECT_FALSE(check_unit_number_reply(r.data(), int(r.size()), &n));
  unit.number = "123456";
  r = reply_to(unit, number_request);
  r[20] = 2;  // error status
  EXPECT_FALSE(check_unit_number_reply(r.data(), int(r.size()), &n));
}

TEST(UnitPortReplyTest, OnlyAFourByteIntegerIsRead) {
  sim::SnmpUnit unit;
  unit.port = 8080;
  std::vector<uint8_t> r = reply_to(unit, port_request);
  uint8_t port[2];
  ASSERT_TRUE(check_unit_port_reply(r.data(), int(r.size()), port));
  EXPECT_EQ(port[0] << 8 | port[1], 8080);
  EXPECT_FALSE(check_unit_port_reply(r.data(), 47, port));
  unit.port = 10001;
  unit.port_size = 2;
  r = reply_to(unit, port_request);
  EXPECT_FALSE(check_unit_port_reply(r.data(), int(r.size()), port));
}

TEST(UnitNameReplyTest, CutsToFortyAndRefusesLeadingSpaceOrNothing) {
  sim::SnmpUnit unit;
  unit.name = std::string(60, 'x').replace(0, 5, "Floor");
  std::vector<uint8_t> r = reply_to(unit, name_request);
  char name[41];
  ASSERT_TRUE(
      check_unit_name_reply(r.data(), int(r.size()), name, sizeof name));
  EXPECT_EQ(std::string(name), unit.name.substr(0, 40));

  unit.name = " lobby";
  r = reply_to(unit, name_request);
  EXPECT_FALSE(
      check_unit_name_reply(r.data(), int(r.size()), name, sizeof name));

  unit.name = "Lobby";
  r = reply_to(unit, name_request);
  // Length byte 5 but only two characters arrived: only those are taken.
  ASSERT_TRUE(check_unit_name_reply(r.data(), 46, name, sizeof name));
  EXPECT_STREQ(name, "Lo");
  // 44 bytes: the rule's minimum, but no character arrived.
  EXPECT_FALSE(check_unit_name_reply(r.data(), 44, name, sizeof name));
  r[43] = 0;
  EXPECT_FALSE(
      check_unit_name_reply(r.data(), int(r.size()), name, sizeof name));
}

TEST(SystemDescriptionReplyTest, TextSingleSpaceAndUnusableForms) {
  sim::SnmpUnit unit;
  char text[259];
  unit.description = "LaserJet 4 Plus";
  std::vector<uint8_t> r = reply_to(unit, description_request);
  EXPECT_EQ(check_system_description_reply(r.data(), int(r.size()), text,
                                           sizeof text),
            DescriptionReply::kText);
  EXPECT_STREQ(text, "LaserJet 4 Plus");
  // Declared longer than received: only the received characters.
  EXPECT_EQ(check_system_description_reply(r.data(), 45, text, sizeof text),
            DescriptionReply::kText);
  EXPECT_STREQ(text, "Laser");
  EXPECT_EQ(check_system_description_reply(r.data(), 40, text, sizeof text),
            DescriptionReply::kNone);

  unit.description = " ";
  r = reply_to(unit, description_request);
  EXPECT_EQ(check_system_description_reply(r.data(), int(r.size()), text,
                                           sizeof text),
            DescriptionReply::kMio);
  unit.description = "X";
  r = reply_to(unit, description_request);
  EXPECT_EQ(check_system_description_reply(r.data(), int(r.size()), text,
                                           sizeof text),
            DescriptionReply::kNone);
  unit.description = std::string(128, 'd');  // long-form lengths
  r = reply_to(unit, description_request);
  EXPECT_EQ(check_system_description_reply(r.data(), int(r.size()), text,
                                           sizeof text),
            DescriptionReply::kNone);
}

TEST(LeadingDecimalTest, TakesTheLeadingInteger) {
  EXPECT_EQ(leading_decimal("123456", 6), 123456);
  EXPECT_EQ(leading_decimal("  -1", 10), -1);
  EXPECT_EQ(leading_decimal("+7x", 10), 7);
  EXPECT_EQ(leading_decimal("hops", 10), 0);
  EXPECT_EQ(leading_decimal("", 10), 0);
  EXPECT_EQ(leading_decimal("123456", 3), 123);
  EXPECT_EQ(leading_decimal("99999999999999999999999", 30), INT64_MAX);
}

}  // namespace
