#include "gateway/text.h"

#include <cstring>

namespace {

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

bool equal_nocase_n(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

bool starts_with_nocase(const char* text, const char* prefix) {
  return equal_nocase_n(text, prefix, std::strlen(prefix));
}

const char* find_nocase(const char* text, const char* pattern) {
  size_t n = std::strlen(pattern);
  for (const char* p = text;; ++p) {
    if (equal_nocase_n(p, pattern, n)) return p;
    if (*p == '\0') return nullptr;
  }
}

size_t bounded_length(const char* text, size_t size) {
  const void* nul = std::memchr(text, '\0', size);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : size;
}

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
