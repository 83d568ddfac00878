// The request path: ip2ipx_machine carries one HTTP request from the
// browser side of a session to its unit side.
//
// It reads the request line GET /<unit>-HTML/<path> HTTP/1.x, takes the
// unit's name from the first path segment (up to its first "-", at most 79
// characters, then percent-decoded), sends "<method> <path> HTTP/1.0" CR LF to
// the unit, filters the header lines (drops Keep-Alive, Connection, Referer,
// Accept:, User-Agent, Content-Type and Accept-Encoding; a Host line naming the
// gateway's address becomes "Host: <unit>", Expect is dropped; a line
// longer than one read is kept, replaced or dropped whole, as its beginning
// decides), and forwards the body as it is framed: exactly Content-Length
// bytes, a chunked body through its last chunk, none without either; then
// the request is complete and the unit is asked. A browser that expects
// "100-continue" gets "HTTP/1.1 100 Continue" from the gateway before its
// body. Every failure ends the session without an answer.
//
// Answers the gateway gives itself, once the request (and its body) is in,
// without connecting a unit: the name "$$Refresh$" gets the refresh reply,
// a URL that runs on beyond the 511-character line gets "414 URI Too Long",
// and the gateway's own pages (gateway/own_pages.h) are answered.
// A request line sets local_answer; finish_request() answers.
//
// Bounds beyond the waits of the endpoints: a method longer than 99
// characters ends the session; a request line and headers that are not
// complete within kPhaseLimitMs, a body still arriving kBodyLimitMs after
// them or silent for kQuietLimitMs, a length beyond kBodyLengthLimit or
// that cannot be read, and a malformed chunked body end the session; so
// does a gateway whose own address (environment().host_address) cannot be
// found, since no link could lead back through it.
#ifndef TAV_GATEWAY_REQUEST_MACHINE_H_
#define TAV_GATEWAY_REQUEST_MACHINE_H_

#include <cstdint>

#include "gateway/session.h"

namespace request_state {
inline constexpr int GATEWAY_DEAD = -1;
inline constexpr int INITIALIZE = 0;
inline constexpr int NEW_REQUEST = 1;
inline constexpr int GET_REQUEST_HEADER = 2;
inline constexpr int GET_HEADER = 3;
inline constexpr int GET_BODY = 4;
inline constexpr int WAIT_FOR_DISCONNECT = 5;
}  // namespace request_state

// The longest method; a URL may take the whole line.
inline constexpr int kRequestFieldSize = 100;
inline constexpr int64_t kBodyLengthLimit = int64_t{1} << 40;

// How the request's body is framed (SessionEndpoint::body_kind).
namespace request_body {
inline constexpr int kNone = 0;
inline constexpr int kLength = 1;
inline constexpr int kChunked = 2;
}  // namespace request_body

// Who answers the request (SessionEndpoint::local_answer).
namespace local_answer {
inline constexpr int kAskUnit = 0;
inline constexpr int kRefresh = 1;
inline constexpr int kUriTooLong = 2;
inline constexpr int kOwnPage = 3;  // GatewaySession::own_page
}  // namespace local_answer

// One step of the request machine.
void ip2ipx_machine(GatewaySession* session);

#endif  // TAV_GATEWAY_REQUEST_MACHINE_H_
