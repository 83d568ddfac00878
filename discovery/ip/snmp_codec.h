// The five SNMP version 1 GetRequests of IP discovery and the checks of
// their replies. Pure functions: bytes in, bytes out; no state.
//
// Every request carries the read community "public" (6 characters) and
// request id 0, with every length in one byte. Replies are read at fixed
// byte offsets; a reply encoded differently (another request id, long-form
// lengths, other value sizes) is refused. No check reads a byte beyond the
// `length` bytes received.
#ifndef TAV_DISCOVERY_IP_SNMP_CODEC_H_
#define TAV_DISCOVERY_IP_SNMP_CODEC_H_

#include <cstddef>
#include <cstdint>

inline constexpr char kReadCommunity[] = "public";
inline constexpr int kHardwareRequestSize = 42;
inline constexpr int kDescriptionRequestSize = 40;
inline constexpr int kUnitQueryRequestSize = 44;  // number, port and name
inline constexpr uint16_t kSnmpPort = 161;

// Each builder writes its request into `out` and returns its length.
int build_hardware_address_request(uint8_t out[kHardwareRequestSize]);
int build_system_description_request(uint8_t out[kDescriptionRequestSize]);
int build_unit_number_request(uint8_t out[kUnitQueryRequestSize]);
int build_unit_port_request(uint8_t out[kUnitQueryRequestSize]);
int build_unit_name_request(uint8_t out[kUnitQueryRequestSize]);

// Accepted: at least 48 bytes whose first 42 are exactly the expected
// GetResponse header for an OCTET STRING of 6 bytes. Sets hardware[6].
bool check_hardware_address_reply(const uint8_t* data, int length,
                                  uint8_t hardware[6]);

// Accepted: at least 49 bytes, error status 0, value length 6. Sets
// *number to the leading decimal integer of the value's characters that
// were received (bytes 44 to 49 at most; none gives 0).
bool check_unit_number_reply(const uint8_t* data, int length, long* number);

// Accepted: at least 48 bytes, error status 0, value length 4 (a 4-byte
// INTEGER). Sets port[2] to bytes 46 and 47 as they stand (network order).
bool check_unit_port_reply(const uint8_t* data, int length, uint8_t port[2]);

// Accepted: at least 44 bytes, error status 0, a non-zero text length, a
// first character that is neither a space nor a NUL, and at least one
// character received. Copies min(length byte, 40, characters received)
// characters to name (capacity >= 41) and ends it with a NUL.
bool check_unit_name_reply(const uint8_t* data, int length, char* name,
                           size_t capacity);

enum class DescriptionReply {
  kNone,  // no usable description: the caller applies the generic one
  kText,  // `text` holds the unit's description
  kMio,   // a single space: the caller applies the MIO description
};
// Reads a reply to the system-description request: more than 40 bytes; a
// signed length byte L at byte 39; L >= 2 gives the L characters from byte
// 40 (only those received, and at most capacity - 1); otherwise a space at
// byte 40 gives kMio. `text` (capacity >= 1) is always NUL-terminated.
DescriptionReply check_system_description_reply(const uint8_t* data, int length,
                                                char* text, size_t capacity);

// The leading decimal integer of the first `max_chars` characters of text
// (stops at a NUL): optional white space and sign, then digits; 0 when
// there is none. Saturates at the range of int64_t.
int64_t leading_decimal(const char* text, size_t max_chars);

#endif  // TAV_DISCOVERY_IP_SNMP_CODEC_H_
