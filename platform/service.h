// What the service mode needs of the system beside the sockets: the wall
// clock, the address of a connected TCP peer, and the console form of the
// messages. Safe for concurrent use, except use_console_ui(), which is for
// start-up before any message is shown.
#ifndef TAV_PLATFORM_SERVICE_H_
#define TAV_PLATFORM_SERVICE_H_

#include <cstdint>
#include <string>

#include "platform/net.h"

// Milliseconds since 1970-01-01 UTC.
int64_t wall_clock_ms();
// The IPv4 address (network order) of the peer of a connected TCP socket;
// false when it has none (not connected, not IPv4, not a socket).
bool peer_ipv4(net::Socket s, uint32_t* addr);
// The value of the environment variable `name`; false when it is not set.
bool environment_value(const char* name, std::string* out);
// Makes messages take the console form (one line on standard error)
// whatever display there is.
void use_console_ui();

#endif  // TAV_PLATFORM_SERVICE_H_
