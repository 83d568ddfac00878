#include "gateway/text.h"

#include <cstring>

namespace {

char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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
