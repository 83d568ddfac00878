// Small text helpers of the gateway: comparisons without regard to case
// (ASCII), bounded lengths, and the percent-encoding of unit names in the
// gateway's URLs.
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

// Writes text to out with every byte outside A-Z a-z 0-9 and `keep`
// percent-encoded (%XX, upper-case hex); out needs 3 * strlen(text) + 1
// bytes. Returns the length written.
size_t percent_encode(const char* text, const char* keep, char* out);
// The characters a unit name keeps in a URL segment: a "-" is encoded, since
// the gateway ends the name at the first one.
inline constexpr const char* kNameKeeps = "._~";
// Decodes every %XX (either case of hex) in place; a "%" not followed by two
// hex digits stays as it is, and so does an encoded control character, so
// that a decoded name can never break a header line it goes into.
void percent_decode(char* text);

#endif  // TAV_GATEWAY_TEXT_H_
