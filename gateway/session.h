// The gateway's session records and the table of 10 session slots.
//
// A session serves one browser connection and one request: the browser side
// is the accepted TCP connection, the unit side an SPX connection to the
// unit the URL names. Every buffer lives inside the record; nothing in a
// session is allocated on the heap.
//
// Shared state and how it is kept race-free:
// - Slots are claimed (find_free_session) and released (release_session)
//   under one small lock, so a claim never sees a slot that is being
//   cleared. After the claim the slot belongs to its session thread alone.
// - accept_status, next_session_id and ipx_present are atomics.
#ifndef TAV_GATEWAY_SESSION_H_
#define TAV_GATEWAY_SESSION_H_

#include <atomic>
#include <cstdint>

#include "platform/net.h"

inline constexpr int kSessionSlots = 10;
// A side's line buffer; its receive and send buffers are blocks large
// enough that relaying a body is never held up by the gateway.
inline constexpr int kEndpointBufferSize = 512;
inline constexpr int kBlockSize = 16384;
inline constexpr int kUnitNameSize = 80;
inline constexpr int kHostAddressSize = 32;

// Bounds that free a slot whatever a peer does: a browser must have sent
// its request line and headers, and a unit its status line and headers,
// within kPhaseLimitMs, and a browser its request body within kBodyLimitMs
// after that; a peer that sends nothing, or takes nothing we send, for
// kQuietLimitMs in the middle of a body is given up. A peer that takes what
// we send slowly may keep us waiting kQuietLimitMs in all, plus one second
// for every kMinSendRate bytes it has taken.
inline constexpr int64_t kPhaseLimitMs = 60000;
inline constexpr int64_t kBodyLimitMs = 600000;
inline constexpr int64_t kQuietLimitMs = 60000;
inline constexpr int64_t kMinSendRate = 512;
// A reply without a declared length ends after this much unbroken silence.
inline constexpr int64_t kReplySilenceMs = 5000;

struct SessionEndpoint {
  int32_t id;
  net::Socket sock;
  int32_t is_unit_side;
  int32_t first_wait;
  int32_t content_length;
  int32_t body_count;
  int32_t pass_through;
  int32_t connected;
  int32_t state;
  char unit_name[kUnitNameSize];
  char line[kEndpointBufferSize];
  char recv_buf[kBlockSize];
  char send_buf[kBlockSize];
  int32_t send_count;
  int32_t line_length;
  int32_t recv_pos;
  int32_t recv_count;
  int32_t idle_waits;
  int32_t got_data;
  // Set by read_line when the line it delivered was cut at its limit (the
  // rest of the line comes next); drop_rest is the reader's note that the
  // rest of that line is dropped, not relayed.
  int32_t line_cut;
  int32_t drop_rest;
  // When this side last delivered data, and when its current phase
  // (request, or reply head) must be over, 0 for none: from then on every
  // wait for data on this side ends at once.
  int64_t last_data_ms;
  int64_t deadline_ms;
  // How long sends to this side have waited for the peer, and how many
  // bytes it has taken: the bound on a slow reader.
  int64_t send_waited_ms;
  int64_t sent_total;
  // The browser's request body: its kind (request_body in
  // request_machine.h), the bytes still due of a declared length, where a
  // chunked body stands, and the answer the gateway gives itself instead of
  // asking the unit (0 none).
  int32_t body_kind;
  int32_t chunk_state;
  int64_t body_left;
  int32_t local_answer;
  int32_t expect_continue;
  // The status of the answer this side was sent, 0 before one (the log).
  int32_t answer_status;
};

struct GatewaySession {
  int32_t in_use;
  int32_t running;
  char host_address[kHostAddressSize];
  // The URL of the request line (its first 99 bytes), for the request log;
  // the gateway's own page it asks for (OwnPage) and whether it asked with
  // HEAD.
  char request_url[100];
  int32_t own_page;
  int32_t head_only;
  SessionEndpoint browser;
  SessionEndpoint unit;
};

// The hand-over between the listener and the newest session thread: the
// thread stores its status with set_accept_status(), which wakes a
// listener blocked in wait_for_accept().
inline constexpr int kAcceptPending = 0;
inline constexpr int kAccepted = 1;
inline constexpr int kRejected = 2;

extern std::atomic<int> accept_status;
void set_accept_status(int status);
// Blocks until accept_status is no longer kAcceptPending; returns it.
int wait_for_accept();
// Blocks while all slots are in use (returns at once when one is free).
void wait_for_free_slot();
extern std::atomic<int> next_session_id;
extern std::atomic<int> ipx_present;

// Claims the first free slot, cleared, with in_use 1 and both sockets -1;
// nullptr when all 10 are in use.
GatewaySession* find_free_session();
// Closes the slot's sockets, browser side first, and clears the slot
// whole, which frees it. The table owns the sockets of its slots: this is
// the one place that closes them.
void release_session(GatewaySession* session);
// How many slots are in use now (for tests and the benchmark).
int sessions_in_use();

// The session loop and the session end, from the moment the browser
// connection is accepted: steps both machines until one of them dies,
// writes out the browser side and releases the slot.
void serve_session(GatewaySession* session);

#endif  // TAV_GATEWAY_SESSION_H_
