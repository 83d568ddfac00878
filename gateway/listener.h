// The gateway listener on TCP port 34 and the session threads.
//
// gateway_listener() serves the gateway on the calling thread and returns
// only when it ends: 7 when port 34 cannot be bound, 0 after any other
// failure. For every connection it starts one gateway_thread and waits
// until that thread has accepted or rejected it; a rejected connection
// (all 10 slots in use, or session start-up failed) makes the listener
// close its socket and open a new one. isIpxPresent() is 1 when an IPX/SPX
// stack is present.
#ifndef TAV_GATEWAY_LISTENER_H_
#define TAV_GATEWAY_LISTENER_H_

#include <cstdint>

#include "platform/net.h"

inline constexpr int kGatewayPort = 34;

int gateway_listener();
int isIpxPresent();
// seconds_now() when the gateway last accepted a browser connection; 0
// before the first. Safe for concurrent use.
int64_t gateway_last_request_seconds();
// The thread procedure of one session (claim, start-up, accept, serve).
void gateway_thread(net::Socket listen_socket);

#endif  // TAV_GATEWAY_LISTENER_H_
