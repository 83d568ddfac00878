#include "gateway/refresh.h"

#include "gateway/request_machine.h"

// The refresh request is not served yet: it ends the session like any
// request the gateway cannot serve.
int refresh_reply(GatewaySession*) { return request_state::GATEWAY_DEAD; }
