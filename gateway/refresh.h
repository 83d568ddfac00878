// The refresh request "$$Refresh$" of the gateway: reruns discovery in the
// background and rewrites the discovery page.
//
// refresh_reply() serves a session whose request named the refresh segment
// and returns the request machine's next state (always GATEWAY_DEAD).
#ifndef TAV_GATEWAY_REFRESH_H_
#define TAV_GATEWAY_REFRESH_H_

#include "gateway/session.h"

inline constexpr const char* kRefreshSegment = "$$Refresh$";

int refresh_reply(GatewaySession* session);

#endif  // TAV_GATEWAY_REFRESH_H_
