// The request path: ip2ipx_machine carries one HTTP request from the
// browser side of a session to its unit side.
//
// It reads the request line GET /<unit>-HTML/<path> HTTP/1.x, takes the
// unit's name from the first path segment (up to its first "-", at most 79
// characters, then percent-decoded), sends "<method> <path> HTTP/1.0" CR LF to
// the unit, filters the header lines (drops Keep-Alive, Connection, Referer,
// Accept:, User-Agent, Content-Type and Accept-Encoding; a Host line naming the
// gateway's address becomes "Host: <unit>"; a line longer than one read is
// kept, replaced or dropped whole, as its beginning decides), and forwards
// the body until the browser pauses for one wait. The name "$$Refresh$" goes to
// the refresh reply. Every failure ends the session without an answer.
//
// Bounds beyond the waits of the endpoints: a method or URL longer than 99
// characters ends the session (it is not cut, so the unit never gets a
// request the browser did not make); a request line and headers that are
// not complete within kPhaseLimitMs, or a body still arriving kBodyLimitMs
// after them, end the session; so does a gateway whose own address
// (environment().host_address) cannot be found, since no link could lead
// back through it.
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

inline constexpr int kRequestFieldSize = 100;

// One step of the request machine.
void ip2ipx_machine(GatewaySession* session);

#endif  // TAV_GATEWAY_REQUEST_MACHINE_H_
