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

// The simulator agent's reply to `request` for `options`, cut to `cut` bytes
// (0: whole), byte `at` (0: none) set to `value`: what the check took, or
// "refused".
struct ReplyCase {
  int (*request)(uint8_t*);
  std::string options;
  size_t cut;
  int at;
  uint8_t value;
  std::string taken;
};

std::string taken(const ReplyCase& c) {
  uint8_t request[44];
  int n = c.request(request);
  std::vector<uint8_t> r =
      sim::snmp_reply(tav_test::snmp_units({"ip=10.0.0.1," + c.options})[0],
                      request, static_cast<size_t>(n));
  if (c.cut) r.resize(c.cut);
  if (c.at) r[static_cast<size_t>(c.at)] = c.value;
  const uint8_t* d = r.data();
  n = static_cast<int>(r.size());
  uint8_t b[6];
  long number;
  char text[259];
  if (c.request == build_hardware_address_request)
    return check_hardware_address_reply(d, n, b) ? hex(b, 6) : "refused";
  if (c.request == build_unit_number_request)
    return check_unit_number_reply(d, n, &number) ? std::to_string(number)
                                                  : "refused";
  if (c.request == build_unit_port_request)
    return check_unit_port_reply(d, n, b) ? std::to_string(b[0] << 8 | b[1])
                                          : "refused";
  if (c.request == build_unit_name_request)
    return check_unit_name_reply(d, n, text, 41) ? text : "refused";
  switch (check_system_description_reply(d, n, text, sizeof text)) {
    case DescriptionReply::kText:
      return text;
    case DescriptionReply::kMio:
      return "MIO";
    default:
      return "none";
  }
}

TEST(SnmpReplyTest, EachCheckTakesItsFieldOnlyFromTheUnitsEncoding) {
  const auto hw = build_hardware_address_request;
  const auto number = build_unit_number_request;
  const auto port = build_unit_port_request;
  const auto name = build_unit_name_request;
  const auto description = build_system_description_request;
  const std::string mac = "hw=00-02-F5-48-2C-6A,";
  const std::string jet = "description=\"LaserJet 4 Plus\"";
  const ReplyCase cases[] = {
      {hw, mac, 48, 0, 0, "00 02 F5 48 2C 6A"},
      {hw, mac, 47, 0, 0, "refused"},
      {hw, mac, 0, 40, 2, "refused"},  // another object or a 5-byte value
      {hw, mac + "request-id=1", 0, 0, 0, "refused"},
      {hw, mac + "long-form=on", 0, 0, 0, "refused"},
      {number, "number=123456", 49, 0, 0, "12345"},  // the sixth not received
      {number, "number=123456", 48, 0, 0, "refused"},
      {number, "number=abcdef", 0, 0, 0, "0"},
      {number, "number=1234567", 0, 0, 0, "refused"},  // length byte 7
      {number, "number=123456", 0, 20, 2, "refused"},  // error status
      {port, "port=8080", 47, 0, 0, "refused"},
      {port, "port-size=2", 0, 0, 0, "refused"},  // only a 4-byte integer
      {name, "name=Lobby", 46, 0, 0, "Lo"},       // length 5, two arrived
      {name, "name=Lobby", 44, 0, 0, "refused"},  // the minimum, no character
      {name, "name=Lobby", 0, 43, 0, "refused"},  // text length 0
      {name, "name=Lobby", 0, 44, 0, "refused"},  // a blank name
      {name, "name=Lobby", 0, 46, 0, "Lo"},
      {name, "name=\" spaced\"", 0, 0, 0, "refused"},
      {description, jet, 0, 0, 0, "LaserJet 4 Plus"},
      {description, jet, 45, 0, 0, "Laser"},
      {description, jet, 40, 0, 0, "none"},
      {description, "description=\" \"", 0, 0, 0, "MIO"},
      {description, "description=X", 0, 0, 0, "none"},
      {description, "description=" + std::string(128, 'd'), 0, 0, 0,
       "none"},  // long-form length
  };
  for (const ReplyCase& c : cases)
    EXPECT_EQ(taken(c), c.taken)
        << c.options << " cut " << c.cut << " at " << c.at;
}

}  // namespace
