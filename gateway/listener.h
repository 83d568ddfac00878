// The gateway listener on TCP port 34.
//
// gateway_listener() serves the gateway on the calling thread and returns
// only when it ends: 7 when port 34 cannot be bound, 0 after any other
// failure. isIpxPresent() is 1 when an IPX/SPX stack is present.
#ifndef TAV_GATEWAY_LISTENER_H_
#define TAV_GATEWAY_LISTENER_H_

inline constexpr int kGatewayPort = 34;

int gateway_listener();
int isIpxPresent();

#endif  // TAV_GATEWAY_LISTENER_H_
