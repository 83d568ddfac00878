#include "gateway/session.h"

#include "gateway/client_filter.h"
#include "gateway/endpoint.h"
#include "gateway/own_answers.h"
#include "gateway/request_machine.h"
#include "gateway/response_machine.h"
#include "platform/debug_log.h"
#include "platform/service.h"
#include "platform/threads.h"

void session_pass(GatewaySession* s) {
  ip2ipx_machine(s);
  if (s->running != 1) return;  // the browser has gone or been answered
  bool answering = s->browser.state == request_state::WAIT_FOR_DISCONNECT;
  if (ipx_present.load() != 1) {
    if (answering) s->running = -1;  // nothing would ever relay the answer
    return;
  }
  // Once the request is in, the unit's waits watch the browser too, so
  // that a browser that leaves is noticed while the unit is still silent.
  s->unit.watched = answering ? &s->browser : nullptr;
  ipx2ip_machine(s);
}

void serve_session(GatewaySession* s) {
  endpoint_mark_active(&s->browser);
  endpoint_mark_active(&s->unit);
  uint32_t client = 0;
  peer_ipv4(s->browser.sock, &client);
  const int64_t start_ms = milliseconds_now();
  if (!client_allowed(client)) s->running = refuse_client(s);
  while (s->running == 1) session_pass(s);
  DebugLog("gateway_thread():  session %d terminated.\n", s->browser.id);
  flush_buffer(&s->browser);
  log_session(s, client, start_ms);
  release_session(s);
}
