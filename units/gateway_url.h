// The gateway's URL contract, which the discovery page writes and the
// gateway reads: http://<host>:34/<name>-HTML/<path>, the unit name
// percent-encoded, and "$$Refresh$" in place of a name for a rediscovery.
//
// Pure functions; safe for concurrent use.
#ifndef TAV_UNITS_GATEWAY_URL_H_
#define TAV_UNITS_GATEWAY_URL_H_

#include <cstddef>

inline constexpr int kGatewayPort = 34;
// Ends the unit name in a gateway URL; the gateway cuts the name at its
// first "-".
inline constexpr const char* kUnitSuffix = "-HTML";
inline constexpr const char* kRefreshSegment = "$$Refresh$";

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

#endif  // TAV_UNITS_GATEWAY_URL_H_
