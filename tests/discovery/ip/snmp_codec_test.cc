#include "discovery/ip/snmp_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/snmp_agent.h"
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

TEST(HardwareReplyTest, AcceptsTheUnitsReplyAndRefusesOtherEncodings) {
  auto request = build_hardware_address_request;
  std::vector<uint8_t> r = reply("hw=00-02-F5-48-2C-6A", request);
  ASSERT_EQ(r.size(), 48u);
  uint8_t got[6] = {};
  ASSERT_TRUE(check_hardware_address_reply(r.data(), 48, got));
  EXPECT_EQ(hex(got, 6), "00 02 F5 48 2C 6A");
  EXPECT_FALSE(check_hardware_address_reply(r.data(), 47, got));
  for (const char* bad : {"request-id=1", "long-form=on"}) {
    r = reply(bad, request);
    EXPECT_FALSE(check_hardware_address_reply(r.data(), len(r), got)) << bad;
  }
  r = reply("", request);
  r[40] = 0x02;  // another object, or a 5-byte value
  EXPECT_FALSE(check_hardware_address_reply(r.data(), len(r), got));
}

TEST(UnitNumberReplyTest, ReadsSixCharactersAndOnlyThoseReceived) {
  auto request = build_unit_number_request;
  struct Case {
    const char* options;
    size_t cut;
    bool ok;
    long number;
  } cases[] = {
      {"number=123456", 0, true, 123456},
      {"number=123456", 49, true, 12345},  // the sixth was not received
      {"number=123456", 48, false, 0},
      {"number=abcdef", 0, true, 0},
      {"number=1234567", 0, false, 0},  // length byte 7
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> r = reply(c.options, request, c.cut);
    long n = -1;
    ASSERT_EQ(check_unit_number_reply(r.data(), len(r), &n), c.ok)
        << c.options << " cut " << c.cut;
    if (c.ok) {
      EXPECT_EQ(n, c.number) << c.options << " cut " << c.cut;
    }
  }
  std::vector<uint8_t> r = reply("number=123456", request);
  r[20] = 2;  // error status
  long n;
  EXPECT_FALSE(check_unit_number_reply(r.data(), len(r), &n));
}

TEST(UnitPortReplyTest, OnlyAFourByteIntegerIsRead) {
  auto request = build_unit_port_request;
  std::vector<uint8_t> r = reply("port=8080", request);
  uint8_t port[2];
  ASSERT_TRUE(check_unit_port_reply(r.data(), len(r), port));
  EXPECT_EQ(port[0] << 8 | port[1], 8080);
  EXPECT_FALSE(check_unit_port_reply(r.data(), 47, port));
  r = reply("port-size=2", request);
  EXPECT_FALSE(check_unit_port_reply(r.data(), len(r), port));
}

TEST(UnitNameReplyTest, CutsToFortyAndRefusesLeadingSpaceOrNothing) {
  auto request = build_unit_name_request;
  const std::string sixty = "Floor" + std::string(55, 'x');
  const std::string forty = sixty.substr(0, 40);
  struct Case {
    std::string options;
    size_t cut;
    const char* name;  // nullptr: refused
  } cases[] = {
      {"name=" + sixty, 0, forty.c_str()},
      {"name=\" lobby\"", 0, nullptr},
      {"name=Lobby", 46, "Lo"},     // length 5, two characters arrived
      {"name=Lobby", 44, nullptr},  // the rule's minimum, no character
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> r = reply(c.options, request, c.cut);
    char name[41];
    EXPECT_EQ(check_unit_name_reply(r.data(), len(r), name, sizeof name),
              c.name != nullptr)
        << c.options;
    if (c.name) {
      EXPECT_STREQ(name, c.name);
    }
  }
  std::vector<uint8_t> r = reply("name=Lobby", request);
  r[43] = 0;  // length 0
  char name[41];
  EXPECT_FALSE(check_unit_name_reply(r.data(), len(r), name, sizeof name));
}

TEST(SystemDescriptionReplyTest, TextSingleSpaceAndUnusableForms) {
  const std::string long_text(128, 'd');  // long-form length
  struct Case {
    std::string options;
    size_t cut;
    DescriptionReply kind;
    const char* text;
  } cases[] = {
      {"description=LaserJet 4 Plus", 0, DescriptionReply::kText,
       "LaserJet 4 Plus"},
      {"description=LaserJet 4 Plus", 45, DescriptionReply::kText, "Laser"},
      {"description=LaserJet 4 Plus", 40, DescriptionReply::kNone, nullptr},
      {"description=\" \"", 0, DescriptionReply::kMio, nullptr},
      {"description=X", 0, DescriptionReply::kNone, nullptr},
      {"description=" + long_text, 0, DescriptionReply::kNone, nullptr},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> r =
        reply(c.options, build_system_description_request, c.cut);
    char text[259];
    EXPECT_EQ(
        check_system_description_reply(r.data(), len(r), text, sizeof text),
        c.kind)
        << c.options << " cut " << c.cut;
    if (c.text) {
      EXPECT_STREQ(text, c.text);
    }
  }
}

}  // namespace
