// The refresh request "$$Refresh$" of the gateway: reruns discovery in the
// background and rewrites the discovery page.
#ifndef TAV_GATEWAY_REFRESH_H_
#define TAV_GATEWAY_REFRESH_H_

inline constexpr const char* kRefreshSegment = "$$Refresh$";

#endif  // TAV_GATEWAY_REFRESH_H_
