// Where the gateway's own answers meet a session: its own pages, the
// refusal of clients that the filter does not allow, and the request log.
//
// own_page_reply() answers the page that the request machine noted in the
// session (own_page, head_only) once the request is in. refuse_client()
// reads the request line and header block itself (no longer than the
// request's time bound; a body is not read) and answers 403. Both answer
// the browser side whole and return the request machine's next state,
// GATEWAY_DEAD. log_session() writes the session's log line
// (gateway/access_log.h) once the answer is out, unless the browser sent
// nothing at all.
//
// Threading: each runs on its session's thread only.
#ifndef TAV_GATEWAY_OWN_ANSWERS_H_
#define TAV_GATEWAY_OWN_ANSWERS_H_

#include <cstdint>

#include "gateway/own_pages.h"
#include "gateway/session.h"

inline constexpr int kRefusedText = 136;

int own_page_reply(GatewaySession* session);
int refuse_client(GatewaySession* session);
void log_session(const GatewaySession* session, uint32_t client,
                 int64_t start_ms);

#endif  // TAV_GATEWAY_OWN_ANSWERS_H_
