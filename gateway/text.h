// Small text helpers of the gateway: comparisons without regard to case
// (ASCII) and bounded lengths.
#ifndef TAV_GATEWAY_TEXT_H_
#define TAV_GATEWAY_TEXT_H_

#include <cstddef>

// The first n characters of a and b are equal ignoring case (stops at a
// NUL that both share).
bool equal_nocase_n(const char* a, const char* b, size_t n);
// text begins with prefix, ignoring case.
bool starts_with_nocase(const char* text, const char* prefix);
// The first occurrence of pattern in text ignoring case, or nullptr. An
// empty pattern is found at the start.
const char* find_nocase(const char* text, const char* pattern);
// Length of text, looking at most at size bytes.
size_t bounded_length(const char* text, size_t size);

#endif  // TAV_GATEWAY_TEXT_H_
