// HTML link rewriting: turns the links of one HTML line into absolute URLs
// that lead back through the gateway, http://<gateway>:34/<unit>/<path>,
// with the unit's name percent-encoded as the gateway reads it.
//
// rewrite_links() rewrites a NUL-terminated line in place in its 1024-byte
// buffer: the first "window.open(" of the line gets the gateway URL of the
// unit in front of its argument; every href, src and action value in
// double quotes that is relative or names the unit as host (its name
// whole, followed by the end of the host: quote, "/", ":" or ".") is
// replaced;
// values holding "javascript" keep their path; links to other hosts and
// values not in double quotes stay. The first link of a line captures the
// forms name after a "Forms/" and gets it in front of its path when
// "previous page" follows it. The rewritten line never passes the buffer:
// a link whose replacement would not fit, and every link after it, stays
// as the unit wrote it.
#ifndef TAV_GATEWAY_LINK_REWRITER_H_
#define TAV_GATEWAY_LINK_REWRITER_H_

#include "gateway/session_slots.h"

inline constexpr int kRewriteLineSize = 1024;
inline constexpr int kLinkPathSize = 512;

void rewrite_links(const GatewaySession* session, char line[kRewriteLineSize]);

// The next link from scan: returns the first character of its value (just
// behind the opening quote), fills path (kLinkPathSize bytes) and sets
// *resume to the closing quote; nullptr when the line has no further link.
const char* find_link(const GatewaySession* session, const char* scan,
                      char* path, const char** resume);
// Just behind whichever of "href", "src", "action" (any case) ends first.
const char* find_first_keyword(const char* text);
// The first character that is not CR, LF, blank or tab.
const char* skip_white(const char* text);

#endif  // TAV_GATEWAY_LINK_REWRITER_H_
