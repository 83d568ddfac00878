// The unit side's SPX connection.
//
// connect_to_unit() finds the unit named by the endpoint's unit_name in the
// published IPX unit list (names compared without regard to case over the
// shorter of the two lengths, first match in list order), writes its
// 14-byte address to the file "address" in the current folder, and
// connects the endpoint's socket to it (a blocking connect, bounded by the
// socket layer), leaving the socket non-blocking. Returns 0 when connected,
// 1 when the unit is unknown or the connect failed. A file "address" that
// cannot be written does not stop the connect.
#ifndef TAV_GATEWAY_UNIT_CONNECTION_H_
#define TAV_GATEWAY_UNIT_CONNECTION_H_

#include "gateway/session_slots.h"

int connect_to_unit(SessionEndpoint* ep);

#endif  // TAV_GATEWAY_UNIT_CONNECTION_H_
