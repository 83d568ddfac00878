// The response path: ipx2ip_machine carries the unit's HTTP answer from
// the unit side of a session back to the browser side.
//
// The unit's status line goes out as HTTP/1.0 with the unit's code and
// text (a reply without status line gets "HTTP/1.0 200" made up); the
// unit's Content-Length is dropped, Refresh and Location lines get
// "<gateway>:34/" in front of the unit's name in their value (a header line
// longer than one read is relayed or dropped whole), and "Connection: close"
// ends every header block, followed by the unit's length again for a body that
// is not HTML. HTML bodies are relayed line by line through link
// rewriting, a line of 511 characters or more switches to raw relay; other
// bodies are relayed raw. Lines may end with LF alone. A body of declared
// length ends when that length is relayed (an unfinished last line counts),
// when the unit closes or the connection breaks; pauses do not end it, up
// to kQuietLimitMs of silence. A body without a length ends when the unit
// closes, the connection breaks, or after kReplySilenceMs of silence. A
// last line without line end, and an unfinished first line of a unit that
// closes or is given up, are relayed too: nothing the unit sent is lost.
//
// Bounds: a unit whose status line and headers are not in within
// kPhaseLimitMs of the request ends the session; a relay of declared
// length reads no byte beyond that length.
#ifndef TAV_GATEWAY_RESPONSE_MACHINE_H_
#define TAV_GATEWAY_RESPONSE_MACHINE_H_

#include "gateway/session_slots.h"

namespace response_state {
inline constexpr int GATEWAY_DEAD = -1;
inline constexpr int INITIALIZE = 0;
inline constexpr int WAIT_FOR_SPX_CONNECT = 1;
inline constexpr int PROCESS_STATUS_LINE = 2;
inline constexpr int PROCESS_HEADERS = 3;
inline constexpr int PROCESS_HTML_DATA = 4;
inline constexpr int PROCESS_OTHER_DATA = 5;
}  // namespace response_state

// One step of the response machine.
void ipx2ip_machine(GatewaySession* session);
// The PROCESS_STATUS_LINE handler; returns the next state.
int process_status_line(GatewaySession* session);

#endif  // TAV_GATEWAY_RESPONSE_MACHINE_H_
