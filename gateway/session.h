// The session loop of the gateway, from the moment the browser connection
// is accepted: steps both machines until one of them dies, writes out the
// browser side, logs the request and releases the slot. Runs on the
// session's own thread, which owns the slot until it is released.
#ifndef TAV_GATEWAY_SESSION_H_
#define TAV_GATEWAY_SESSION_H_

#include "gateway/session_slots.h"

void serve_session(GatewaySession* session);

// One pass of the loop: the request machine, then (with an IPX stack
// present) the response machine, whose waits for the unit watch the
// browser too once the request is in. Ends the session (running -1) when
// there is no stack to relay an answer.
void session_pass(GatewaySession* session);

#endif  // TAV_GATEWAY_SESSION_H_
