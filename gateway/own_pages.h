// The gateway's own pages, answered in every mode before any unit is
// connected:
//   GET /, GET /tav-disc.htm   the current discovery page
//   GET /tavhelp.htm           the help page
//   GET /units.json            both unit lists as JSON
// HEAD of the same paths gets the same headers without the body; a query
// ("?...") is ignored. Any other request is not an own page, so a unit
// whose name collides with these paths stays reachable at /<name>-HTML/.
//
// units.json is {"ip_units":[...],"ipx_units":[...]}: each IP unit with
// "name", "address" (dotted), "description" and "link"; each IPX unit with
// "name", "network" (8 hex digits), "node" (12), "socket" (4),
// "description" and "link" (null when no web service is known, as the page
// leaves such units out). Bytes outside printable ASCII are written as
// \u00XX (read as Latin-1), so the text is always valid JSON.
//
// Everything but own_page_answer() is pure; own_page_answer() reads the
// published unit lists and the page writer's current page, from any
// thread.
#ifndef TAV_GATEWAY_OWN_PAGES_H_
#define TAV_GATEWAY_OWN_PAGES_H_

#include <string>
#include <string_view>

#include "discovery/units.h"

enum class OwnPage { kNone, kDiscovery, kHelp, kUnitsJson };

OwnPage own_page_for(std::string_view method, std::string_view url);

// A whole HTTP/1.0 answer with Content-Type, Content-Length and
// "Connection: close"; the body left out when head_only.
std::string http_answer(int status, std::string_view content_type,
                        std::string_view body, bool head_only);

std::string units_json(const IpUnitSnapshot& ip, const IpxUnitSnapshot& ipx,
                       std::string_view gateway_address);

// The answer to an own page (not kNone), built from what is current now;
// gateway_address is the host's address as the page links it.
std::string own_page_answer(OwnPage page, bool head_only,
                            std::string_view gateway_address);

#endif  // TAV_GATEWAY_OWN_PAGES_H_
