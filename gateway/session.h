// The session loop of the gateway, from the moment the browser connection
// is accepted: steps both machines until one of them dies, writes out the
// browser side, logs the request and releases the slot. Runs on the
// session's own thread, which owns the slot until it is released.
#ifndef TAV_GATEWAY_SESSION_H_
#define TAV_GATEWAY_SESSION_H_

#include "gateway/session_slots.h"

void serve_session(GatewaySession* session);

#endif  // TAV_GATEWAY_SESSION_H_
