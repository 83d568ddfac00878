// Buffered I/O on one side of a gateway session.
//
// put() collects outgoing bytes in the endpoint's send buffer (a block) and
// writes it out whenever it fills; flush_buffer() writes out what is left
// (connecting the unit side first). get_char(), read_line() and
// get_buffer() hand out received bytes one at a time, as lines of at most
// 511 characters (ended by LF, with or without CR), or as blocks. A longer
// line comes in pieces of 511 and a rest; read_line marks each cut piece in
// line_cut so that readers can treat the pieces as one line. read_line may
// be told to end a line after `most` characters (the rest of a declared
// length). get_buffer hands out what has arrived at once, and waits only
// when nothing has. An unfinished line of a peer that closes or
// falls silent is handed out by take_partial_line(). Every wait for data is
// bounded: 5 s for the first wait on a side, 0.5 s for later ones (a wait
// that watches the other side too ends when that one is readable); running out
// of data within a wait is a result of its own, distinct from a lost
// connection.
//
// Results:
//   put           0 all bytes buffered or written out, 1 a write-out failed
//   flush_buffer  0 buffer empty afterwards, 1 connect or send failure (a
//                 peer that takes nothing for kQuietLimitMs, or keeps us
//                 waiting longer than its rate allows, is a failure: see
//                 kMinSendRate)
//   get_char      0 a character, -1 nothing within the wait, 1 lost
//   read_line     length of the line, 0 no complete line yet, -1 lost
//   get_buffer    bytes delivered (0 none within the wait), -1 error/lost
//                 with nothing delivered
//
// The socket calls and the clock are environment().socket_calls, so that
// the machines above can be run against an in-memory peer in tests.
#ifndef TAV_GATEWAY_ENDPOINT_H_
#define TAV_GATEWAY_ENDPOINT_H_

#include <cstdint>

#include "gateway/session_slots.h"
#include "platform/net.h"

inline constexpr int kFirstWaitMs = 5000;
inline constexpr int kLaterWaitMs = 500;
inline constexpr int kLineLimit = 511;

int put(SessionEndpoint* ep, const char* data, int length);
int flush_buffer(SessionEndpoint* ep);
int get_char(SessionEndpoint* ep, char* out);
int read_line(SessionEndpoint* ep, char* out, int most = kLineLimit);
int get_buffer(SessionEndpoint* ep, char* dst, int wanted);
// The unfinished line held in the endpoint, NUL-terminated into out (512
// bytes), as read_line would deliver it; its length, 0 when none is held.
int take_partial_line(SessionEndpoint* ep, char* out);

// For a side found readable once its request is in: takes what the peer
// sent (and drops it, with whatever was left unread) without waiting; true
// when the peer has hung up or the connection broke.
bool endpoint_hung_up(SessionEndpoint* ep);

// True when the endpoint has had no data for kQuietLimitMs, or when the
// deadline of its phase has passed.
bool endpoint_quiet_too_long(const SessionEndpoint* ep);
bool endpoint_phase_too_long(const SessionEndpoint* ep);
// Starts a phase of the endpoint that must end within limit_ms, as if it
// had just had data; endpoint_end_phase() lifts the deadline.
void endpoint_mark_active(SessionEndpoint* ep,
                          int64_t limit_ms = kPhaseLimitMs);
void endpoint_end_phase(SessionEndpoint* ep);

#endif  // TAV_GATEWAY_ENDPOINT_H_
