// The exit codes of the run modes and the port check that the normal run
// and -Serve begin with. Main thread only.
#ifndef TAV_APP_PORT_CHECK_H_
#define TAV_APP_PORT_CHECK_H_

inline constexpr int kExitFailure = -1;
inline constexpr int kExitSuccess = 0;
// Catalogue number of the message that no port could be bound.
inline constexpr int kPortCannotBeBound = 108;

// Binds TCP port 34 (with SO_REUSEADDR, as the listener), else after
// 2000 ms port 80, and releases it. Returns 0
// when one was bound; kExitFailure after message 108 (neither port) or 109
// (no socket library or socket). Leaves the socket library started.
int port_check();

#endif  // TAV_APP_PORT_CHECK_H_
