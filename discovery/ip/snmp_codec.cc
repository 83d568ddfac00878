#include "discovery/ip/snmp_codec.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kCommunityLength = 6;
static_assert(sizeof kReadCommunity - 1 == kCommunityLength);

// Offsets shared by the request and reply layouts.
constexpr int kErrorStatusOffset = 20;
constexpr int kQueryValueLengthOffset = 43;
constexpr int kQueryValueOffset = 44;
constexpr int kDescriptionLengthOffset = 39;
constexpr int kDescriptionValueOffset = 40;
constexpr int kMaxNameLength = 40;

// Writes the common layout: message of `total` bytes asking for `oid`.
int build_request(uint8_t* out, int total, const uint8_t* oid, int oid_len) {
  const int lo = oid_len;
  uint8_t* p = out;
  *p++ = 0x30;
  *p++ = static_cast<uint8_t>(total - 2);
  *p++ = 0x02, *p++ = 0x01, *p++ = 0x00;
  *p++ = 0x04, *p++ = static_cast<uint8_t>(kCommunityLength);
  std::memcpy(p, kReadCommunity, kCommunityLength);
  p += kCommunityLength;
  *p++ = 0xA0;
  *p++ = static_cast<uint8_t>(total - 15);
  for (int i = 0; i < 3; ++i) *p++ = 0x02, *p++ = 0x01, *p++ = 0x00;
  *p++ = 0x30;
  *p++ = static_cast<uint8_t>(total - 26);
  *p++ = 0x30;
  *p++ = static_cast<uint8_t>(total - 28);
  *p++ = 0x06;
  *p++ = static_cast<uint8_t>(lo);
  std::memcpy(p, oid, static_cast<size_t>(lo));
  p += lo;
  *p++ = 0x05, *p++ = 0x00;
  return static_cast<int>(p - out);
}

constexpr uint8_t kOidHardware[] = {0x2B, 0x06, 0x01, 0x02, 0x01,
                                    0x02, 0x02, 0x01, 0x06, 0x01};
constexpr uint8_t kOidDescription[] = {0x2B, 0x06, 0x01, 0x02,
                                       0x01, 0x01, 0x01, 0x00};
constexpr uint8_t kOidUnitNumber[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x87,
                                      0x05, 0x01, 0x01, 0x02, 0x07, 0x00};

int build_unit_query(uint8_t* out, uint8_t b39, uint8_t b40) {
  int n = build_request(out, kUnitQueryRequestSize, kOidUnitNumber,
                        sizeof kOidUnitNumber);
  out[39] = b39;
  out[40] = b40;
  return n;
}

}  // namespace

int build_hardware_address_request(uint8_t out[kHardwareRequestSize]) {
  return build_request(out, kHardwareRequestSize, kOidHardware,
                       sizeof kOidHardware);
}

int build_system_description_request(uint8_t out[kDescriptionRequestSize]) {
  return build_request(out, kDescriptionRequestSize, kOidDescription,
                       sizeof kOidDescription);
}

int build_unit_number_request(uint8_t out[kUnitQueryRequestSize]) {
  return build_unit_query(out, 0x02, 0x07);
}

int build_unit_port_request(uint8_t out[kUnitQueryRequestSize]) {
  return build_unit_query(out, 0x04, 0x05);
}

int build_unit_name_request(uint8_t out[kUnitQueryRequestSize]) {
  return build_unit_query(out, 0x03, 0x02);
}

bool check_hardware_address_reply(const uint8_t* data, int length,
                                  uint8_t hardware[6]) {
  if (length < 48) return false;
  // The reply mirrors the request: GetResponse, request id 0, no error,
  // the same object, and an OCTET STRING of 6 bytes.
  uint8_t expected[kHardwareRequestSize];
  build_hardware_address_request(expected);
  expected[1] = 0x2E;
  expected[13] = 0xA2;
  expected[14] = 0x21;
  expected[25] = 0x16;
  expected[27] = 0x14;
  expected[40] = 0x04;
  expected[41] = 0x06;
  if (std::memcmp(data, expected, sizeof expected) != 0) return false;
  std::memcpy(hardware, data + 42, 6);
  return true;
}

bool check_unit_number_reply(const uint8_t* data, int length, long* number) {
  if (length < 49 || data[kErrorStatusOffset] != 0 ||
      data[kQueryValueLengthOffset] != 6)
    return false;
  // The six characters are bytes 44 to 49; a 49-byte datagram holds only
  // five of them.
  size_t received =
      static_cast<size_t>(std::min(length - kQueryValueOffset, 6));
  char digits[7] = {};
  std::memcpy(digits, data + kQueryValueOffset, received);
  *number = static_cast<long>(leading_decimal(digits, received));
  return true;
}

bool check_unit_port_reply(const uint8_t* data, int length, uint8_t port[2]) {
  if (length < 48 || data[kErrorStatusOffset] != 0 ||
      data[kQueryValueLengthOffset] != 4)
    return false;
  port[0] = data[46];
  port[1] = data[47];
  return true;
}

bool check_unit_name_reply(const uint8_t* data, int length, char* name,
                           size_t capacity) {
  if (length < 44 || data[kErrorStatusOffset] != 0) return false;
  int count = std::min<int>(data[kQueryValueLengthOffset], kMaxNameLength);
  // Only the characters that arrived are used; a reply that carries none,
  // or whose text starts with a NUL, would blank the unit's name and is
  // refused.
  count = std::min(count, length - kQueryValueOffset);
  count = std::min(count, static_cast<int>(capacity) - 1);
  if (count <= 0 || data[kQueryValueOffset] == ' ' ||
      data[kQueryValueOffset] == '\0')
    return false;
  std::memcpy(name, data + kQueryValueOffset, static_cast<size_t>(count));
  name[count] = '\0';
  return true;
}

DescriptionReply check_system_description_reply(const uint8_t* data, int length,
                                                char* text, size_t capacity) {
  text[0] = '\0';
  if (length <= kDescriptionValueOffset) return DescriptionReply::kNone;
  int declared = static_cast<int8_t>(data[kDescriptionLengthOffset]);
  if (declared >= 2) {
    int count = std::min(declared, length - kDescriptionValueOffset);
    count = std::min(count, static_cast<int>(capacity) - 1);
    std::memcpy(text, data + kDescriptionValueOffset,
                static_cast<size_t>(count));
    text[count] = '\0';
    return DescriptionReply::kText;
  }
  if (data[kDescriptionValueOffset] == ' ') return DescriptionReply::kMio;
  return DescriptionReply::kNone;
}

int64_t leading_decimal(const char* text, size_t max_chars) {
  size_t i = 0;
  auto at = [&](size_t k) { return k < max_chars ? text[k] : '\0'; };
  while (at(i) == ' ' || (at(i) >= '\t' && at(i) <= '\r')) ++i;
  bool negative = false;
  if (at(i) == '+' || at(i) == '-') negative = at(i++) == '-';
  int64_t value = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  for (; at(i) >= '0' && at(i) <= '9'; ++i) {
    int digit = at(i) - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return negative ? -value : value;
}
