// The gateway listener on TCP port 34 and the session threads.
//
// gateway_listener() serves the gateway on the calling thread and returns
// only when it ends: 7 when port 34 cannot be bound, 0 after any other
// failure. For every connection it starts one gateway_thread and blocks
// until that thread has accepted it or turned it away (session start-up
// failed: that one connection is closed). While all 10 slots are in use it
// accepts nothing, so further browsers wait in the queue (64 deep); the
// listening socket stays open all along. isIpxPresent() is 1 when an
// IPX/SPX stack is present.
#ifndef TAV_GATEWAY_LISTENER_H_
#define TAV_GATEWAY_LISTENER_H_

#include <cstdint>

#include "platform/net.h"
#include "units/gateway_url.h"

int gateway_listener();
int isIpxPresent();
// seconds_now() when the gateway last accepted a browser connection; 0
// before the first. Safe for concurrent use.
int64_t gateway_last_request_seconds();
// The thread procedure of one session (claim, start-up, accept, serve).
void gateway_thread(net::Socket listen_socket);

#endif  // TAV_GATEWAY_LISTENER_H_
