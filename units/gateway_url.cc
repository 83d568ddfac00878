#include "units/gateway_url.h"

#include <cstring>

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

size_t percent_encode(const char* text, const char* keep, char* out) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t n = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
        (c >= '0' && c <= '9') || std::strchr(keep, c) != nullptr) {
      out[n++] = static_cast<char>(c);
    } else {
      out[n++] = '%';
      out[n++] = kHex[c >> 4];
      out[n++] = kHex[c & 15];
    }
  }
  out[n] = '\0';
  return n;
}

void percent_decode(char* text) {
  char* to = text;
  for (const char* p = text; *p != '\0'; ++p) {
    int hi = p[0] == '%' ? hex_value(p[1]) : -1;
    int lo = hi >= 0 ? hex_value(p[2]) : -1;
    int c = hi * 16 + lo;
    if (lo >= 0 && c >= 0x20 && c != 0x7F) {
      *to++ = static_cast<char>(c);
      p += 2;
    } else {
      *to++ = *p;
    }
  }
  *to = '\0';
}
