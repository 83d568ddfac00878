#include "discovery/ip/snmp_codec.h"

#include <gtest/gtest.h>

#include "tests/discovery/helpers.h"

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
// held to the same layout. `cut` > 0 keeps only that many bytes.
std::vector<uint8_t> reply(const std::string& options, int (*build)(uint8_t*),
                           size_t cut = 0) {
  uint8_t request[44];
  int n = build(request);
  std::vector<uint8_t> r =
      sim::snmp_reply(tav_test::snmp_units({"ip=10.0.0.1," + options})[0],
                      request, static_cast<size_t>(n));
  if (cut) r.resize(cut);
  return r;
}

int len(const std::vector<uint8_t>& r) { return static_cast<int>(r.size()); }

// Each check below gives what the reply rule took, or "refused".
TEST(HardwareReplyTest, AcceptsTheUnitsReplyAndRefusesOtherEncodings) {
  auto hw = [](const std::string& options, size_t cut = 0, int object = 0) {
    std::vector<uint8_t> r = reply("hw=00-02-F5-48-2C-6A," + options,
                                   build_hardware_address_request, cut);
    if (object) r[40] = static_cast<uint8_t>(object);
    uint8_t got[6] = {};
    return check_hardware_address_reply(r.data(), len(r), got) ? hex(got, 6)
                                                               : "refused";
  };
  EXPECT_EQ(hw("", 48), "00 02 F5 48 2C 6A");
  EXPECT_EQ(hw("", 47), "refused");
  EXPECT_EQ(hw("", 0, 0x02), "refused");  // another object or a 5-byte value
  EXPECT_EQ(hw("request-id=1"), "refused");
  EXPECT_EQ(hw("long-form=on"), "refused");
}

TEST(UnitNumberReplyTest, ReadsSixCharactersAndOnlyThoseReceived) {
  auto number = [](const std::string& options, size_t cut = 0,
                   bool error_status = false) {
    std::vector<uint8_t> r = reply(options, build_unit_number_request, cut);
    if (error_status) r[20] = 2;
    long n = -1;
    return check_unit_number_reply(r.data(), len(r), &n) ? std::to_string(n)
                                                         : "refused";
  };
  EXPECT_EQ(number("number=123456"), "123456");
  EXPECT_EQ(number("number=123456", 49), "12345");  // the sixth not received
  EXPECT_EQ(number("number=123456", 48), "refused");
  EXPECT_EQ(number("number=abcdef"), "0");
  EXPECT_EQ(number("number=1234567"), "refused");  // length byte 7
  EXPECT_EQ(number("number=123456", 0, true), "refused");
}

TEST(UnitPortReplyTest, OnlyAFourByteIntegerIsRead) {
  auto port = [](const std::string& options, size_t cut = 0) {
    std::vector<uint8_t> r = reply(options, build_unit_port_request, cut);
    uint8_t p[2];
    return check_unit_port_reply(r.data(), len(r), p)
               ? std::to_string(p[0] << 8 | p[1])
               : "refused";
  };
  EXPECT_EQ(port("port=8080"), "8080");
  EXPECT_EQ(port("port=8080", 47), "refused");
  EXPECT_EQ(port("port-size=2"), "refused");
}

TEST(UnitNameReplyTest, CutsToFortyAndRefusesLeadingSpaceOrNothing) {
  // `at` >= 0 sets that byte of the reply to `value`.
  auto name = [](const std::string& options, size_t cut = 0, int at = -1,
                 uint8_t value = 0) -> std::string {
    std::vector<uint8_t> r = reply(options, build_unit_name_request, cut);
    if (at >= 0) r[static_cast<size_t>(at)] = value;
    char n[41];
    return check_unit_name_reply(r.data(), len(r), n, sizeof n) ? n : "refused";
  };
  const std::string sixty = "Floor" + std::string(55, 'x');
  EXPECT_EQ(name("name=" + sixty), sixty.substr(0, 40));
  EXPECT_EQ(name("name=Lobby", 46), "Lo");       // length 5, two arrived
  EXPECT_EQ(name("name=Lobby", 44), "refused");  // the minimum, no character
  EXPECT_EQ(name("name=Lobby", 0, 43, 0), "refused");  // text length 0
  EXPECT_EQ(name("name=Lobby", 0, 44, 0), "refused");  // a blank name
  EXPECT_EQ(name("name=Lobby", 0, 46, 0), "Lo");
  EXPECT_EQ(name("name=\" spaced\""), "refused");
}

TEST(SystemDescriptionReplyTest, TextSingleSpaceAndUnusableForms) {
  auto description = [](const std::string& text, size_t cut = 0) {
    std::vector<uint8_t> r = reply("description=\"" + text + "\"",
                                   build_system_description_request, cut);
    char t[259];
    switch (check_system_description_reply(r.data(), len(r), t, sizeof t)) {
      case DescriptionReply::kText:
        return std::string(t);
      case DescriptionReply::kMio:
        return std::string("MIO");
      default:
        return std::string("none");
    }
  };
  EXPECT_EQ(description("LaserJet 4 Plus"), "LaserJet 4 Plus");
  EXPECT_EQ(description("LaserJet 4 Plus", 45), "Laser");
  EXPECT_EQ(description("LaserJet 4 Plus", 40), "none");
  EXPECT_EQ(description(" "), "MIO");
  EXPECT_EQ(description("X"), "none");
  EXPECT_EQ(description(std::string(128, 'd')), "none");  // long-form length
}

}  // namespace
