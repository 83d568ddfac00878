// The refresh request "$$Refresh$" of the gateway: reruns discovery in the
// background and rewrites the discovery page.
//
// refresh_reply() serves a session whose request named the refresh
// segment, once the request machine has read the whole request: it answers
// with
// catalogue text 118 while a rediscovery is being started or runs, or with
// text 119 (the address of the page the gateway serves as %1) once one has
// finished, and returns the request machine's next state (always GATEWAY_DEAD).
// refresh_thread() runs the rediscovery: discover_units(), then
// write_discovery_files() with the copy flag clear, then marks it done;
// environment().refresh_work, when set, runs in place of both.
//
// refresh_state: 0 idle, 1 a rediscovery runs, 2 finished (the next
// request gets 119 and makes it 0). Only the request that moves it from 0
// to 1 starts a rediscovery, so two requests at the same moment never
// start two; a rediscovery that finishes at that moment is never lost.
#ifndef TAV_GATEWAY_REFRESH_H_
#define TAV_GATEWAY_REFRESH_H_

#include <atomic>

#include "gateway/session.h"

inline constexpr const char* kRefreshSegment = "$$Refresh$";
inline constexpr int kRefreshRunningText = 118;
inline constexpr int kRefreshDoneText = 119;

inline constexpr int kRefreshIdle = 0;
inline constexpr int kRefreshRunning = 1;
inline constexpr int kRefreshDone = 2;
extern std::atomic<int> refresh_state;

int refresh_reply(GatewaySession* session);
void refresh_thread();

#endif  // TAV_GATEWAY_REFRESH_H_
